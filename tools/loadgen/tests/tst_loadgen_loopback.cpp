// Runs plinket_loadgen on loopback, on ports picked for this run, and checks what a console sees.

#include "loadgen_plan.h"
#include "protocol.h"

#include <QProcess>
#include <QSet>
#include <QTest>
#include <QUdpSocket>

using namespace plinket;
using namespace plinket::loadgen;

namespace {

quint16 freePort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

struct Report {
    QString from;
    qint32 id;
    int status;
    QString host;
    QString fqdn;
};

QList<Report> collect(QUdpSocket& socket, int count, int timeoutMs = 10000) {
    QList<Report> reports;
    QDeadlineTimer deadline(timeoutMs);
    while (reports.size() < count && !deadline.hasExpired()) {
        socket.waitForReadyRead(50);
        while (socket.hasPendingDatagrams()) {
            QHostAddress source;
            QByteArray bytes(static_cast<int>(socket.pendingDatagramSize()), Qt::Uninitialized);
            socket.readDatagram(bytes.data(), bytes.size(), &source);
            const ReportDatagram r = readReportDatagram(source, bytes);
            reports.append({r.senderAddress, r.id, r.status, r.host, r.fqdn});
        }
    }
    return reports;
}

} // namespace

class TestLoadgenLoopback final : public QObject {
    Q_OBJECT

private slots:
    // Each simulated client answers from its own address with its own names; a loopback broadcast is
    // answered by all of them; messages for other addresses or over 2048 bytes get nothing; the run
    // ends by itself once its message count is used up, and its summary counts all of it.
    void clientsAnswerAsThemselves() {
        QUdpSocket console;
        QVERIFY(console.bind(QHostAddress::LocalHost, 0));
        const quint16 messagePort = freePort();
        QProcess loadgen;
        loadgen.start(QStringLiteral(PLINKET_LOADGEN_PATH),
                      {u"--clients"_qs, u"3"_qs, u"--message-port"_qs, QString::number(messagePort),
                       u"--report-port"_qs, QString::number(console.localPort()), u"--max-messages"_qs, u"4"_qs,
                       u"--delay2-ms"_qs, u"20"_qs, u"--duration-s"_qs, u"30"_qs});
        QVERIFY(loadgen.waitForReadyRead(10000));
        QVERIFY(loadgen.readLine().startsWith("listening on"));

        QUdpSocket sender;
        const auto send = [&](const QByteArray& bytes, const char* to) {
            QCOMPARE(sender.writeDatagram(bytes, QHostAddress(QString::fromLatin1(to)), messagePort), bytes.size());
        };
        const auto message = [](int id) {
            return formatMessageDatagram(u"EN"_qs, QString::number(id), u"x"_qs, u"ADMIN"_qs).toUtf8();
        };
        send(message(5) + QByteArray(2049, 'x'), "127.1.0.1");
        send(message(6), "127.1.0.9");
        send(message(7), "127.1.0.2");
        send(message(8), "127.255.255.255");

        const QList<Report> reports = collect(console, 8);
        QCOMPARE(reports.size(), 8);
        QSet<QString> seen;
        for (const Report& r : reports) {
            const quint32 address = QHostAddress(r.from).toIPv4Address();
            QVERIFY2(clientIndex(address) >= 0 && clientIndex(address) < 3, qPrintable(r.from));
            QCOMPARE(r.host, clientHostName(address));
            QCOMPARE(r.fqdn, clientFqdn(address));
            QVERIFY(r.id == 8 || (r.id == 7 && r.from == u"127.1.0.2"_qs));
            seen.insert(QStringLiteral("%1 %2 %3").arg(r.from).arg(r.id).arg(r.status));
        }
        QCOMPARE(seen.size(), 8);

        QVERIFY(loadgen.waitForFinished(10000));
        QCOMPARE(loadgen.exitCode(), 0);
        const QByteArray summary = loadgen.readAll();
        for (const char* line : {"oversized=1", "not_for_our_clients=1", "broadcasts=1", "messages_accepted=4",
                                 "reports_sent_1=4 reports_sent_2=4 send_failures=0", "unsent_at_exit=0"})
            QVERIFY2(summary.contains(line), summary.constData());
    }

    // A burst comes from as many distinct addresses as it has clients, every status from each.
    void burstFromDistinctAddresses() {
        QUdpSocket listener;
        QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
        listener.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 1 << 20);
        QProcess loadgen;
        loadgen.start(QStringLiteral(PLINKET_LOADGEN_PATH),
                      {u"--burst"_qs, u"50"_qs, u"--id"_qs, u"-12"_qs, u"--report-port"_qs,
                       QString::number(listener.localPort())});
        QVERIFY(loadgen.waitForFinished(10000));
        QCOMPARE(loadgen.exitCode(), 0);
        const QList<Report> reports = collect(listener, 100);
        QCOMPARE(reports.size(), 100);
        QSet<QString> seen;
        for (const Report& r : reports) {
            QCOMPARE(r.id, -12);
            QCOMPARE(r.host, clientHostName(QHostAddress(r.from).toIPv4Address()));
            seen.insert(r.from + QString::number(r.status));
        }
        QCOMPARE(seen.size(), 100);
        // All the 1s leave before the first 2.
        QCOMPARE(reports[49].status, 1);
        QCOMPARE(reports[50].status, 2);
    }

    // The tool only ever sends to loopback.
    void burstRefusesOtherDestinations() {
        QProcess loadgen;
        loadgen.start(QStringLiteral(PLINKET_LOADGEN_PATH), {u"--burst"_qs, u"1"_qs, u"--to"_qs, u"10.1.2.3"_qs});
        QVERIFY(loadgen.waitForFinished(10000));
        QCOMPARE(loadgen.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestLoadgenLoopback)
#include "tst_loadgen_loopback.moc"
