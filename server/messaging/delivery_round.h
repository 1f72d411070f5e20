#pragma once

// The widget-free rules of a delivery round: how long the waiting period lasts, which id a Send
// gets, whether the datagram fits what a client accepts, and how the round is closed (checked
// clients still waiting become "Not delivered"; one status line per checked client for event 101).
// Nothing here locks: callers hold recipientsLock around everything that touches records.

#include "recipient_list.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringView>

#include <functional>
#include <optional>

namespace plinket {

// Units of waitCount as the unit selector orders them.
inline constexpr qint32 WAIT_UNIT_SECONDS = 0;
inline constexpr qint32 WAIT_UNIT_MINUTES = 1;
inline constexpr qint32 WAIT_UNIT_HOURS = 2;

// The waiting period in milliseconds: waitCount seconds, minutes or hours. A unit outside 0..2 (only a
// hand-edited config.ini gives one) keeps `previousMs`, the period of the last Send (0 before the first).
qint32 waitingPeriodMs(qint32 waitCount, qint32 waitUnit, qint32 previousMs);

// Message ids are random (randomMessageId), so that a host that does not see a message cannot guess the id
// its reports must carry, and they never repeat within a run: a client answers a repeated id with "2"
// without showing the message, so a repeat would silently swallow the second message. The source keeps
// every id it handed out (4 bytes per Send) and draws again on a repeat. Never 0, the id of records no send
// reached.
class MessageIdSource {
public:
    // `random` stands in for randomMessageId (tests); its values are taken into 1..MAX_MESSAGE_ID.
    explicit MessageIdSource(std::function<qint32()> random = {});
    qint32 next();
    // What next() will return, without taking it (for sizing the datagram before asking).
    qint32 peek();

private:
    std::function<qint32()> m_random;
    std::optional<qint32> m_pending;
    QSet<qint32> m_issued;
};

// How a client treats a message datagram of this many bytes.
enum class PayloadFit {
    Fits,      // shown whole
    Cut,       // 2001..2048 bytes: shown, but cut after byte 2000 (end of the text and sender lost)
    NeverShown // over 2048 bytes: dropped whole by every client, never shown nor reported
};
PayloadFit payloadFit(qsizetype datagramBytes);

// The words of the status list in one interface language.
struct StatusWords {
    QString delivered;
    QString confirmed;
    QString notDelivered;
    QString timePreposition;
    static StatusWords inLanguage(QStringView code);
};

// The words for one checked client at the end of the round: "Delivered in 14:05:09",
// "Confirmed in 14:05:09", or "Not delivered" for a client that never reported. Reports with any
// other status are dropped by the listener, so no other value is expected; one is shown as
// "Not delivered", which is what it means for the round.
QString statusWords(quint8 deliveryStatus, const QString& reportTime, const StatusWords& words);

// Local time now as the report time of a record: "hh:mm:ss", 24-hour clock.
QString reportTimeText(const QTime& time);

// Whether a Send now reaches anyone: broadcast mode (root checked and broadcast on) or at least
// one checked client. Caller holds recipientsLock.
bool sendReachesAnyone(const RecipientList& recipients, qint32 broadcastEnabled);

struct RoundClosure {
    QString statusList;     // one line per checked client: name, TAB, "= ", words, CR LF
    ChangedRecords changed; // records whose status image changed
};

// closeDeliveryRound's walk (caller holds recipientsLock): every client record checked at this
// moment that is still Waiting becomes NotDelivered (ancestors recomputed), and its line is added.
RoundClosure closeRound(RecipientList& recipients, const StatusWords& words);

} // namespace plinket
