#include "display_wake.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QGuiApplication>

#include <xcb/dpms.h>
#include <xcb/xcb.h>

namespace plinket {

namespace {

// On X11 a display that power management has switched off comes back on when DPMS is forced to "on".
// The request is queued on Qt's own connection and not awaited. It is sent only when the server has
// the extension: a request for a missing extension makes the X library close the whole connection.
void forceDisplayOnX11() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return;
    const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(connection, &xcb_dpms_id);
    if (!dpms || !dpms->present)
        return;
    xcb_dpms_force_level(connection, XCB_DPMS_DPMS_MODE_ON);
    xcb_flush(connection);
}

} // namespace

bool sessionBusExpected() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus"));
}

void wakeDisplay(QWidget*) {
    forceDisplayOnX11();
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
