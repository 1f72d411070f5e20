// The host agent's side of the local channel and the session mode of the client, in one process: the
// real AgentSessions on a socket in a temporary folder, with the real SessionLink of each "session"
// and a stand-in pop-up that the test makes visible and confirms. Who may connect is decided by a
// stand-in check; the booted-container test (tests/e2e/agent_sessions.sh) runs the real ones.
#include "agent_channel.h"
#include "agent_sessions.h"
#include "session_link.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace plinket;

namespace {

// A pop-up that shows nothing: the test says when a person sees and confirms it.
struct StandInPopup final : Popup {
    void open(const IncomingMessage& message, PopupCallbacks callbacks) override {
        shown = message.fields.id;
        m_callbacks = std::move(callbacks);
    }
    void close() override { shown.clear(); }
    void see() {
        if (auto f = std::exchange(m_callbacks.visible, nullptr))
            f();
    }
    void confirm() {
        if (auto f = std::exchange(m_callbacks.confirmed, nullptr))
            f();
    }
    void wait(const QString& reason) {
        if (auto f = std::exchange(m_callbacks.waiting, nullptr))
            f(reason);
    }
    QString shown;
    PopupCallbacks m_callbacks;
};

struct Session {
    StandInPopup popup;
    std::unique_ptr<SessionLink> link = std::make_unique<SessionLink>(popup);
};

struct Written {
    int id;
    QString s2, s3;
    EventFields extra;
};

IncomingMessage message(const QString& id, qint64 arrivedAtMs = QDateTime::currentMSecsSinceEpoch()) {
    IncomingMessage m;
    m.senderAddress = QHostAddress(u"10.0.0.1"_qs);
    m.arrivedAtMs = arrivedAtMs;
    m.fields = {u"EN"_qs, id, u"text "_qs + id, u"ADMIN-PC"_qs};
    return m;
}

// Sends raw frames from a plain socket: what the agent answered last, and whether it then ended the
// connection ("welcome, open" / "welcome, closed" / "refused: reason, closed" / "closed").
QString rawExchange(const QString& name, const QList<QByteArray>& writes) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(2000))
        return u"not connected"_qs;
    for (const QByteArray& bytes : writes)
        socket.write(bytes);
    socket.flush();
    FrameReader reader;
    const QDeadlineTimer deadline(1000);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        reader.append(socket.readAll());
    }
    reader.append(socket.readAll());
    QString answer;
    while (const auto frame = reader.next())
        answer = frame->type == ChannelFrameType::Refused ? u"refused: "_qs + frame->reason : u"welcome"_qs;
    const QString state = socket.state() == QLocalSocket::ConnectedState ? u"open"_qs : u"closed"_qs;
    return answer.isEmpty() ? state : answer + u", "_qs + state;
}

ChannelFrame frame(ChannelFrameType type, int version = 0) {
    ChannelFrame f;
    f.type = type;
    f.version = version;
    f.token = u"0123456789abcdef"_qs;
    f.message = message(u"1"_qs);
    return f;
}

} // namespace

class TestAgentSessions final : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_name;
    std::unique_ptr<AgentSessions> m_agent;
    QList<Written> m_events;
    int m_visible = 0, m_confirmed = 0, m_abandoned = 0;
    QHash<qintptr, QString> m_refuse; // stand-in check: none refused unless the test says so
    int m_nextSession = 1;

    void startAgent(qint64 holdMs = 600000) {
        m_agent = std::make_unique<AgentSessions>(
            [this](qintptr) {
                const int n = m_nextSession++;
                if (m_refuse.contains(n))
                    return PeerVerdict{std::nullopt, m_refuse.value(n)};
                return PeerVerdict{PeerSession{QString::number(n), u"user"_qs + QString::number(n)}, {}};
            },
            holdMs);
        m_agent->setEventWriter(
            [this](int id, const QString&, const QString& s2, const QString& s3, const EventFields& extra) {
                m_events.append({id, s2, s3, extra});
            });
        m_agent->restoreFrom(m_dir.filePath(u"messages"_qs));
        QVERIFY(m_agent->listen(m_name));
    }

    void openMessage(const IncomingMessage& m) {
        m_agent->open(m, {[this] { ++m_visible; },
                          [this] {
                              ++m_confirmed;
                              m_agent->close();
                          },
                          [this](const QString& reason) {
                              m_events.append({EVENT_CLIENT_WAITING, u"?"_qs, reason, m_agent->viewerFields()});
                          },
                          [this] {
                              ++m_abandoned;
                              m_agent->close();
                          }});
    }

    std::unique_ptr<Session> join() {
        auto session = std::make_unique<Session>();
        [&] { QCOMPARE(session->link->start(m_name), AgentAnswer::Welcome); }();
        return session;
    }

private slots:
    void init() {
        m_name = m_dir.filePath(u"agent.sock"_qs);
        QFile::remove(m_dir.filePath(u"messages"_qs));
        m_events.clear();
        m_visible = m_confirmed = m_abandoned = 0;
        m_refuse.clear();
        m_nextSession = 1;
        startAgent();
    }
    void cleanup() { m_agent.reset(); }

    // What a connecting process may say first, and what becomes of it.
    void refusedPeers_data() {
        QTest::addColumn<QList<QByteArray>>("writes");
        QTest::addColumn<bool>("checkRefuses");
        QTest::addColumn<QString>("outcome");
        const QByteArray hello = encodeFrame(frame(ChannelFrameType::Hello, AGENT_CHANNEL_VERSION));
        QTest::newRow("hello") << QList{hello} << false << u"welcome, open"_qs;
        QTest::newRow("no session") << QList{hello} << true << u"refused: process 7 is in no user session, closed"_qs;
        QTest::newRow("older channel version")
            << QList{encodeFrame(frame(ChannelFrameType::Hello, 0))} << false
            << u"refused: this agent speaks channel version 1, the pop-up process version 0: start the "
               "plinket_client of the installed package, closed"_qs;
        QTest::newRow("visible before hello")
            << QList{encodeFrame(frame(ChannelFrameType::Visible))} << false << u"closed"_qs;
        QTest::newRow("show, which only the agent sends")
            << QList{hello, encodeFrame(frame(ChannelFrameType::Show))} << false << u"welcome, closed"_qs;
        QTest::newRow("hello twice") << QList{hello, hello} << false << u"welcome, closed"_qs;
        QTest::newRow("frame over the limit") << QList{QByteArray("\x00\x01\x00\x00", 4)} << false << u"closed"_qs;
        ChannelFrame rambling = frame(ChannelFrameType::Waiting);
        rambling.reason = QString(MAX_REASON_CHARS + 1, u'x');
        QTest::newRow("waiting reason over the limit")
            << QList{hello, encodeFrame(rambling)} << false << u"welcome, closed"_qs;
        QTest::newRow("not CBOR") << QList{QByteArray("\x00\x00\x00\x03xyz", 7)} << false << u"closed"_qs;
    }
    void refusedPeers() {
        QFETCH(QList<QByteArray>, writes);
        QFETCH(bool, checkRefuses);
        QFETCH(QString, outcome);
        if (checkRefuses)
            m_refuse.insert(1, u"process 7 is in no user session"_qs);
        QCOMPARE(rawExchange(m_name, writes), outcome);
    }

    void onePopupProcessPerSession() {
        auto first = join();
        m_nextSession = 1; // the next connection comes from the same session
        Session second;
        QCOMPARE(second.link->start(m_name), AgentAnswer::Refused);
        QCOMPARE(second.link->refusal(), u"another pop-up process already serves session 1"_qs);
        QCOMPARE(m_agent->sessionCount(), 1);
    }

    void firstSightingAndFirstConfirmationReported() {
        auto alice = join();
        auto bob = join();
        openMessage(message(u"7"_qs));
        QTRY_COMPARE(alice->popup.shown, u"7"_qs);
        QTRY_COMPARE(bob->popup.shown, u"7"_qs);
        bob->popup.see();
        QTRY_COMPARE(m_visible, 1);
        QCOMPARE(m_agent->viewerFields(), EventFields{}); // set only while the report is made
        alice->popup.see();
        QTRY_COMPARE(m_events.size(), 1); // alice's sighting: journaled, not reported
        QCOMPARE(m_events[0].id, EVENT_CLIENT_RECEIVED);
        QCOMPARE(m_events[0].extra, (EventFields{{"PLINKET_USER", u"user1"_qs}, {"PLINKET_SESSION", u"1"_qs}}));
        alice->popup.confirm();
        QTRY_COMPARE(m_confirmed, 1);
        QCOMPARE(bob->popup.shown, u"7"_qs); // bob's pop-up stays until bob confirms
        openMessage(message(u"8"_qs));
        QTRY_COMPARE(alice->popup.shown, u"8"_qs);
        bob->popup.confirm();
        QTRY_COMPARE(m_events.size(), 2);
        QCOMPARE(m_events[1].id, EVENT_CLIENT_CONFIRMED);
        QCOMPARE(m_events[1].s2, u"7"_qs);
        QCOMPARE(m_confirmed, 1);
        QTRY_COMPARE(bob->popup.shown, u"8"_qs); // then the next one, in bob's own queue
    }

    // Why a message cannot be seen yet is journaled once, for the first session that says so, and not
    // at all once some session has it on screen.
    void waitingReasonOnce_data() {
        QTest::addColumn<bool>("seenFirst");
        QTest::addColumn<int>("waitingEvents");
        QTest::newRow("both sessions wait") << false << 1;
        QTest::newRow("seen in the other session first") << true << 0;
    }
    void waitingReasonOnce() {
        QFETCH(bool, seenFirst);
        QFETCH(int, waitingEvents);
        auto alice = join();
        auto bob = join();
        openMessage(message(u"5"_qs));
        QTRY_COMPARE(bob->popup.shown, u"5"_qs);
        QTRY_COMPARE(alice->popup.shown, u"5"_qs);
        if (seenFirst) {
            alice->popup.see();
            QTRY_COMPARE(m_visible, 1);
        }
        bob->popup.wait(u"screen locked"_qs);
        alice->popup.wait(u"screen blanked"_qs);
        // A later frame from each session: once both are counted, both waits have been handled.
        bob->popup.see();
        alice->popup.confirm();
        QTRY_COMPARE(m_visible + m_confirmed + m_events.size(), 2 + 1);
        QList<Written> waiting;
        std::copy_if(m_events.cbegin(), m_events.cend(), std::back_inserter(waiting),
                     [](const Written& w) { return w.id == EVENT_CLIENT_WAITING; });
        QCOMPARE(waiting.size(), waitingEvents);
        // The two sessions' frames may reach the agent in either order: the reason names its own session.
        for (const Written& w : std::as_const(waiting)) {
            const QString session = w.s3 == u"screen locked" ? u"2"_qs : u"1"_qs;
            QCOMPARE(w.extra, (EventFields{{"PLINKET_USER", u"user"_qs + session}, {"PLINKET_SESSION", session}}));
        }
    }

    // With nobody logged in a message waits for the hold time from its arrival.
    void heldWithoutSession_data() {
        QTest::addColumn<qint64>("arrivedAgoMs");
        QTest::addColumn<bool>("sessionJoins");
        QTest::addColumn<QList<int>>("events");
        QTest::addColumn<int>("abandoned");
        QTest::newRow("shown at login") << qint64(0) << true << QList{107} << 0;
        QTest::newRow("expires unseen") << qint64(0) << false << QList{107, 112} << 1;
        QTest::newRow("too old already") << qint64(5000) << true << QList{107, 112} << 1;
    }
    void heldWithoutSession() {
        QFETCH(qint64, arrivedAgoMs);
        QFETCH(bool, sessionJoins);
        QFETCH(QList<int>, events);
        QFETCH(int, abandoned);
        constexpr int HOLD_MS = 1000;
        startAgent(HOLD_MS);
        QDeadlineTimer holdEnds(HOLD_MS - arrivedAgoMs);
        openMessage(message(u"9"_qs, QDateTime::currentMSecsSinceEpoch() - arrivedAgoMs));
        QVERIFY(m_agent->holdsMessage());
        QTest::qWait(arrivedAgoMs ? 50 : 0);
        std::unique_ptr<Session> late = sessionJoins ? join() : nullptr;
        const auto written = [&] {
            QList<int> ids;
            for (const Written& w : std::as_const(m_events))
                ids.append(w.id);
            return ids;
        };
        QTRY_COMPARE_WITH_TIMEOUT(written(), events, 10000);
        QTRY_COMPARE(m_abandoned, abandoned);
        if (late && !abandoned) {
            QTRY_COMPARE(late->popup.shown, u"9"_qs);
            // A message a session has taken does not expire: still so once the hold time is over.
            QTest::qWait(int(std::max<qint64>(0, holdEnds.remainingTime())) + 200);
            QCOMPARE(written(), events);
        } else if (late) {
            QCOMPARE(late->popup.shown, QString());
        }
    }

    // An upgrade restarts the agent while a pop-up is open: the session re-announces it, and the new
    // agent reports its confirmation without a second "1".
    void restartWhilePopupOpen() {
        auto alice = join();
        const IncomingMessage m = message(u"11"_qs);
        openMessage(m);
        QTRY_COMPARE(alice->popup.shown, u"11"_qs);
        alice->popup.see();
        QTRY_COMPARE(m_visible, 1);
        m_agent.reset();
        QTRY_VERIFY(!alice->link->connected());

        startAgent();
        openMessage(m); // what the receive loop does with the message restored from the state file
        QTRY_VERIFY(alice->link->connected());
        QTest::qWait(100);
        QCOMPARE(alice->popup.shown, u"11"_qs);
        alice->popup.confirm();
        QTRY_COMPARE(m_confirmed, 1);
        QCOMPARE(m_visible, 1);
        QVERIFY(m_events.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAgentSessions)
#include "tst_agent_sessions.moc"
