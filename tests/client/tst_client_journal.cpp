// The client's events read back from a private journal: 100 at start-up, 101 when a pop-up is shown,
// 102 when it is confirmed, 103 when the session ends. Runs as root inside its own mount namespace.
#include "client_test_support.h"
#include "eventlog.h"
#include "journal_capture.h"
#include "popup_window.h"
#include "receiver.h"
#include "widget_popup.h"

#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>

using namespace plinket;
using plinket::test::FakeConsole;
using plinket::test::JournalCapture;
using plinket::test::JournalRecord;

namespace {

// The client events among the records, oldest first (the toolkit may log to the journal too).
QList<JournalRecord> clientEvents(const QList<JournalRecord>& records) {
    QList<JournalRecord> events;
    for (const JournalRecord& r : records)
        if (r.value("SYSLOG_IDENTIFIER") == "Plinket Client" && r.contains("PLINKET_EVENT_ID"))
            events.append(r);
    return events;
}

// Waits until `count` client events have arrived.
QList<JournalRecord> waitForClientEvents(JournalCapture& journal, int count) {
    QList<JournalRecord> events;
    for (int total = count; total < count + 50; ++total) {
        events = clientEvents(journal.waitForRecords(total, 5000));
        if (events.size() >= count || journal.waitForRecords(total).size() < total)
            break;
    }
    return events;
}

QByteArrayList eventFields(const JournalRecord& r) {
    return QByteArrayList{r.value("PLINKET_EVENT_ID")} + test::insertionStrings(r);
}

} // namespace

class TestClientJournal final : public QObject {
    Q_OBJECT

    FakeConsole m_console;

private slots:
    void initTestCase() {
        if (!JournalCapture::available())
            QSKIP(qPrintable(JournalCapture::unavailableReason()));
        QVERIFY(m_console.listen());
    }

    void startUpShowAndSessionEnd() {
        JournalCapture journal;
        QVERIFY(journal.start());
        QTemporaryDir runtime;
        QProcess client;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_qs, runtime.path());
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_qs);
        client.setProcessEnvironment(env);
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QStringLiteral(PLINKET_CLIENT_BINARY), {});
        QVERIFY(client.waitForStarted());
        QVERIFY(m_console.waitUntilClientListens());

        QList<JournalRecord> events = waitForClientEvents(journal, 2);
        QCOMPARE(events.size(), 2);
        QCOMPARE(eventFields(events[0]), (QByteArrayList{"100", "1.40", "", ""}));
        QCOMPARE(events[0].value("MESSAGE"), QByteArray("Version 1.40 is launched."));
        QCOMPARE(events[0].value("PRIORITY"), QByteArray("6"));
        // Nothing on this screen tells whether a person can see the pop-up, and the client says so.
        QCOMPARE(eventFields(events[1]).value(0), QByteArray("108"));

        const QString text = u"Обед\r\nв 13:00"_qs;
        FakeConsole::sendMessage(u"RU"_qs, u"420195131"_qs, text, u"ADMIN-PC"_qs);
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
        events = waitForClientEvents(journal, 3);
        QCOMPARE(events.size(), 3);
        QCOMPARE(eventFields(events[2]), (QByteArrayList{"101", "ADMIN-PC", "420195131", text.toUtf8()}));

        client.terminate(); // SIGTERM, as at the end of the session, with the pop-up open
        QVERIFY(client.waitForFinished(5000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
        events = waitForClientEvents(journal, 4);
        QCOMPARE(events.size(), 4);
        QCOMPARE(eventFields(events[3]), (QByteArrayList{"103", "", "", ""}));
        QCOMPARE(events[3].value("MESSAGE"), QByteArray("System shutdown signal was received. Terminating."));
        QVERIFY(!m_console.reportArrivesWithin(300)); // no "2" for the pop-up that was open
    }

    void confirmation() {
        JournalCapture journal;
        QVERIFY(journal.start());
        ClientState state;
        state.hostName = u"PC-07"_qs;
        state.fqdn = u"PC-07.CORP.LAN"_qs;
        WidgetPopup popup(popupFont(), false, DeliberateAct{0, 0});
        std::unique_ptr<MessageSocket> socket = MessageSocket::open();
        QVERIFY(socket);
        Receiver receiver(state, popup, std::move(socket));
        receiver.start();

        FakeConsole::sendMessage(u"EN"_qs, u"420195130"_qs, u"Printer on floor 2 is out of paper"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
        QTest::mouseClick(popup.window()->okButton(), Qt::LeftButton);
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"2"_qs);

        const QList<JournalRecord> events = waitForClientEvents(journal, 2);
        QCOMPARE(events.size(), 2);
        QCOMPARE(eventFields(events[0]),
                 (QByteArrayList{"101", "ADMIN-PC", "420195130", "Printer on floor 2 is out of paper"}));
        QCOMPARE(eventFields(events[1]),
                 (QByteArrayList{"102", "ADMIN-PC", "420195130", "Printer on floor 2 is out of paper"}));
        QCOMPARE(
            QString::fromUtf8(events[1].value("MESSAGE")),
            u"Sender: ADMIN-PC\nMessage ID: 420195130\nStatus: Confirmed\nText:\nPrinter on floor 2 is out of paper"_qs);

        // A forged line in the ID and the sender, a direction override in the text: the journal's MESSAGE
        // shows them escaped, the structured fields keep them as they came.
        const QString id = u"7\nStatus: Confirmed"_qs;
        FakeConsole::sendMessage(u"EN"_qs, id, u"\u202Eexe.txt"_qs, u"ADMIN\rPC"_qs);
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
        const QList<JournalRecord> forged = waitForClientEvents(journal, 3);
        QCOMPARE(forged.size(), 3);
        QCOMPARE(eventFields(forged[2]),
                 (QByteArrayList{"101", "ADMIN\rPC", id.toUtf8(), u"\u202Eexe.txt"_qs.toUtf8()}));
        QCOMPARE(QString::fromUtf8(forged[2].value("MESSAGE")),
                 u"Sender: ADMIN\\u000DPC\nMessage ID: 7\\u000AStatus: Confirmed\nStatus: Received\nText:\n"
                 u"\\u202Eexe.txt"_qs);
    }
};

PLINKET_PRIVATE_NETWORK_TEST_MAIN(TestClientJournal)
#include "tst_client_journal.moc"
