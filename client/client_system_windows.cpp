#include "client_system.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <QHostAddress>

#include <cwchar>

namespace plinket {

namespace {

// ComputerNameDnsFullyQualified: "pc-07.office.example", or the host name alone without a domain.
QString computerDnsName() {
    wchar_t buffer[256];
    DWORD size = 256;
    if (!GetComputerNameExW(ComputerNameDnsFullyQualified, buffer, &size))
        return {};
    return QString::fromWCharArray(buffer, int(size));
}

} // namespace

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

    // The name the system gives the wildcard address 0.0.0.0 is this computer's DNS name. Where no name
    // service answers for that address the call fails and leaves the 1,024 blanks the buffer was filled
    // with, and a resolver may answer with the address itself: then the computer's full DNS name is
    // asked for directly, and its host name where it has no domain.
    sockaddr_in any{};
    any.sin_family = AF_INET;
    wchar_t name[1025];
    wmemset(name, L' ', 1025);
    name[1024] = L'\0';
    const INT failed = getNameInfo(reinterpret_cast<const SOCKADDR*>(&any), sizeof any, name, 1025, nullptr, 0, 0);
    QString fqdn = failed ? QString() : QString::fromWCharArray(name);
    if (fqdn.trimmed().isEmpty() || !QHostAddress(fqdn).isNull())
        fqdn = computerDnsName();

    char host[1024] = {};
    gethostname(host, sizeof host - 1);
    const QString hostName = QString::fromLocal8Bit(host);
    if (fqdn.isEmpty())
        fqdn = hostName;
    return HostNames{hostName.toUpper(), fqdn.toUpper()};
}

// Pre-Vista only; this toolkit needs Windows 10 or later.
bool systemWantsFadeEffects() {
    return false;
}

bool displayAvailable() {
    return true;
}

QByteArray preferredPlatform(const QByteArray& userChoice) {
    return userChoice;
}

void choosePlatform() {}

} // namespace plinket
