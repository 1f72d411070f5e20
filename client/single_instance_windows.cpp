#include "single_instance.h"

#include <windows.h>

namespace plinket {

SingleInstance::~SingleInstance() {
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
}

bool SingleInstance::acquire() {
    // A name without "Global\" lives in the session's namespace: one client per logon session.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Plinket Client");
    if (!mutex)
        return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    m_handle = reinterpret_cast<qintptr>(mutex);
    return true;
}

} // namespace plinket
