#pragma once

// The console's Send action and delivery round, widget-free: the main window calls onSend,
// onDeliveryTimer and onMainWindowClosing (DeliveryController); the window's deliveryTimer, its
// waiting-period controls, the tree model and the message boxes are reached through the hooks, so
// tests drive the same object without a screen.
//
// onSend: an empty text does nothing (a text of blanks is sent as it is). A text whose datagram a
// client would drop (over 2048 bytes) is not sent and the administrator is told why; one that a
// client would cut (over 2000 bytes) is sent only when the administrator says so, unless it is signed:
// a cut signature never verifies, so a signed datagram over 2000 bytes is not sent either. The sizes
// count the signature field. With a signing key the datagram is signed once per Send (every recipient
// gets the same bytes); without one it is exactly the unsigned datagram. Otherwise:
// the previous SendWorker is stopped, a round still open is closed with the statuses as they stand
// (its event 101 is written, so no round goes unrecorded), and every record reset (one hold of
// recipientsLock); a new random id (never repeating within the run), the SendJob, a new SendWorker, the
// waiting period, and the deliveryTimer (re)started. When the Send reaches nobody (no client
// ticked, no broadcast) the round runs all the same, the administrator is told that nothing was
// sent, and its end writes no event: a round with no checked client has nothing to record.
//
// The deliveryTimer repeats until the round is closed, so an expiry the window drops while a
// secondary window is open is followed by another one a full period later, which closes the round.

#include "broadcast_setting.h"
#include "delivery_controller.h"
#include "delivery_round.h"
#include "message_signature.h"
#include "send_worker.h"
#include "workstation_keys.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

namespace plinket {

class MessagingController final : public DeliveryController {
public:
    struct Hooks {
        std::function<qint32()> waitCount;
        std::function<qint32()> waitUnit;
        // Records whose image changed; called on the UI thread after recipientsLock is released.
        std::function<void(const ChangedRecords&)> notify;
        // The datagram would be cut at the client: true to send anyway (default: send).
        std::function<bool(const QString& title, const QString& text)> confirmCut;
        // The datagram would be dropped by every client (or, signed, could not be verified): it is not
        // sent; say so (default: nothing).
        std::function<void(const QString& title, const QString& text)> warnNeverShown;
        // The Send reached nobody: say so without stopping the administrator (default: nothing).
        std::function<void(const QString& text)> tellNothingSent;
        // Event 101 of the round (default: reportEvent to the event log).
        std::function<void(const QString& id, const QString& text, const QString& statusList)> writeEvent;
        // The wall-clock time of the Send: the time of its signature (default: now).
        std::function<QDateTime()> now;
        // Stands in for randomMessageId (default: the system's random source).
        std::function<qint32()> randomId;
        // The SendWorker of a Send has walked the list (called on the UI thread, before the worker
        // is deleted): what it sent and which hosts gave no address (default: nothing).
        std::function<void(const SendWorker& worker)> sendFinished;
        SendWorker::Options sendOptions;
        // The console's signing key; none: messages go out unsigned.
        std::shared_ptr<const SigningKey> signingKey;
        // The pinned report keys the listener judges reports by; told the signature time of each Send.
        std::shared_ptr<WorkstationKeys> workstationKeys;
    };

    MessagingController(RecipientList& recipients, QMutex& recipientsLock, BroadcastSetting& broadcast,
                        QTimer& deliveryTimer, QString languageCode, QString senderName, Hooks hooks);
    // Stops and waits for a worker still running (tests and tools; the console keeps its controller).
    ~MessagingController() override;

    void onSend(const QString& text) override;
    void onDeliveryTimer() override;
    void onMainWindowClosing() override;

    // Marks every checked client still waiting as not delivered and writes event 101 for the last
    // Send. UI thread.
    void closeDeliveryRound();

    bool awaitingReports() const { return m_awaitingReports; }
    qint32 waitingPeriodMs() const { return m_waitingPeriodMs; }
    const SendJob& lastJob() const { return m_job; }
    // The worker of the last Send while it runs, else nullptr.
    SendWorker* currentWorker() const { return m_worker.data(); }

private:
    // Event 101 of the round of `job`; none for a round without a checked client.
    void writeRoundEvent(const SendJob& job, const QString& statusList);

    RecipientList& m_recipients;
    QMutex& m_lock;
    BroadcastSetting& m_broadcast;
    QTimer& m_deliveryTimer;
    QString m_language;
    QString m_senderName;
    Hooks m_hooks;

    MessageIdSource m_ids;
    SendJob m_job;
    QPointer<SendWorker> m_worker;
    qint32 m_waitingPeriodMs = 0;
    bool m_awaitingReports = false;
};

} // namespace plinket
