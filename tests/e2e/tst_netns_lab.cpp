#include "journal_capture.h"
#include "netns.h"
#include "protocol.h"
#include "udp_send.h"

#include <QHostInfo>
#include <QProcess>
#include <QSet>
#include <QTest>
#include <QUdpSocket>

using namespace plinket;
using plinket::test::JournalCapture;
using plinket::test::JournalRecord;
using plinket::test::NetnsLab;

namespace {

// One report as the console side saw it.
struct Seen {
    QString from;
    qint32 id;
    int status;
    QString host;
    QString fqdn;
    bool operator==(const Seen&) const = default;
};

// Collects reports on `socket` until every expected one is in, or the time is up.
QList<Seen> collectReports(QUdpSocket& socket, const QList<Seen>& expected, int timeoutMs = 10000) {
    QList<Seen> seen;
    QDeadlineTimer deadline(timeoutMs);
    const auto complete = [&] {
        return std::all_of(expected.begin(), expected.end(), [&](const Seen& e) { return seen.contains(e); });
    };
    while (!complete() && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        while (socket.hasPendingDatagrams()) {
            QHostAddress source;
            QByteArray bytes(static_cast<int>(socket.pendingDatagramSize()), Qt::Uninitialized);
            socket.readDatagram(bytes.data(), bytes.size(), &source);
            const ReportDatagram r = readReportDatagram(source, bytes);
            seen.append({r.senderAddress, r.id, r.status, r.host, r.fqdn});
        }
    }
    return seen;
}

// A second address of client 0, on the lab's subnet.
const QString SECOND_ADDRESS = u"10.250.0.110"_qs;

QByteArray message(int id) {
    return formatMessageDatagram(u"EN"_qs, QString::number(id), u"lab check"_qs, u"LAB-CONSOLE"_qs).toUtf8();
}

QString describe(const QList<Seen>& seen) {
    QStringList lines;
    for (const Seen& s : seen)
        lines.append(QStringLiteral("%1 id=%2 status=%3 host=%4 fqdn=%5")
                         .arg(s.from)
                         .arg(s.id)
                         .arg(s.status)
                         .arg(s.host, s.fqdn));
    return u"reports seen:\n"_qs + lines.join(u'\n');
}

} // namespace

class TestNetnsLab final : public QObject {
    Q_OBJECT

private slots:
    // Responders in two client namespaces; the console side reaches them by address, by a name from
    // its own hosts file, by the lab's subnet broadcast and by 255.255.255.255, and every report comes
    // back carrying the host name and FQDN of the namespace that sent it.
    void reportsComeBackThroughTheLab() {
        if (NetnsLab::insideConsole())
            return consoleReachesResponders();

        QString ns0;
        {
            NetnsLab lab;
            if (!lab.create(2))
                QSKIP(qPrintable(lab.reason()));
            ns0 = lab.clientNamespace(0);
            for (int i = 0; i < lab.clientCount(); ++i) {
                QProcess* responder = lab.startInClient(
                    i, QStringLiteral(PLINKET_LOADGEN_PATH),
                    {u"--responder"_qs, u"--duration-s"_qs, u"60"_qs, u"--max-messages"_qs, u"10"_qs});
                QVERIFY(responder);
                QVERIFY2(NetnsLab::waitForOutput(responder, "listening on"), "responder did not start");
            }
            QString output;
            QVERIFY2(lab.runCurrentTestInConsole(&output), qPrintable(output));
        }
        // Torn down: the namespaces and their hosts files are gone.
        QProcess list;
        list.start(u"ip"_qs, {u"netns"_qs, u"list"_qs});
        QVERIFY(list.waitForFinished());
        QVERIFY2(!list.readAllStandardOutput().contains(ns0.toUtf8()), "lab namespaces left behind");
        QVERIFY(!QFileInfo::exists(u"/etc/netns/"_qs + ns0));
    }

    // The real client in each client namespace answers "1" with that namespace's host name, and its
    // events reach the test's journal from inside the lab. Its reports leave from the address the message
    // was sent to: client 0's second address, or for a broadcast each client's own address.
    void realClientReportsItsHostName() {
#ifndef PLINKET_CLIENT_PATH
        QSKIP("plinket_client is not part of this build");
#else
        if (NetnsLab::insideConsole())
            return consoleReachesRealClients();

        NetnsLab lab;
        if (!lab.create(2))
            QSKIP(qPrintable(lab.reason()));
        JournalCapture journal;
        const bool journaled = JournalCapture::available() && journal.start();
        QCOMPARE(lab.run(lab.clientNamespace(0), u"ip"_qs,
                         {u"addr"_qs, u"add"_qs, SECOND_ADDRESS + u"/24"_qs, u"dev"_qs, u"eth0"_qs}),
                 0);
        for (int i = 0; i < lab.clientCount(); ++i) {
            QVERIFY(lab.startInClient(i, QStringLiteral(PLINKET_CLIENT_PATH), {}, lab.clientEnvironment(i)));
            QVERIFY2(lab.waitForUdpPort(lab.clientNamespace(i), MESSAGE_PORT), "plinket_client did not bind its port");
        }
        QString output;
        QVERIFY2(lab.runCurrentTestInConsole(&output), qPrintable(output));
        if (!journaled)
            return;
        const auto shown = [](const QList<JournalRecord>& records) {
            return std::count_if(records.begin(), records.end(), [](const JournalRecord& r) {
                return r.value("SYSLOG_IDENTIFIER") == "Plinket Client" && r.value("PLINKET_EVENT_ID") == "101" &&
                       test::insertionStrings(r).mid(0, 2) == QByteArrayList{"LAB-CONSOLE", "2001"};
            });
        };
        QList<JournalRecord> records;
        QDeadlineTimer deadline(5000);
        while (shown(records) < lab.clientCount() && !deadline.hasExpired())
            records = journal.waitForRecords(int(records.size()) + 1, 200);
        QCOMPARE(shown(records), lab.clientCount());
#endif
    }

private:
    void consoleReachesResponders() {
        const NetnsLab lab = NetnsLab::attached();
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress::AnyIPv4, REPORT_PORT));

        const QHostInfo byName = QHostInfo::fromName(lab.clientHostName(1));
        QVERIFY2(!byName.addresses().isEmpty(), "the console's hosts file does not resolve the client");
        QCOMPARE(byName.addresses().first().toString(), NetnsLab::clientAddress(1));

        QList<Seen> expected;
        const auto expect = [&](int client, qint32 id) {
            for (int status : {1, 2})
                expected.append({NetnsLab::clientAddress(client), id, status, lab.clientHostName(client).toUpper(),
                                 lab.clientFqdn(client).toUpper()});
        };
        for (int i = 0; i < lab.clientCount(); ++i) {
            QVERIFY(sendDatagramFromFreshSocket(message(1001), QHostAddress(NetnsLab::clientAddress(i)), MESSAGE_PORT));
            expect(i, 1001);
        }
        QVERIFY(sendDatagramFromFreshSocket(message(1002), byName.addresses().first(), MESSAGE_PORT));
        expect(1, 1002);
        QVERIFY(sendDatagramFromFreshSocket(message(1003), QHostAddress(NetnsLab::broadcastAddress()), MESSAGE_PORT));
        for (int i = 0; i < lab.clientCount(); ++i)
            expect(i, 1003);
        QVERIFY(sendDatagramFromFreshSocket(message(1004), QHostAddress::Broadcast, MESSAGE_PORT));
        for (int i = 0; i < lab.clientCount(); ++i)
            expect(i, 1004);

        const QList<Seen> seen = collectReports(socket, expected);
        for (const Seen& e : std::as_const(expected))
            QVERIFY2(seen.contains(e), qPrintable(describe(seen)));
        // Nothing else: the by-name message reached client 1 only, and no report came twice.
        QCOMPARE(seen.size(), expected.size());
    }

    void consoleReachesRealClients() {
        const NetnsLab lab = NetnsLab::attached();
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress::AnyIPv4, REPORT_PORT));
        // The pop-up stays open (nobody presses OK), so "1" is all that comes, from the address each message
        // was sent to: client 0's second address first, then a broadcast for the others (queued at client 0).
        QVERIFY(sendDatagramFromFreshSocket(message(2001), QHostAddress(SECOND_ADDRESS), MESSAGE_PORT));
        const Seen viaSecond{SECOND_ADDRESS, 2001, 1, lab.clientHostName(0).toUpper(), lab.clientFqdn(0).toUpper()};
        QVERIFY2(collectReports(socket, {viaSecond}).contains(viaSecond), "no report from the second address");
        QVERIFY(sendDatagramFromFreshSocket(message(2001), QHostAddress(NetnsLab::broadcastAddress()), MESSAGE_PORT));
        QList<Seen> expected;
        for (int i = 1; i < lab.clientCount(); ++i)
            expected.append(
                {NetnsLab::clientAddress(i), 2001, 1, lab.clientHostName(i).toUpper(), lab.clientFqdn(i).toUpper()});
        const QList<Seen> seen = collectReports(socket, expected);
        for (const Seen& e : std::as_const(expected))
            QVERIFY2(seen.contains(e), qPrintable(describe(seen)));
    }
};

QTEST_GUILESS_MAIN(TestNetnsLab)
#include "tst_netns_lab.moc"
