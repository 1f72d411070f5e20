#include "delivery_round.h"

#include "language.h"
#include "protocol.h"

#include <limits>

namespace plinket {

qint32 waitingPeriodMs(qint32 waitCount, qint32 waitUnit, qint32 previousMs) {
    qint64 unitMs = 0;
    switch (waitUnit) {
    case WAIT_UNIT_SECONDS:
        unitMs = 1000;
        break;
    case WAIT_UNIT_MINUTES:
        unitMs = 60'000;
        break;
    case WAIT_UNIT_HOURS:
        unitMs = 3'600'000;
        break;
    default:
        return previousMs;
    }
    // waitCount is 0..100 from the spin box; a hand-edited value is kept inside the timer's range.
    const qint64 ms = qint64(waitCount) * unitMs;
    return qint32(std::clamp<qint64>(ms, 0, std::numeric_limits<qint32>::max()));
}

MessageIdSource::MessageIdSource(std::function<qint32()> random) : m_random(std::move(random)) {
    if (!m_random)
        m_random = randomMessageId;
}

qint32 MessageIdSource::peek() {
    // A repeat is a one-in-two-billion draw; every Send of a run stays apart all the same.
    while (!m_pending || m_issued.contains(*m_pending)) {
        const qint64 drawn = m_random();
        m_pending = qint32(1 + (drawn % MAX_MESSAGE_ID + MAX_MESSAGE_ID - 1) % MAX_MESSAGE_ID);
    }
    return *m_pending;
}

qint32 MessageIdSource::next() {
    const qint32 id = peek();
    m_issued.insert(id);
    m_pending.reset();
    return id;
}

PayloadFit payloadFit(qsizetype datagramBytes) {
    if (datagramBytes > RECEIVE_BUFFER_SIZE)
        return PayloadFit::NeverShown;
    if (datagramBytes > CLIENT_PAYLOAD_LIMIT)
        return PayloadFit::Cut;
    return PayloadFit::Fits;
}

StatusWords StatusWords::inLanguage(QStringView code) {
    return {textIn(code, TextId::statusDelivered), textIn(code, TextId::statusConfirmed),
            textIn(code, TextId::statusNotDelivered), textIn(code, TextId::timePreposition)};
}

QString statusWords(quint8 deliveryStatus, const QString& reportTime, const StatusWords& words) {
    switch (deliveryStatus) {
    case STATUS_DELIVERED:
        return words.delivered + u' ' + words.timePreposition + u' ' + reportTime;
    case STATUS_CONFIRMED:
        return words.confirmed + u' ' + words.timePreposition + u' ' + reportTime;
    default:
        return words.notDelivered;
    }
}

QString reportTimeText(const QTime& time) {
    return time.toString(QStringLiteral("hh:mm:ss"));
}

bool sendReachesAnyone(const RecipientList& recipients, qint32 broadcastEnabled) {
    if (recipients.isEmpty() || recipients.at(0).checkState == CHECK_UNCHECKED)
        return false; // the root holds the OR of every check box below it
    if (recipients.at(0).checkState == CHECK_CHECKED && broadcastEnabled == 1)
        return true;
    for (const RecipientRecord& r : recipients.records())
        if (!r.isGroup && r.checkState == CHECK_CHECKED)
            return true;
    return false;
}

RoundClosure closeRound(RecipientList& recipients, const StatusWords& words) {
    RoundClosure closure;
    for (int i = 0; i < recipients.size(); ++i) {
        const RecipientRecord& r = recipients.at(i);
        if (r.isGroup || r.checkState != CHECK_CHECKED)
            continue;
        if (r.deliveryStatus == STATUS_WAITING)
            closure.changed += recipients.propagateToAncestors(i, STATUS_NOT_DELIVERED, PropagationMode::Icons);
        const RecipientRecord& now = recipients.at(i);
        closure.statusList +=
            now.name + u'\t' + u"= "_qs + statusWords(now.deliveryStatus, now.reportTime, words) + u"\r\n"_qs;
    }
    return closure;
}

} // namespace plinket
