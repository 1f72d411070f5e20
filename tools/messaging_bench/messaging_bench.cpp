// plinket_messaging_bench: measures the console's messaging code on loopback.
//
//   --reports N --loadgen PATH   a tree of N clients on screen (offscreen platform), the real
//                                ReportListener on 127.0.0.1, and N clients answering "1" at once
//                                (plinket_loadgen --burst). Prints how many reports were taken and lost,
//                                when the last one was on screen, and how late the UI thread's timer ran.
//   --dispatch N                 a SendWorker sending to N checked IPv4 recipients on loopback; prints
//                                how long the whole send took and how many datagrams arrived.
//   --resolve N --unresolvable U a SendWorker sending to N recipients given by name, U of which no resolver
//                                knows; run it where names resolve locally and unknown ones time out
//                                (run.sh builds such a namespace). --resolver-threads 1 resolves one
//                                name after another, as the original design did.
// Every run is bounded in count and time, and sends only to loopback.

#include "delivery_round.h"
#include "loadgen_plan.h"
#include "recipient_tree_model.h"
#include "report_listener.h"
#include "send_worker.h"
#include "status_images.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QUdpSocket>

#include <cstdio>

using namespace plinket;

namespace {

constexpr qint32 ID = 424242;

void out(const QString& line) {
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

// Records in tree order, as loadRecipients builds them: the root, `groups` groups, clients split over them.
RecipientList directory(const QList<QString>& hosts, int groups) {
    std::vector<RecipientRecord> records;
    RecipientRecord root;
    root.name = QString::fromLatin1(ROOT_RECORD_NAME);
    root.isGroup = 1;
    records.push_back(root);
    const int perGroup = (int(hosts.size()) + groups - 1) / groups;
    for (int i = 0; i < hosts.size(); ++i) {
        if (i % perGroup == 0) {
            RecipientRecord group;
            group.name = QStringLiteral("Group %1").arg(i / perGroup + 1);
            group.isGroup = 1;
            group.parentIndex = 0;
            group.level = 1;
            records.push_back(group);
        }
        RecipientRecord client;
        client.name = QStringLiteral("Client %1").arg(i + 1);
        client.host = hosts[i];
        client.parentIndex = int(records.size()) - 1 - (i % perGroup);
        client.level = 2;
        records.push_back(client);
    }
    return RecipientList(std::move(records));
}

QList<QString> loadgenAddresses(int n) {
    QList<QString> hosts;
    for (int i = 0; i < n; ++i)
        hosts.append(loadgen::dottedV4(loadgen::clientAddress(i)));
    return hosts;
}

// ---- reports ----------------------------------------------------------------------------------------

int benchReports(int n, const QString& loadgenPath, quint16 port) {
    static RecipientList list = directory(loadgenAddresses(n), std::max(1, n / 100));
    static QMutex lock;
    list.setAllMessageIds(ID);
    RecipientTreeModel model(list, lock, u"All clients"_qs, drawStatusImages(Qt::white));
    QTreeView view;
    view.setModel(&model);
    view.resize(400, 800);
    view.setUniformRowHeights(true); // as the console's recipient tree
    view.expandAll();
    view.show();

    ReportListener::Options options;
    options.bindAddress = QHostAddress(QHostAddress::LocalHost);
    options.port = port;
    ReportListener listener(
        list, lock, [&model](const ChangedRecords& changed) { model.notifyRecordsChanged(changed); }, nullptr, options);
    listener.start();
    if (!listener.waitUntilListening(5000)) {
        out(QStringLiteral("cannot listen on 127.0.0.1:%1").arg(port));
        return 2;
    }

    // Shown = the UI thread has announced the change to the view (dataChanged for the record).
    QElapsedTimer clock;
    qint64 lastShownMs = -1;
    int shown = 0;
    std::vector<bool> seen(size_t(list.size()), false);
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex& from, const QModelIndex& to) {
        for (QModelIndex i = from; i.isValid(); i = i.siblingAtRow(i.row() + 1)) {
            const int record = model.recordOf(i);
            if (record >= 0 && !list.at(record).isGroup && !seen[size_t(record)]) {
                seen[size_t(record)] = true;
                ++shown;
                lastShownMs = clock.elapsed();
            }
            if (i.row() >= to.row())
                break;
        }
    });
    // The UI thread's responsiveness: a 5 ms timer, and how late it fires at worst.
    QElapsedTimer tick;
    qint64 worstLateMs = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        if (tick.isValid())
            worstLateMs = std::max(worstLateMs, tick.elapsed() - 5);
        tick.start();
    });

    QProcess burst;
    burst.setProcessChannelMode(QProcess::MergedChannels);
    clock.start();
    burst.start(loadgenPath, {u"--burst"_qs, QString::number(n), u"--statuses"_qs, u"1"_qs, u"--to"_qs, u"127.0.0.1"_qs,
                              u"--report-port"_qs, QString::number(port), u"--id"_qs, QString::number(ID),
                              u"--duration-s"_qs, u"30"_qs});
    // Started once the burst program runs, so starting it is not counted against the UI thread.
    burst.waitForStarted(5000);
    heartbeat.start(5);
    QElapsedTimer limit;
    limit.start();
    while (shown < n && limit.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // A little longer, so reports still queued would show up as taken rather than lost.
    const QDeadlineTimer settle(500);
    while (!settle.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    burst.waitForFinished(30000);
    const QString burstLine = QString::fromLocal8Bit(burst.readAll()).trimmed();
    listener.stop();
    listener.wait();

    out(QStringLiteral("reports: burst of %1 from %1 loopback clients (%2)").arg(n).arg(burstLine));
    out(QStringLiteral("reports: listener rcvbuf=%1 taken=%2 applied=%3 lost=%4 shown=%5 last_shown_ms=%6 "
                       "ui_timer_worst_late_ms=%7")
            .arg(listener.receiveBufferBytes())
            .arg(listener.reportsRead())
            .arg(listener.reportsApplied())
            .arg(n - listener.reportsRead())
            .arg(shown)
            .arg(lastShownMs)
            .arg(worstLateMs));
    return shown == n ? 0 : 1;
}

// ---- dispatch ---------------------------------------------------------------------------------------

// Counts datagrams arriving on loopback at `port` on a thread of its own.
class Counter final : public QThread {
public:
    explicit Counter(quint16 port) : m_port(port) {}
    std::atomic<int> count{0};
    std::atomic<bool> stopping{false};
    std::atomic<bool> ready{false};

protected:
    void run() override {
        QUdpSocket socket;
        if (!socket.bind(QHostAddress::AnyIPv4, m_port))
            return;
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 16 * 1024 * 1024);
        ready = true;
        while (!stopping) {
            if (!socket.hasPendingDatagrams())
                socket.waitForReadyRead(50);
            while (socket.hasPendingDatagrams()) {
                socket.receiveDatagram(RECEIVE_BUFFER_SIZE + 1);
                ++count;
            }
        }
    }

private:
    quint16 m_port;
};

struct SendResult {
    qint64 ms = 0;
    qint64 sent = 0;
    qint64 unresolved = 0;
    int arrived = 0;
};

SendResult timedSend(RecipientList& list, quint16 port, int resolverThreads, int timeoutMs) {
    QMutex lock;
    list.applyCheck(0, CHECK_CHECKED);
    Counter counter(port);
    counter.start();
    while (!counter.ready && counter.isRunning())
        QThread::msleep(1);
    SendWorker::Options options;
    options.port = port;
    options.resolverThreads = resolverThreads;
    const QString datagram = formatMessageDatagram(u"EN"_qs, QString::number(ID), u"Benchmark"_qs, u"BENCH"_qs);
    SendWorker worker(SendJob{datagram, u"Benchmark"_qs, ID}, BroadcastSnapshot{}, list, lock, options);
    QElapsedTimer clock;
    clock.start();
    worker.start();
    worker.wait(QDeadlineTimer(timeoutMs));
    SendResult r{clock.elapsed(), worker.datagramsSent(), worker.unresolved(), 0};
    QThread::msleep(200);
    r.arrived = counter.count;
    counter.stopping = true;
    counter.wait();
    if (worker.isRunning()) {
        QMutexLocker l(&lock);
        worker.stop();
    }
    return r;
}

int benchDispatch(int n, quint16 port) {
    RecipientList list = directory(loadgenAddresses(n), std::max(1, n / 100));
    const SendResult r = timedSend(list, port, 128, 60000);
    out(QStringLiteral("dispatch: %1 IPv4 recipients in %2 ms, sent=%3 arrived=%4 (a fresh socket per datagram)")
            .arg(n)
            .arg(r.ms)
            .arg(r.sent)
            .arg(r.arrived));
    return r.arrived == n ? 0 : 1;
}

int benchResolve(int n, int unresolvable, int threads, quint16 port) {
    QList<QString> hosts;
    // Unknown names spread evenly through the list, the rest resolving through the hosts file.
    const int every = unresolvable > 0 ? std::max(1, n / unresolvable) : n + 1;
    int unknown = 0;
    for (int i = 0; i < n; ++i) {
        if (unknown < unresolvable && i % every == every - 1)
            hosts.append(QStringLiteral("NOWHERE-%1").arg(unknown++));
        else
            hosts.append(QStringLiteral("BENCH-PC-%1").arg(i));
    }
    RecipientList list = directory(hosts, std::max(1, n / 100));
    const SendResult r = timedSend(list, port, threads, 600000);
    out(QStringLiteral("resolve: %1 names, %2 unresolvable, resolver threads %3: %4 ms, sent=%5 unresolved=%6 "
                       "arrived=%7")
            .arg(n)
            .arg(unresolvable)
            .arg(threads)
            .arg(r.ms)
            .arg(r.sent)
            .arg(r.unresolved)
            .arg(r.arrived));
    return r.sent == n - unresolvable ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption reports(u"reports"_qs, u"Report burst of N clients."_qs, u"N"_qs);
    const QCommandLineOption loadgen(u"loadgen"_qs, u"Path of plinket_loadgen."_qs, u"PATH"_qs);
    const QCommandLineOption dispatch(u"dispatch"_qs, u"Send to N IPv4 recipients."_qs, u"N"_qs);
    const QCommandLineOption resolve(u"resolve"_qs, u"Send to N named recipients."_qs, u"N"_qs);
    const QCommandLineOption unresolvable(u"unresolvable"_qs, u"How many names do not resolve."_qs, u"U"_qs);
    const QCommandLineOption threads(u"resolver-threads"_qs, u"Names resolved at once (default 128)."_qs, u"T"_qs);
    const QCommandLineOption port(u"port"_qs, u"Loopback port to use (default 47900)."_qs, u"PORT"_qs);
    parser.addOptions({reports, loadgen, dispatch, resolve, unresolvable, threads, port});
    parser.process(app);
    const quint16 p = quint16(parser.isSet(port) ? parser.value(port).toUInt() : 47900);
    const auto bounded = [](const QString& text, int high) { return std::clamp(text.toInt(), 1, high); };
    if (parser.isSet(reports))
        return benchReports(bounded(parser.value(reports), 100'000), parser.value(loadgen), p);
    if (parser.isSet(dispatch))
        return benchDispatch(bounded(parser.value(dispatch), 100'000), p);
    if (parser.isSet(resolve))
        return benchResolve(bounded(parser.value(resolve), 10'000),
                            std::clamp(parser.value(unresolvable).toInt(), 0, 10'000),
                            parser.isSet(threads) ? bounded(parser.value(threads), 1024) : 128, p);
    parser.showHelp(2);
}
