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

bool MessageIdLock::acquire(int timeoutMs) {
    if (held())
        return true;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Plinket Send message id");
    if (!mutex)
        return false;
    const DWORD result = WaitForSingleObject(mutex, DWORD(timeoutMs));
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(mutex);
    return true;
}

void MessageIdLock::release() {
    if (!held())
        return;
    HANDLE mutex = reinterpret_cast<HANDLE>(m_handle);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    m_handle = -1;
}

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
