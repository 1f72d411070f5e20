#include "messaging_fixture.h"
#include "report_matcher.h"

#include <QRandomGenerator>
#include <QTest>

using namespace plinket;
using namespace plinket::test;

namespace {

constexpr qint32 ID = 420195130;

ReportDatagram report(const QString& from, int status, const QString& host, const QString& fqdn, qint32 id = ID) {
    const QByteArray bytes = formatReportDatagram(QString::number(id), status, host, fqdn).toUtf8();
    return readReportDatagram(QHostAddress(from), bytes);
}

// Runs both matchers and insists they agree before answering.
int matchBoth(const RecipientList& list, const ReportDatagram& r) {
    const int indexed = ReportMatcher(list).match(list, r);
    const int walked = matchByWalk(list, r);
    if (indexed != walked)
        qWarning("indexed %d, walk %d", indexed, walked);
    return indexed == walked ? indexed : -2;
}

} // namespace

class TestReportMatcher final : public QObject {
    Q_OBJECT

private slots:
    // Which record a single report picks, from a small directory where every record carries the id:
    // stamped by a broadcast (matched by name), or sent to each record's address (pc-07 resolved to
    // 10.0.0.7, PC-08.corp.lan to 10.0.0.8, localhost to 127.0.0.1; the record without a value to none).
    void picksRecord_data() {
        QTest::addColumn<bool>("byAddress");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("fqdn");
        QTest::addColumn<qint32>("id");
        QTest::addColumn<QString>("expected"); // record name, empty for no match
        QTest::newRow("by address") << false << u"10.0.0.1"_qs << u"X"_qs << u"X.LAN"_qs << ID << u"ByAddress"_qs;
        QTest::newRow("by HOST") << false << u"10.9.9.9"_qs << u"PC-07"_qs << u"X.LAN"_qs << ID << u"ByHost"_qs;
        QTest::newRow("by FQDN") << false << u"10.9.9.9"_qs << u"X"_qs << u"PC-08.CORP.LAN"_qs << ID << u"ByFqdn"_qs;
        QTest::newRow("wrong id") << false << u"10.0.0.1"_qs << u"X"_qs << u"X"_qs << ID + 1 << QString();
        QTest::newRow("case-sensitive") << false << u"10.9.9.9"_qs << u"pc-07"_qs << u"X"_qs << ID << QString();
        QTest::newRow("first in list order wins")
            << false << u"10.0.0.1"_qs << u"PC-07"_qs << u"X"_qs << ID << u"ByAddress"_qs;
        QTest::newRow("loopback reads as LOCALHOST")
            << false << u"127.0.0.1"_qs << u"WHATEVER"_qs << u"X"_qs << ID << u"Local"_qs;
        QTest::newRow("empty names never pick a group")
            << false << u"10.9.9.9"_qs << QString() << QString() << ID << u"NoValue"_qs;
        QTest::newRow("no match") << false << u"10.9.9.9"_qs << u"NOBODY"_qs << u"NOBODY.LAN"_qs << ID << QString();
        QTest::newRow("sent: a name counts as its address")
            << true << u"10.0.0.7"_qs << u"X"_qs << u"X"_qs << ID << u"ByHost"_qs;
        QTest::newRow("sent: a third host with its name and id")
            << true << u"10.9.9.9"_qs << u"PC-07"_qs << u"PC-08.CORP.LAN"_qs << ID << QString();
        QTest::newRow("sent: the address decides, not the names")
            << true << u"10.0.0.8"_qs << u"PC-07"_qs << u"X"_qs << ID << u"ByFqdn"_qs;
        QTest::newRow("sent: loopback") << true << u"127.0.0.1"_qs << u"X"_qs << u"X"_qs << ID << u"Local"_qs;
        QTest::newRow("sent: no address takes nothing")
            << true << u"0.0.0.0"_qs << QString() << QString() << ID << QString();
    }
    void picksRecord() {
        QFETCH(bool, byAddress);
        QFETCH(QString, from);
        QFETCH(QString, host);
        QFETCH(QString, fqdn);
        QFETCH(qint32, id);
        QFETCH(QString, expected);
        RecipientList list =
            recipientsFrom({u"[+Office]"_qs, u"ByAddress=10.0.0.1"_qs, u"ByHost=pc-07"_qs, u"ByFqdn=PC-08.corp.lan"_qs,
                            u"Local=localhost"_qs, u"NoValue"_qs, u"[-Office]"_qs});
        list.setAllMessageIds(ID);
        if (byAddress) {
            const QStringList sentTo{{}, {}, u"10.0.0.1"_qs, u"10.0.0.7"_qs, u"10.0.0.8"_qs, u"127.0.0.1"_qs, {}};
            for (int i = 2; i < list.size(); ++i)
                list.setMessageId(i, ID, QHostAddress(sentTo.value(i)).toIPv4Address());
        }
        const int index = matchBoth(list, report(from, 1, host, fqdn, id));
        QVERIFY(index != -2);
        QCOMPARE(index < 0 ? QString() : list.at(index).name, expected);
    }

    // A report whose id reads as 0 (written so, missing, not a number) matches nothing, not even a record
    // no send reached (messageId 0): only the records the current send stamped can change.
    void idZeroMatchesNothing_data() {
        QTest::addColumn<QByteArray>("idField");
        QTest::newRow("0") << QByteArray("0");
        QTest::newRow("missing") << QByteArray();
        QTest::newRow("not a number") << QByteArray("PC-07");
        QTest::newRow("-0 in hexadecimal") << QByteArray("-$0");
        QTest::newRow("2^32 (low 32 bits 0)") << QByteArray("4294967296");
    }
    void idZeroMatchesNothing() {
        QFETCH(QByteArray, idField);
        RecipientList list =
            recipientsFrom({u"[+Office]"_qs, u"Unsent=10.0.0.1"_qs, u"Sent=10.0.0.1"_qs, u"[-Office]"_qs});
        list.setMessageId(3, ID);
        const ReportDatagram stray = readReportDatagram(QHostAddress(u"10.0.0.1"_qs), idField + "\x04"
                                                                                                "1\x04PC\x04PC");
        QCOMPARE(stray.id, 0);
        QCOMPARE(matchBoth(list, stray), -1);
        QCOMPARE(matchBoth(list, report(u"10.0.0.1"_qs, 1, u"PC"_qs, u"PC"_qs)), 3);
    }

    // A client listed twice, sent twice: its "1" and "2" update the first record; the "2" it sends for the
    // repeated message passes the confirmed first record and updates the second; a late "1" changes
    // nothing once both are confirmed.
    void clientListedTwice() {
        RecipientList list =
            recipientsFrom({u"[+A]"_qs, u"PC=10.0.0.1"_qs, u"[-A]"_qs, u"[+B]"_qs, u"PC=10.0.0.1"_qs, u"[-B]"_qs});
        list.setAllMessageIds(ID);
        const int first = 2, second = 4;
        QCOMPARE(list.at(first).host, u"10.0.0.1"_qs);
        QCOMPARE(list.at(second).host, u"10.0.0.1"_qs);
        const ReportMatcher matcher(list);
        const auto apply = [&](int status) {
            const ReportDatagram r = report(u"10.0.0.1"_qs, status, u"PC"_qs, u"PC.LAN"_qs);
            const int index = matcher.match(list, r);
            if (index != matchByWalk(list, r))
                return -2;
            if (index >= 0)
                list.recordReport(index, r.status, u"10:00:00"_qs);
            return index;
        };
        QCOMPARE(apply(1), first);
        QCOMPARE(apply(2), first);
        QCOMPARE(list.at(first).deliveryStatus, STATUS_CONFIRMED);
        QCOMPARE(apply(2), second);
        QCOMPARE(apply(1), -1);
        QCOMPARE(list.at(second).deliveryStatus, STATUS_CONFIRMED);
    }

    // A "2" overtaking its "1": the record stays confirmed.
    void confirmedBeforeDelivered() {
        RecipientList list = recipientsFrom({u"[+A]"_qs, u"PC=10.0.0.1"_qs, u"[-A]"_qs});
        list.setAllMessageIds(ID);
        const ReportMatcher matcher(list);
        const int index = matcher.match(list, report(u"10.0.0.1"_qs, 2, u"PC"_qs, u"PC"_qs));
        QCOMPARE(index, 2);
        list.recordReport(index, STATUS_CONFIRMED, u"10:00:00"_qs);
        QCOMPARE(matcher.match(list, report(u"10.0.0.1"_qs, 1, u"PC"_qs, u"PC"_qs)), -1);
    }

    // 10,000 records with hosts drawn from a small pool (so many share one), random ids and statuses;
    // thousands of random reports, each applied: the index and the walk pick the same record every time.
    void agreesWithTheWalkOnALargeDirectory() {
        QRandomGenerator random(7);
        const auto hostText = [&](quint32 n) {
            switch (n % 3) {
            case 0:
                return QStringLiteral("10.1.%1.%2").arg(n / 250).arg(n % 250);
            case 1:
                return QStringLiteral("PC-%1").arg(n);
            default:
                return QStringLiteral("PC-%1.CORP.LAN").arg(n);
            }
        };
        QStringList lines;
        for (int g = 0; g < 50; ++g) {
            lines.append(QStringLiteral("[+Group %1]").arg(g));
            for (int c = 0; c < 200; ++c)
                lines.append(QStringLiteral("C%1-%2=%3").arg(g).arg(c).arg(hostText(random.bounded(3000u))));
            lines.append(QStringLiteral("[-Group %1]").arg(g));
        }
        RecipientList list = recipientsFrom(lines);
        QCOMPARE(list.size(), 1 + 50 * 201);
        // A third of the records sent to an address, from the pool the reports come from, some to none.
        for (int i = 1; i < list.size(); ++i) {
            const qint32 id = random.bounded(3) == 0 ? 0 : ID;
            const quint32 pick = random.bounded(750u);
            if (pick < 250)
                list.setMessageId(i, id, QHostAddress(QStringLiteral("10.2.0.%1").arg(pick)).toIPv4Address());
            else if (pick < 260)
                list.setMessageId(i, id, 0);
            else
                list.setMessageId(i, id);
        }
        const ReportMatcher matcher(list);
        int matched = 0;
        for (int n = 0; n < 20000; ++n) {
            const quint32 a = random.bounded(3000u), b = random.bounded(3000u), c = random.bounded(3000u);
            const QString from = a % 3 == 0 ? hostText(a) : QStringLiteral("10.2.0.%1").arg(a % 250);
            const ReportDatagram r =
                report(from, 1 + int(random.bounded(2u)), hostText(b), hostText(c), random.bounded(5) == 0 ? 0 : ID);
            const int index = matcher.match(list, r);
            QCOMPARE(index, matchByWalk(list, r));
            if (index >= 0) {
                list.recordReport(index, r.status, u"10:00:00"_qs);
                ++matched;
            }
        }
        QVERIFY(matched > 1000);
    }
};

QTEST_APPLESS_MAIN(TestReportMatcher)
#include "tst_report_matcher.moc"
