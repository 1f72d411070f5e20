#include "messaging_fixture.h"
#include "probe_round.h"
#include "report_listener.h"
#include "udp_send.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using namespace plinket::test;

namespace {

constexpr qint32 ID = 420195130;

QByteArray reportBytes(int status, const QString& host = u"PC"_qs, qint32 id = ID) {
    return formatReportDatagram(QString::number(id), status, host, host + u".LAN"_qs).toUtf8();
}

// A listener on 127.0.0.1 at a port of the system's choice, recording what it notifies.
struct Listening {
    RecipientList& list;
    QMutex lock;
    QMutex notifiedLock;
    QSet<int> notified;
    std::unique_ptr<ReportListener> listener;

    explicit Listening(RecipientList& recipients, std::shared_ptr<WorkstationKeys> keys = {},
                       std::function<void(const ProbeAnswer&)> probeAnswer = {})
        : list(recipients) {
        ReportListener::Options options;
        options.bindAddress = QHostAddress(QHostAddress::LocalHost);
        options.port = 0;
        options.keys = std::move(keys);
        options.probeAnswer = std::move(probeAnswer);
        listener = std::make_unique<ReportListener>(
            list, lock,
            [this](const ChangedRecords& changed) {
                QMutexLocker l(&notifiedLock);
                for (int i : changed)
                    notified.insert(i);
            },
            nullptr, options);
        listener->start();
    }
    bool send(const QByteArray& bytes) {
        return sendDatagramFromFreshSocket(bytes, QHostAddress(QHostAddress::LocalHost), listener->boundPort());
    }
    quint8 status(int index) {
        QMutexLocker l(&lock);
        return list.at(index).deliveryStatus;
    }
    bool wasNotified(int index) {
        QMutexLocker l(&notifiedLock);
        return notified.contains(index);
    }
};

} // namespace

class TestReportListener final : public QObject {
    Q_OBJECT

private slots:
    // Reports from 127.0.0.1 match the LOCALHOST record; the status image and the time are set, the group
    // follows, and the changes are announced.
    void reportUpdatesRecordAndGroup() {
        RecipientList list =
            recipientsFrom({u"[+Here]"_qs, u"This PC=localhost"_qs, u"Other=10.0.0.2"_qs, u"[-Here]"_qs});
        list.setAllMessageIds(ID);
        Listening l(list);
        QVERIFY(l.listener->waitUntilListening(5000));
        QVERIFY(l.send(reportBytes(1)));
        QTRY_COMPARE(l.status(2), STATUS_DELIVERED);
        QTRY_VERIFY(l.wasNotified(2) && l.wasNotified(1) && l.wasNotified(0));
        {
            QMutexLocker lock(&l.lock);
            QVERIFY(QRegularExpression(u"^\\d\\d:\\d\\d:\\d\\d$"_qs).match(list.at(2).reportTime).hasMatch());
            QCOMPARE(list.at(1).deliveryStatus, STATUS_DELIVERED);
        }
        QVERIFY(l.send(reportBytes(2)));
        QTRY_COMPARE(l.status(2), STATUS_CONFIRMED);
        QCOMPARE(l.status(3), STATUS_WAITING);
    }

    // After the round is closed, a late report still turns "Not delivered" into "Delivered".
    void lateReportChangesTheImage() {
        RecipientList list = recipientsFrom({u"[+Here]"_qs, u"This PC=127.0.0.1"_qs, u"[-Here]"_qs});
        list.setAllMessageIds(ID);
        list.propagateToAncestors(2, STATUS_NOT_DELIVERED, PropagationMode::Icons);
        Listening l(list);
        QVERIFY(l.listener->waitUntilListening(5000));
        QVERIFY(l.send(reportBytes(1)));
        QTRY_COMPARE(l.status(2), STATUS_DELIVERED);
        QTRY_COMPARE(l.status(1), STATUS_DELIVERED);
    }

    // What the listener drops: statuses other than 1 and 2 (after the low 8 bits), datagrams over 2048
    // bytes, reports for another id. A following good report still gets through, so the drops were real.
    void dropsWhatItCannotShow_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("read"); // reports read in all, the good one included
        QTest::newRow("status 3") << reportBytes(3) << 1;
        QTest::newRow("status 0") << reportBytes(0) << 1;
        QTest::newRow("status 4") << reportBytes(4) << 1;
        QTest::newRow("status 257 reads as 1, but for another id") << reportBytes(257, u"PC"_qs, ID + 1) << 2;
        QTest::newRow("too long") << reportBytes(1) + QByteArray(2049, 'x') << 1;
        QTest::newRow("empty datagram") << QByteArray() << 1;
        QTest::newRow("probe answer, none wanted")
            << formatProbeAnswer({1, u"1.40"_qs, u"PC"_qs, u"client"_qs, -1}) << 1;
    }
    void dropsWhatItCannotShow() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, read);
        RecipientList list = recipientsFrom({u"[+Here]"_qs, u"This PC=127.0.0.1"_qs, u"[-Here]"_qs});
        list.setAllMessageIds(ID);
        Listening l(list);
        QVERIFY(l.listener->waitUntilListening(5000));
        QVERIFY(l.send(bytes));
        QVERIFY(l.send(reportBytes(258))); // low 8 bits: 2
        QTRY_COMPARE(l.listener->reportsApplied(), 1);
        QCOMPARE(l.status(2), STATUS_CONFIRMED);
        QCOMPARE(l.listener->reportsRead(), qint64(read));
    }

    // Probe answers (longer than any report) go to the probe cache by their nonce, and reports after them
    // still count; the cache says which hosts are due, and the tooltip lines count the answers by version.
    void probeAnswersReachTheCache() {
        RecipientList list = recipientsFrom({u"[+Here]"_qs, u"This PC=127.0.0.1"_qs, u"[-Here]"_qs});
        list.setAllMessageIds(ID);
        ProbeCache cache;
        const QStringList hosts{u"PC-1"_qs, u"PC-2"_qs, u"PC-3"_qs};
        QCOMPARE(cache.takeDue(hosts, 1000), hosts);
        QCOMPARE(cache.takeDue(hosts + QStringList{u"PC-4"_qs}, 1000 + ProbeCache::FRESH_MS - 1),
                 QStringList{u"PC-4"_qs});
        QCOMPARE(cache.takeDue({u"PC-1"_qs}, 1000 + ProbeCache::FRESH_MS), QStringList{u"PC-1"_qs});
        for (quint64 nonce : {11, 22, 33})
            cache.sent({hosts[int(nonce / 11 - 1)], QHostAddress(QHostAddress::LocalHost), nonce, true});
        Listening l(list, {}, [&cache](const ProbeAnswer& answer) { cache.answered(answer); });
        QVERIFY(l.listener->waitUntilListening(5000));
        QVERIFY(l.send(formatProbeAnswer({11, u"1.40"_qs, u"PC-1"_qs, u"client"_qs, -1})));
        QVERIFY(l.send(formatProbeAnswer({22, u"1.39"_qs, u"PC-2"_qs, u"agent"_qs, 2})));
        QVERIFY(l.send(formatProbeAnswer({99, u"1.40"_qs, u"PC-3"_qs, u"client"_qs, -1}))); // nobody's nonce
        QVERIFY(l.send(reportBytes(2)));
        QTRY_COMPARE(l.listener->reportsApplied(), 1); // after the answers, which the same thread took first
        QCOMPARE(l.listener->reportsRead(), qint64(1));

        const auto entries = [&cache](const QStringList& names) {
            QList<ProbeCache::Entry> list;
            for (const QString& name : names)
                list.append(cache.entryOf(name));
            return list;
        };
        QCOMPARE(probeGroupLine(entries(hosts), u"EN"_qs), u"Listening: 2 of 3 (1.39: 1, 1.40: 1)"_qs);
        QCOMPARE(probeGroupLine(entries(hosts), u"RU"_qs), u"Слушают: 2 из 3 (1.39: 1, 1.40: 1)"_qs);
        QCOMPARE(probeMemberLine(cache.entryOf(u"PC-2"_qs), u"EN"_qs),
                 u"Listening: Plinket 1.39 (agent, sessions: 2)"_qs);
        QCOMPARE(probeMemberLine(cache.entryOf(u"PC-1"_qs), u"RU"_qs), u"Слушает: Plinket 1.40"_qs);
        QCOMPARE(probeMemberLine(cache.entryOf(u"PC-3"_qs), u"EN"_qs), u"Not answering"_qs);
        QCOMPARE(probeMemberLine(cache.entryOf(u"PC-9"_qs), u"EN"_qs), QString());
        // A new probe of PC-1 forgets its answer; a late answer to the old probe no longer counts.
        cache.sent({u"PC-1"_qs, QHostAddress(QHostAddress::LocalHost), 44, true});
        QVERIFY(!cache.answered({11, u"1.40"_qs, u"PC-1"_qs, u"client"_qs, -1}));
        QCOMPARE(probeMemberLine(cache.entryOf(u"PC-1"_qs), u"EN"_qs), u"Not answering"_qs);
    }

    // 2,000 confirmations fired at once without pause, each for the next record of one client listed
    // 2,000 times: every one is taken (none lost to pacing or to a small buffer).
    void burstIsTakenWhole() {
        constexpr int N = 2000;
        QStringList lines{u"[+Many]"_qs};
        for (int i = 0; i < N; ++i)
            lines.append(QStringLiteral("PC %1=127.0.0.1").arg(i));
        lines.append(u"[-Many]"_qs);
        RecipientList list = recipientsFrom(lines);
        list.setAllMessageIds(ID);
        Listening l(list);
        QVERIFY(l.listener->waitUntilListening(5000));
        QVERIFY(l.listener->receiveBufferBytes() > 0);
        for (int i = 0; i < N; ++i)
            QVERIFY(l.send(reportBytes(2)));
        QTRY_COMPARE_WITH_TIMEOUT(l.listener->reportsApplied(), qint64(N), 10000);
        QCOMPARE(l.status(1), STATUS_CONFIRMED);
        QCOMPARE(l.status(0), STATUS_CONFIRMED);
    }

    // A proxy configured for the application (or found in the system's settings) is never asked: the
    // listener binds and takes reports directly even when that proxy cannot be reached.
    void noProxy() {
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, u"127.0.0.1"_qs, 9));
        RecipientList list = recipientsFrom({u"[+Here]"_qs, u"This PC=127.0.0.1"_qs, u"[-Here]"_qs});
        list.setAllMessageIds(ID);
        Listening l(list);
        const bool listening = l.listener->waitUntilListening(5000);
        QNetworkProxy::setApplicationProxy(QNetworkProxy::DefaultProxy);
        QVERIFY(listening);
        QVERIFY(l.send(reportBytes(1)));
        QTRY_COMPARE(l.status(2), STATUS_DELIVERED);
    }

    // Reports judged by the workstation's report key (known-workstations beside clients.ini): verified when
    // signed by the key pinned for the record's host (pinned now on first sight) for this Send's message;
    // not verified, and still counted, when signed otherwise or unsigned from a workstation known to sign.
    void signedReportsAreJudged_data() {
        QTest::addColumn<int>("pinned"); // the key known-workstations holds for 127.0.0.1: 0 none, 1 or 2
        QTest::addColumn<bool>("signedSend");
        QTest::addColumn<int>("signedBy");   // the workstation's key: 0 unsigned, 1, 2; 3: 1 with a bad signature
        QTest::addColumn<qint64>("answers"); // the message time in the report (0: the Send's)
        QTest::addColumn<int>("trust");
        QTest::addColumn<int>("pinnedAfter");
        QTest::addColumn<int>("warnings");
        const int u = int(ReportTrust::Unsigned), v = int(ReportTrust::Verified), n = int(ReportTrust::Unverified);
        QTest::newRow("no keys anywhere") << 0 << true << 0 << qint64(0) << u << 0 << 0;
        QTest::newRow("first sight: pinned") << 0 << true << 1 << qint64(0) << v << 1 << 0;
        QTest::newRow("pinned before, same key") << 1 << true << 1 << qint64(0) << v << 1 << 0;
        QTest::newRow("pinned before, another key") << 1 << true << 2 << qint64(0) << n << 1 << 1;
        QTest::newRow("signature does not hold") << 0 << true << 3 << qint64(0) << n << 0 << 0;
        QTest::newRow("answers another message") << 0 << true << 1 << qint64(1780000001) << n << 0 << 0;
        QTest::newRow("signed report, unsigned Send") << 0 << false << 1 << qint64(0) << n << 0 << 0;
        QTest::newRow("pinned, but unsigned") << 1 << true << 0 << qint64(0) << n << 1 << 0;
        QTest::newRow("pinned, unsigned Send") << 1 << false << 0 << qint64(0) << u << 1 << 0;
    }
    void signedReportsAreJudged() {
        QFETCH(int, pinned);
        QFETCH(bool, signedSend);
        QFETCH(int, signedBy);
        QFETCH(qint64, answers);
        QFETCH(int, trust);
        QFETCH(int, pinnedAfter);
        QFETCH(int, warnings);
        constexpr qint64 SENT_AT = 1780000000;
        const SigningKey keys[] = {*SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x01')),
                                   *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x02'))};
        QTemporaryDir dir;
        const QString path = dir.filePath(u"known-workstations"_qs);
        if (pinned) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("# seeded by hand\n127.0.0.1 " + publicKeyLine(keys[pinned - 1].publicKey()) + '\n');
        }
        // Written by the listener's thread after it has updated the record.
        QMutex changesLock;
        QStringList changes;
        const auto changed = [&] {
            QMutexLocker locker(&changesLock);
            return changes;
        };
        auto known = std::make_shared<WorkstationKeys>(
            path, EventSource::Send, [&](const QString& host, const QString& address, const QString&) {
                QMutexLocker locker(&changesLock);
                changes.append(host + u' ' + address);
            });
        known->expectMessageTime(signedSend ? SENT_AT : 0);
        RecipientList list = recipientsFrom({u"[+Here]"_qs, u"This PC=127.0.0.1"_qs, u"[-Here]"_qs});
        list.setAllMessageIds(ID);
        Listening l(list, known);
        QVERIFY(l.listener->waitUntilListening(5000));
        QByteArray report = reportBytes(2);
        if (signedBy)
            report = signReportDatagram(report, keys[signedBy == 2 ? 1 : 0], answers ? answers : SENT_AT);
        if (signedBy == 3) // one character of the signature changed
            report[report.size() - 5] = report.at(report.size() - 5) == 'A' ? 'B' : 'A';
        QVERIFY(l.send(report));
        QTRY_COMPARE(l.status(2), STATUS_CONFIRMED);
        {
            QMutexLocker lock(&l.lock);
            QCOMPARE(int(list.at(2).reportTrust), trust);
        }
        // The file and the events follow once the listener has let go of the records.
        const auto pinnedNow = [&] { return WorkstationKeys(path, EventSource::Send).pinned(u"127.0.0.1"_qs); };
        if (pinnedAfter)
            QTRY_VERIFY(pinnedNow() == keys[pinnedAfter - 1].publicKey());
        else
            QVERIFY(!pinnedNow());
        QTRY_COMPARE(changed().size(), warnings);
        if (warnings)
            QCOMPARE(changed().first(), u"127.0.0.1 127.0.0.1"_qs);
    }

    // Another program holds the port: the listener says so and does not listen.
    void busyPortIsReported() {
        QUdpSocket holder;
        QVERIFY(holder.bind(QHostAddress::LocalHost, 0));
        RecipientList list;
        QMutex lock;
        std::atomic<bool> told{false};
        ReportListener::Options options;
        options.bindAddress = QHostAddress(QHostAddress::LocalHost);
        options.port = holder.localPort();
        ReportListener listener(
            list, lock, nullptr, [&] { told = true; }, options);
        listener.start();
        QVERIFY(!listener.waitUntilListening(5000));
        QCOMPARE(listener.state(), ReportListener::State::PortBusy);
        QVERIFY(told.load());
    }
};

QTEST_GUILESS_MAIN(TestReportListener)
#include "tst_report_listener.moc"
