#include "event_texts.h"
#include "test_files.h"

#include <QRegularExpression>
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
        QTest::newRow("client dropped") << int(EventSource::Client) << 106
                                        << QStringList{u"10.0.0.9"_qs, u"bad signature"_qs, u"42"_qs}
                                        << u"Message from 10.0.0.9 was dropped: bad signature.\nMessage ID: 42"_qs;
        QTest::newRow("client held")
            << int(EventSource::Client) << 107 << QStringList{u"ADMIN-PC"_qs, u"42"_qs, u"no user session"_qs}
            << u"Message from ADMIN-PC is waiting to be seen: no user session. It is reported as received once it "
               u"can be seen.\nMessage ID: 42"_qs;
        QTest::newRow("client expired") << int(EventSource::Client) << 112
                                        << QStringList{u"ADMIN-PC"_qs, u"42"_qs, u"Lunch"_qs}
                                        << u"Sender: ADMIN-PC\nMessage ID: 42\nStatus: Expired unseen\nText:\nLunch"_qs;
        QTest::newRow("server closed")
            << int(EventSource::Server) << 101
            << QStringList{u"7"_qs, u"Lunch"_qs, u"ACC-1\t= Confirmed in 14:05:09\r\nSTORE\t= Not delivered\r\n"_qs}
            << u"Message ID: 7\nStatus: Sent\nText:\nLunch\n\nACC-1\t= Confirmed in 14:05:09\r\nSTORE\t= Not delivered\r\n"_qs;
        // What the journal's MESSAGE shows of strings from the network: no string starts a line of its own or
        // turns the text around, except that a text that begins its own line keeps its line breaks.
        QTest::newRow("forged line in the ID")
            << int(EventSource::Client) << 101 << QStringList{u"A"_qs, u"42\nStatus: Confirmed"_qs, u"x"_qs}
            << u"Sender: A\nMessage ID: 42\\u000AStatus: Confirmed\nStatus: Received\nText:\nx"_qs;
        QTest::newRow("CR and TAB in the sender")
            << int(EventSource::Client) << 102 << QStringList{u"A\rB\tC"_qs, u"1"_qs, u"x"_qs}
            << u"Sender: A\\u000DB\\u0009C\nMessage ID: 1\nStatus: Confirmed\nText:\nx"_qs;
        QTest::newRow("direction override and separator in the text")
            << int(EventSource::Client) << 101
            << QStringList{u"A"_qs, u"1"_qs, u"pay \u202Eetad\u2066x\u2069\u2028y\u200F\x1B[2J"_qs}
            << u"Sender: A\nMessage ID: 1\nStatus: Received\nText:\npay \\u202Eetad\\u2066x\\u2069\\u2028y\\u200F\\u001B[2J"_qs;
        QTest::newRow("forged drop reason in the ID")
            << int(EventSource::Client) << 106 << QStringList{u"10.0.0.9"_qs, u"unsigned"_qs, u"7\u0085x"_qs}
            << u"Message from 10.0.0.9 was dropped: unsigned.\nMessage ID: 7\\u0085x"_qs;
        QTest::newRow("drops summary")
            << int(EventSource::Client) << 109 << QStringList{u"1234"_qs, u"255"_qs, {}}
            << u"1234 events about dropped messages were left out of the journal in the "
               u"last minute, to keep a flood from filling it. They came from 255 senders."_qs;
        QTest::newRow("key changed")
            << int(EventSource::Send) << 102
            << QStringList{u"PC-07"_qs, u"10.0.0.7"_qs, u"known key 1, this report's key 2"_qs}
            << u"The report key of workstation PC-07 (10.0.0.7) is not the one known for it: known key 1, this "
               u"report's key 2. Its reports are shown as not verified. If the workstation was set up anew, remove "
               u"its line from known-workstations to accept the new key."_qs;
    }
    void formatting() {
        QFETCH(int, source);
        QFETCH(int, id);
        QFETCH(QStringList, strings);
        QFETCH(QString, expected);
        const EventText* t = findEventText(EventSource(source), id);
        QVERIFY(t);
        QCOMPARE(journalMessage(QString::fromUtf16(t->english), strings[0], strings[1], strings[2]), expected);
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
        QCOMPARE(seen.size(), 17);
    }

    void windowsMessageFile() {
        const QString mc = plinket::windowsMessageFile(EventSource::Client);
        QVERIFY(mc.contains(u"MessageId=103\r\nLanguage=English\r\nSystem shutdown signal was received. "
                            "Terminating.\r\n.\r\nLanguage=Russian\r\n"_qs));
        QCOMPARE(mc.count(u"MessageId="_qs), 13);
        const QString server = plinket::windowsMessageFile(EventSource::Server);
        QCOMPARE(server.count(u"MessageId="_qs), 2);
        QVERIFY(server.contains(u"ID сообщения: %1%rСтатус: Отправлено%rТекст:%r%2%r%r%3\r\n.\r\n"_qs));
        // plinket_send's own source carries the console's event 101 under its own journal message id.
        QCOMPARE(plinket::windowsMessageFile(EventSource::Send), server);
        QCOMPARE(eventSourceName(EventSource::Send), u"Plinket Send"_qs);
    }

    void catalogReferencesAreFillable() {
        // journalctl -x fills in @NAME@ only where NAME is capital letters and "_"; anything else shows raw.
        int references = 0;
        const QString catalogs = journalCatalog(EventSource::Client) + journalCatalog(EventSource::Server) +
                                 journalCatalog(EventSource::Send);
        for (const QRegularExpressionMatch& m : QRegularExpression(u"@([^@\\s]*)@"_qs).globalMatch(catalogs)) {
            QVERIFY2(QRegularExpression(u"^[A-Z_]+$"_qs).match(m.captured(1)).hasMatch(), qPrintable(m.captured(0)));
            ++references;
        }
        QCOMPARE(references, 76); // 38 insertion strings across the sixteen texts, in both languages
    }

    void catalogFilesMatchTable_data() {
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("file");
        QTest::newRow("client") << int(EventSource::Client) << u"plinket-client.catalog"_qs;
        QTest::newRow("server") << int(EventSource::Server) << u"plinket-server.catalog"_qs;
        QTest::newRow("send") << int(EventSource::Send) << u"plinket-send.catalog"_qs;
    }
    void catalogFilesMatchTable() {
        // The catalogs in resources/ are installed with the programs; they must say what the table says.
        QFETCH(int, source);
        QFETCH(QString, file);
        QCOMPARE(QString::fromUtf8(test::readFileBytes(QStringLiteral(PLINKET_RESOURCES_DIR "/") + file)),
                 journalCatalog(EventSource(source)));
    }
};

QTEST_APPLESS_MAIN(TestEventTexts)
#include "tst_event_texts.moc"
