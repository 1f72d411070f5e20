#pragma once

// Who is at the other end of the local channel, and which user sessions may be shown messages; one
// implementation per platform.
//
// Linux: the peer's credentials from the socket (SO_PEERCRED), then its session from logind
// (sd_pid_get_session): a session of class "user" (no greeter), of a graphical type (x11, wayland,
// mir), not closing, owned by the peer's own user. Windows: the pipe client's process and its
// terminal services session, a session other than the services' session 0, whose user is the
// process's user.

#include "agent_sessions.h"

#include <QObject>

namespace plinket {

PeerVerdict checkPeer(qintptr descriptor);

// Whether the session may still be shown messages (not closed or closing, still graphical).
bool sessionStillOpen(const QString& sessionId);

// Whether any graphical user session exists on this computer now (for the reason of a held message).
bool anyGraphicalSession();

// Tells when the computer's user sessions change: logind's monitor on Linux (a file descriptor the
// event loop watches, so nothing is polled), the service's session notifications on Windows.
class SessionMonitor final : public QObject {
    Q_OBJECT

public:
    explicit SessionMonitor(QObject* parent = nullptr);
    ~SessionMonitor() override;

    // Windows: called by the service's control handler for each session change notification.
    static void notifyChange();

signals:
    void changed();

private:
    void flush();
    void* m_monitor = nullptr;
};

} // namespace plinket
