#include "eventlog.h"
#include "journal_capture.h"

#include <QTest>

using namespace plinket;
using plinket::test::JournalCapture;

class TestEventLogJournal final : public QObject {
    Q_OBJECT

private slots:
    void silentWithoutJournal() {
        // Outside the private namespace there may be no journal at all: writing must just return.
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_STARTED, u"1.40"_qs);
        QVERIFY(registerEventSource(EventSource::Client));
    }

    void writesExactFields() {
        if (!JournalCapture::available())
            QSKIP(qPrintable(JournalCapture::unavailableReason()));
        JournalCapture journal;
        QVERIFY(journal.start());
        const QString text = u"Обед\r\nв 13:00"_qs;
        reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_RECEIVED, u"ADMIN-PC"_qs, u"420195131"_qs,
                    text);
        reportEvent(EventSource::Server, EVENT_TYPE_INFORMATION, EVENT_SERVER_DELIVERY_CLOSED, u"-5"_qs, u"x"_qs, {});
        const auto records = journal.waitForRecords(2);
        QCOMPARE(records.size(), 2);

        const auto& r = records[0];
        QCOMPARE(r.value("SYSLOG_IDENTIFIER"), QByteArray("Plinket Client"));
        QCOMPARE(r.value("PRIORITY"), QByteArray("6"));
        QCOMPARE(r.value("PLINKET_EVENT_ID"), QByteArray("101"));
        QCOMPARE(r.value("MESSAGE_ID"), QByteArray("b7e3f4a1c9d24e5f8a6b0c1d2e3f4a65"));
        QCOMPARE(test::insertionStrings(r), (QByteArrayList{"ADMIN-PC", "420195131", text.toUtf8()}));
        QCOMPARE(QString::fromUtf8(r.value("MESSAGE")),
                 u"Sender: ADMIN-PC\nMessage ID: 420195131\nStatus: Received\nText:\n"_qs + text);
        QCOMPARE(r.size(), 11);
        QCOMPARE(r.value("PLINKET_SHOWN_THREE"), text.toUtf8()); // a text keeps its line breaks

        const auto& s = records[1];
        QCOMPARE(s.value("SYSLOG_IDENTIFIER"), QByteArray("Plinket Server"));
        QVERIFY(s.contains("PLINKET_STRING_THREE")); // present even when empty
        QCOMPARE(test::insertionStrings(s), (QByteArrayList{"-5", "x", ""}));
        QCOMPARE(QString::fromUtf8(s.value("MESSAGE")), u"Message ID: -5\nStatus: Sent\nText:\nx\n\n"_qs);
    }
};

QTEST_GUILESS_MAIN(TestEventLogJournal)
#include "tst_eventlog_journal.moc"
