#include "message_gate.h"

#include <tuple>
#include <utility>

namespace plinket {

QString dropReasonText(DropReason reason, const QByteArray& keyId) {
    switch (reason) {
    case DropReason::Unsigned:
        return QStringLiteral("unsigned");
    case DropReason::UnknownKey:
        return keyId.isEmpty() ? QStringLiteral("unknown key") : u"unknown key "_qs + QString::fromLatin1(keyId);
    case DropReason::BadSignature:
        return QStringLiteral("bad signature");
    case DropReason::TooOld:
        return QStringLiteral("too old");
    case DropReason::TooNew:
        return QStringLiteral("too new");
    case DropReason::Replayed:
        return QStringLiteral("replayed");
    case DropReason::QueueFull:
        return QStringLiteral("queue full");
    }
    return {};
}

bool MessageGate::Seen::operator<(const Seen& other) const {
    return std::tie(time, keyId, id) < std::tie(other.time, other.keyId, other.id);
}

MessageGate::MessageGate(ClientPolicy policy) {
    setPolicy(std::move(policy));
}

void MessageGate::setPolicy(ClientPolicy policy) {
    m_previous = std::exchange(m_policy, std::move(policy));
    m_trustedKeyIds.clear();
    for (const PublicKey& key : std::as_const(m_policy.trustedKeys))
        m_trustedKeyIds.append(key.keyId());
}

GateVerdict MessageGate::screen(QByteArrayView datagram, qint64 arrivedAt) const {
    const SignatureReading reading = peekSignatureField(datagram); // the signature is decoded by verify()
    if (!m_policy.checksSignatures()) // no key id: remember() leaves it alone, as no gate would
        return {std::nullopt, {}, reading.kind == SignatureReading::Kind::Present ? reading.utcSeconds : 0, {}, false};
    GateVerdict verdict{std::nullopt, reading.keyId, reading.utcSeconds, QString(), false};
    switch (reading.kind) {
    case SignatureReading::Kind::Unsigned:
        if (m_policy.requireSignature)
            verdict.drop = DropReason::Unsigned;
        return verdict;
    case SignatureReading::Kind::Malformed:
        verdict.drop = DropReason::BadSignature;
        return verdict;
    case SignatureReading::Kind::Present:
        break;
    }
    if (!m_trustedKeyIds.contains(reading.keyId)) {
        verdict.drop = DropReason::UnknownKey;
        return verdict;
    }
    const qint64 window = m_policy.maxMessageAgeSeconds;
    if (reading.utcSeconds < arrivedAt - window)
        verdict.drop = DropReason::TooOld;
    else if (reading.utcSeconds > arrivedAt + window)
        verdict.drop = DropReason::TooNew;
    else
        verdict.needsVerify = true;
    return verdict;
}

bool MessageGate::verify(QByteArrayView datagram, GateVerdict& verdict) const {
    if (!m_policy.checksSignatures())
        return true; // screened under a policy since read again that checks nothing
    // A key dropped since screen() passed the datagram: checked with that key, once, as screened.
    const ClientPolicy& keys = m_trustedKeyIds.contains(verdict.keyId) ? m_policy : m_previous;
    const SignatureCheck check = checkMessageSignature(datagram, keys.trustedKeys);
    if (check.status != SignatureCheck::Status::Valid)
        return false;
    if (check.keyIndex >= 0 && check.keyIndex < keys.trustedKeyNames.size())
        verdict.signer = keys.trustedKeyNames[check.keyIndex];
    return true;
}

std::optional<DropReason> MessageGate::remember(const GateVerdict& passed, const QString& id, bool repeatsLastConfirmed,
                                                qint64 arrivedAt) {
    if (passed.keyId.isEmpty() || repeatsLastConfirmed)
        return std::nullopt; // unsigned (and allowed), or answered "confirmed" without being shown
    // Entries older than anything that can still pass are forgotten; they stay covered by the bound.
    const qint64 oldestFresh = arrivedAt - m_policy.maxMessageAgeSeconds;
    while (!m_seen.empty() && m_seen.begin()->time < oldestFresh) {
        m_forgottenUpTo = std::max(m_forgottenUpTo, m_seen.begin()->time);
        m_seen.erase(m_seen.begin());
    }
    Seen seen{passed.signedAtUtc, passed.keyId, id};
    if (passed.signedAtUtc <= m_forgottenUpTo || m_seen.contains(seen))
        return DropReason::Replayed;
    if (m_seen.size() >= MAX_REMEMBERED_MESSAGES) {
        m_forgottenUpTo = std::max(m_forgottenUpTo, m_seen.begin()->time);
        m_seen.erase(m_seen.begin());
    }
    m_seen.insert(std::move(seen));
    return std::nullopt;
}

GateVerdict MessageGate::admit(QByteArrayView datagram, const QString& id, bool repeatsLastConfirmed,
                               qint64 arrivedAt) {
    GateVerdict verdict = screen(datagram, arrivedAt);
    if (verdict.needsVerify && !verify(datagram, verdict))
        verdict.drop = DropReason::BadSignature;
    verdict.needsVerify = false;
    if (!verdict.drop)
        verdict.drop = remember(verdict, id, repeatsLastConfirmed, arrivedAt);
    return verdict;
}

bool DropEventLimiter::allow(quint32 senderIPv4, qint64 nowMs) {
    const auto recent = [nowMs](qint64 last) { return nowMs - last < 1000; };
    const auto leaveOut = [&] {
        ++m_leftOut;
        if (m_leftOutSenders.size() < MAX_COUNTED_SENDERS)
            m_leftOutSenders.insert(senderIPv4);
        else
            m_moreSenders = m_moreSenders || !m_leftOutSenders.contains(senderIPv4);
        return false;
    };
    if (const auto it = m_lastEvent.constFind(senderIPv4); it != m_lastEvent.cend() && recent(*it))
        return leaveOut();
    if (m_lastEvent.size() >= MAX_SENDERS && !m_lastEvent.contains(senderIPv4)) {
        m_lastEvent.removeIf([&](QHash<quint32, qint64>::iterator it) { return !recent(it.value()); });
        if (m_lastEvent.size() >= MAX_SENDERS)
            return leaveOut();
    }
    m_lastEvent.insert(senderIPv4, nowMs);
    return true;
}

DropEventLimiter::LeftOut DropEventLimiter::takeLeftOut() {
    LeftOut out{m_leftOut, QString::number(m_leftOutSenders.size()) + (m_moreSenders ? u"+"_qs : QString())};
    m_leftOut = 0;
    m_leftOutSenders.clear();
    m_leftOutSenders.squeeze();
    m_moreSenders = false;
    return out;
}

} // namespace plinket
