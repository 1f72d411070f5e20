// Measures plinket_client on loopback (run it in a network namespace of its own: see run.sh).
//
//   cold   the real program, started afresh for each sample: datagram sent -> report "1" received
//          (the report leaves right after the pop-up is shown, so this bounds the pop-up latency,
//          first-pop-up costs such as font loading included)
//   warm   the receive loop and pop-up in this process: datagram sent -> pop-up window exposed by the
//          windowing system, and -> report "1"; OK pressed between samples
//   idle   the real program left alone: context switches of all its threads (/proc/PID/task/*/status)
//          over a period, with no pop-up and with one pop-up open; its memory (VmRSS, VmHWM)
//   flood  (--flood RATE, instead of the others) the real program, trusting a key and requiring
//          signatures, while plinket_loadgen sends RATE forged messages a second from other loopback
//          addresses, laid out as signed with that key (each costs a signature check): one signed
//          message sent meanwhile -> report "1" (its pop-up shown); the program's memory before, during and
//          after, and its processor time. Needs the private /etc that run.sh lays over the real one.
//
// Options: --cold N (20), --warm N (200), --idle-seconds S (30), --client PATH;
//          --flood RATE, --flood-sources N (250), --flood-seconds S (20), --unsigned-flood.

#include "client_state.h"
#include "client_test_support.h"
#include "message_signature.h"
#include "popup_window.h"
#include "protocol.h"
#include "receiver.h"
#include "udp_send.h"
#include "widget_popup.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace plinket;

namespace {

void send(const QByteArray& datagram) {
    sendDatagramFromFreshSocket(datagram, QHostAddress::LocalHost, MESSAGE_PORT);
}

// The console's key in the flood measurement; without it messages go unsigned.
std::optional<SigningKey> g_consoleKey;

QByteArray signedIfKeyed(const QString& datagram) {
    return (g_consoleKey ? signMessageDatagram(datagram, *g_consoleKey, QDateTime::currentSecsSinceEpoch()) : datagram)
        .toUtf8();
}

QByteArray message(const QString& id) {
    return formatMessageDatagram(u"EN"_qs, id, u"Benchmark message\r\nsecond line"_qs, u"BENCH"_qs).toUtf8();
}

// The status of the next report, waiting up to timeoutMs while the event loop runs.
std::optional<QString> nextStatus(QUdpSocket& reports, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!reports.hasPendingDatagrams() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    if (!reports.hasPendingDatagrams())
        return std::nullopt;
    QByteArray data(reports.pendingDatagramSize(), Qt::Uninitialized);
    reports.readDatagram(data.data(), data.size());
    return splitFields(QString::fromUtf8(data))[1];
}

void drain(QUdpSocket& reports) {
    while (nextStatus(reports, 50)) {
    }
}

struct Stats {
    double min, median, p95, max;
};

Stats stats(QList<double> v) {
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v[std::min<qsizetype>(v.size() - 1, qsizetype(q * double(v.size())))]; };
    return {v.front(), at(0.5), at(0.95), v.back()};
}

void print(const char* what, const QList<double>& ms) {
    if (ms.isEmpty()) {
        std::printf("%-44s no samples\n", what);
        return;
    }
    const Stats s = stats(ms);
    std::printf("%-44s n=%-4lld min %.2f  median %.2f  p95 %.2f  max %.2f ms\n", what,
                static_cast<long long>(ms.size()), s.min, s.median, s.p95, s.max);
}

class ClientProcess {
public:
    explicit ClientProcess(const QString& path) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_qs, m_runtime.path());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(path, {});
        m_process.waitForStarted();
    }
    ~ClientProcess() {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    // Until the client has bound its port (messages sent from then on reach it).
    bool waitUntilListening() { return test::FakeConsole::waitUntilClientListens(); }
    qint64 pid() const { return m_process.processId(); }
    // User and system processor time so far, in clock ticks.
    qint64 cpuTicks() const {
        QFile stat(u"/proc/%1/stat"_qs.arg(pid()));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : 0;
    }

private:
    QTemporaryDir m_runtime;
    QProcess m_process;
};

// Sum of voluntary and involuntary context switches of every thread of `pid`.
qint64 contextSwitches(qint64 pid, int* threads = nullptr) {
    qint64 total = 0;
    const QStringList tasks = QDir(u"/proc/%1/task"_qs.arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads)
        *threads = int(tasks.size());
    for (const QString& task : tasks) {
        QFile status(u"/proc/%1/task/%2/status"_qs.arg(pid).arg(task));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return total;
}

QByteArray statusField(qint64 pid, const QByteArray& name) {
    QFile status(u"/proc/%1/status"_qs.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(QByteArray(name + ':')))
            return line.mid(name.size() + 1).simplified();
    return {};
}

void sleepWithEvents(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QThread::msleep(std::min<qint64>(100, std::max<qint64>(1, deadline.remainingTime())));
}

void measureCold(const QString& path, QUdpSocket& reports, int runs) {
    QList<double> toReport;
    for (int i = 0; i < runs; ++i) {
        ClientProcess client(path);
        if (!client.waitUntilListening()) {
            std::printf("cold: the client did not start\n");
            return;
        }
        QElapsedTimer clock;
        clock.start();
        send(message(QString::number(1000 + i)));
        if (nextStatus(reports, 5000) == u"1")
            toReport.append(double(clock.nsecsElapsed()) / 1e6);
    }
    print("cold: datagram -> report \"1\" (real program)", toReport);
}

void measureWarm(QUdpSocket& reports, int samples) {
    ClientState state;
    state.hostName = state.fqdn = u"BENCH"_qs;
    WidgetPopup popup(popupFont(), false);
    std::unique_ptr<MessageSocket> socket = MessageSocket::open();
    if (!socket) {
        std::printf("warm: port %u is taken\n", MESSAGE_PORT);
        return;
    }
    Receiver receiver(state, popup, std::move(socket));
    receiver.setEventWriter([](int, const QString&, const QString&, const QString&) {}); // no journal noise
    receiver.start();

    QList<double> toExposed, toReport;
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer clock;
        clock.start();
        send(message(QString::number(i)));
        QDeadlineTimer deadline(5000);
        std::optional<double> exposedAt, reportAt;
        while ((!exposedAt || !reportAt) && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            PopupWindow* window = popup.window();
            if (!exposedAt && window && window->windowHandle() && window->windowHandle()->isExposed())
                exposedAt = double(clock.nsecsElapsed()) / 1e6;
            if (!reportAt && reports.hasPendingDatagrams()) {
                reportAt = double(clock.nsecsElapsed()) / 1e6;
                drain(reports);
            }
        }
        if (exposedAt)
            toExposed.append(*exposedAt);
        if (reportAt)
            toReport.append(*reportAt);
        if (!popup.window())
            break;
        popup.window()->okButton()->click();
        nextStatus(reports, 5000); // "2"
    }
    print("warm: datagram -> pop-up exposed", toExposed);
    print("warm: datagram -> report \"1\"", toReport);
}

void measureIdle(const QString& path, QUdpSocket& reports, int seconds) {
    ClientProcess client(path);
    if (!client.waitUntilListening()) {
        std::printf("idle: the client did not start\n");
        return;
    }
    sleepWithEvents(2000); // let start-up settle
    int threads = 0;
    const auto period = [&](const char* what) {
        const qint64 before = contextSwitches(client.pid(), &threads);
        sleepWithEvents(seconds * 1000);
        const qint64 switches = contextSwitches(client.pid()) - before;
        std::printf("%-44s %lld context switches in %d s (%.3f per s), %d threads\n", what,
                    static_cast<long long>(switches), seconds, double(switches) / seconds, threads);
    };
    period("idle, no pop-up:");
    std::printf("%-44s VmRSS %s, VmHWM %s\n", "memory, no pop-up:", statusField(client.pid(), "VmRSS").constData(),
                statusField(client.pid(), "VmHWM").constData());
    send(message(u"idle"_qs));
    nextStatus(reports, 5000);
    sleepWithEvents(1000);
    period("idle, one pop-up open:");
    std::printf("%-44s VmRSS %s, VmHWM %s\n",
                "memory, one pop-up open:", statusField(client.pid(), "VmRSS").constData(),
                statusField(client.pid(), "VmHWM").constData());
}

// Trusts a new key and requires signatures, in the /etc that run.sh made private to this run.
bool writeFloodPolicy(const SigningKey& key) {
    if (qEnvironmentVariable("PLINKET_BENCH_PRIVATE_ETC") != u"1")
        return false;
    const QString dir = u"/etc/plinket/trusted-keys"_qs;
    QFile pub(dir + u"/bench.pub"_qs), conf(u"/etc/plinket/client.conf"_qs);
    return QDir().mkpath(dir) && pub.open(QIODevice::WriteOnly) &&
           pub.write(publicKeyLine(key.publicKey()) + '\n') > 0 && conf.open(QIODevice::WriteOnly) &&
           conf.write("require-signature = yes\n") > 0;
}

struct FloodOptions {
    QString loadgen;
    int rate = 0;
    int sources = 250;
    int seconds = 20;
    bool forged = true;
};

void measureFlood(const QString& path, QUdpSocket& reports, const FloodOptions& f) {
    g_consoleKey = SigningKey::generate();
    if (!g_consoleKey || !writeFloodPolicy(*g_consoleKey)) {
        std::printf("flood: needs root and the private /etc of run.sh\n");
        return;
    }
    ClientProcess client(path);
    if (!client.waitUntilListening()) {
        std::printf("flood: the client did not start\n");
        return;
    }
    sleepWithEvents(1000);
    const auto memory = [&](const char* when) {
        std::printf("%-44s VmRSS %s, VmHWM %s\n", when, statusField(client.pid(), "VmRSS").constData(),
                    statusField(client.pid(), "VmHWM").constData());
    };
    memory("memory before the flood:");

    QProcess flood;
    flood.setProcessChannelMode(QProcess::MergedChannels);
    QStringList args{u"--flood"_qs,      QString::number(f.rate),   u"--sources"_qs, QString::number(f.sources),
                     u"--duration-s"_qs, QString::number(f.seconds)};
    if (f.forged)
        args << u"--key-id"_qs << QString::fromLatin1(g_consoleKey->keyId());
    flood.start(f.loadgen, args);
    if (!flood.waitForStarted() || !flood.waitForReadyRead(5000)) {
        std::printf("flood: %s did not start\n", qPrintable(f.loadgen));
        return;
    }
    std::printf("flood: %s", flood.readAll().constData());
    const qint64 ticksBefore = client.cpuTicks();
    QElapsedTimer floodClock;
    floodClock.start();
    sleepWithEvents(1000); // the flood in full swing

    drain(reports);
    QElapsedTimer clock;
    clock.start();
    send(
        signedIfKeyed(formatMessageDatagram(u"EN"_qs, u"4242"_qs, u"Benchmark message under a flood"_qs, u"BENCH"_qs)));
    const std::optional<QString> shown = nextStatus(reports, 5000);
    if (shown == u"1")
        print("flood: signed message -> report \"1\"", {double(clock.nsecsElapsed()) / 1e6});
    else
        std::printf("%-44s no report \"1\" within 5 s\n", "flood: signed message:");
    memory("memory during the flood:");
    const double cpuSeconds = double(client.cpuTicks() - ticksBefore) / double(sysconf(_SC_CLK_TCK));
    std::printf("%-44s %.2f s in %.2f s\n", "flood: client processor time:", cpuSeconds,
                double(floodClock.elapsed()) / 1000.0);

    flood.waitForFinished((f.seconds + 10) * 1000);
    for (const QByteArray& line : flood.readAll().split('\n'))
        if (line.startsWith("mode=flood"))
            std::printf("flood: %s\n", line.constData());
    sleepWithEvents(2000);
    memory("memory 2 s after the flood:");
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions(
        {{u"client"_qs, u"plinket_client to measure"_qs, u"path"_qs, QStringLiteral(PLINKET_CLIENT_BINARY)},
         {u"cold"_qs, u"cold samples"_qs, u"n"_qs, u"20"_qs},
         {u"warm"_qs, u"warm samples"_qs, u"n"_qs, u"200"_qs},
         {u"idle-seconds"_qs, u"length of each idle period"_qs, u"s"_qs, u"30"_qs},
         {u"flood"_qs, u"measure under a flood of this many forged messages a second"_qs, u"rate"_qs},
         {u"flood-sources"_qs, u"flood source addresses"_qs, u"n"_qs, u"250"_qs},
         {u"flood-seconds"_qs, u"length of the flood"_qs, u"s"_qs, u"20"_qs},
         {u"unsigned-flood"_qs, u"flood with unsigned messages instead of forged signed ones"_qs},
         {u"loadgen"_qs, u"plinket_loadgen for the flood"_qs, u"path"_qs, QStringLiteral(PLINKET_LOADGEN_BINARY)}});
    parser.addHelpOption();
    parser.process(app);

    QUdpSocket reports;
    if (!reports.bind(QHostAddress::LocalHost, REPORT_PORT)) {
        std::printf("port %u is taken: run in a network namespace of its own (run.sh)\n", REPORT_PORT);
        return 1;
    }
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    const QString path = parser.value(u"client"_qs);
    if (parser.isSet(u"flood"_qs)) {
        FloodOptions f;
        f.loadgen = parser.value(u"loadgen"_qs);
        f.rate = std::clamp(parser.value(u"flood"_qs).toInt(), 1, 1'000'000);
        f.sources = std::clamp(parser.value(u"flood-sources"_qs).toInt(), 1, 60'000);
        f.seconds = std::clamp(parser.value(u"flood-seconds"_qs).toInt(), 5, 600);
        f.forged = !parser.isSet(u"unsigned-flood"_qs);
        measureFlood(path, reports, f);
        return 0;
    }
    measureCold(path, reports, parser.value(u"cold"_qs).toInt());
    measureWarm(reports, parser.value(u"warm"_qs).toInt());
    measureIdle(path, reports, parser.value(u"idle-seconds"_qs).toInt());
    return 0;
}
