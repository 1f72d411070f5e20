#include "delivery_round.h"
#include "messaging_fixture.h"

#include <QTest>

using namespace plinket;
using namespace plinket::test;

namespace {

// Accounting holds ACC-1, ACC-2 and the subgroup Payroll with PAY-1; Store holds STORE.
RecipientList office() {
    return recipientsFrom({u"[+Accounting]"_qs, u"ACC-1=10.0.0.1"_qs, u"ACC-2=10.0.0.2"_qs, u"[+Payroll]"_qs,
                           u"PAY-1=10.0.0.3"_qs, u"[-Payroll]"_qs, u"[-Accounting]"_qs, u"[+Store]"_qs,
                           u"STORE=10.0.0.4"_qs, u"[-Store]"_qs});
}

} // namespace

class TestDeliveryRound final : public QObject {
    Q_OBJECT

private slots:
    void waitingPeriod_data() {
        QTest::addColumn<qint32>("count");
        QTest::addColumn<qint32>("unit");
        QTest::addColumn<qint32>("previous");
        QTest::addColumn<qint32>("expected");
        QTest::newRow("5 minutes") << 5 << 1 << 0 << 300'000;
        QTest::newRow("3 seconds") << 3 << 0 << 9 << 3000;
        QTest::newRow("100 hours fits 32 bits") << 100 << 2 << 0 << 360'000'000;
        QTest::newRow("0 seconds ends at once") << 0 << 0 << 5000 << 0;
        QTest::newRow("0 hours") << 0 << 2 << 5000 << 0;
        QTest::newRow("unknown unit keeps previous") << 5 << 3 << 1234 << 1234;
        QTest::newRow("negative unit keeps previous") << 5 << -1 << 60'000 << 60'000;
        QTest::newRow("unknown unit before first send") << 5 << 7 << 0 << 0;
    }
    void waitingPeriod() {
        QFETCH(qint32, count);
        QFETCH(qint32, unit);
        QFETCH(qint32, previous);
        QFETCH(qint32, expected);
        QCOMPARE(waitingPeriodMs(count, unit, previous), expected);
    }

    // Ids are random, 1..2^31-1, and never repeat within a run: a client would swallow a repeated id unseen.
    // The stand-in source repeats itself and gives the values that map to the ends of the range.
    void messageIdsNeverRepeat() {
        QList<qint32> draws{7, 7, 7, 8, 0, MAX_MESSAGE_ID, -1};
        MessageIdSource ids([&draws] { return draws.isEmpty() ? 9 : draws.takeFirst(); });
        QCOMPARE(ids.peek(), 7);
        QCOMPARE(ids.peek(), 7); // peeking takes nothing
        QCOMPARE(ids.next(), 7);
        QCOMPARE(ids.next(), 8);                  // two repeats of 7 drawn again
        QCOMPARE(ids.next(), MAX_MESSAGE_ID);     // 0 is never an id
        QCOMPARE(ids.next(), MAX_MESSAGE_ID - 1); // a repeat, then a value below the range
        QCOMPARE(ids.next(), 9);

        // The real source: a thousand ids, all different, none 0 or negative.
        MessageIdSource random;
        QSet<qint32> seen;
        for (int i = 0; i < 1000; ++i) {
            const qint32 id = random.next();
            QVERIFY(id > 0);
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 1000);
    }

    void payloadFit_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("fit");
        // The header around the text: "EN", the id, "ADMIN-PC" and three separators.
        const int header = int(formatMessageDatagram(u"EN"_qs, u"420195130"_qs, {}, u"ADMIN-PC"_qs).toUtf8().size());
        QTest::newRow("short") << u"Printer on floor 2 is out of paper"_qs << int(PayloadFit::Fits);
        QTest::newRow("exactly 2000 bytes") << QString(2000 - header, u'x') << int(PayloadFit::Fits);
        QTest::newRow("2001 bytes") << QString(2001 - header, u'x') << int(PayloadFit::Cut);
        QTest::newRow("exactly 2048 bytes") << QString(2048 - header, u'x') << int(PayloadFit::Cut);
        QTest::newRow("2049 bytes") << QString(2049 - header, u'x') << int(PayloadFit::NeverShown);
        QTest::newRow("1000 Cyrillic letters") << QString(1000, QChar(0x0416)) << int(PayloadFit::Cut);
        QTest::newRow("1000 CJK characters") << QString(1000, QChar(0x4E2D)) << int(PayloadFit::NeverShown);
    }
    void payloadFit() {
        QFETCH(QString, text);
        QFETCH(int, fit);
        const QByteArray datagram = formatMessageDatagram(u"EN"_qs, u"420195130"_qs, text, u"ADMIN-PC"_qs).toUtf8();
        QCOMPARE(int(plinket::payloadFit(datagram.size())), fit);
    }

    void statusWords_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("EN delivered") << u"EN"_qs << 1 << u"Delivered in 14:05:09"_qs;
        QTest::newRow("EN confirmed") << u"EN"_qs << 2 << u"Confirmed in 14:05:09"_qs;
        QTest::newRow("EN not delivered") << u"EN"_qs << 4 << u"Not delivered"_qs;
        QTest::newRow("RU delivered") << u"RU"_qs << 1 << u"Доставлено в 14:05:09"_qs;
        QTest::newRow("RU confirmed") << u"RU"_qs << 2 << u"Подтверждено в 14:05:09"_qs;
        QTest::newRow("RU not delivered") << u"RU"_qs << 4 << u"Не доставлено"_qs;
    }
    void statusWords() {
        QFETCH(QString, language);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QCOMPARE(plinket::statusWords(quint8(status), u"14:05:09"_qs, StatusWords::inLanguage(language)), expected);
    }

    void reportTimeHasTwoDigitFields() {
        QCOMPARE(reportTimeText(QTime(7, 5, 9)), u"07:05:09"_qs);
        QCOMPARE(reportTimeText(QTime(23, 59, 0)), u"23:59:00"_qs);
    }

    // Two checked clients, one confirmed, one silent: the lines of event 101, and the silent one
    // turns "Not delivered" with its group.
    void closeRoundWritesOneLinePerCheckedClient() {
        RecipientList list = recipientsFrom(
            {u"[+Shop]"_qs, u"ACC-1=10.0.0.1"_qs, u"STORE=10.0.0.4"_qs, u"IDLE=10.0.0.5"_qs, u"[-Shop]"_qs});
        check(list, u"ACC-1"_qs);
        check(list, u"STORE"_qs);
        const int acc = recordNamed(list, u"ACC-1"_qs);
        const int store = recordNamed(list, u"STORE"_qs);
        const int shop = recordNamed(list, u"Shop"_qs);
        list.recordReport(acc, STATUS_CONFIRMED, u"14:05:09"_qs);

        const RoundClosure closure = closeRound(list, StatusWords::inLanguage(u"EN"));
        QCOMPARE(closure.statusList, u"ACC-1\t= Confirmed in 14:05:09\r\nSTORE\t= Not delivered\r\n"_qs);
        QCOMPARE(list.at(store).deliveryStatus, STATUS_NOT_DELIVERED);
        QCOMPARE(list.at(shop).deliveryStatus, quint8(STATUS_CONFIRMED | STATUS_NOT_DELIVERED));
        QCOMPARE(list.at(0).deliveryStatus, quint8(6));
        // The unchecked client is neither listed nor marked.
        QCOMPARE(list.at(recordNamed(list, u"IDLE"_qs)).deliveryStatus, STATUS_WAITING);
        QVERIFY(closure.changed.contains(store));
        QVERIFY(closure.changed.contains(shop));
        QVERIFY(!closure.changed.contains(acc));
    }

    void closeRoundInRussian() {
        RecipientList list = recipientsFrom({u"[+Склад]"_qs, u"Кладовщик=10.0.0.7"_qs, u"[-Склад]"_qs});
        check(list, u"Кладовщик"_qs);
        list.recordReport(recordNamed(list, u"Кладовщик"_qs), STATUS_DELIVERED, u"09:00:01"_qs);
        QCOMPARE(closeRound(list, StatusWords::inLanguage(u"RU")).statusList,
                 u"Кладовщик\t= Доставлено в 09:00:01\r\n"_qs);
    }

    void closeRoundWithNothingChecked() {
        RecipientList list = office();
        const RoundClosure closure = closeRound(list, StatusWords::inLanguage(u"EN"));
        QVERIFY(closure.statusList.isEmpty());
        QVERIFY(closure.changed.isEmpty());
    }

    // Group images after a round: the OR of the children, subgroups included. Each row gives the
    // checked clients and the reports before the close, then the expected images.
    void groupImagesAfterClose_data() {
        QTest::addColumn<QStringList>("checked");
        QTest::addColumn<QStringList>("delivered");
        QTest::addColumn<QStringList>("confirmed");
        QTest::addColumn<int>("accounting");
        QTest::addColumn<int>("payroll");
        QTest::addColumn<int>("store");
        QTest::addColumn<int>("root");
        QTest::newRow("one delivered, one unchecked")
            << QStringList{u"ACC-1"_qs} << QStringList{u"ACC-1"_qs} << QStringList{} << 1 << 0 << 0 << 1;
        QTest::newRow("delivered and not delivered")
            << QStringList{u"ACC-1"_qs, u"ACC-2"_qs} << QStringList{u"ACC-1"_qs} << QStringList{} << 5 << 0 << 0 << 5;
        QTest::newRow("subgroup confirmed, store silent")
            << QStringList{u"PAY-1"_qs, u"STORE"_qs} << QStringList{} << QStringList{u"PAY-1"_qs} << 2 << 2 << 4 << 6;
        QTest::newRow("all three kinds") << QStringList{u"ACC-1"_qs, u"ACC-2"_qs, u"PAY-1"_qs, u"STORE"_qs}
                                         << QStringList{u"ACC-2"_qs} << QStringList{u"PAY-1"_qs, u"STORE"_qs} << 7 << 2
                                         << 2 << 7;
        QTest::newRow("nobody answered") << QStringList{u"ACC-1"_qs, u"PAY-1"_qs} << QStringList{} << QStringList{} << 4
                                         << 4 << 0 << 4;
    }
    void groupImagesAfterClose() {
        QFETCH(QStringList, checked);
        QFETCH(QStringList, delivered);
        QFETCH(QStringList, confirmed);
        RecipientList list = office();
        for (const QString& name : checked)
            check(list, name);
        for (const QString& name : delivered)
            list.recordReport(recordNamed(list, name), STATUS_DELIVERED, u"10:00:00"_qs);
        for (const QString& name : confirmed)
            list.recordReport(recordNamed(list, name), STATUS_CONFIRMED, u"10:00:00"_qs);
        closeRound(list, StatusWords::inLanguage(u"EN"));
        QTEST(int(list.at(recordNamed(list, u"Accounting"_qs)).deliveryStatus), "accounting");
        QTEST(int(list.at(recordNamed(list, u"Payroll"_qs)).deliveryStatus), "payroll");
        QTEST(int(list.at(recordNamed(list, u"Store"_qs)).deliveryStatus), "store");
        QTEST(int(list.at(0).deliveryStatus), "root");
    }
};

QTEST_APPLESS_MAIN(TestDeliveryRound)
#include "tst_delivery_round.moc"
