#include "client_system.h"

#include <QHostInfo>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plinket {

namespace {

QString canonicalName(const QByteArray& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &result) != 0 || !result)
        return {};
    const QString name = result->ai_canonname ? QString::fromLocal8Bit(result->ai_canonname) : QString();
    ::freeaddrinfo(result);
    return name;
}

} // namespace

std::optional<HostNames> localHostNames() {
    char buffer[1024] = {};
    ::gethostname(buffer, sizeof buffer - 1);
    const QByteArray host(buffer);

    // The full name is the resolver's canonical name of the host name; when that has no domain part
    // (a hosts file that knows only the short name), the host name plus the DNS domain.
    QString fqdn = canonicalName(host);
    if (!fqdn.contains(u'.')) {
        const QString domain = QHostInfo::localDomainName();
        if (!domain.isEmpty())
            fqdn = QString::fromLocal8Bit(host) + u'.' + domain;
        else if (fqdn.isEmpty())
            fqdn = QString::fromLocal8Bit(host);
    }
    return HostNames{QString::fromLocal8Bit(host).toUpper(), fqdn.toUpper()};
}

bool systemWantsFadeEffects() { return false; }

bool displayAvailable() {
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

QByteArray preferredPlatform(const QByteArray& userChoice) {
    return userChoice.isEmpty() ? QByteArrayLiteral("xcb;wayland") : userChoice;
}

void choosePlatform() {
    qputenv("QT_QPA_PLATFORM", preferredPlatform(qgetenv("QT_QPA_PLATFORM")));
}

} // namespace plinket
