#include "eventlog.h"

#include <windows.h>

#include <string>

namespace plinket {

namespace {

std::wstring toWide(const QString& s) {
    return s.toStdWString();
}

std::wstring registryKeyPath(EventSource source) {
    return L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application\\" + toWide(eventSourceName(source));
}

} // namespace

bool registerEventSource(EventSource source) {
    wchar_t path[1024] = {};
    GetModuleFileNameW(nullptr, path, 1024);
    const std::wstring modulePath(path);
    const std::wstring keyPath = registryKeyPath(source);

    // Already registered from this very path: nothing to write, so no administrative rights needed.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        wchar_t stored[1024] = {};
        DWORD size = sizeof(stored) - sizeof(wchar_t);
        DWORD type = 0;
        const LONG read =
            RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
        RegCloseKey(key);
        if (read == ERROR_SUCCESS && modulePath == stored)
            return true;
    }

    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD bytes = static_cast<DWORD>((modulePath.size() + 1) * sizeof(wchar_t));
    RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(modulePath.c_str()),
                   bytes);
    RegCloseKey(key);
    return true;
}

void reportEvent(EventSource source, int eventType, int eventId, const QString& s1, const QString& s2,
                 const QString& s3, const EventFields&) {
    const std::wstring name = toWide(eventSourceName(source));
    HANDLE log = RegisterEventSourceW(nullptr, name.c_str());
    if (!log)
        return;
    const std::wstring w1 = toWide(s1), w2 = toWide(s2), w3 = toWide(s3);
    LPCWSTR strings[3] = {w1.c_str(), w2.c_str(), w3.c_str()};
    ReportEventW(log, static_cast<WORD>(eventType), 0, static_cast<DWORD>(eventId), nullptr, 3, 0, strings, nullptr);
    DeregisterEventSource(log);
}

} // namespace plinket
