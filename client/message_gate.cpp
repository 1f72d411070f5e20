#include "message_gate.h"

#include <tuple>

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
    }
    return {};
}

bool MessageGate::Seen::operator<(const Seen& other) const {
    return std::tie(time, keyId, id) < std::tie(other.time, other.keyId, other.id);
}

MessageGate::MessageGate(ClientPolicy policy) : m_policy(std::move(policy)) {}

GateVerdict MessageGate::admit(QByteArrayView datagram, const QString& id, bool repeatsLastConfirmed,
                               qint64 arrivedNoEarlierThan, qint64 now) {
    const SignatureCheck check = checkMessageSignature(datagram, m_policy.trustedKeys);
    GateVerdict verdict{std::nullopt, check.keyId, 0, QString()};
    switch (check.status) {
    case SignatureCheck::Status::Unsigned:
        if (m_policy.requireSignature)
            verdict.drop = DropReason::Unsigned;
        return verdict;
    case SignatureCheck::Status::UnknownKey:
        verdict.drop = DropReason::UnknownKey;
        return verdict;
    case SignatureCheck::Status::BadSignature:
        verdict.drop = DropReason::BadSignature;
        return verdict;
    case SignatureCheck::Status::Valid:
        break;
    }

    const qint64 window = m_policy.maxMessageAgeSeconds;
    const qint64 oldestFresh = arrivedNoEarlierThan - window;
    if (check.utcSeconds < oldestFresh) {
        verdict.drop = DropReason::TooOld;
        return verdict;
    }
    if (check.utcSeconds > now + window) {
        verdict.drop = DropReason::TooNew;
        return verdict;
    }
    verdict.signedAtUtc = check.utcSeconds;
    if (check.keyIndex >= 0 && check.keyIndex < m_policy.trustedKeyNames.size())
        verdict.signer = m_policy.trustedKeyNames[check.keyIndex];
    if (repeatsLastConfirmed)
        return verdict;

    // Entries older than anything that can still pass are forgotten; they stay covered by the bound.
    while (!m_seen.empty() && m_seen.begin()->time < oldestFresh) {
        m_forgottenUpTo = std::max(m_forgottenUpTo, m_seen.begin()->time);
        m_seen.erase(m_seen.begin());
    }
    Seen seen{check.utcSeconds, check.keyId, id};
    if (check.utcSeconds <= m_forgottenUpTo || m_seen.contains(seen)) {
        verdict.drop = DropReason::Replayed;
        return verdict;
    }
    if (m_seen.size() >= MAX_REMEMBERED_MESSAGES) {
        m_forgottenUpTo = std::max(m_forgottenUpTo, m_seen.begin()->time);
        m_seen.erase(m_seen.begin());
    }
    m_seen.insert(std::move(seen));
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
