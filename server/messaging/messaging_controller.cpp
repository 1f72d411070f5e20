#include "messaging_controller.h"

#include "eventlog.h"
#include "messaging_texts.h"
#include "protocol.h"

#include <optional>

namespace plinket {

MessagingController::MessagingController(RecipientList& recipients, QMutex& recipientsLock, BroadcastSetting& broadcast,
                                         QTimer& deliveryTimer, QString languageCode, QString senderName, Hooks hooks)
    : m_recipients(recipients), m_lock(recipientsLock), m_broadcast(broadcast), m_deliveryTimer(deliveryTimer),
      m_language(std::move(languageCode)), m_senderName(std::move(senderName)), m_hooks(std::move(hooks)),
      m_ids(m_hooks.randomId) {
    if (!m_hooks.now)
        m_hooks.now = [] { return QDateTime::currentDateTime(); };
    if (!m_hooks.writeEvent)
        m_hooks.writeEvent = [](const QString& id, const QString& text, const QString& statusList) {
            reportEvent(EventSource::Server, EVENT_TYPE_INFORMATION, EVENT_SERVER_DELIVERY_CLOSED, id, text,
                        statusList);
        };
    if (!m_hooks.notify)
        m_hooks.notify = [](const ChangedRecords&) {};
}

MessagingController::~MessagingController() {
    if (SendWorker* worker = m_worker.data()) {
        {
            QMutexLocker lock(&m_lock);
            worker->stop();
        }
        worker->wait();
    }
}

void MessagingController::onSend(const QString& text) {
    if (text.isEmpty())
        return;

    const SigningKey* key = m_hooks.signingKey.get();
    const auto datagramWith = [&](qint32 id) {
        return formatMessageDatagram(m_language, QString::number(id), text, m_senderName);
    };
    const QDateTime before = m_hooks.now();
    const qsizetype bytes =
        datagramWith(m_ids.peek()).toUtf8().size() + (key ? signatureFieldSize(before.toSecsSinceEpoch()) : 0);
    const QString title = messagingText(m_language, MessagingTextId::oversizeTitle);
    const auto refuse = [&](MessagingTextId why) {
        if (m_hooks.warnNeverShown)
            m_hooks.warnNeverShown(title, messagingText(m_language, why).arg(bytes));
    };
    switch (payloadFit(bytes)) {
    case PayloadFit::NeverShown:
        refuse(MessagingTextId::oversizeNeverShown);
        return;
    case PayloadFit::Cut:
        if (key) {
            refuse(MessagingTextId::oversizeSigned);
            return;
        }
        if (m_hooks.confirmCut &&
            !m_hooks.confirmCut(title, messagingText(m_language, MessagingTextId::oversizeCut).arg(bytes)))
            return;
        break;
    case PayloadFit::Fits:
        break;
    }

    // The id and the signature's time are taken now, after any question, so they reflect the moment of sending.
    const QDateTime sendTime = m_hooks.now();
    const qint32 id = m_ids.next();
    const BroadcastSnapshot broadcast = m_broadcast.snapshot();
    ChangedRecords changed;
    std::optional<RoundClosure> openRound;
    bool reachesAnyone = false;
    {
        QMutexLocker lock(&m_lock);
        if (SendWorker* previous = m_worker.data())
            previous->stop();
        if (m_awaitingReports)
            openRound = closeRound(m_recipients, StatusWords::inLanguage(m_language));
        // The reset lists every record the closed round marked as well.
        changed = m_recipients.resetDeliveryState();
        reachesAnyone = sendReachesAnyone(m_recipients, broadcast.enabled);
    }
    m_hooks.notify(changed);
    if (openRound)
        writeRoundEvent(m_job, openRound->statusList);

    // Before the worker starts: a report can come back as soon as the first datagram has left.
    if (m_hooks.workstationKeys)
        m_hooks.workstationKeys->expectMessageTime(key ? sendTime.toSecsSinceEpoch() : 0);
    const QString datagram = datagramWith(id);
    m_job = SendJob{key ? signMessageDatagram(datagram, *key, sendTime.toSecsSinceEpoch()) : datagram, text, id};
    auto* worker = new SendWorker(m_job, broadcast, m_recipients, m_lock, m_hooks.sendOptions);
    // Connected before the deletion below, so the hook runs on the UI thread while the worker exists.
    if (m_hooks.sendFinished)
        QObject::connect(worker, &QThread::finished, worker,
                         [finished = m_hooks.sendFinished, worker] { finished(*worker); });
    // Workers are never waited for; each is deleted on the UI thread once it has ended by itself.
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    m_worker = worker;
    worker->start();

    const qint32 count = m_hooks.waitCount ? m_hooks.waitCount() : 0;
    const qint32 unit = m_hooks.waitUnit ? m_hooks.waitUnit() : WAIT_UNIT_SECONDS;
    m_waitingPeriodMs = plinket::waitingPeriodMs(count, unit, m_waitingPeriodMs);
    m_deliveryTimer.setSingleShot(false);
    m_deliveryTimer.start(m_waitingPeriodMs);
    m_awaitingReports = true;
    if (!reachesAnyone && m_hooks.tellNothingSent)
        m_hooks.tellNothingSent(messagingText(m_language, MessagingTextId::nothingSent));
}

void MessagingController::writeRoundEvent(const SendJob& job, const QString& statusList) {
    if (!statusList.isEmpty())
        m_hooks.writeEvent(QString::number(job.messageId), job.messageText, statusList);
}

void MessagingController::closeDeliveryRound() {
    RoundClosure closure;
    {
        QMutexLocker lock(&m_lock);
        closure = closeRound(m_recipients, StatusWords::inLanguage(m_language));
    }
    m_hooks.notify(closure.changed);
    writeRoundEvent(m_job, closure.statusList);
}

void MessagingController::onDeliveryTimer() {
    m_deliveryTimer.stop();
    if (!m_awaitingReports)
        return;
    closeDeliveryRound();
    m_awaitingReports = false;
}

void MessagingController::onMainWindowClosing() {
    if (!m_awaitingReports)
        return;
    closeDeliveryRound();
    m_deliveryTimer.stop();
    m_awaitingReports = false;
}

} // namespace plinket
