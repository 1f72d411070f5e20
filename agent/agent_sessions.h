#pragma once

// The host agent's pop-up: the receive loop (Receiver) hands it one message at a time, as it hands one
// to the window of a standalone client, and it passes the message on to the pop-up process of every
// graphical user session over the local channel (agent_channel.h).
//
//   "visible"    the first session in which a person can see the message; later sightings in other
//                sessions are journaled (event 101 with the user's name) without a report
//   "confirmed"  the first person who confirms it; the receive loop then moves on to the next message,
//                while every other session keeps its pop-up until its own person confirms it there
//   "waiting"    the first session that cannot show it yet says why (screen locked, ...), unless one
//                already can: passed on once, with that session's user for the journal (event 107)
//   held         while no session is connected the message waits; at most the hold time counted from
//                its arrival ("waiting" with "no user session" once, then event 112 and `abandoned` when
//                the time is up); a session that connects in time is shown it at once
//
// Each connection is checked once, when it is made (PeerCheck: the user and session of the process
// at the other end); one pop-up process per session is accepted.

#include "agent_channel.h"
#include "eventlog.h"
#include "popup.h"

#include <QHash>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;

namespace plinket {

// The user session of a connected pop-up process, as the system records it.
struct PeerSession {
    QString sessionId; // Linux: logind's session id; Windows: the terminal services session id
    QString userName;
};

// Either the session, or why the process at the other end is refused (not in a session, not a
// graphical session, a greeter, another user than the session's, ...).
struct PeerVerdict {
    std::optional<PeerSession> session;
    QString refusal;
};

// Judges the process at the other end of a freshly accepted connection (a socket descriptor on Linux,
// a pipe handle on Windows).
using PeerCheck = std::function<PeerVerdict(qintptr descriptor)>;

// Whether a session may still be shown messages (logind: still graphical and not closing).
using SessionStillOpen = std::function<bool(const QString& sessionId)>;

using AgentEventWriter =
    std::function<void(int eventId, const QString& s1, const QString& s2, const QString& s3, const EventFields& extra)>;

class AgentSessions final : public QObject, public Popup {
    Q_OBJECT

public:
    AgentSessions(PeerCheck check, qint64 holdMs, QObject* parent = nullptr);
    ~AgentSessions() override;

    // Listens on `name` (a socket path, or a pipe name on Windows), open to every local user: the
    // check of each connection decides. False when it cannot listen.
    bool listen(const QString& name);
    // A hold time read again: for the holds that begin from now on.
    void setHoldMs(qint64 holdMs) { m_holdMs = holdMs; }

    void open(const IncomingMessage& message, PopupCallbacks callbacks) override;
    void close() override;

    // The user and session whose sighting, confirmation or wait is being reported right now, for the
    // events 101, 102 and 107 that the receive loop writes from `visible`, `confirmed` and `waiting`.
    EventFields viewerFields() const { return m_viewer; }

    void setEventWriter(AgentEventWriter writer) { m_writeEvent = std::move(writer); }

    // The file in which the agent keeps the messages that sessions may still show (and a held one),
    // so that after a restart it takes them up again: it adopts those still open and links the
    // sessions that re-announce them. Only messages listed there are ever taken from a session's
    // re-announcement, so a session cannot make the agent report on a message it never received.
    // Call before listen(). Returns the messages still waiting for their first confirmation, for the
    // receive loop to take up again (Receiver::adopt).
    QList<IncomingMessage> restoreFrom(const QString& stateFile);

    // Drops the connections of sessions that may no longer be shown anything (called when logind
    // reports a change).
    void recheckSessions(const SessionStillOpen& stillOpen);
    // Also asked when a message arrives, before it is offered: logind's change notice may still be on
    // its way for a session that is closing.
    void setSessionCheck(SessionStillOpen stillOpen) { m_stillOpen = std::move(stillOpen); }

    int sessionCount() const;
    bool holdsMessage() const { return m_current && m_expiry.isActive(); }

signals:
    // A session's pop-up process was welcomed or went away.
    void sessionsChanged();

private:
    struct Peer;
    struct Current {
        IncomingMessage message;
        QString token;
        PopupCallbacks callbacks;
        bool visibleReported = false;
        qint64 neverShownSince = 0; // when the hold began
        bool shownToSomeone = false;
    };
    // A message some session may still show after the receive loop moved on from it.
    struct Recent {
        QString token;
        IncomingMessage message;
    };

    void accept();
    void readFrom(Peer* peer);
    void handleFrame(Peer* peer, const ChannelFrame& frame);
    void welcome(Peer* peer);
    void sighted(Peer* peer, const QString& token, bool confirmed);
    void announced(Peer* peer, const ChannelFrame& frame);
    void waitingIn(Peer* peer, const QString& token, const QString& reason);
    void drop(Peer* peer);
    void send(Peer* peer, const ChannelFrame& frame);
    void offerCurrent(Peer* peer);
    void holdIfNobody();
    void expire();
    EventFields fieldsOf(const Peer* peer) const;
    const IncomingMessage* findMessage(const QString& token) const;
    void save() const;

    PeerCheck m_check;
    SessionStillOpen m_stillOpen;
    qint64 m_holdMs;
    QLocalServer* m_server = nullptr;
    QHash<QLocalSocket*, Peer*> m_peers;
    std::optional<Current> m_current;
    std::deque<Recent> m_recent;
    // Tokens re-announced by sessions after a restart, until the receive loop opens them again.
    QHash<QString, bool> m_announcedVisible;
    QString m_stateFile;
    QTimer m_expiry;
    EventFields m_viewer;
    AgentEventWriter m_writeEvent;
};

} // namespace plinket
