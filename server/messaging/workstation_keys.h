#pragma once

// The report keys of the workstations, as the console and plinket_send know them: a workstation that holds a
// key of its own signs its reports for signed messages (message_signature.h), and its key is pinned the
// first time it is seen, in known-workstations beside clients.ini (trust on first use, as an SSH client
// does with host keys; an administrator may write the lines in advance):
//
//   # comment
//   HOST ed25519 KEY
//
// HOST is the workstation as clients.ini names it (the record's host text, upper-cased), KEY its public
// key as `plinket_client --workstation-key` prints it. The console writes the file with CR LF line ends,
// whole and atomically, keeping every line it found.
//
// A report is Verified when its signature holds, names the time of the message this Send signed, and is
// made by the key pinned for the record's host (or by a key seen here for the first time, which is pinned
// now). A signed report made by another key is Unverified, and the change is written once per run as
// event 102 (Server or Send source); the pinned key stays until an administrator removes its line. A
// report whose signature does not hold, or answers another message, is Unverified; so is an unsigned
// report from a workstation with a pinned key while the Send was signed (it would sign). Any other report
// is Unsigned, as every report was before workstations had keys. Unverified reports still count: the
// difference is shown, never hidden.
//
// judge() runs on the report listener under recipientsLock and does no I/O; flush() writes what judge()
// collected (new pins, events) and is called by the listener after releasing the lock.

#include "event_texts.h"
#include "message_signature.h"
#include "recipient_list.h"

#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace plinket {

inline constexpr auto KNOWN_WORKSTATIONS_FILE_NAME = u"known-workstations";

class WorkstationKeys {
public:
    // Event 102: host, address, "old <id>, now <id>" (default: reportEvent under `source`).
    using KeyChanged = std::function<void(const QString& host, const QString& address, const QString& keys)>;

    // Reads `path`; a missing file is an empty one, lines that are not pins are kept but not used.
    WorkstationKeys(QString path, EventSource source, KeyChanged keyChanged = {});

    // The Send in progress was signed at `utcSeconds` (0: unsigned); reports verify only for it.
    void expectMessageTime(qint64 utcSeconds) { m_expectedTime = utcSeconds; }

    struct Judgement {
        ReportTrust trust = ReportTrust::Unsigned;
        QByteArray keyId;
    };
    Judgement judge(const QString& host, const QString& address, const std::optional<ReportSignature>& signature);

    // Writes new pins to the file and the events judge() decided on. False when the file could not be written
    // (the pins stay in memory, and are tried again at the next flush).
    bool flush();

    std::optional<PublicKey> pinned(const QString& host) const;
    QString path() const { return m_path; }

private:
    struct Warning {
        QString host, address, keys;
    };

    QString m_path;
    KeyChanged m_keyChanged;
    std::atomic<qint64> m_expectedTime{0};
    mutable QMutex m_mutex; // guards everything below
    QHash<QString, PublicKey> m_pins;
    QList<std::pair<QString, PublicKey>> m_unsaved;
    QList<Warning> m_warnings;
    QSet<QString> m_warned; // host and new key id: each change is written once per run
};

} // namespace plinket
