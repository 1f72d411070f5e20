// plinket_loadgen: plays many clients on loopback against a console, fires report bursts at a
// listener, and stands in for the console's listener so the two listening strategies can be compared.
// Every mode is bounded in time and in count and prints a summary of what it received and sent.

#include "loadgen_plan.h"
#include "loadgen_socket.h"
#include "message_signature.h"
#include "protocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QHostAddress>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <poll.h>
#include <queue>
#include <unistd.h>

using namespace plinket;
using namespace plinket::loadgen;

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onStopSignal(int) {
    g_stop = 1;
}

void installStopHandlers() {
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0; // no SA_RESTART: a stop signal interrupts poll() at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

class Clock {
public:
    qint64 ms() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start)
            .count();
    }
    double preciseMs() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - m_start).count();
    }

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

void out(const QString& line) {
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

int fail(const QString& line) {
    std::fputs(qPrintable(u"plinket_loadgen: "_qs + line + u'\n'), stderr);
    return 2;
}

// Called right after a failed bind, while errno still says why.
int failToBind(quint32 address, quint16 port) {
    return fail(QStringLiteral("cannot bind %1:%2: %3")
                    .arg(dottedV4(address))
                    .arg(port)
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
}

bool parseAddress(const QString& text, quint32& address) {
    bool ok = false;
    address = QHostAddress(text).toIPv4Address(&ok);
    return ok;
}

// Lab namespaces of the end-to-end tests use 10.250.0.0/16; nothing else outside loopback is answered.
bool isLabAddress(quint32 address) {
    return (address >> 16) == ((10u << 8) | 250u);
}

struct Options {
    quint16 messagePort = MESSAGE_PORT;
    quint16 reportPort = REPORT_PORT;
    quint32 bindAddress = 0;
    int durationMs = 10'000;
    qint64 maxMessages = 1'000'000;
    int clients = 0;
    bool responder = false;
    QString host;
    QString fqdn;
    ReplyOptions reply;
};

// ---- clients and responder ---------------------------------------------------------------------

struct Pending {
    qint64 atMs;
    quint64 sequence; // keeps replies planned for the same moment in planning order
    int client;
    int status;
    quint32 to;
    QString id;
    bool operator>(const Pending& other) const {
        return atMs != other.atMs ? atMs > other.atMs : sequence > other.sequence;
    }
};

QString ownHostName() {
    char name[1024] = {};
    ::gethostname(name, sizeof(name) - 1);
    return QString::fromLocal8Bit(name).toUpper();
}

QString ownFqdn(const QString& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    QString fqdn = host;
    if (::getaddrinfo(host.toLower().toLocal8Bit().constData(), nullptr, &hints, &result) == 0 && result) {
        if (result->ai_canonname)
            fqdn = QString::fromLocal8Bit(result->ai_canonname).toUpper();
        ::freeaddrinfo(result);
    }
    return fqdn;
}

int runClients(const Options& o) {
    const int fd = openBoundSocket(o.bindAddress, o.messagePort, true);
    if (fd < 0)
        return failToBind(o.bindAddress, o.messagePort);
    // A console sending to thousands of clients at once must not find this socket full.
    const int rcvbuf = setReceiveBuffer(fd, 4 * 1024 * 1024);

    const int clients = o.responder ? 1 : o.clients;
    const QString responderHost = o.host.isEmpty() ? ownHostName() : o.host;
    const QString responderFqdn = o.fqdn.isEmpty() ? ownFqdn(responderHost) : o.fqdn;
    ReplyPlanner planner(o.reply, clients);
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue;
    quint64 sequence = 0;

    qint64 datagrams = 0, oversized = 0, notOurs = 0, foreignSource = 0, broadcasts = 0;
    qint64 accepted = 0, overLimit = 0, sent1 = 0, sent2 = 0, sendFailures = 0;
    qint64 firstMessageMs = -1, lastReportMs = -1;

    if (o.responder)
        out(QStringLiteral("listening on %1:%2 as %3 (%4)")
                .arg(dottedV4(o.bindAddress))
                .arg(o.messagePort)
                .arg(responderHost, responderFqdn));
    else
        out(QStringLiteral("listening on %1:%2 as %3 clients, %4 .. %5")
                .arg(dottedV4(o.bindAddress))
                .arg(o.messagePort)
                .arg(clients)
                .arg(dottedV4(clientAddress(0)), dottedV4(clientAddress(clients - 1))));

    Clock clock;
    const auto handle = [&](const Received& r) {
        ++datagrams;
        if (r.size > RECEIVE_BUFFER_SIZE) {
            ++oversized; // a client drops it whole
            return;
        }
        if (!isLoopback(r.source) && !(o.responder && isLabAddress(r.source))) {
            ++foreignSource;
            return;
        }
        int first = 0, last = 0;
        if (o.responder) {
            last = 1;
        } else if (r.destination == LOOPBACK_BROADCAST) {
            ++broadcasts;
            last = clients;
        } else {
            first = clientIndex(r.destination);
            if (first < 0 || first >= clients) {
                ++notOurs;
                return;
            }
            last = first + 1;
        }
        const qint64 now = clock.ms();
        if (firstMessageMs < 0)
            firstMessageMs = now;
        const MessageDatagram message = readMessageDatagram(r.payload);
        for (int i = first; i < last; ++i) {
            if (accepted >= o.maxMessages) {
                overLimit += last - i;
                break;
            }
            ++accepted;
            for (const PlannedReply& reply : planner.plan(i, message.id, now))
                queue.push({reply.atMs, sequence++, i, reply.status, r.source, message.id});
        }
    };
    const auto sendDue = [&] {
        const qint64 now = clock.ms();
        while (!queue.empty() && queue.top().atMs <= now && !g_stop) {
            const Pending p = queue.top();
            queue.pop();
            const quint32 from = o.responder ? 0 : clientAddress(p.client);
            const QString host = o.responder ? responderHost : clientHostName(from);
            const QString fqdn = o.responder ? responderFqdn : clientFqdn(from);
            const QByteArray payload = formatReportDatagram(p.id, p.status, host, fqdn).toUtf8();
            if (!sendFromFreshSocket(from, p.to, o.reportPort, payload))
                ++sendFailures;
            else
                ++(p.status == 1 ? sent1 : sent2);
            lastReportMs = clock.ms();
        }
    };

    Received r;
    while (!g_stop) {
        const qint64 now = clock.ms();
        if (now >= o.durationMs)
            break;
        if (accepted >= o.maxMessages && queue.empty())
            break;
        qint64 wait = o.durationMs - now;
        if (!queue.empty())
            wait = std::min(wait, queue.top().atMs - now);
        if (wait > 0)
            waitReadable(fd, static_cast<int>(wait));
        while (!g_stop && receiveOne(fd, r))
            handle(r);
        sendDue();
    }
    ::close(fd);

    out(QStringLiteral("mode=%1").arg(o.responder ? u"responder"_qs : u"clients"_qs));
    out(QStringLiteral("clients=%1 rcvbuf=%2 run_ms=%3").arg(clients).arg(rcvbuf).arg(clock.ms()));
    out(QStringLiteral("datagrams_received=%1 oversized=%2 not_for_our_clients=%3 foreign_source=%4 broadcasts=%5")
            .arg(datagrams)
            .arg(oversized)
            .arg(notOurs)
            .arg(foreignSource)
            .arg(broadcasts));
    out(QStringLiteral("messages_accepted=%1 over_limit=%2 repeats_answered_2=%3")
            .arg(accepted)
            .arg(overLimit)
            .arg(planner.repeats()));
    out(QStringLiteral("reports_sent_1=%1 reports_sent_2=%2 send_failures=%3 lost_1=%4 lost_2=%5 unsent_at_exit=%6")
            .arg(sent1)
            .arg(sent2)
            .arg(sendFailures)
            .arg(planner.lost1())
            .arg(planner.lost2())
            .arg(queue.size()));
    if (firstMessageMs >= 0 && lastReportMs >= 0)
        out(QStringLiteral("first_message_to_last_report_ms=%1").arg(lastReportMs - firstMessageMs));
    return 0;
}

// ---- burst ----------------------------------------------------------------------------------------

int runBurst(const Options& o, int count, quint32 to, const QString& id, const QString& statuses) {
    if (!isLoopback(to))
        return fail(u"--to must be a loopback address (127.0.0.0/8)"_qs);
    Clock clock;
    qint64 sent = 0, failures = 0;
    bool cut = false;
    for (const QChar s : statuses) {
        const int status = s.digitValue();
        for (int i = 0; i < count && !g_stop; ++i) {
            if (clock.ms() >= o.durationMs) {
                cut = true;
                break;
            }
            const quint32 from = clientAddress(i);
            const QByteArray payload =
                formatReportDatagram(id, status, clientHostName(from), clientFqdn(from)).toUtf8();
            ++(sendFromFreshSocket(from, to, o.reportPort, payload) ? sent : failures);
        }
    }
    out(QStringLiteral("mode=burst to=%1:%2 clients=%3 statuses=%4 sent=%5 send_failures=%6 cut_by_duration=%7 "
                       "send_ms=%8")
            .arg(dottedV4(to))
            .arg(o.reportPort)
            .arg(count)
            .arg(statuses)
            .arg(sent)
            .arg(failures)
            .arg(cut ? 1 : 0)
            .arg(clock.preciseMs(), 0, 'f', 1));
    return failures || cut ? 1 : 0;
}

// ---- flood ---------------------------------------------------------------------------------------

// Flood source i plays 127.2.0.1 upward (the clients' addresses one /16 further on).
quint32 floodSource(int i) {
    return clientAddress(i) + 0x10000;
}

// Datagrams laid out as messages signed with the key whose id is `keyId`, with a signature that no holder
// of that key made: a client that trusts the key id pays a full signature check for each, a client that
// does not drops them for next to nothing. Without a key id, the same messages unsigned. Distinct ids,
// signed with the time of the run's start (fresh for max-message-age).
QList<QByteArray> floodDatagrams(const QByteArray& keyId, int variants) {
    const std::optional<SigningKey> stranger = SigningKey::generate();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<QByteArray> datagrams;
    for (int i = 0; i < variants; ++i) {
        QByteArray d =
            formatMessageDatagram(u"EN"_qs, QString::number(900000000 + i), u"Not from any console"_qs, u"FLOOD"_qs)
                .toUtf8();
        if (!keyId.isEmpty() && stranger) {
            QByteArray field = signatureField(*stranger, d, now);
            field.replace(1 + SIGNATURE_TAG.size(), KEY_ID_LENGTH, keyId);
            d += field;
        }
        datagrams.append(d);
    }
    return datagrams;
}

int runFlood(const Options& o, qint64 rate, int sources, quint32 to, const QByteArray& keyId) {
    if (!isLoopback(to))
        return fail(u"--to must be a loopback address (127.0.0.0/8)"_qs);
    std::vector<int> sockets;
    for (int i = 0; i < sources; ++i) {
        const int fd = openBoundSocket(floodSource(i), 0, false);
        if (fd < 0) {
            const int result = failToBind(floodSource(i), 0);
            for (const int s : sockets)
                ::close(s);
            return result;
        }
        sockets.push_back(fd);
    }
    const QList<QByteArray> datagrams = floodDatagrams(keyId, 256);
    const qint64 total = std::min<qint64>(o.maxMessages, rate * o.durationMs / 1000);
    out(QStringLiteral("flooding %1:%2 with %3 datagrams a second (%4) from %5 .. %6")
            .arg(dottedV4(to))
            .arg(o.messagePort)
            .arg(rate)
            .arg(keyId.isEmpty() ? u"unsigned"_qs : QString(u"signed as key "_qs + QString::fromLatin1(keyId)))
            .arg(dottedV4(floodSource(0)), dottedV4(floodSource(sources - 1))));

    Clock clock;
    qint64 sent = 0, failures = 0;
    while (!g_stop && sent + failures < total && clock.ms() < o.durationMs) {
        // Paced by the millisecond: whatever is due now goes out at once, then a short sleep.
        const qint64 due = std::min<qint64>(total, qint64(clock.preciseMs() * double(rate) / 1000.0));
        if (sent + failures >= due) {
            ::poll(nullptr, 0, 1);
            continue;
        }
        // In runs of up to 16 from one source address, with one system call a run.
        for (qint64 n = sent + failures; n < due;) {
            const qint64 run = std::min<qint64>(16, due - n);
            QList<QByteArray> batch;
            for (qint64 k = 0; k < run; ++k)
                batch.append(datagrams[(n + k) % datagrams.size()]);
            const int out = sendAllOn(sockets[size_t((n / 16) % sources)], to, o.messagePort, batch);
            sent += out;
            failures += run - out;
            n += run;
        }
    }
    for (const int s : sockets)
        ::close(s);
    const double seconds = clock.preciseMs() / 1000.0;
    out(QStringLiteral("mode=flood rate=%1 sources=%2 sent=%3 send_failures=%4 run_ms=%5 achieved_per_s=%6")
            .arg(rate)
            .arg(sources)
            .arg(sent)
            .arg(failures)
            .arg(clock.ms())
            .arg(qint64(double(sent) / std::max(seconds, 0.001))));
    return failures ? 1 : 0;
}

// ---- listeners -----------------------------------------------------------------------------------

struct ListenOptions {
    bool slow = false;
    qint64 expect = 0;
    bool filterId = false;
    qint32 id = 0;
    int idleExitMs = 2000;
    int receiveBuffer = 4 * 1024 * 1024; // 0: keep the system's default
};

int runListener(const Options& o, const ListenOptions& l) {
    const int fd = openBoundSocket(o.bindAddress, o.reportPort, false);
    if (fd < 0)
        return failToBind(o.bindAddress, o.reportPort);
    // The slow listener keeps the system's default buffer, as the original console did.
    const int rcvbuf = l.slow || l.receiveBuffer == 0 ? receiveBufferSize(fd) : setReceiveBuffer(fd, l.receiveBuffer);
    out(QStringLiteral("listening on %1:%2 (%3, rcvbuf=%4)")
            .arg(dottedV4(o.bindAddress))
            .arg(o.reportPort)
            .arg(l.slow ? u"one datagram per 100 ms"_qs : u"draining at each wake"_qs)
            .arg(rcvbuf));

    Clock clock;
    qint64 datagrams = 0, reports = 0, status1 = 0, status2 = 0;
    double firstMs = -1, lastMs = -1;
    Received r;
    const auto take = [&] {
        ++datagrams;
        const ReportDatagram report = readReportDatagram(QHostAddress(r.source), r.payload);
        if ((l.filterId && report.id != l.id) || (report.status != 1 && report.status != 2))
            return;
        ++reports;
        ++(report.status == 1 ? status1 : status2);
        lastMs = clock.preciseMs();
        if (firstMs < 0)
            firstMs = lastMs;
    };
    double lastActivityMs = 0;
    while (!g_stop && clock.ms() < o.durationMs) {
        if (l.expect > 0 && reports >= l.expect)
            break;
        if (reports > 0 && clock.preciseMs() - lastActivityMs >= l.idleExitMs)
            break;
        if (l.slow) {
            ::poll(nullptr, 0, 100);
            if (receiveOne(fd, r)) {
                take();
                lastActivityMs = clock.preciseMs();
            }
        } else {
            waitReadable(fd, 100);
            bool any = false;
            while (receiveOne(fd, r)) {
                take();
                any = true;
            }
            if (any)
                lastActivityMs = clock.preciseMs();
        }
    }
    // What is still queued at the end was neither taken nor lost yet; report it apart.
    qint64 leftQueued = 0;
    while (receiveOne(fd, r))
        ++leftQueued;
    ::close(fd);

    out(QStringLiteral("mode=listen-%1 rcvbuf=%2 datagrams=%3 reports=%4 status1=%5 status2=%6 left_queued=%7")
            .arg(l.slow ? u"slow"_qs : u"drain"_qs)
            .arg(rcvbuf)
            .arg(datagrams)
            .arg(reports)
            .arg(status1)
            .arg(status2)
            .arg(leftQueued));
    if (l.expect > 0)
        out(QStringLiteral("expected=%1 lost=%2")
                .arg(l.expect)
                .arg(std::max<qint64>(0, l.expect - reports - leftQueued)));
    if (firstMs >= 0)
        out(QStringLiteral("first_report_ms=%1 last_report_ms=%2 first_to_last_ms=%3")
                .arg(firstMs, 0, 'f', 1)
                .arg(lastMs, 0, 'f', 1)
                .arg(lastMs - firstMs, 0, 'f', 1));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"plinket_loadgen"_qs);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Plays Plinket clients on loopback, sends report bursts and measures listeners.\n"
                                     "Modes: --clients N | --responder | --burst N | --flood RATE | "
                                     "--listen slow|drain | --write-clients FILE --clients N"_qs);
    parser.addHelpOption();
    const auto opt = [&](const char* name, const char* help, const char* value = nullptr) {
        QCommandLineOption o(QString::fromLatin1(name), QString::fromLatin1(help));
        if (value)
            o.setValueName(QString::fromLatin1(value));
        parser.addOption(o);
        return o;
    };
    const auto clientsOpt =
        opt("clients", "Play N clients at 127.1.0.1 upward (or list them with --write-clients).", "N");
    const auto responderOpt = opt("responder", "Answer every message as this one host (HOST from the host name).");
    const auto hostOpt = opt("host", "HOST the responder sends (default: the host name, upper-cased).", "NAME");
    const auto fqdnOpt = opt("fqdn", "FQDN the responder sends (default: the host name's canonical name).", "NAME");
    const auto writeOpt = opt("write-clients", "Write the clients.ini that lists --clients N and exit.", "FILE");
    const auto groupsOpt = opt("groups", "Top-level groups in the written clients.ini (default 1).", "G");
    const auto depthOpt = opt("depth", "Nesting depth of each written group (default 1).", "D");
    const auto burstOpt = opt("burst", "Send N reports from N addresses as fast as possible.", "N");
    const auto toOpt = opt("to", "Burst destination, a loopback address (default 127.0.0.1).", "ADDRESS");
    const auto idOpt = opt("id", "Burst: message id to report. Listener: count only this id.", "ID");
    const auto statusesOpt =
        opt("statuses", "Burst: statuses to send, in order (default 12: all 1s, then all 2s).", "S");
    const auto floodOpt =
        opt("flood", "Send RATE forged messages a second to --to from --sources addresses (127.2.0.1 up).", "RATE");
    const auto sourcesOpt = opt("sources", "Flood: source addresses (default 250).", "N");
    const auto keyIdOpt =
        opt("key-id", "Flood: sign as this key id (16 hex digits) with a false signature; default unsigned.", "HEX");
    const auto listenOpt = opt("listen", "Stand in for the console's listener: slow or drain.", "KIND");
    const auto expectOpt = opt("expect", "Listener: reports sent, to count the lost ones.", "N");
    const auto idleOpt = opt("idle-exit-ms", "Listener: stop this long after the last report (default 2000).", "MS");
    const auto rcvbufOpt =
        opt("rcvbuf", "Draining listener's receive buffer in bytes (default 4 MiB; 0: the system's default).", "BYTES");
    const auto durationOpt = opt("duration-s", "Stop after this many seconds (default 10, at most 3600).", "S");
    const auto maxOpt =
        opt("max-messages", "Clients: answer at most this many messages in all (default 1000000).", "N");
    const auto delay1Opt = opt("delay1-ms", "Message to report 1 (default 0).", "MS");
    const auto delay2Opt = opt("delay2-ms", "Report 1 to report 2 (default 0).", "MS");
    const auto jitterOpt = opt("jitter-ms", "Uniform extra 0..MS added to each delay (default 0).", "MS");
    const auto loss1Opt = opt("loss1", "Probability that a report 1 is not sent (default 0).", "P");
    const auto loss2Opt = opt("loss2", "Probability that a report 2 is not sent (default 0).", "P");
    const auto seedOpt = opt("seed", "Random seed for jitter and loss (default 1).", "N");
    const auto bindOpt = opt("bind", "Address the receiving socket binds (default 0.0.0.0).", "ADDRESS");
    const auto messagePortOpt = opt("message-port", "Port the clients receive on (default 47127).", "PORT");
    const auto reportPortOpt = opt("report-port", "Port reports are sent to (default 47128).", "PORT");
    parser.process(app);

    QStringList errors;
    const auto number = [&](const QCommandLineOption& o, qint64 fallback, qint64 low, qint64 high) -> qint64 {
        if (!parser.isSet(o))
            return fallback;
        bool ok = false;
        const qint64 v = parser.value(o).toLongLong(&ok);
        if (!ok || v < low || v > high)
            errors.append(
                QStringLiteral("--%1 wants a whole number from %2 to %3").arg(o.names().first()).arg(low).arg(high));
        return std::clamp(v, low, high);
    };
    const auto probability = [&](const QCommandLineOption& o) -> double {
        bool ok = true;
        const double v = parser.isSet(o) ? parser.value(o).toDouble(&ok) : 0.0;
        if (!ok || v < 0.0 || v > 1.0)
            errors.append(QStringLiteral("--%1 wants a probability from 0 to 1").arg(o.names().first()));
        return std::clamp(v, 0.0, 1.0);
    };

    Options o;
    o.durationMs = static_cast<int>(number(durationOpt, 10, 1, 3600) * 1000);
    o.maxMessages = number(maxOpt, 1'000'000, 1, 100'000'000);
    o.messagePort = static_cast<quint16>(number(messagePortOpt, MESSAGE_PORT, 1, 65535));
    o.reportPort = static_cast<quint16>(number(reportPortOpt, REPORT_PORT, 1, 65535));
    o.clients = static_cast<int>(number(clientsOpt, 0, 1, MAX_CLIENTS));
    o.responder = parser.isSet(responderOpt);
    o.host = parser.value(hostOpt).toUpper();
    o.fqdn = parser.value(fqdnOpt).toUpper();
    o.reply.delay1Ms = static_cast<int>(number(delay1Opt, 0, 0, 3'600'000));
    o.reply.delay2Ms = static_cast<int>(number(delay2Opt, 0, 0, 3'600'000));
    o.reply.jitterMs = static_cast<int>(number(jitterOpt, 0, 0, 3'600'000));
    o.reply.loss1 = probability(loss1Opt);
    o.reply.loss2 = probability(loss2Opt);
    o.reply.seed = static_cast<quint64>(number(seedOpt, 1, 0, std::numeric_limits<qint64>::max()));
    if (parser.isSet(bindOpt) && !parseAddress(parser.value(bindOpt), o.bindAddress))
        errors.append(u"--bind wants an IPv4 address"_qs);

    const int modes = int(parser.isSet(writeOpt)) + int(parser.isSet(burstOpt)) + int(parser.isSet(listenOpt)) +
                      int(parser.isSet(floodOpt)) + int(o.responder) +
                      int(parser.isSet(clientsOpt) && !parser.isSet(writeOpt));
    if (modes != 1)
        errors.append(u"choose exactly one mode: --clients N, --responder, --burst N, --flood RATE, --listen KIND or "
                      "--write-clients"_qs);
    if (!errors.isEmpty()) {
        for (const QString& e : errors)
            fail(e);
        return 2;
    }
    installStopHandlers();

    if (parser.isSet(writeOpt)) {
        if (o.clients <= 0)
            return fail(u"--write-clients needs --clients N"_qs);
        const ClientsFileLayout layout{o.clients, static_cast<int>(number(groupsOpt, 1, 1, 10'000)),
                                       static_cast<int>(number(depthOpt, 1, 1, 100))};
        QFile file(parser.value(writeOpt));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(clientsFileBytes(layout)) < 0)
            return fail(u"cannot write "_qs + file.fileName());
        out(QStringLiteral("wrote %1: %2 clients in %3 groups, depth %4")
                .arg(file.fileName())
                .arg(layout.clients)
                .arg(layout.groups)
                .arg(layout.depth));
        return 0;
    }
    if (parser.isSet(burstOpt)) {
        quint32 to = 0x7F000001;
        if (parser.isSet(toOpt) && !parseAddress(parser.value(toOpt), to))
            return fail(u"--to wants an IPv4 address"_qs);
        const QString statuses = parser.isSet(statusesOpt) ? parser.value(statusesOpt) : u"12"_qs;
        for (const QChar s : statuses)
            if (s != u'1' && s != u'2')
                return fail(u"--statuses holds only the digits 1 and 2"_qs);
        return runBurst(o, static_cast<int>(number(burstOpt, 1, 1, MAX_CLIENTS)), to,
                        parser.isSet(idOpt) ? parser.value(idOpt) : u"1"_qs, statuses);
    }
    if (parser.isSet(floodOpt)) {
        quint32 to = 0x7F000001;
        if (parser.isSet(toOpt) && !parseAddress(parser.value(toOpt), to))
            return fail(u"--to wants an IPv4 address"_qs);
        const QByteArray keyId = parser.value(keyIdOpt).toLatin1();
        if (!keyId.isEmpty() && (keyId.size() != KEY_ID_LENGTH || QByteArray::fromHex(keyId).toHex() != keyId))
            return fail(u"--key-id wants 16 lower-case hexadecimal digits"_qs);
        const qint64 rate = number(floodOpt, 1, 1, 1'000'000);
        const int sources = static_cast<int>(number(sourcesOpt, 250, 1, 60'000));
        if (!errors.isEmpty())
            return fail(errors.join(u"; "_qs));
        return runFlood(o, rate, sources, to, keyId);
    }
    if (parser.isSet(listenOpt)) {
        ListenOptions l;
        const QString kind = parser.value(listenOpt);
        if (kind != u"slow"_qs && kind != u"drain"_qs)
            return fail(u"--listen wants slow or drain"_qs);
        l.slow = kind == u"slow"_qs;
        l.expect = number(expectOpt, 0, 0, 100'000'000);
        l.filterId = parser.isSet(idOpt);
        l.id = static_cast<qint32>(parseInteger(parser.value(idOpt)));
        l.idleExitMs = static_cast<int>(number(idleOpt, 2000, 1, 3'600'000));
        l.receiveBuffer = static_cast<int>(number(rcvbufOpt, 4 * 1024 * 1024, 0, 1 << 30));
        if (!errors.isEmpty())
            return fail(errors.join(u"; "_qs));
        return runListener(o, l);
    }
    return runClients(o);
}
