#include "send_platform.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>

namespace plinket {

namespace {

std::atomic<bool> g_stopRequested{false};

BOOL WINAPI onConsoleControl(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        g_stopRequested = true;
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void holdStopRequests() {
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

bool takeStopRequest() {
    return g_stopRequested.exchange(false);
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

} // namespace plinket
