#include "messaging_fixture.h"
#include "send_worker.h"

#include <QScopeGuard>
#include <QTest>

using namespace plinket;
using namespace plinket::test;

namespace {

constexpr qint32 ID = 420195130;

// Names the tests resolve without asking the system: FAST-n gives 127.0.1.n at once, SLOW-n gives
// 127.0.2.n after 400 ms, NOWHERE-n gives nothing after 300 ms.
std::atomic<int> g_inFlight{0};
std::atomic<int> g_mostInFlight{0};

std::optional<QHostAddress> fakeResolve(const QString& name) {
    const int now = ++g_inFlight;
    for (int most = g_mostInFlight.load(); now > most && !g_mostInFlight.compare_exchange_weak(most, now);) {
    }
    const auto done = qScopeGuard([] { --g_inFlight; });
    const auto number = [&] { return name.section(u'-', 1).toInt(); };
    if (name.startsWith(u"FAST-"))
        return QHostAddress(QStringLiteral("127.0.1.%1").arg(number()));
    if (name.startsWith(u"SLOW-")) {
        QThread::msleep(400);
        return QHostAddress(QStringLiteral("127.0.2.%1").arg(number()));
    }
    if (name.startsWith(u"NOWHERE-")) {
        QThread::msleep(300);
        return std::nullopt;
    }
    return resolveIPv4(name);
}

struct Sending {
    RecipientList list;
    QMutex lock;
    LoopbackReceiver receiver;
    std::unique_ptr<SendWorker> worker;

    explicit Sending(const QStringList& lines) : list(recipientsFrom(lines)) {}
    void start(BroadcastSnapshot broadcast = {}, int resolverThreads = 128) {
        SendWorker::Options options;
        options.port = receiver.port();
        options.resolve = fakeResolve;
        options.resolverThreads = resolverThreads;
        const QString datagram = formatMessageDatagram(u"EN"_qs, QString::number(ID), u"hello"_qs, u"ADMIN"_qs);
        worker = std::make_unique<SendWorker>(SendJob{datagram, u"hello"_qs, ID}, broadcast, list, lock, options);
        worker->start();
    }
    QList<qint32> ids() {
        QMutexLocker l(&lock);
        QList<qint32> result;
        for (const RecipientRecord& r : list.records())
            result.append(r.messageId);
        return result;
    }
};

} // namespace

class TestSendWorker final : public QObject {
    Q_OBJECT

private slots:
    // Checked clients in tree order, a client listed twice sent twice, groups and unchecked clients skipped;
    // every checked record carries the id, sent or not, and nothing else does.
    void perRecipientInTreeOrder() {
        Sending s({u"[+A]"_qs, u"A1=127.0.0.11"_qs, u"A2=127.0.0.12"_qs, u"Off=127.0.0.99"_qs, u"[+Inner]"_qs,
                   u"Twice=127.0.0.13"_qs, u"[-Inner]"_qs, u"[-A]"_qs, u"[+B]"_qs, u"Twice=127.0.0.13"_qs,
                   u"Named=FAST-5"_qs, u"Lost=NOWHERE-1"_qs, u"[-B]"_qs});
        for (const QString& name : {u"A1"_qs, u"A2"_qs, u"Inner"_qs, u"B"_qs})
            check(s.list, name);
        s.start();
        QVERIFY(s.worker->wait(5000));
        const QList<LoopbackReceiver::Seen> seen = s.receiver.take(5);
        QCOMPARE(
            LoopbackReceiver::destinations(seen),
            (QStringList{u"127.0.0.11"_qs, u"127.0.0.12"_qs, u"127.0.0.13"_qs, u"127.0.0.13"_qs, u"127.0.1.5"_qs}));
        QCOMPARE(seen.first().payload,
                 formatMessageDatagram(u"EN"_qs, QString::number(ID), u"hello"_qs, u"ADMIN"_qs).toUtf8());
        QCOMPARE(s.worker->datagramsSent(), 5);
        QCOMPARE(s.worker->unresolved(), 1);
        const QList<qint32> ids = s.ids();
        for (int i = 0; i < s.list.size(); ++i) {
            const RecipientRecord& r = s.list.at(i);
            QCOMPARE(ids[i], !r.isGroup && r.checkState == CHECK_CHECKED ? ID : 0);
        }
        QCOMPARE(ids[recordNamed(s.list, u"Lost"_qs)], ID);
        // Each record takes reports only from the address it was sent to: a name the one it resolved to,
        // a name that gave none from nowhere.
        QMutexLocker lock(&s.lock);
        QCOMPARE(s.list.at(recordNamed(s.list, u"A1"_qs)).sentTo.value_or(1),
                 QHostAddress(u"127.0.0.11"_qs).toIPv4Address());
        QCOMPARE(s.list.at(recordNamed(s.list, u"Named"_qs)).sentTo.value_or(1),
                 QHostAddress(u"127.0.1.5"_qs).toIPv4Address());
        QCOMPARE(s.list.at(recordNamed(s.list, u"Lost"_qs)).sentTo.value_or(1), 0u);
        QCOMPARE(s.list.recordsSentTo(QHostAddress(u"127.0.0.13"_qs).toIPv4Address()).size(), size_t(2));
    }

    // Slow and unresolvable names hold nobody up: the known addresses leave first, in tree order, and
    // each slow name goes out when it resolves, the names being resolved side by side.
    void slowNamesDoNotDelayOthers() {
        QStringList lines{u"[+All]"_qs};
        for (int i = 1; i <= 20; ++i) {
            lines.append(QStringLiteral("Slow%1=SLOW-%1").arg(i));
            lines.append(QStringLiteral("Quick%1=127.0.0.%1").arg(i));
            lines.append(QStringLiteral("Gone%1=NOWHERE-%1").arg(i));
        }
        lines.append(u"[-All]"_qs);
        Sending s(lines);
        check(s.list, u"All"_qs);
        g_mostInFlight = 0;
        s.start();
        QVERIFY(s.worker->wait(10000));
        const QStringList to = LoopbackReceiver::destinations(s.receiver.take(40));
        QCOMPARE(to.size(), 40);
        QStringList quick, slow;
        for (int i = 1; i <= 20; ++i) {
            quick.append(QStringLiteral("127.0.0.%1").arg(i));
            slow.append(QStringLiteral("127.0.2.%1").arg(i));
        }
        QCOMPARE(to.mid(0, 20), quick);
        QCOMPARE(QSet<QString>(to.begin() + 20, to.end()), QSet<QString>(slow.begin(), slow.end()));
        QCOMPARE(s.worker->unresolved(), 20);
        QVERIFY2(g_mostInFlight.load() > 20, qPrintable(QString::number(g_mostInFlight.load())));
        for (const qint32 id : s.ids().mid(2)) // after the root and the group
            QCOMPARE(id, ID);
    }

    // Broadcast mode needs the root checked and broadcast on; otherwise each checked client is sent to.
    void modeChoice_data() {
        QTest::addColumn<bool>("rootChecked");
        QTest::addColumn<int>("enabled");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("root checked, broadcast on") << true << 1 << QStringList{u"127.0.0.200"_qs};
        QTest::newRow("root checked, broadcast off") << true << 0 << QStringList{u"127.0.0.21"_qs, u"127.0.0.22"_qs};
        QTest::newRow("some checked, broadcast on") << false << 1 << QStringList{u"127.0.0.21"_qs};
        QTest::newRow("hand-edited Broadcast=2 is off") << true << 2 << QStringList{u"127.0.0.21"_qs, u"127.0.0.22"_qs};
    }
    void modeChoice() {
        QFETCH(bool, rootChecked);
        QFETCH(int, enabled);
        QFETCH(QStringList, expected);
        Sending s({u"[+G]"_qs, u"C1=127.0.0.21"_qs, u"C2=127.0.0.22"_qs, u"[-G]"_qs});
        if (rootChecked)
            s.list.applyCheck(0, CHECK_CHECKED);
        else
            check(s.list, u"C1"_qs);
        // A loopback address stands in for the broadcast address here; the lab tests use real ones.
        s.start(BroadcastSnapshot{enabled, u"127.0.0.200"_qs});
        QVERIFY(s.worker->wait(5000));
        QCOMPARE(LoopbackReceiver::destinations(s.receiver.take(expected.size(), 2000)), expected);
        if (expected.size() == 1 && expected.first() == u"127.0.0.200"_qs) {
            // Every record, groups and the root included, carries the id.
            for (const qint32 id : s.ids())
                QCOMPARE(id, ID);
            QMutexLocker lock(&s.lock);
            for (const RecipientRecord& r : s.list.records())
                QVERIFY(!r.sentTo); // matched by name
        }
    }

    void broadcastAddressWithoutDestination_data() {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << QString();
        QTest::newRow("unresolvable") << u"NOWHERE-9"_qs;
    }
    void broadcastAddressWithoutDestination() {
        QFETCH(QString, address);
        Sending s({u"[+G]"_qs, u"C1=127.0.0.21"_qs, u"[-G]"_qs});
        s.list.applyCheck(0, CHECK_CHECKED);
        s.start(BroadcastSnapshot{1, address});
        QVERIFY(s.worker->wait(5000));
        QCOMPARE(s.worker->datagramsSent(), 0);
        QVERIFY(s.receiver.take(1, 300).isEmpty());
        QCOMPARE(s.ids().last(), ID); // still stamped: the client ends "Not delivered"
    }

    // A stopped worker stamps and sends nothing more: the client behind a slow name is left alone.
    void stopLeavesTheRestAlone() {
        Sending s({u"[+G]"_qs, u"Slow=SLOW-1"_qs, u"[-G]"_qs});
        check(s.list, u"G"_qs);
        s.start();
        QThread::msleep(100);
        {
            QMutexLocker lock(&s.lock);
            s.worker->stop();
            s.list.resetDeliveryState();
        }
        QVERIFY(s.worker->wait(5000));
        QCOMPARE(s.worker->datagramsSent(), 0);
        QCOMPARE(s.ids().last(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSendWorker)
#include "tst_send_worker.moc"
