#include "agent_service.h"
#include "session_peer.h"

#include <QCoreApplication>
#include <QDir>

#include <windows.h>

namespace plinket {

namespace {

const wchar_t SERVICE_NAME[] = L"PlinketAgent";

SERVICE_STATUS_HANDLE g_handle = nullptr;
SERVICE_STATUS g_status{};
std::function<int(int, char*[])> g_body;
int g_argc = 0;
char** g_argv = nullptr;
int g_exitCode = 0;

void setState(DWORD state, DWORD exitCode = NO_ERROR) {
    if (!g_handle)
        return;
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = state;
    g_status.dwWin32ExitCode = exitCode;
    // Session notifications reach the agent only when it accepts them (SessionMonitor).
    g_status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE : 0;
    SetServiceStatus(g_handle, &g_status);
}

DWORD WINAPI control(DWORD code, DWORD, LPVOID, LPVOID) {
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        setState(SERVICE_STOP_PENDING);
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
        return NO_ERROR;
    case SERVICE_CONTROL_SESSIONCHANGE:
        SessionMonitor::notifyChange();
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI serviceMain(DWORD, LPWSTR*) {
    g_handle = RegisterServiceCtrlHandlerExW(SERVICE_NAME, control, nullptr);
    setState(SERVICE_START_PENDING);
    g_exitCode = g_body(g_argc, g_argv);
    setState(SERVICE_STOPPED, g_exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

} // namespace

int runAsService(int argc, char* argv[], const std::function<int(int, char*[])>& body) {
    g_body = body;
    g_argc = argc;
    g_argv = argv;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(SERVICE_NAME), serviceMain}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(table))
        return g_exitCode;
    // Started from a console rather than by the service control manager: run in the foreground.
    if (GetLastError() == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
        return body(argc, argv);
    return 1;
}

void serviceReady(const QString&) {
    setState(SERVICE_RUNNING);
}

void serviceStatus(const QString&) {}

QString agentStateFile() {
    const QString programData = qEnvironmentVariable("ProgramData");
    return programData.isEmpty() ? QString() : QDir(programData).filePath(u"Plinket/agent-messages"_qs);
}

} // namespace plinket
