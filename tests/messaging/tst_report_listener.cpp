#include "messaging_fixture.h"
#include "report_listener.h"
#include "udp_send.h"

#include <QNetworkProxy>
#include <QRegularExpression>
#include <QSet>
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

    explicit Listening(RecipientList& recipients) : list(recipients) {
        ReportListener::Options options;
        options.bindAddress = QHostAddress(QHostAddress::LocalHost);
        options.port = 0;
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
