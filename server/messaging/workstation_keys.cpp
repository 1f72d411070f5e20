#include "workstation_keys.h"

#include "atomic_file.h"
#include "eventlog.h"
#include "regular_file.h"

namespace plinket {

namespace {

constexpr QByteArrayView KEY_MARK = " ed25519 ";

const QByteArray FILE_HEADER =
    "# Plinket: the report keys of the workstations, one line each: the workstation as clients.ini names it,\r\n"
    "# then its key (plinket_client --workstation-key prints it). A workstation's key is added here the first\r\n"
    "# time it signs a report; a report signed by another key is shown as not verified. Remove a line to\r\n"
    "# accept a workstation's new key.\r\n";

// HOST and key of a pin line; nothing for comments and anything else.
std::optional<std::pair<QString, PublicKey>> readPin(QByteArrayView line) {
    line = line.trimmed();
    if (line.isEmpty() || line.startsWith('#'))
        return std::nullopt;
    const qsizetype mark = line.lastIndexOf(KEY_MARK);
    if (mark <= 0)
        return std::nullopt;
    const QList<PublicKey> keys = readPublicKeys(line.sliced(mark + 1));
    if (keys.size() != 1)
        return std::nullopt;
    return std::pair{QString::fromUtf8(line.first(mark).trimmed()), keys.first()};
}

QList<QByteArrayView> linesOf(QByteArrayView text) {
    QList<QByteArrayView> lines;
    for (QByteArrayView rest = text; !rest.isEmpty();) {
        const qsizetype end = rest.indexOf('\n');
        lines.append(end < 0 ? rest : rest.first(end));
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
    }
    return lines;
}

} // namespace

WorkstationKeys::WorkstationKeys(QString path, EventSource source, KeyChanged keyChanged)
    : m_path(std::move(path)), m_keyChanged(std::move(keyChanged)) {
    if (!m_keyChanged)
        m_keyChanged = [source](const QString& host, const QString& address, const QString& keys) {
            reportEvent(source, EVENT_TYPE_INFORMATION, EVENT_REPORT_KEY_CHANGED, host, address, keys);
        };
    QByteArray text;
    if (readRegularFile(m_path, &text) != FileReadStatus::Read)
        return;
    for (const QByteArrayView line : linesOf(text))
        if (const auto pin = readPin(line); pin && !m_pins.contains(pin->first))
            m_pins.insert(pin->first, pin->second);
}

WorkstationKeys::Judgement WorkstationKeys::judge(const QString& host, const QString& address,
                                                  const std::optional<ReportSignature>& signature) {
    const qint64 expected = m_expectedTime.load();
    QMutexLocker lock(&m_mutex);
    const auto pin = m_pins.constFind(host);
    if (!signature) {
        // A workstation known to sign answers a signed message unsigned: not what it would do.
        const bool expectedSigned = expected != 0 && pin != m_pins.constEnd();
        return {expectedSigned ? ReportTrust::Unverified : ReportTrust::Unsigned, {}};
    }
    Judgement judgement{ReportTrust::Unverified, signature->key.keyId()};
    if (!signature->valid || expected == 0 || signature->messageUtcSeconds != expected || host.isEmpty())
        return judgement;
    if (pin == m_pins.constEnd()) {
        m_pins.insert(host, signature->key);
        m_unsaved.append({host, signature->key});
        judgement.trust = ReportTrust::Verified;
    } else if (*pin == signature->key) {
        judgement.trust = ReportTrust::Verified;
    } else if (!m_warned.contains(host + u' ' + QString::fromLatin1(judgement.keyId))) {
        m_warned.insert(host + u' ' + QString::fromLatin1(judgement.keyId));
        m_warnings.append({host, address,
                           u"known key "_qs + QString::fromLatin1(pin->keyId()) + u", this report's key "_qs +
                               QString::fromLatin1(judgement.keyId)});
    }
    return judgement;
}

bool WorkstationKeys::flush() {
    QList<std::pair<QString, PublicKey>> unsaved;
    QList<Warning> warnings;
    {
        QMutexLocker lock(&m_mutex);
        unsaved.swap(m_unsaved);
        warnings.swap(m_warnings);
    }
    for (const Warning& w : std::as_const(warnings))
        m_keyChanged(w.host, w.address, w.keys);
    if (unsaved.isEmpty())
        return true;
    // The file as it is now (another console or plinket_send may have added lines), with the new pins after it.
    QByteArray text;
    const FileReadStatus read = readRegularFile(m_path, &text);
    if (read == FileReadStatus::Unreadable) {
        QMutexLocker lock(&m_mutex);
        m_unsaved = unsaved + m_unsaved;
        return false;
    }
    QSet<QString> present;
    QByteArray out = read == FileReadStatus::Missing ? FILE_HEADER : QByteArray();
    for (const QByteArrayView line : linesOf(text)) {
        QByteArrayView kept = line;
        if (kept.endsWith('\r'))
            kept.chop(1);
        out += kept.toByteArray() + "\r\n";
        if (const auto pin = readPin(line))
            present.insert(pin->first);
    }
    for (const auto& [host, key] : std::as_const(unsaved))
        if (!present.contains(host))
            out += host.toUtf8() + ' ' + publicKeyLine(key) + "\r\n";
    if (!writeFileAtomically(m_path, out)) {
        QMutexLocker lock(&m_mutex);
        m_unsaved = unsaved + m_unsaved;
        return false;
    }
    return true;
}

std::optional<PublicKey> WorkstationKeys::pinned(const QString& host) const {
    QMutexLocker lock(&m_mutex);
    const auto it = m_pins.constFind(host);
    return it == m_pins.constEnd() ? std::nullopt : std::optional<PublicKey>(*it);
}

} // namespace plinket
