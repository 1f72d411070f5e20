#include "loadgen_plan.h"

#include <QTest>

using namespace plinket::loadgen;

Q_DECLARE_METATYPE(plinket::loadgen::ReplyOptions)

class TestLoadgenPlan final : public QObject {
    Q_OBJECT

private slots:
    void addresses_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("address");
        QTest::newRow("first") << 0 << u"127.1.0.1"_qs;
        QTest::newRow("last of the first /24") << 253 << u"127.1.0.254"_qs;
        QTest::newRow("skips .255 and .0") << 254 << u"127.1.1.1"_qs;
        QTest::newRow("third octet carries") << 254 * 256 - 1 << u"127.1.255.254"_qs;
        QTest::newRow("second octet carries") << 254 * 256 << u"127.2.0.1"_qs;
        QTest::newRow("cap") << MAX_CLIENTS - 1 << u"127.16.97.2"_qs;
    }
    void addresses() {
        QFETCH(int, index);
        QFETCH(QString, address);
        QCOMPARE(dottedV4(clientAddress(index)), address);
        QCOMPARE(clientIndex(clientAddress(index)), index);
    }

    void notOurAddresses_data() {
        QTest::addColumn<quint32>("address");
        QTest::newRow("127.0.0.1") << 0x7F000001u;
        QTest::newRow("network .0") << 0x7F010000u;
        QTest::newRow("broadcast .255") << 0x7F0100FFu;
        QTest::newRow("loopback broadcast") << LOOPBACK_BROADCAST;
        QTest::newRow("beyond the cap") << 0x7F106103u; // 127.16.97.3, index MAX_CLIENTS
        QTest::newRow("not loopback") << 0x0A000001u;
    }
    void notOurAddresses() {
        QFETCH(quint32, address);
        QCOMPARE(clientIndex(address), -1);
    }

    void names() {
        const quint32 a = clientAddress(4);
        QCOMPARE(clientHostName(a), u"LG-127-1-0-5"_qs);
        QCOMPARE(clientFqdn(a), u"LG-127-1-0-5.LOADGEN.TEST"_qs);
    }

    void clientsFileExact() {
        const QByteArray expected = "\xEF\xBB\xBF;Plinket Clients v2\r\n"
                                    "\r\n"
                                    "[+Group 1]\r\n"
                                    "[+Group 1.1]\r\n"
                                    "  LG-127-1-0-1 = 127.1.0.1\r\n"
                                    "  LG-127-1-0-2 = 127.1.0.2\r\n"
                                    "[-Group 1.1]\r\n"
                                    "[-Group 1]\r\n"
                                    "\r\n"
                                    "[+Group 2]\r\n"
                                    "[+Group 2.1]\r\n"
                                    "  LG-127-1-0-3 = 127.1.0.3\r\n"
                                    "[-Group 2.1]\r\n"
                                    "[-Group 2]\r\n"
                                    "\r\n";
        QCOMPARE(clientsFileBytes({3, 2, 2}), expected);
    }

    // Every client listed once, in address order, in balanced groups, with CR LF line ends only.
    void clientsFileShape_data() {
        QTest::addColumn<int>("clients");
        QTest::addColumn<int>("groups");
        QTest::addColumn<int>("depth");
        QTest::newRow("flat, one group") << 300 << 1 << 1;
        QTest::newRow("uneven split") << 10 << 3 << 1;
        QTest::newRow("more groups than clients") << 2 << 5 << 1;
        QTest::newRow("deep") << 7 << 2 << 6;
    }
    void clientsFileShape() {
        QFETCH(int, clients);
        QFETCH(int, groups);
        QFETCH(int, depth);
        const QByteArray bytes = clientsFileBytes({clients, groups, depth});
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF;Plinket Clients v2\r\n"));
        QVERIFY(bytes.endsWith("\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));

        QStringList open;
        int next = 0, maxDepth = 0, opened = 0;
        for (const QByteArray& line : bytes.mid(3).split('\n')) {
            const QString text = QString::fromUtf8(line).chopped(line.endsWith('\r') ? 1 : 0);
            if (text.startsWith(u"[+"_qs)) {
                open.append(text.mid(2).chopped(1));
                maxDepth = std::max(maxDepth, int(open.size()));
                ++opened;
            } else if (text.startsWith(u"[-"_qs)) {
                QVERIFY(!open.isEmpty());
                QCOMPARE(text.mid(2).chopped(1), open.takeLast());
            } else if (text.startsWith(u"  "_qs)) {
                QVERIFY2(!open.isEmpty(), "a client outside every group is not read");
                const quint32 address = clientAddress(next++);
                QCOMPARE(text, u"  "_qs + clientHostName(address) + u" = "_qs + dottedV4(address));
            }
        }
        QVERIFY(open.isEmpty());
        QCOMPARE(next, clients);
        QCOMPARE(maxDepth, depth);
        QCOMPARE(opened, groups * depth);
    }

    void replies_data() {
        QTest::addColumn<ReplyOptions>("options");
        QTest::addColumn<QStringList>("ids");     // message ids, in arrival order
        QTest::addColumn<QList<int>>("arrivals"); // arrival times, ms
        QTest::addColumn<QString>("expected");    // "time:status" of every reply, in planning order

        const ReplyOptions delays{10, 100};
        QTest::newRow("shown, then confirmed") << delays << QStringList{u"7"_qs} << QList<int>{5} << u"15:1 115:2"_qs;
        QTest::newRow("no delays") << ReplyOptions{} << QStringList{u"7"_qs} << QList<int>{0} << u"0:1 0:2"_qs;
        QTest::newRow("second message waits for the open pop-up")
            << delays << QStringList{u"7"_qs, u"8"_qs} << QList<int>{0, 20} << u"10:1 110:2 120:1 220:2"_qs;
        QTest::newRow("repeat after confirmation: 2 at once")
            << delays << QStringList{u"7"_qs, u"7"_qs} << QList<int>{0, 500} << u"10:1 110:2 500:2"_qs;
        QTest::newRow("repeat while open: 2 when confirmed")
            << delays << QStringList{u"7"_qs, u"7"_qs} << QList<int>{0, 50} << u"10:1 110:2 110:2"_qs;
        QTest::newRow("only the last confirmed id counts")
            << delays << QStringList{u"7"_qs, u"8"_qs, u"7"_qs} << QList<int>{0, 200, 400}
            << u"10:1 110:2 210:1 310:2 410:1 510:2"_qs;
        QTest::newRow("empty id is a first message")
            << delays << QStringList{QString()} << QList<int>{0} << u"10:1 110:2"_qs;
        QTest::newRow("every 1 lost") << ReplyOptions{10, 100, 0, 1.0} << QStringList{u"7"_qs, u"8"_qs}
                                      << QList<int>{0, 1000} << u"110:2 1110:2"_qs;
        QTest::newRow("every 2 lost, yet confirmed")
            << ReplyOptions{10, 100, 0, 0.0, 1.0} << QStringList{u"7"_qs, u"7"_qs} << QList<int>{0, 1000} << u"10:1"_qs;
    }
    void replies() {
        QFETCH(ReplyOptions, options);
        QFETCH(QStringList, ids);
        QFETCH(QList<int>, arrivals);
        QFETCH(QString, expected);
        ReplyPlanner planner(options, 3);
        QStringList got;
        for (qsizetype i = 0; i < ids.size(); ++i)
            for (const PlannedReply& r : planner.plan(1, ids[i], arrivals[i]))
                got.append(QStringLiteral("%1:%2").arg(r.atMs).arg(r.status));
        QCOMPARE(got.join(u' '), expected);
    }

    // Jitter and loss follow the seed: the same seed replays the same run, within the set bounds.
    void seededJitterAndLoss() {
        const ReplyOptions options{10, 20, 5, 0.3, 0.3, 42};
        const auto run = [&](ReplyOptions o) {
            ReplyPlanner planner(o, 1000);
            QList<qint64> times;
            for (int i = 0; i < 1000; ++i)
                for (const PlannedReply& r : planner.plan(i, u"1"_qs, 0)) {
                    if (r.status == 1)
                        [&] { QVERIFY(r.atMs >= 10 && r.atMs <= 15); }();
                    else
                        [&] { QVERIFY(r.atMs >= 30 && r.atMs <= 40); }();
                    times.append(r.atMs * 10 + r.status);
                }
            return std::make_tuple(times, planner.lost1(), planner.lost2());
        };
        const auto a = run(options);
        QCOMPARE(run(options), a);
        ReplyOptions other = options;
        other.seed = 43;
        QVERIFY(run(other) != a);
        // 30 % of 1000 each, well inside a wide margin.
        QVERIFY(std::get<1>(a) > 200 && std::get<1>(a) < 400);
        QVERIFY(std::get<2>(a) > 200 && std::get<2>(a) < 400);
        QCOMPARE(std::get<0>(a).size(), 2000 - std::get<1>(a) - std::get<2>(a));
    }
};

QTEST_APPLESS_MAIN(TestLoadgenPlan)
#include "tst_loadgen_plan.moc"
