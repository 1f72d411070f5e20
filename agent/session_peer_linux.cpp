#include "session_peer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <pwd.h>
#include <sys/socket.h>
#include <systemd/sd-login.h>
#include <unistd.h>
#include <vector>

namespace plinket {

namespace {

struct FreeString {
    void operator()(char* s) const { std::free(s); }
};
using SdString = std::unique_ptr<char, FreeString>;

// One text property of a logind session; empty when it cannot be read.
QString sessionText(int (*get)(const char*, char**), const char* session) {
    char* value = nullptr;
    if (get(session, &value) < 0 || !value)
        return {};
    const SdString owned(value);
    return QString::fromUtf8(value);
}

bool graphicalType(const QString& type) {
    return type == u"x11" || type == u"wayland" || type == u"mir";
}

QString userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromUtf8(found->pw_name);
    return QString::number(uid);
}

// Empty when the session may be shown messages, else why not.
QString sessionProblem(const char* session) {
    const QString id = QString::fromUtf8(session);
    const QString type = sessionText(sd_session_get_type, session);
    if (!graphicalType(type))
        return u"session "_qs + id + u" is not graphical (type \""_qs + type + u"\")"_qs;
    const QString sessionClass = sessionText(sd_session_get_class, session);
    if (sessionClass != u"user")
        return u"session "_qs + id + u" is not a user's session (class \""_qs + sessionClass + u"\")"_qs;
    const QString state = sessionText(sd_session_get_state, session);
    if (state != u"active" && state != u"online")
        return u"session "_qs + id + u" is "_qs + (state.isEmpty() ? u"gone"_qs : state);
    return {};
}

} // namespace

PeerVerdict checkPeer(qintptr descriptor) {
    ucred cred{};
    socklen_t length = sizeof cred;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0)
        return {std::nullopt, u"the connecting process cannot be identified"_qs};
    const QString who = u"process "_qs + QString::number(cred.pid) + u" of "_qs + userName(cred.uid);
    char* session = nullptr;
    if (sd_pid_get_session(cred.pid, &session) < 0 || !session)
        return {std::nullopt, who + u" is in no user session"_qs};
    const SdString owned(session);
    uid_t owner = 0;
    if (sd_session_get_uid(session, &owner) < 0 || owner != cred.uid)
        return {std::nullopt, who + u" is not the owner of session "_qs + QString::fromUtf8(session)};
    if (const QString problem = sessionProblem(session); !problem.isEmpty())
        return {std::nullopt, who + u": "_qs + problem};
    return {PeerSession{QString::fromUtf8(session), userName(cred.uid)}, {}};
}

bool sessionStillOpen(const QString& sessionId) {
    return sessionProblem(sessionId.toUtf8().constData()).isEmpty();
}

bool anyGraphicalSession() {
    char** sessions = nullptr;
    const int count = sd_get_sessions(&sessions);
    bool found = false;
    for (int i = 0; i < count; ++i) {
        found = found || sessionProblem(sessions[i]).isEmpty();
        std::free(sessions[i]);
    }
    std::free(sessions);
    return found;
}

SessionMonitor::SessionMonitor(QObject* parent) : QObject(parent) {
    sd_login_monitor* monitor = nullptr;
    if (sd_login_monitor_new("session", &monitor) < 0)
        return; // no logind: connections are still checked when they are made
    m_monitor = monitor;
    auto* notifier = new QSocketNotifier(sd_login_monitor_get_fd(monitor), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SessionMonitor::flush);
}

SessionMonitor::~SessionMonitor() {
    if (m_monitor)
        sd_login_monitor_unref(static_cast<sd_login_monitor*>(m_monitor));
}

void SessionMonitor::flush() {
    sd_login_monitor_flush(static_cast<sd_login_monitor*>(m_monitor));
    emit changed();
}

void SessionMonitor::notifyChange() {}

} // namespace plinket
