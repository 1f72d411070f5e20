#include "agent_sessions.h"
#include "client_test_support.h"
#include "popup_window.h"
#include "receiver.h"
#include "session_link.h"
#include "widget_popup.h"

#include <QNetworkDatagram>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

#include <memory>

using namespace plinket;
using plinket::test::FakeConsole;
using plinket::test::Report;

namespace {

struct WrittenEvent {
    int id;
    QStringList strings;
    bool reportAlreadySent; // whether a report was waiting at the console when the event was written
};

// One client in this process: the real pop-up, the receive loop on UDP 47127, events recorded. Through
// the agent, the receive loop hands its messages to the host agent's sessions, and the pop-up is that
// of one session's client in session mode, connected to it over the local channel.
struct Client {
    Client(FakeConsole& console, bool throughAgent) : popup(popupFont(), false) {
        state.hostName = u"PC-07"_qs;
        state.fqdn = u"PC-07.CORP.LAN"_qs;
        auto* socket = new QUdpSocket;
        bound = bindMessageSocket(*socket);
        Popup* receiverPopup = &popup;
        if (throughAgent) {
            agent = std::make_unique<AgentSessions>(
                [](qintptr) {
                    return PeerVerdict{PeerSession{u"1"_qs, u"tester"_qs}, {}};
                },
                600000);
            bound = bound && agent->listen(folder.filePath(u"agent.sock"_qs));
            link = std::make_unique<SessionLink>(popup);
            bound = bound && link->start(folder.filePath(u"agent.sock"_qs)) == AgentAnswer::Welcome;
            receiverPopup = agent.get();
        }
        receiver = std::make_unique<Receiver>(state, *receiverPopup, socket);
        receiver->setEventWriter([this, &console](int id, const QString& a, const QString& b, const QString& c) {
            events.append({id, {a, b, c}, console.hasPendingReport()});
        });
        receiver->start();
    }

    QString shownText() const { return popup.window() ? popup.window()->textControl()->toPlainText() : QString(); }
    void pressOk() const { QTest::mouseClick(popup.window()->okButton(), Qt::LeftButton); }

    ClientState state;
    WidgetPopup popup;
    QTemporaryDir folder;
    std::unique_ptr<AgentSessions> agent;
    std::unique_ptr<SessionLink> link;
    std::unique_ptr<Receiver> receiver;
    QList<WrittenEvent> events;
    bool bound = false;
};

} // namespace

class TestReceiver final : public QObject {
    Q_OBJECT

    FakeConsole m_console;
    std::unique_ptr<Client> m_client;

    // The next report as "ID STATUS", or "none".
    QString next(int timeoutMs = 5000) {
        const auto r = m_console.nextReport(timeoutMs);
        return r ? r->id + u' ' + r->status : u"none"_qs;
    }

    // Shows and confirms one message.
    bool confirmMessage(const QString& id) {
        FakeConsole::sendMessage(u"EN"_qs, id, u"text "_qs + id, u"ADMIN-PC"_qs);
        if (next() != id + u" 1")
            return false;
        m_client->pressOk();
        return next() == id + u" 2";
    }

private slots:
    void initTestCase() { QVERIFY(m_console.listen()); }

    // Every case runs with the client alone and through the host agent.
    void initTestCase_data() {
        QTest::addColumn<bool>("throughAgent");
        QTest::newRow("alone") << false;
        QTest::newRow("agent") << true;
    }

    void init() {
        while (m_console.nextReport(0)) {
        }
        QFETCH_GLOBAL(bool, throughAgent);
        m_client = std::make_unique<Client>(m_console, throughAgent);
        QVERIFY(m_client->bound);
    }
    void cleanup() { m_client.reset(); }

    void messageShownThenConfirmed() {
        FakeConsole::sendMessage(u"EN"_qs, u"420195130"_qs, u"Printer on floor 2\r\nis out of paper"_qs,
                                 u"ADMIN-PC"_qs);
        const auto received = m_console.nextReport();
        QVERIFY(received);
        QCOMPARE(received->id, u"420195130"_qs);
        QCOMPARE(received->status, u"1"_qs);
        QCOMPARE(received->host, u"PC-07"_qs);
        QCOMPARE(received->fqdn, u"PC-07.CORP.LAN"_qs);

        PopupWindow* window = m_client->popup.window();
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->windowTitle(), u"Message"_qs);
        QCOMPARE(m_client->shownText(), u"Printer on floor 2\nis out of paper"_qs);
        QVERIFY(!m_console.reportArrivesWithin(200)); // nothing more until OK

        m_client->pressOk();
        const auto confirmed = m_console.nextReport();
        QVERIFY(confirmed);
        QCOMPARE(confirmed->id, u"420195130"_qs);
        QCOMPARE(confirmed->status, u"2"_qs);
        QCOMPARE(confirmed->host, u"PC-07"_qs);
        QCOMPARE(confirmed->fqdn, u"PC-07.CORP.LAN"_qs);
        QVERIFY(!m_client->popup.window());
        QCOMPARE(m_client->state.lastConfirmedId, u"420195130"_qs);
    }

    void eventsBeforeReports() {
        FakeConsole::sendMessage(u"RU"_qs, u"420195131"_qs, u"Обед"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"420195131 1"_qs);
        QCOMPARE(m_client->popup.window()->windowTitle(), u"Сообщение"_qs);
        m_client->pressOk();
        QCOMPARE(next(), u"420195131 2"_qs);

        const auto& events = m_client->events;
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].id, 101);
        QCOMPARE(events[0].strings, (QStringList{u"ADMIN-PC"_qs, u"420195131"_qs, u"Обед"_qs}));
        QVERIFY(!events[0].reportAlreadySent); // written before "1" left
        QCOMPARE(events[1].id, 102);
        QCOMPARE(events[1].strings, (QStringList{u"ADMIN-PC"_qs, u"420195131"_qs, u"Обед"_qs}));
        QVERIFY(!events[1].reportAlreadySent); // written before "2" left
    }

    void repeatOfConfirmedIdAnsweredAtOnce() {
        QVERIFY(confirmMessage(u"7"_qs));
        m_client->events.clear();
        FakeConsole::sendMessage(u"EN"_qs, u"7"_qs, u"again"_qs, u"ADMIN-PC"_qs);
        const auto report = m_console.nextReport();
        QVERIFY(report);
        QCOMPARE(report->id + u' ' + report->status, u"7 2"_qs);
        QCOMPARE(report->host, u"PC-07"_qs);
        QVERIFY(!m_client->popup.window());
        QVERIFY(m_client->events.isEmpty()); // no event for a repeat
    }

    void messageWaitsWhilePopupOpen() {
        FakeConsole::sendMessage(u"EN"_qs, u"1"_qs, u"first"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"1 1"_qs);
        FakeConsole::sendMessage(u"EN"_qs, u"2"_qs, u"second"_qs, u"ADMIN-PC"_qs);
        QVERIFY(!m_console.reportArrivesWithin(300));
        QCOMPARE(m_client->shownText(), u"first"_qs);

        m_client->pressOk();
        QCOMPARE(next(), u"1 2"_qs);
        QCOMPARE(next(), u"2 1"_qs); // its reports go out only now
        QCOMPARE(m_client->shownText(), u"second"_qs);
        m_client->pressOk();
        QCOMPARE(next(), u"2 2"_qs);
    }

    void sameIdWhileOpenIsARepeatAfterOk() {
        FakeConsole::sendMessage(u"EN"_qs, u"5"_qs, u"once"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"5 1"_qs);
        FakeConsole::sendMessage(u"EN"_qs, u"5"_qs, u"once"_qs, u"ADMIN-PC"_qs);
        QVERIFY(!m_console.reportArrivesWithin(200));
        m_client->pressOk();
        QCOMPARE(next(), u"5 2"_qs);
        QCOMPARE(next(), u"5 2"_qs);
        QVERIFY(!m_client->popup.window());
    }

    void onlyTheLastConfirmedIdIsRemembered() {
        QVERIFY(confirmMessage(u"A"_qs));
        QVERIFY(confirmMessage(u"B"_qs));
        FakeConsole::sendMessage(u"EN"_qs, u"A"_qs, u"again"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"A 1"_qs);
        QVERIFY(m_client->popup.window());
    }

    void emptyIdBeforeAndAfterFirstConfirmation() {
        FakeConsole::sendRaw("no separator at all");
        QCOMPARE(next(), u" 2"_qs);
        QVERIFY(!m_client->popup.window());
        QVERIFY(confirmMessage(u"9"_qs));
        FakeConsole::sendRaw("no separator at all");
        QCOMPARE(next(), u" 1"_qs);
        // "no separator at all" is no language: the words of the last pop-up stay.
        QCOMPARE(m_client->popup.window()->windowTitle(), u"Message"_qs);
    }

    void datagramSizes_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("answered");
        QTest::newRow("2048 bytes") << 2048 << true;
        QTest::newRow("2049 bytes") << 2049 << false;
        QTest::newRow("3000 bytes") << 3000 << false;
        QTest::newRow("65000 bytes") << 65000 << false;
    }
    void datagramSizes() {
        QFETCH(int, size);
        QFETCH(bool, answered);
        const QByteArray head = "EN\x04"
                                "77\x04";
        FakeConsole::sendRaw(head + QByteArray(size - head.size(), 'x'));
        if (answered) {
            QCOMPARE(next(), u"77 1"_qs);
            m_client->pressOk();
            QCOMPARE(next(), u"77 2"_qs);
        } else {
            QVERIFY(!m_console.reportArrivesWithin(300));
            QVERIFY(!m_client->popup.window());
        }
        // The loop goes on with the next datagram.
        FakeConsole::sendMessage(u"EN"_qs, u"78"_qs, u"after"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"78 1"_qs);
    }

    void onlyFirst2000BytesUsed() {
        // 2040 bytes: the text is cut at byte 2000, the sender is lost, a letter cut in two is not decoded.
        const QByteArray head = "EN\x04"
                                "88\x04";
        QByteArray text(2000 - head.size() - 1, 'a');
        text += "\xD0\x96"; // "Ж" across byte 2000
        const QByteArray datagram = head + text + "\x04" + QByteArray(2040 - head.size() - text.size() - 1, 'H');
        QCOMPARE(datagram.size(), 2040);
        FakeConsole::sendRaw(datagram);
        QCOMPARE(next(), u"88 1"_qs);
        const QString shown = m_client->shownText();
        QCOMPARE(shown.size(), 2000 - head.size());
        QVERIFY(shown.startsWith(QString(1993, u'a')));
        QVERIFY(!shown.contains(u'Ж'));
        QCOMPARE(m_client->events.value(0).strings.value(2), shown);
        QCOMPARE(m_client->events.value(0).strings.value(0), QString()); // SERVERHOST beyond byte 2000
    }

    void reportGoesToTheSourceAddress() {
        // Whatever address of the loopback net and whatever port the message came from.
        QUdpSocket otherConsole;
        QVERIFY(otherConsole.bind(QHostAddress(u"127.0.0.2"_qs), REPORT_PORT));
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(u"127.0.0.2"_qs), 0));
        sender.writeDatagram(formatMessageDatagram(u"EN"_qs, u"31"_qs, u"hi"_qs, u"X"_qs).toUtf8(),
                             QHostAddress::LocalHost, MESSAGE_PORT);
        QTRY_VERIFY(otherConsole.hasPendingDatagrams());
        const QByteArray report = otherConsole.receiveDatagram().data();
        QCOMPARE(report, QByteArray("31\x04"
                                    "1\x04"
                                    "PC-07\x04"
                                    "PC-07.CORP.LAN"));
        QVERIFY(!m_console.hasPendingReport());
    }

    void queuedBurstHandledInOrderAfterOk() {
        QVERIFY(confirmMessage(u"D"_qs));
        FakeConsole::sendMessage(u"EN"_qs, u"X"_qs, u"hold"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"X 1"_qs);
        constexpr int COUNT = 300;
        for (int i = 0; i < COUNT; ++i)
            FakeConsole::sendMessage(u"EN"_qs, u"X"_qs, QString::number(i), u"ADMIN-PC"_qs);
        QVERIFY(!m_console.reportArrivesWithin(200));
        m_client->pressOk();
        QCOMPARE(next(), u"X 2"_qs);
        // Every queued repeat is answered; none was dropped while the pop-up was open.
        for (int i = 0; i < COUNT; ++i)
            QCOMPARE(next(), u"X 2"_qs);
        QVERIFY(!m_client->popup.window());
    }
};

PLINKET_PRIVATE_NETWORK_TEST_MAIN(TestReceiver)
#include "tst_receiver.moc"
