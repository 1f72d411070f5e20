#include "messaging_controller.h"
#include "messaging_fixture.h"

#include <QTest>

using namespace plinket;
using namespace plinket::test;

namespace {

struct Event {
    QString id, text, statusList;
};

// A controller over a small directory, sending to a loopback receiver, with every hook recorded.
struct Console {
    RecipientList list = recipientsFrom({u"[+Shop]"_qs, u"ACC-1=127.0.0.31"_qs, u"STORE=127.0.0.32"_qs, u"[-Shop]"_qs});
    QMutex lock;
    BroadcastSetting broadcast;
    QTimer timer;
    LoopbackReceiver receiver;
    qint32 waitCount = 5;
    qint32 waitUnit = 0;
    QDateTime now{QDate(2026, 12, 7), QTime(14, 5, 0)};
    QList<Event> events;
    QStringList warnings;
    QStringList questions;
    QStringList notes;
    bool answer = true;
    std::unique_ptr<MessagingController> controller;

    explicit Console(const QString& language = u"EN"_qs, std::shared_ptr<const SigningKey> key = {}) {
        MessagingController::Hooks hooks;
        hooks.signingKey = std::move(key);
        hooks.waitCount = [this] { return waitCount; };
        hooks.waitUnit = [this] { return waitUnit; };
        hooks.now = [this] { return now; };
        hooks.writeEvent = [this](const QString& id, const QString& text, const QString& statusList) {
            events.append({id, text, statusList});
        };
        hooks.warnNeverShown = [this](const QString&, const QString& text) { warnings.append(text); };
        hooks.confirmCut = [this](const QString&, const QString& text) {
            questions.append(text);
            return answer;
        };
        hooks.tellNothingSent = [this](const QString& text) { notes.append(text); };
        hooks.sendOptions.port = receiver.port();
        controller = std::make_unique<MessagingController>(list, lock, broadcast, timer, language, u"ADMIN-PC"_qs,
                                                           std::move(hooks));
    }
    // Lets the last worker finish so the records hold their ids.
    void settle() {
        if (SendWorker* w = controller->currentWorker())
            w->wait(5000);
    }
};

} // namespace

class TestMessagingController final : public QObject {
    Q_OBJECT

private slots:
    void emptyTextDoesNothing() {
        Console c;
        check(c.list, u"Shop"_qs);
        c.list.recordReport(2, STATUS_DELIVERED, u"10:00:00"_qs);
        c.controller->onSend(QString());
        QVERIFY(!c.timer.isActive());
        QVERIFY(!c.controller->awaitingReports());
        QCOMPARE(c.list.at(2).deliveryStatus, STATUS_DELIVERED); // not reset
        QVERIFY(c.receiver.take(1, 200).isEmpty());
    }

    // A text of blanks is a message like any other: records reset, the datagram sent, the timer armed.
    void blanksAreSent() {
        Console c;
        check(c.list, u"ACC-1"_qs);
        c.list.recordReport(2, STATUS_CONFIRMED, u"10:00:00"_qs);
        c.controller->onSend(u"   "_qs);
        const QList<LoopbackReceiver::Seen> seen = c.receiver.take(1);
        QCOMPARE(seen.size(), 1);
        const MessageDatagram m = readMessageDatagram(seen.first().payload);
        QCOMPARE(m.lang, u"EN"_qs);
        QCOMPARE(m.id, QString::number(c.controller->lastJob().messageId));
        QCOMPARE(m.text, u"   "_qs);
        QCOMPARE(m.serverHost, u"ADMIN-PC"_qs);
        c.settle();
        QCOMPARE(c.list.at(2).deliveryStatus, STATUS_WAITING);
        QCOMPARE(c.list.at(2).messageId, c.controller->lastJob().messageId);
        QVERIFY(c.timer.isActive());
        QCOMPARE(c.timer.interval(), 5000);
        QVERIFY(!c.timer.isSingleShot());
    }

    // Every Send restarts the timer with the current period; an unknown unit keeps the last one; a Send in
    // the same second gets another id. A round still open is closed first, its statuses as they stand,
    // so every Send is recorded.
    void secondSendRestartsTheRound() {
        Console c;
        check(c.list, u"ACC-1"_qs);
        c.controller->onSend(u"first"_qs);
        const qint32 first = c.controller->lastJob().messageId;
        c.settle();
        {
            QMutexLocker lock(&c.lock);
            c.list.recordReport(2, STATUS_CONFIRMED, u"14:05:09"_qs);
        }
        c.waitCount = 2;
        c.waitUnit = 1;
        c.controller->onSend(u"second"_qs);
        const qint32 second = c.controller->lastJob().messageId;
        QVERIFY(second != first);
        QCOMPARE(c.timer.interval(), 120'000);
        c.waitUnit = 9;
        c.controller->onSend(u"third"_qs);
        QCOMPARE(c.timer.interval(), 120'000);
        QCOMPARE(c.controller->lastJob().messageText, u"third"_qs);
        c.settle();
        c.controller->onDeliveryTimer();
        QCOMPARE(c.events.size(), 3);
        QCOMPARE(c.events[0].id, QString::number(first));
        QCOMPARE(c.events[0].text, u"first"_qs);
        QCOMPARE(c.events[0].statusList, u"ACC-1\t= Confirmed in 14:05:09\r\n"_qs);
        QCOMPARE(c.events[1].text, u"second"_qs);
        QCOMPARE(c.events[1].statusList, u"ACC-1\t= Not delivered\r\n"_qs);
        QCOMPARE(c.events[1].id, QString::number(second));
        QVERIFY(c.events[2].id != c.events[0].id && c.events[2].id != c.events[1].id);
        QCOMPARE(c.events[2].text, u"third"_qs);
    }

    // A Send with nobody ticked runs its round as usual, is told at once, and its end records nothing.
    void sendToNobody() {
        Console c;
        c.controller->onSend(u"Lunch"_qs);
        QCOMPARE(c.notes, QStringList{u"Nothing was sent: no recipient is ticked."_qs});
        QVERIFY(c.timer.isActive());
        c.controller->onDeliveryTimer();
        QVERIFY(c.events.isEmpty());
        check(c.list, u"STORE"_qs);
        c.controller->onSend(u"Lunch"_qs);
        QCOMPARE(c.notes.size(), 1);
    }

    // The end of the waiting period: silent clients become "Not delivered", event 101 carries the id, the
    // text and the lines, the timer stops; the window closing afterwards writes nothing more.
    void timerClosesTheRound() {
        Console c;
        check(c.list, u"Shop"_qs);
        c.controller->onSend(u"Lunch"_qs);
        c.settle();
        {
            QMutexLocker lock(&c.lock);
            c.list.recordReport(2, STATUS_CONFIRMED, u"14:05:09"_qs);
        }
        c.controller->onDeliveryTimer();
        QVERIFY(!c.timer.isActive());
        QVERIFY(!c.controller->awaitingReports());
        QCOMPARE(c.events.size(), 1);
        QCOMPARE(c.events.first().id, QString::number(c.controller->lastJob().messageId));
        QCOMPARE(c.events.first().text, u"Lunch"_qs);
        QCOMPARE(c.events.first().statusList, u"ACC-1\t= Confirmed in 14:05:09\r\nSTORE\t= Not delivered\r\n"_qs);
        QCOMPARE(c.list.at(3).deliveryStatus, STATUS_NOT_DELIVERED);
        c.controller->onMainWindowClosing();
        QCOMPARE(c.events.size(), 1);
    }

    void closingWhileWaitingWritesTheRecord_data() {
        QTest::addColumn<bool>("sent");
        QTest::addColumn<int>("events");
        QTest::newRow("while waiting") << true << 1;
        QTest::newRow("idle") << false << 0;
    }
    void closingWhileWaitingWritesTheRecord() {
        QFETCH(bool, sent);
        Console c(u"RU"_qs);
        check(c.list, u"STORE"_qs);
        if (sent)
            c.controller->onSend(u"Обед"_qs);
        c.settle();
        c.controller->onMainWindowClosing();
        QTEST(int(c.events.size()), "events");
        if (sent)
            QCOMPARE(c.events.first().statusList, u"STORE\t= Не доставлено\r\n"_qs);
        QVERIFY(!c.timer.isActive());
    }

    // Texts a client would drop are never sent; texts it would cut are sent only when the administrator
    // agrees, and never when signed (a cut signature cannot verify). The sizes count the signature
    // field. Either way a refused text changes nothing. Without a key the datagram is the unsigned one,
    // byte for byte; with one it carries a signature every trusted client accepts.
    void oversizedTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("signing");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("warnings");
        QTest::addColumn<int>("questions");
        QTest::addColumn<bool>("sent");
        const QString cyrillic(1000, QChar(0x0416));        // 2000 bytes of text: cut at the client
        const QString cjk(1000, QChar(0x4E2D));             // 3000 bytes: dropped by the client
        const QString fitsOnlyUnsigned(930, QChar(0x0416)); // datagram of 1882 bytes, 2002 signed
        QTest::newRow("cut, administrator goes on") << cyrillic << false << true << 0 << 1 << true;
        QTest::newRow("cut, administrator cancels") << cyrillic << false << false << 0 << 1 << false;
        QTest::newRow("never shown") << cjk << false << true << 1 << 0 << false;
        QTest::newRow("fits") << fitsOnlyUnsigned << false << false << 0 << 0 << true;
        QTest::newRow("signed, cut by the signature") << fitsOnlyUnsigned << true << true << 1 << 0 << false;
        QTest::newRow("signed, never shown") << cjk << true << true << 1 << 0 << false;
        QTest::newRow("signed, fits") << QString(900, QChar(0x0416)) << true << false << 0 << 0 << true;
    }
    void oversizedTexts() {
        QFETCH(QString, text);
        QFETCH(bool, signing);
        QFETCH(bool, answer);
        QFETCH(bool, sent);
        const auto key = std::make_shared<const SigningKey>(*SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x05')));
        Console c(u"EN"_qs, signing ? key : nullptr);
        c.answer = answer;
        check(c.list, u"ACC-1"_qs);
        c.controller->onSend(text);
        QTEST(int(c.warnings.size()), "warnings");
        QTEST(int(c.questions.size()), "questions");
        QCOMPARE(c.controller->awaitingReports(), sent);
        const QList<LoopbackReceiver::Seen> seen = c.receiver.take(1, sent ? 5000 : 300);
        QCOMPARE(seen.size(), sent ? 1 : 0);
        for (const QString& shown : c.warnings + c.questions)
            QVERIFY(shown.contains(u" bytes"_qs));
        if (!sent)
            return;
        const QString id = QString::number(c.list.at(2).messageId);
        const QByteArray unsignedBytes = formatMessageDatagram(u"EN"_qs, id, text, u"ADMIN-PC"_qs).toUtf8();
        const std::array<PublicKey, 1> trusted{key->publicKey()};
        const SignatureCheck check = checkMessageSignature(seen.first().payload, trusted);
        QCOMPARE(check.status, signing ? SignatureCheck::Status::Valid : SignatureCheck::Status::Unsigned);
        if (signing) {
            QVERIFY(seen.first().payload.startsWith(unsignedBytes));
            QCOMPARE(check.utcSeconds, c.now.toSecsSinceEpoch());
        } else {
            QCOMPARE(seen.first().payload, unsignedBytes);
        }
    }
};

QTEST_GUILESS_MAIN(TestMessagingController)
#include "tst_messaging_controller.moc"
