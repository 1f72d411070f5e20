#pragma once

// The client's check of signed messages under its policy (client_policy.h), before the usual handling.
// A message passes or is dropped for one reason:
//
//   unsigned       signatures are required and the message carries none
//   unknown key    signed by a key that is not trusted here
//   bad signature  the signature does not match the bytes, or the field is malformed
//   too old        its time lies more than max-message-age before the moment it arrived
//   too new        its time lies more than max-message-age ahead of this computer's clock
//   replayed       the same (key, time, id) was shown before
//
// An unsigned message passes when signatures are not required. A validly signed, fresh copy of the last
// confirmed message (same id, sender and text) passes before the replay check, so that a workstation
// listed under two groups still answers the second copy "confirmed" at once; any other copy of a message
// already shown is a replay.
//
// The moment of arrival is not known exactly: the client leaves its socket unread while a pop-up is
// open, so a message may wait there for as long as the user takes. The receiver therefore passes the
// earliest moment at which the message may have arrived, and freshness is measured from there; a
// message queued behind a pop-up during lunch is still shown afterwards.
//
// Memory stays bounded: the replay record forgets entries that can no longer pass the freshness check,
// and holds at most MAX_REMEMBERED_MESSAGES; when full it forgets the oldest and from then on takes
// every message no newer than it for a replay.

#include "client_policy.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QSet>
#include <QString>

#include <limits>
#include <optional>
#include <set>

namespace plinket {

enum class DropReason { Unsigned, UnknownKey, BadSignature, TooOld, TooNew, Replayed };

// The reason as it appears in the journal event ("unknown key" followed by the key id when known).
QString dropReasonText(DropReason reason, const QByteArray& keyId = {});

struct GateVerdict {
    std::optional<DropReason> drop; // nothing: the message goes on as any message does
    QByteArray keyId;               // the signature's key id, when it could be read
    qint64 signedAtUtc = 0;         // TIME of a valid signature
    QString signer;                 // the name of the trusted key that made a valid signature
};

class MessageGate {
public:
    static constexpr int MAX_REMEMBERED_MESSAGES = 4096;

    explicit MessageGate(ClientPolicy policy);

    // `datagram`: the bytes as received. `repeatsLastConfirmed`: the message is a copy of the one the user
    // confirmed last. Times are UTC seconds. A message that passes and will be shown is remembered.
    GateVerdict admit(QByteArrayView datagram, const QString& id, bool repeatsLastConfirmed,
                      qint64 arrivedNoEarlierThan, qint64 now);

    qsizetype rememberedCount() const { return qsizetype(m_seen.size()); }

private:
    struct Seen {
        qint64 time;
        QByteArray keyId;
        QString id;
        bool operator<(const Seen& other) const;
    };

    ClientPolicy m_policy;
    std::set<Seen> m_seen;
    // Every message signed at or before this time counts as replayed: entries up to it were forgotten.
    qint64 m_forgottenUpTo = std::numeric_limits<qint64>::min();
};

// One journal event per sender per second at most, and at most MAX_SENDERS events per second over all
// senders together, so a flood (also one with forged source addresses) cannot fill the journal. What it
// leaves out is counted, so that a summary (event 109) can say how many drops went unwritten, from how
// many senders, and real attempts hidden in a flood are never invisible.
class DropEventLimiter {
public:
    static constexpr int MAX_SENDERS = 64;
    // Distinct senders counted per summary, at most (a flood from forged addresses must not grow memory).
    static constexpr int MAX_COUNTED_SENDERS = 10000;

    // True when a drop from `senderIPv4` may be written now (`nowMs`: a monotonic clock in milliseconds).
    bool allow(quint32 senderIPv4, qint64 nowMs);

    struct LeftOut {
        qint64 drops = 0;
        QString senders; // how many, "10000+" beyond the count
    };
    // The drops left out since the last call, and forgets them.
    LeftOut takeLeftOut();

private:
    QHash<quint32, qint64> m_lastEvent;
    qint64 m_leftOut = 0;
    QSet<quint32> m_leftOutSenders;
    bool m_moreSenders = false;
};

} // namespace plinket
