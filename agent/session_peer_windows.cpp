#include "session_peer.h"

#include <QPointer>

#include <windows.h>
#include <wtsapi32.h>

namespace plinket {

namespace {

QPointer<SessionMonitor> g_monitor;

// "DOMAIN\user" of a process, from its access token; empty when it cannot be read.
QString processUser(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return {};
    HANDLE token = nullptr;
    QString user;
    if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
        char buffer[512] = {};
        DWORD size = 0;
        if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
            wchar_t name[256] = {}, domain[256] = {};
            DWORD nameSize = 256, domainSize = 256;
            SID_NAME_USE use{};
            if (LookupAccountSidW(nullptr, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, name, &nameSize, domain,
                                  &domainSize, &use))
                user = QString::fromWCharArray(domain) + u'\\' + QString::fromWCharArray(name);
        }
        CloseHandle(token);
    }
    CloseHandle(process);
    return user;
}

QString sessionInfo(DWORD session, WTS_INFO_CLASS what) {
    LPWSTR buffer = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, what, &buffer, &bytes) || !buffer)
        return {};
    const QString text = QString::fromWCharArray(buffer);
    WTSFreeMemory(buffer);
    return text;
}

// "DOMAIN\user" logged on to a terminal services session; empty for none.
QString sessionUser(DWORD session) {
    const QString user = sessionInfo(session, WTSUserName);
    return user.isEmpty() ? QString() : sessionInfo(session, WTSDomainName) + u'\\' + user;
}

// Empty when the session may be shown messages: a user's session (not the services' session 0), logged
// on, connected now or disconnected (a remote session whose user comes back sees the pop-up then).
QString sessionProblem(DWORD session) {
    if (session == 0)
        return u"session 0 belongs to services"_qs;
    if (sessionUser(session).isEmpty())
        return u"nobody is logged on to session "_qs + QString::number(session);
    WTS_CONNECTSTATE_CLASS* state = nullptr;
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, session, WTSConnectState,
                                     reinterpret_cast<LPWSTR*>(&state), &bytes) ||
        !state)
        return u"session "_qs + QString::number(session) + u" is gone"_qs;
    const WTS_CONNECTSTATE_CLASS value = *state;
    WTSFreeMemory(state);
    if (value != WTSActive && value != WTSConnected && value != WTSDisconnected)
        return u"session "_qs + QString::number(session) + u" is not in use"_qs;
    return {};
}

} // namespace

PeerVerdict checkPeer(qintptr descriptor) {
    ULONG pid = 0;
    if (!GetNamedPipeClientProcessId(reinterpret_cast<HANDLE>(descriptor), &pid))
        return {std::nullopt, u"the connecting process cannot be identified"_qs};
    DWORD session = 0;
    if (!ProcessIdToSessionId(pid, &session))
        return {std::nullopt, u"process "_qs + QString::number(pid) + u" is in no session"_qs};
    const QString who = u"process "_qs + QString::number(pid);
    if (const QString problem = sessionProblem(session); !problem.isEmpty())
        return {std::nullopt, who + u": "_qs + problem};
    const QString user = processUser(pid);
    if (user.isEmpty() || user.compare(sessionUser(session), Qt::CaseInsensitive) != 0)
        return {std::nullopt, who + u" is not the user of session "_qs + QString::number(session)};
    return {PeerSession{QString::number(session), user}, {}};
}

bool sessionStillOpen(const QString& sessionId) {
    return sessionProblem(sessionId.toULong()).isEmpty();
}

bool anyGraphicalSession() {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &count))
        return false;
    bool found = false;
    for (DWORD i = 0; i < count; ++i)
        found = found || sessionProblem(sessions[i].SessionId).isEmpty();
    WTSFreeMemory(sessions);
    return found;
}

SessionMonitor::SessionMonitor(QObject* parent) : QObject(parent) {
    g_monitor = this;
}

SessionMonitor::~SessionMonitor() = default;

void SessionMonitor::flush() {
    emit changed();
}

void SessionMonitor::notifyChange() {
    // Called on the service control manager's thread: the change is handed to the event loop.
    if (SessionMonitor* monitor = g_monitor.data())
        QMetaObject::invokeMethod(monitor, &SessionMonitor::flush, Qt::QueuedConnection);
}

} // namespace plinket
