#include "display_wake.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>

namespace plinket {

namespace {

// Without an address and without the per-user bus socket, libdbus would try to launch a bus of its own.
bool sessionBusExpected() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus"));
}

} // namespace

void wakeDisplay(QWidget*) {
    static const bool busExpected = sessionBusExpected();
    if (!busExpected)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
        QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("SimulateUserActivity"));
    call.setAutoStartService(false);
    bus.send(call); // the answer, or the error when no screen saver listens, is not awaited
}

} // namespace plinket
