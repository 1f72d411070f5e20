#pragma once

// The client's check of signed messages under its policy (client_policy.h), before the usual handling.
// A message passes or is dropped for one reason:
//
//   unsigned       signatures are required and the message carries none
//   unknown key    signed by a key that is not trusted here
//   bad signature  the signature does not match the bytes, or the field is malformed
//   too old        its time lies more than max-message-age before the moment it arrived
//   too new        its time lies more than max-message-age after the moment it arrived
//   replayed       the same (key, time, id) was shown before
//
// The check comes in three steps, so that the receiver can share out the one that costs:
//   screen    everything that costs next to nothing: the field's layout, the policy, whether the key id
//             is trusted here, and freshness against the moment the datagram arrived (the system's
//             receive time, however long it then waited to be read or shown). A datagram whose key
//             is not trusted, or whose time is off, never costs a signature check.
//   verify    the Ed25519 check itself (some tens of microseconds), for what screen left to it.
//   remember  just before the message is handled, the replay record. A validly signed, fresh copy of
//             the last confirmed message (same id, sender and text) passes here, so that a workstation
//             listed under two groups still answers the second copy "confirmed" at once (also when the
//             copy was queued behind the first one's pop-up); any other copy of a message already shown
//             is a replay.
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

// QueueFull is the receiver's: the datagram gave way in a full queue (fair_queue.h).
enum class DropReason { Unsigned, UnknownKey, BadSignature, TooOld, TooNew, Replayed, QueueFull };

// The reason as it appears in the journal event ("unknown key" followed by the key id when known).
QString dropReasonText(DropReason reason, const QByteArray& keyId = {});

struct GateVerdict {
    std::optional<DropReason> drop; // nothing: the message goes on as any message does
    QByteArray keyId;               // the signature's key id, when it could be read
    qint64 signedAtUtc = 0;         // the signature's TIME, when it could be read
    QString signer;                 // after a valid check: the name of the trusted key that made it
    bool needsVerify = false;       // after screen: passed so far, the signature itself is still to check
};

class MessageGate {
public:
    static constexpr int MAX_REMEMBERED_MESSAGES = 4096;

    explicit MessageGate(ClientPolicy policy);

    // A policy read again: applies from the next screen() on, and the replay record stays. A datagram that
    // screen() passed before is still verified against the key it was screened with, also when that key
    // is no longer trusted. Under a policy that checks nothing, every message passes as without a gate.
    void setPolicy(ClientPolicy policy);

    // `datagram`: the bytes as received; `arrivedAt`: when they reached this computer, UTC seconds.
    GateVerdict screen(QByteArrayView datagram, qint64 arrivedAt) const;
    // True when the signature of a datagram that screen() passed with needsVerify is valid; then
    // `verdict.signer` names the trusted key that made it.
    bool verify(QByteArrayView datagram, GateVerdict& verdict) const;
    // The replay check of a message that passed screen() (and verify()), right before it is handled.
    // `repeatsLastConfirmed`: the message is a copy of the one the user confirmed last. A message that
    // passes and will be shown is remembered.
    std::optional<DropReason> remember(const GateVerdict& passed, const QString& id, bool repeatsLastConfirmed,
                                       qint64 arrivedAt);
    // The three steps at once (for a single message handled as it is read).
    GateVerdict admit(QByteArrayView datagram, const QString& id, bool repeatsLastConfirmed, qint64 arrivedAt);

    qsizetype rememberedCount() const { return qsizetype(m_seen.size()); }

private:
    struct Seen {
        qint64 time;
        QByteArray keyId;
        QString id;
        bool operator<(const Seen& other) const;
    };

    ClientPolicy m_policy;
    QList<QByteArray> m_trustedKeyIds; // of m_policy.trustedKeys, worked out once
    ClientPolicy m_previous;           // the policy before the last setPolicy(), for verify()
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
