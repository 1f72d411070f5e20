#include "event_texts.h"
#include "test_files.h"

#include <QSet>
#include <QTest>

using namespace plinket;

class TestEventTexts final : public QObject {
    Q_OBJECT

private slots:
    void formatting_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<int>("id");
        QTest::addColumn<QStringList>("strings");
        QTest::addColumn<QString>("expected");
        QTest::newRow("client start") << int(EventSource::Client) << 100 << QStringList{u"1.40"_qs, {}, {}}
                                      << u"Version 1.40 is launched."_qs;
        QTest::newRow("client received")
            << int(EventSource::Client) << 101 << QStringList{u"ADMIN-PC"_qs, u"42"_qs, u"Hi\r\nthere"_qs}
            << u"Sender: ADMIN-PC\nMessage ID: 42\nStatus: Received\nText:\nHi\r\nthere"_qs;
        QTest::newRow("insertion not substituted again")
            << int(EventSource::Client) << 102 << QStringList{u"%2"_qs, u"%r"_qs, u"%1"_qs}
            << u"Sender: %2\nMessage ID: %r\nStatus: Confirmed\nText:\n%1"_qs;
        QTest::newRow("server closed")
            << int(EventSource::Server) << 101
            << QStringList{u"7"_qs, u"Lunch"_qs, u"ACC-1\t= Confirmed in 14:05:09\r\nSTORE\t= Not delivered\r\n"_qs}
            << u"Message ID: 7\nStatus: Sent\nText:\nLunch\n\nACC-1\t= Confirmed in 14:05:09\r\nSTORE\t= Not delivered\r\n"_qs;
    }
    void formatting() {
        QFETCH(int, source);
        QFETCH(int, id);
        QFETCH(QStringList, strings);
        QFETCH(QString, expected);
        const EventText* t = findEventText(EventSource(source), id);
        QVERIFY(t);
        QCOMPARE(formatEventText(QString::fromUtf16(t->english), strings[0], strings[1], strings[2]), expected);
    }

    void messageIdsAreDistinct128BitHex() {
        QSet<QByteArray> seen;
        for (const EventText& t : eventTexts()) {
            const QByteArray id(t.messageId);
            QCOMPARE(id.size(), 32);
            QVERIFY(QByteArray::fromHex(id).toHex() == id);
            QVERIFY(!seen.contains(id));
            seen.insert(id);
        }
        QCOMPARE(seen.size(), 7);
    }

    void windowsMessageFile() {
        const QString mc = plinket::windowsMessageFile(EventSource::Client);
        QVERIFY(mc.contains(u"MessageId=103\r\nLanguage=English\r\nSystem shutdown signal was received. "
                            "Terminating.\r\n.\r\nLanguage=Russian\r\n"_qs));
        QCOMPARE(mc.count(u"MessageId="_qs), 6);
        const QString server = plinket::windowsMessageFile(EventSource::Server);
        QCOMPARE(server.count(u"MessageId="_qs), 1);
        QVERIFY(server.contains(u"ID сообщения: %1%rСтатус: Отправлено%rТекст:%r%2%r%r%3\r\n.\r\n"_qs));
    }

    void catalogFileMatchesTable() {
        // resources/plinket.catalog is installed with the programs; it must say what the table says.
        QCOMPARE(QString::fromUtf8(test::readFileBytes(QStringLiteral(PLINKET_CATALOG_FILE))), journalCatalog());
    }
};

QTEST_APPLESS_MAIN(TestEventTexts)
#include "tst_event_texts.moc"
