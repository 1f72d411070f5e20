#pragma once

// The client in session mode: where a host agent runs, the client of each user session does not bind
// the message port but takes the messages the agent hands it over the local channel
// (agent_channel.h), shows them one at a time in its own queue with the same pop-up as a standalone
// client, and tells the agent when each one is visible and when it is confirmed.
//
// When the agent goes away (an upgrade restarts it), the pop-ups stay and so does the queue; the link
// waits, without polling, for the agent's folder to change, connects again and re-announces every
// message it still has, so the new agent reports on them as the old one would have.

#include "agent_channel.h"
#include "popup.h"

#include <QObject>
#include <QTimer>

#include <deque>
#include <optional>

class QEventLoop;
class QFileSystemWatcher;
class QLocalSocket;

namespace plinket {

enum class AgentAnswer {
    NoAgent, // nothing listens: the client works alone
    Welcome, // the agent serves this session
    Refused, // the agent runs but serves no pop-up here (see refusal())
};

class SessionLink final : public QObject {
    Q_OBJECT

public:
    explicit SessionLink(Popup& popup, QObject* parent = nullptr);
    ~SessionLink() override;

    // Connects to the agent at `name` and introduces itself; waits at most `timeoutMs` for the answer.
    AgentAnswer start(const QString& name, int timeoutMs = 5000);
    QString refusal() const { return m_refusal; }

    bool connected() const { return m_welcomed; }
    qsizetype queued() const { return qsizetype(m_queue.size()); }

signals:
    // The agent refused this session after a reconnect (another channel version, say): the client ends.
    void refusedLater(const QString& reason);

private:
    struct Entry {
        QString token;
        IncomingMessage message;
        bool visible = false;     // the pop-up said "visible" for it
        bool visibleSent = false; // and the agent (this one or the one before) heard so
        bool confirmed = false;   // a person confirmed it; waits here only until the agent has heard so
    };

    void answer(AgentAnswer answer);
    void connectSocket();
    void reconnect();
    void readFrames();
    void handle(const ChannelFrame& frame);
    void lost();
    void reannounce();
    void showNext();
    void send(const ChannelFrame& frame);
    void sendToken(ChannelFrameType type, const QString& token);

    Popup& m_popup;
    QString m_name;
    QLocalSocket* m_socket = nullptr;
    FrameReader m_reader;
    bool m_welcomed = false;
    bool m_showing = false;
    QString m_refusal;
    std::optional<AgentAnswer> m_answer;
    QEventLoop* m_startLoop = nullptr; // while start() waits for the agent's answer
    std::deque<Entry> m_queue;         // front: on screen; then waiting, in the order the agent sent them
    std::deque<Entry> m_unannounced;   // confirmed while the agent was away
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer m_retry; // only where there is no folder to watch (Windows), and only while the agent is away
};

} // namespace plinket
