#include "client_system.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cwchar>

namespace plinket {

std::optional<HostNames> localHostNames() {
    using GetNameInfoWFn = INT(WSAAPI*)(const SOCKADDR*, socklen_t, PWCHAR, DWORD, PWCHAR, DWORD, INT);
    // The library stays loaded for the socket layer, so the address stays valid after the release.
    HMODULE ws2 = LoadLibraryW(L"Ws2_32.dll");
    if (!ws2)
        return std::nullopt;
    // Through void (*)(), the one function type that converts to any other without a warning.
    const auto getNameInfo =
        reinterpret_cast<GetNameInfoWFn>(reinterpret_cast<void (*)()>(GetProcAddress(ws2, "GetNameInfoW")));
    FreeLibrary(ws2);
    if (!getNameInfo)
        return std::nullopt;

    // The name the system gives the wildcard address 0.0.0.0 is this computer's DNS name.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    wchar_t name[1025];
    wmemset(name, L' ', 1025);
    name[1024] = L'\0';
    getNameInfo(reinterpret_cast<const SOCKADDR*>(&any), sizeof any, name, 1025, nullptr, 0, 0);
    const QString fqdn = QString::fromWCharArray(name);

    char host[1024] = {};
    gethostname(host, sizeof host - 1);
    return HostNames{QString::fromLocal8Bit(host).toUpper(), fqdn.toUpper()};
}

bool systemWantsFadeEffects() { return false; } // pre-Vista only; this toolkit needs Windows 10 or later

bool displayAvailable() { return true; }

QByteArray preferredPlatform(const QByteArray& userChoice) { return userChoice; }

void choosePlatform() {}

} // namespace plinket
