#include "send_session.h"

#include "delivery_round.h"
#include "eventlog.h"
#include "messaging_controller.h"
#include "protocol.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

namespace plinket {

namespace {

// How often the run looks at the records (progress, the early end) and at stop requests.
constexpr int POLL_MS = 50;
// The listener binds its port at once; this only bounds a machine that does not schedule it.
constexpr int LISTENER_START_MS = 30'000;

void writeSendEvent(const QString& id, const QString& text, const QString& statusList) {
    reportEvent(EventSource::Send, EVENT_TYPE_INFORMATION, EVENT_SEND_DELIVERY_CLOSED, id, text, statusList);
}

// The ticked clients by what they have reported so far. `open` counts those that may still reach the
// required state: not there yet, and their datagram could be sent.
struct Tally {
    int clients = 0;
    int stamped = 0;
    int delivered = 0;
    int confirmed = 0;
    int open = 0;
};

Tally tally(const RecipientList& list, qint32 id, Requirement require, const QSet<int>& unresolved) {
    Tally t;
    for (int i = 0; i < list.size(); ++i) {
        const RecipientRecord& r = list.at(i);
        if (r.isGroup || r.checkState != CHECK_CHECKED)
            continue;
        ++t.clients;
        t.stamped += r.messageId == id;
        t.delivered += r.deliveryStatus == STATUS_DELIVERED;
        t.confirmed += r.deliveryStatus == STATUS_CONFIRMED;
        t.open += !reachedState(r.deliveryStatus, require) && !unresolved.contains(i);
    }
    return t;
}

QString progressLine(const Tally& t, qint64 msLeft) {
    QString line = QStringLiteral("plinket_send: %1/%2 sent, %3 delivered, %4 confirmed")
                       .arg(t.stamped)
                       .arg(t.clients)
                       .arg(t.delivered)
                       .arg(t.confirmed);
    if (msLeft >= 0)
        line += QStringLiteral(", %1 s left").arg((msLeft + 999) / 1000);
    return line;
}

} // namespace

SendRun runSend(const SendSetup& s) {
    SendRun run;
    const bool waiting = s.waitSeconds > 0;

    // The listener first: a report that arrives before the port is bound is lost. Not shared, so a
    // console (or another plinket_send) on this computer makes it fail instead of splitting the reports.
    // Without waiting nothing listens; the port is only tried, to say where the reports go.
    bool portFree = false;
    if (waiting) {
        ReportListener::Options options;
        options.keys = s.workstationKeys;
        run.listener = std::make_unique<ReportListener>(s.recipients, s.recipientsLock, nullptr, nullptr, options);
        run.listener->start();
        portFree = run.listener->waitUntilListening(LISTENER_START_MS);
    } else {
        QUdpSocket probe;
        portFree = probe.bind(QHostAddress(QHostAddress::AnyIPv4), REPORT_PORT, QAbstractSocket::DontShareAddress);
    }
    if (!portFree) {
        if (waiting) {
            run.end = SendEnd::PortBusy;
            return run;
        }
        s.warn(QStringLiteral("UDP port %1 is taken on this computer (a console or another plinket_send is "
                              "running); sending without waiting, the reports go to that program")
                   .arg(REPORT_PORT));
    }

    QTimer deliveryTimer;
    QEventLoop loop;
    bool closed = false;
    bool workerDone = false;
    qint64 sent = 0;
    QSet<int> unresolved;
    QString refusal;
    std::function<void()> settle;

    MessagingController::Hooks hooks;
    hooks.waitCount = [seconds = s.waitSeconds] { return seconds; };
    hooks.waitUnit = [] { return WAIT_UNIT_SECONDS; };
    hooks.writeEvent = writeSendEvent;
    // A text a client would drop or cut is not sent; nobody is there to answer the console's question.
    hooks.warnNeverShown = [&refusal](const QString&, const QString& text) { refusal = text; };
    hooks.confirmCut = [&refusal](const QString&, const QString& text) {
        refusal = text;
        return false;
    };
    hooks.sendFinished = [&](const SendWorker& worker) {
        sent = worker.datagramsSent();
        for (const int i : worker.unresolvedRecords())
            unresolved.insert(i);
        workerDone = true;
        settle();
    };
    // Signed with the console's key from the same working folder, as the console's Send is.
    hooks.signingKey = s.signingKey;
    hooks.workstationKeys = s.workstationKeys;
    MessagingController controller(s.recipients, s.recipientsLock, s.broadcast, deliveryTimer, s.language, s.senderName,
                                   std::move(hooks));

    const auto finish = [&] {
        if (closed)
            return;
        closed = true;
        // The console's end of the waiting period: still-waiting recipients become "Not delivered"
        // and event 101 is written.
        if (waiting)
            controller.onDeliveryTimer();
        loop.quit();
    };
    settle = [&] {
        if (closed || !workerDone)
            return;
        bool open = waiting && sent > 0;
        if (open) {
            QMutexLocker lock(&s.recipientsLock);
            open = tally(s.recipients, controller.lastJob().messageId, s.require, unresolved).open > 0;
        }
        if (!open)
            finish();
    };
    // Armed by the Send for the waiting period; without waiting it fires at once and is not wanted.
    QObject::connect(&deliveryTimer, &QTimer::timeout, &loop, [&] {
        if (waiting)
            finish();
        else
            deliveryTimer.stop();
    });

    controller.onSend(s.text);
    if (!refusal.isEmpty()) {
        run.end = SendEnd::Refused;
        run.refusal = refusal;
        return run;
    }
    const qint32 id = controller.lastJob().messageId;

    QTimer poll;
    QString shownProgress;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (takeStopRequest()) {
            s.warn(u"stopped: the round is closed with the states as they stand"_qs);
            finish();
            return;
        }
        if (s.showProgress) {
            Tally t;
            {
                QMutexLocker lock(&s.recipientsLock);
                t = tally(s.recipients, id, s.require, unresolved);
            }
            const QString line =
                progressLine(t, waiting && deliveryTimer.isActive() ? deliveryTimer.remainingTime() : -1);
            if (line != shownProgress)
                s.progress(shownProgress = line);
        }
        settle();
    });
    poll.start(POLL_MS);
    loop.exec();
    poll.stop();
    if (run.listener)
        run.listener->stop();
    if (s.showProgress)
        s.progress({});

    // A worker still walking the list (stopped early) is stopped, and waited for, so what it did is known.
    if (!workerDone) {
        if (SendWorker* worker = controller.currentWorker()) {
            {
                QMutexLocker lock(&s.recipientsLock);
                worker->stop();
            }
            worker->wait();
            sent = worker->datagramsSent();
            for (const int i : worker->unresolvedRecords())
                unresolved.insert(i);
        }
    }

    // Calls the worker posted to this thread as it ended are taken now, while what they use exists.
    QCoreApplication::sendPostedEvents();

    SendOutcome& out = run.outcome;
    out.messageId = id;
    out.text = s.text;
    out.waited = waiting;
    out.datagramsSent = sent;
    {
        QMutexLocker lock(&s.recipientsLock);
        for (int i = 0; i < s.recipients.size(); ++i) {
            const RecipientRecord& r = s.recipients.at(i);
            if (r.isGroup || r.checkState != CHECK_CHECKED)
                continue;
            const bool noAddress = unresolved.contains(i);
            out.recipients.append({r.name, r.host, r.deliveryStatus, r.reportTime,
                                   sent > 0 && r.messageId == id && !noAddress, noAddress, r.reportTrust});
        }
    }
    if (!waiting)
        writeSendEvent(QString::number(id), s.text, statusLines(out, s.language, u"\r\n"_qs));
    return run;
}

} // namespace plinket
