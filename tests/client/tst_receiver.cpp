#include "agent_sessions.h"
#include "client_test_support.h"
#include "fair_queue.h"
#include "popup_window.h"
#include "probe.h"
#include "receiver.h"
#include "session_link.h"
#include "udp_send.h"
#include "widget_popup.h"

#include <QDateTime>
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
    // OK counts at once: the timing of a person's act is the pop-up's own test.
    Client(FakeConsole& console, bool throughAgent) : popup(popupFont(), false, DeliberateAct{0, 0}) {
        state.hostName = u"PC-07"_qs;
        state.fqdn = u"PC-07.CORP.LAN"_qs;
        std::unique_ptr<MessageSocket> socket = MessageSocket::open();
        bound = socket != nullptr;
        if (!bound)
            return;
        Popup* receiverPopup = &popup;
        if (throughAgent) {
            agent = std::make_unique<AgentSessions>(
                [](qintptr) {
                    return PeerVerdict{PeerSession{u"1"_qs, u"tester"_qs}, {}};
                },
                600000);
            bound = agent->listen(folder.filePath(u"agent.sock"_qs));
            link = std::make_unique<SessionLink>(popup);
            bound = bound && link->start(folder.filePath(u"agent.sock"_qs)) == AgentAnswer::Welcome;
            receiverPopup = agent.get();
        }
        receiver = std::make_unique<Receiver>(state, *receiverPopup, std::move(socket));
        if (throughAgent) // as the agent's main sets it up
            receiver->setProbeKind(PROBE_KIND_AGENT.toString(), [this] { return agent->sessionCount(); });
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

const SigningKey& consoleKey() {
    static const SigningKey key = *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x33'));
    return key;
}

// A workstation that trusts consoleKey() and requires signatures.
std::unique_ptr<MessageGate> signaturesRequired(qint64 maxMessageAgeSeconds = DEFAULT_MAX_MESSAGE_AGE_SECONDS) {
    ClientPolicy policy;
    policy.trustedKeys = {consoleKey().publicKey()};
    policy.requireSignature = true;
    policy.maxMessageAgeSeconds = maxMessageAgeSeconds;
    return std::make_unique<MessageGate>(policy);
}

QByteArray signedMessage(const QString& id, qint64 utcSeconds = QDateTime::currentSecsSinceEpoch()) {
    return signMessageDatagram(formatMessageDatagram(u"EN"_qs, id, u"text "_qs + id, u"ADMIN-PC"_qs), consoleKey(),
                               utcSeconds)
        .toUtf8();
}

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
        QCOMPARE(m_client->state.lastConfirmed.value_or(ConfirmedMessage{}).id, u"420195130"_qs);
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
        FakeConsole::sendMessage(u"EN"_qs, u"7"_qs, u"text 7"_qs, u"ADMIN-PC"_qs);
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
        FakeConsole::sendMessage(u"EN"_qs, u"A"_qs, u"text A"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"A 1"_qs);
        QVERIFY(m_client->popup.window());
    }

    // Only a copy of the message confirmed last is answered "2" unseen. `confirmFirst`: the id confirmed
    // before (from 127.0.0.1, text "text <id>"), none when null. Reports to 127.0.0.2 reach `otherConsole`.
    void repeatRule_data() {
        QTest::addColumn<QString>("confirmFirst");
        QTest::addColumn<QString>("sender");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("status");
        const QString local = u"127.0.0.1"_qs, other = u"127.0.0.2"_qs;
        QTest::newRow("same id, sender and text") << u"7"_qs << local << u"7"_qs << u"text 7"_qs << u"2"_qs;
        QTest::newRow("same id, other sender") << u"7"_qs << other << u"7"_qs << u"text 7"_qs << u"1"_qs;
        QTest::newRow("same id, other text") << u"7"_qs << local << u"7"_qs << u"text 8"_qs << u"1"_qs;
        QTest::newRow("empty id, fresh client") << QString() << local << QString() << u"text "_qs << u"1"_qs;
        QTest::newRow("empty id after the same message") << u""_qs << local << QString() << u"text "_qs << u"1"_qs;
    }
    void repeatRule() {
        QFETCH(QString, confirmFirst);
        QFETCH(QString, sender);
        QFETCH(QString, id);
        QFETCH(QString, text);
        QFETCH(QString, status);
        if (!confirmFirst.isNull()) {
            FakeConsole::sendMessage(u"EN"_qs, confirmFirst, u"text "_qs + confirmFirst, u"ADMIN-PC"_qs);
            QCOMPARE(next(), confirmFirst + u" 1"_qs);
            m_client->pressOk();
            QCOMPARE(next(), confirmFirst + u" 2"_qs);
        }
        QUdpSocket otherConsole;
        QVERIFY(otherConsole.bind(QHostAddress(u"127.0.0.2"_qs), REPORT_PORT));
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress(sender), 0));
        socket.writeDatagram(formatMessageDatagram(u"EN"_qs, id, text, u"ADMIN-PC"_qs).toUtf8(),
                             QHostAddress::LocalHost, MESSAGE_PORT);
        QUdpSocket& console = sender == u"127.0.0.1" ? m_console.socket() : otherConsole;
        QTRY_VERIFY(console.hasPendingDatagrams());
        const Fields report = splitFields(QString::fromUtf8(console.receiveDatagram().data()));
        QCOMPARE(report[0] + u' ' + report[1], id + u' ' + status);
        QCOMPARE(m_client->shownText(), status == u"1" ? text : QString());
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

    // A probe request is answered to the report port and never reaches the pop-up or the journal; both
    // datagrams are dropped whole by receivers that read as older clients and consoles do.
    void probeAnsweredNeverShown() {
        QFETCH_GLOBAL(bool, throughAgent);
        QUdpSocket older;
        QVERIFY(older.bind(QHostAddress::LocalHost, 0));
        sendDatagramFromFreshSocket(formatProbeRequest(5), QHostAddress::LocalHost, older.localPort());
        QTRY_VERIFY(older.hasPendingDatagrams());
        QVERIFY(older.receiveDatagram(RECEIVE_BUFFER_SIZE + 1).data().size() > RECEIVE_BUFFER_SIZE);

        FakeConsole::sendRaw(formatProbeRequest(420195130));
        QTRY_VERIFY(m_console.hasPendingReport());
        QVERIFY(m_console.socket().pendingDatagramSize() > RECEIVE_BUFFER_SIZE);
        const std::optional<ProbeAnswer> answer = parseProbeAnswer(m_console.socket().receiveDatagram().data());
        QVERIFY(answer);
        QCOMPARE(answer->nonce, quint64(420195130));
        QCOMPARE(answer->version, QString::fromUtf16(CLIENT_VERSION));
        QCOMPARE(answer->host, u"PC-07"_qs);
        QCOMPARE(answer->kind, throughAgent ? u"agent"_qs : u"client"_qs);
        QCOMPARE(answer->sessions, throughAgent ? 1 : -1);

        // A flood of probes gets no more answers than the rate allows, and a message after it is shown.
        QElapsedTimer flood;
        flood.start();
        for (quint64 i = 0; i < 300; ++i)
            FakeConsole::sendRaw(formatProbeRequest(i));
        FakeConsole::sendMessage(u"EN"_qs, u"9"_qs, u"after the probes"_qs, u"ADMIN-PC"_qs);
        int answers = 0;
        std::optional<Report> report;
        while ((report = m_console.nextReport()) && parseProbeAnswer(report->bytes))
            ++answers;
        QVERIFY(report);
        QCOMPARE(report->id + u' ' + report->status, u"9 1"_qs);
        QVERIFY2(answers <=
                     ProbeAnswerLimiter::BURST + ProbeAnswerLimiter::RATE_PER_SECOND * (flood.elapsed() / 1000 + 1),
                 qPrintable(QString::number(answers)));
        QCOMPARE(m_client->shownText(), u"after the probes"_qs);
        QCOMPARE(m_client->events.size(), 1); // the message's 101, nothing for the probes
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

    void reportGoesToTheSourceAddress_data() {
        QTest::addColumn<QString>("to");
        QTest::newRow("127.0.0.1") << u"127.0.0.1"_qs;
        QTest::newRow("another address of this computer") << u"127.0.0.9"_qs;
    }
    void reportGoesToTheSourceAddress() {
        // Whatever address of the loopback net and whatever port the message came from; and it leaves
        // from the address the message was sent to.
        QFETCH(QString, to);
        QUdpSocket otherConsole;
        QVERIFY(otherConsole.bind(QHostAddress(u"127.0.0.2"_qs), REPORT_PORT));
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(u"127.0.0.2"_qs), 0));
        sender.writeDatagram(formatMessageDatagram(u"EN"_qs, u"31"_qs, u"hi"_qs, u"X"_qs).toUtf8(), QHostAddress(to),
                             MESSAGE_PORT);
        QTRY_VERIFY(otherConsole.hasPendingDatagrams());
        const QNetworkDatagram report = otherConsole.receiveDatagram();
        QCOMPARE(report.data(), QByteArray("31\x04"
                                           "1\x04"
                                           "PC-07\x04"
                                           "PC-07.CORP.LAN"));
        QCOMPARE(report.senderAddress(), QHostAddress(to));
        QVERIFY(!m_console.hasPendingReport());
    }

    // While a pop-up is open the socket is still read, so junk arriving meanwhile never pushes a real
    // message out of the system's receive buffer: the message sent after the junk is shown after OK.
    void junkWhilePopupOpen_data() {
        QTest::addColumn<QString>("junk");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("size");
        QTest::newRow("11 MB too long to be messages") << u"too long"_qs << 176 << 64000;
        QTest::newRow("11 MB unsigned, signatures required") << u"unsigned"_qs << 7900 << 1400;
        QTest::newRow("forged signatures from ten other addresses") << u"forged"_qs << 3000 << 300;
    }
    void junkWhilePopupOpen() {
        QFETCH(QString, junk);
        QFETCH(int, count);
        QFETCH(int, size);
        const bool signatures = junk != u"too long";
        if (signatures)
            m_client->receiver->setMessageGate(signaturesRequired());
        const auto message = [&](const QString& id) {
            return signatures ? signedMessage(id) : formatMessageDatagram(u"EN"_qs, id, id, u"ADMIN-PC"_qs).toUtf8();
        };
        FakeConsole::sendRaw(message(u"P"_qs));
        QCOMPARE(next(), u"P 1"_qs);

        QByteArray bytes(size, 'x');
        if (junk == u"unsigned")
            bytes = formatMessageDatagram(u"EN"_qs, u"J"_qs, QString(size - 12, u'j'), u"X"_qs).toUtf8();
        if (junk == u"forged")
            bytes = signedMessage(u"J"_qs).replace("text", "TEXT"); // a trusted key id, a signature that fails
        for (int i = 0, sinceRead = 0; i < count; ++i, sinceRead += size) {
            if (sinceRead >= 64 * 1024) { // the junk arrives while the client runs
                QCoreApplication::processEvents();
                sinceRead = 0;
            }
            sendDatagramFromFreshSocket(bytes, QHostAddress::LocalHost, MESSAGE_PORT,
                                        QHostAddress(u"127.0.0.%1"_qs.arg(2 + i % 10)));
        }
        QCoreApplication::processEvents();
        FakeConsole::sendRaw(message(u"L"_qs));
        QVERIFY(!m_console.reportArrivesWithin(200));
        m_client->pressOk();
        QCOMPARE(next(), u"P 2"_qs);
        QCOMPARE(next(10000), u"L 1"_qs);
    }

    // Freshness counts from the moment a datagram reached this computer, not from when it was read or
    // handled (max-message-age 1 s here).
    void freshnessCountsFromArrival_data() {
        QTest::addColumn<bool>("popupOpen");
        QTest::addColumn<int>("waitBeforeSendMs");
        QTest::addColumn<int>("unreadMs");
        QTest::addColumn<bool>("shown");
        QTest::newRow("fresh on arrival, read 2.2 s later") << false << 0 << 2200 << true;
        QTest::newRow("2.2 s old on arrival, behind an open pop-up") << true << 2200 << 0 << false;
    }
    void freshnessCountsFromArrival() {
        QFETCH(bool, popupOpen);
        QFETCH(int, waitBeforeSendMs);
        QFETCH(int, unreadMs);
        QFETCH(bool, shown);
        m_client->receiver->setMessageGate(signaturesRequired(1));
        const qint64 start = QDateTime::currentSecsSinceEpoch();
        if (popupOpen) {
            FakeConsole::sendRaw(signedMessage(u"P"_qs));
            QCOMPARE(next(), u"P 1"_qs);
        }
        QTest::qSleep(waitBeforeSendMs);
        FakeConsole::sendRaw(signedMessage(u"F"_qs, start));
        QTest::qSleep(unreadMs); // the client is busy: nothing reads the socket
        if (popupOpen) {
            QVERIFY(!m_console.reportArrivesWithin(200));
            m_client->pressOk();
            QCOMPARE(next(), u"P 2"_qs);
        }
        QCOMPARE(next(shown ? 5000 : 500), shown ? u"F 1"_qs : u"none"_qs);
        QStringList events;
        for (const WrittenEvent& e : std::as_const(m_client->events))
            events.append(QString::number(e.id) + u' ' + e.strings.join(u' '));
        QVERIFY(events.contains(shown ? u"101 ADMIN-PC F text F"_qs : u"106 127.0.0.1 too old F"_qs));
    }

    // The waiting room of the receive loop: bounded, shared by sender address. Each letter is a sender,
    // each number one of its datagrams; "." takes one entry out of each queue meanwhile.
    void fairQueue_data() {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<QString>("arrivals");
        QTest::addColumn<QString>("gaveWay");
        QTest::addColumn<QString>("oldestFirst");
        QTest::addColumn<QString>("byTurns");
        QTest::newRow("room for all") << 4 << u"A1 A2 B1"_qs << QString() << u"A1 A2 B1"_qs << u"A1 B1 A2"_qs;
        QTest::newRow("a newcomer takes the newest place of the heaviest sender")
            << 3 << u"A1 A2 A3 B1"_qs << u"A3"_qs << u"A1 A2 B1"_qs << u"A1 B1 A2"_qs;
        QTest::newRow("the heaviest sender's own newcomer gives way")
            << 3 << u"A1 A2 B1 A3"_qs << u"A3"_qs << u"A1 A2 B1"_qs << u"A1 B1 A2"_qs;
        QTest::newRow("a flood cannot keep a light sender out")
            << 4 << u"A1 B1 A2 A3 A4 A5 C1"_qs << u"A4 A5 A3"_qs << u"A1 B1 A2 C1"_qs << u"A1 B1 C1 A2"_qs;
        QTest::newRow("of equal holders the one that sent last gives way")
            << 3 << u"A1 B1 C1 D1"_qs << u"C1"_qs << u"A1 B1 D1"_qs << u"A1 B1 D1"_qs;
        QTest::newRow("by turns, one per sender and round")
            << 8 << u"A1 A2 A3 A4 B1 B2 C1"_qs << QString() << u"A1 A2 A3 A4 B1 B2 C1"_qs << u"A1 B1 C1 A2 B2 A3 A4"_qs;
        QTest::newRow("by turns, a newcomer ahead of a backlog")
            << 8 << u"A1 A2 A3 B1 B2 B3 . . . . C1"_qs << QString() << u"A1 A2 A3 B1 B2 B3 C1"_qs
            << u"A1 B1 A2 B2 C1 A3 B3"_qs;
    }
    void fairQueue() {
        QFETCH(int, capacity);
        QFETCH(QString, arrivals);
        FairQueue oldestFirst(capacity), byTurns(capacity);
        QStringList gaveWay, first, turns;
        for (const QString& name : arrivals.split(u' ')) {
            if (name == u".") {
                first.append(QString::fromLatin1(oldestFirst.takeFront().datagram.bytes));
                turns.append(QString::fromLatin1(byTurns.takeNextInTurn().datagram.bytes));
                continue;
            }
            WaitingDatagram entry;
            entry.datagram.source = QHostAddress(quint32(0x0A000000) + name.at(0).unicode());
            entry.datagram.bytes = name.toLatin1();
            (void)byTurns.push(entry);
            if (const std::optional<WaitingDatagram> out = oldestFirst.push(entry))
                gaveWay.append(QString::fromLatin1(out->datagram.bytes));
        }
        while (!oldestFirst.isEmpty())
            first.append(QString::fromLatin1(oldestFirst.takeFront().datagram.bytes));
        while (!byTurns.isEmpty())
            turns.append(QString::fromLatin1(byTurns.takeNextInTurn().datagram.bytes));
        QTEST(gaveWay.join(u' '), "gaveWay");
        QTEST(first.join(u' '), "oldestFirst");
        QTEST(turns.join(u' '), "byTurns");
    }

    void queuedBurstHandledInOrderAfterOk() {
        QVERIFY(confirmMessage(u"D"_qs));
        FakeConsole::sendMessage(u"EN"_qs, u"X"_qs, u"hold"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(next(), u"X 1"_qs);
        constexpr int COUNT = 300;
        for (int i = 0; i < COUNT; ++i)
            FakeConsole::sendMessage(u"EN"_qs, u"X"_qs, u"hold"_qs, u"ADMIN-PC"_qs);
        QVERIFY(!m_console.reportArrivesWithin(200));
        m_client->pressOk();
        QCOMPARE(next(), u"X 2"_qs);
        // Every queued repeat is answered; none was dropped while the pop-up was open.
        for (int i = 0; i < COUNT; ++i)
            QCOMPARE(next(), u"X 2"_qs);
        QVERIFY(!m_client->popup.window());
    }

    // Signed messages and the workstation's own key. A message signed by a trusted key names its signer in
    // the pop-up's title, outside the text; any other message shows no mark, whatever its text says. With a
    // workstation key, the "1" and "2" for a signed message carry its signature over the four fields and
    // the message's time; every other report is the four fields, byte for byte.
    void signedMessages_data() {
        QTest::addColumn<bool>("workstationKey");
        QTest::addColumn<bool>("policy");  // the console's key trusted as "Office console"
        QTest::addColumn<int>("signedBy"); // 0 unsigned, 1 the console, 2 a stranger
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("signedReports");
        const QString mark = u"Message \u00B7 signed by Office console"_qs;
        QTest::newRow("trusted, no workstation key") << false << true << 1 << mark << false;
        QTest::newRow("trusted, workstation key") << true << true << 1 << mark << true;
        QTest::newRow("no policy, workstation key") << true << false << 1 << u"Message"_qs << true;
        QTest::newRow("unsigned, workstation key") << true << true << 0 << u"Message"_qs << false;
        QTest::newRow("unsigned imitating the mark") << false << true << 0 << u"Message"_qs << false;
        QTest::newRow("a stranger's key, not trusted") << true << false << 2 << u"Message"_qs << true;
    }
    void signedMessages() {
        QFETCH(bool, workstationKey);
        QFETCH(bool, policy);
        QFETCH(int, signedBy);
        QFETCH(QString, title);
        QFETCH(bool, signedReports);
        const SigningKey console = *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x11'));
        const SigningKey stranger = *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x12'));
        const auto workstation =
            std::make_shared<const SigningKey>(*SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x13')));
        if (policy) {
            ClientPolicy trusted;
            trusted.trustedKeys = {console.publicKey()};
            trusted.trustedKeyNames = {u"Office\tconsole\u202E"_qs}; // shown without its controls
            m_client->receiver->setMessageGate(std::make_unique<MessageGate>(trusted));
        }
        if (workstationKey)
            m_client->receiver->setWorkstationKey(workstation);
        const qint64 time = QDateTime::currentSecsSinceEpoch();
        const QString datagram =
            formatMessageDatagram(u"EN"_qs, u"61"_qs, u"Message \u00B7 signed by Office"_qs, u"ADMIN-PC"_qs);
        const SigningKey* by = signedBy == 1 ? &console : signedBy == 2 ? &stranger : nullptr;
        FakeConsole::sendRaw(by ? signMessageDatagram(datagram, *by, time).toUtf8() : datagram.toUtf8());
        const auto expectReport = [&](const QString& status) {
            const std::optional<Report> r = m_console.nextReport();
            QVERIFY(r && r->id == u"61"_qs && r->status == status);
            const QByteArray plain =
                formatReportDatagram(u"61"_qs, status.toInt(), u"PC-07"_qs, u"PC-07.CORP.LAN"_qs).toUtf8();
            QCOMPARE(r->bytes, signedReports ? signReportDatagram(plain, *workstation, time) : plain);
        };
        expectReport(u"1"_qs);
        QCOMPARE(m_client->popup.window()->windowTitle(), title);
        m_client->pressOk();
        expectReport(u"2"_qs);
    }

    // A policy read again: a datagram screened before its key was dropped is still verified with that key,
    // the next is not let in, and the replay record stays.
    void policyReadAgainInGate() {
        const std::unique_ptr<MessageGate> gate = signaturesRequired();
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QByteArray shown = signedMessage(u"80"_qs, now), screened = signedMessage(u"81"_qs, now);
        QVERIFY(!gate->admit(shown, u"80"_qs, false, now).drop);
        GateVerdict verdict = gate->screen(screened, now);
        ClientPolicy policy;
        policy.requireSignature = true;
        gate->setPolicy(policy);
        QVERIFY(gate->verify(screened, verdict));
        QCOMPARE(gate->screen(screened, now).drop, DropReason::UnknownKey);
        policy.trustedKeys = {consoleKey().publicKey()};
        gate->setPolicy(policy);
        QCOMPARE(gate->admit(shown, u"80"_qs, false, now).drop, DropReason::Replayed);
    }

    // Drops beyond the journal's limit (one event per sender per second) are summed up once, a minute
    // after the first of them: how many, from how many senders. No timer runs while nothing is dropped.
    void droppedFloodIsSummedUp() {
        ClientPolicy required;
        required.requireSignature = true;
        m_client->receiver->setMessageGate(std::make_unique<MessageGate>(required));
        m_client->receiver->setDropSummaryDelay(300);
        const auto from = [](int sender, int n) {
            QUdpSocket socket;
            socket.bind(QHostAddress(QStringLiteral("127.0.3.%1").arg(sender)), 0);
            for (int i = 0; i < n; ++i)
                socket.writeDatagram(formatMessageDatagram(u"EN"_qs, u"6"_qs, u"x"_qs, u"A"_qs).toUtf8(),
                                     QHostAddress::LocalHost, MESSAGE_PORT);
        };
        from(1, 5);
        from(2, 3);
        const auto count = [&](int id) {
            return std::count_if(m_client->events.begin(), m_client->events.end(),
                                 [id](const WrittenEvent& e) { return e.id == id; });
        };
        QTRY_COMPARE(count(106), 2);
        QTRY_COMPARE(count(109), 1);
        QCOMPARE(m_client->events.last().strings, (QStringList{u"6"_qs, u"2"_qs, QString()}));
        QTest::qWait(600);
        QCOMPARE(count(109), 1); // nothing more dropped: no further summary
    }
};

PLINKET_PRIVATE_NETWORK_TEST_MAIN(TestReceiver)
#include "tst_receiver.moc"
