#include "popup_native.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace plinket {

namespace {

template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;

xcb_connection_t* x11Connection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t* connection) {
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    return screen ? screen->root : XCB_NONE;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name) {
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(strlen(name)), name),
                              nullptr),
        &std::free);
    return reply ? reply->atom : XCB_NONE;
}

// The window that the running window manager names in _NET_SUPPORTING_WM_CHECK, or none.
xcb_window_t windowManagerCheckWindow(xcb_connection_t* connection) {
    const xcb_atom_t check = atom(connection, "_NET_SUPPORTING_WM_CHECK");
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, rootWindow(connection), check, XCB_ATOM_WINDOW, 0, 1), nullptr),
        &std::free);
    if (!reply || xcb_get_property_value_length(reply.get()) < 4)
        return XCB_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(reply.get()));
}

QByteArray windowManagerName(xcb_connection_t* connection, xcb_window_t checkWindow) {
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, checkWindow, atom(connection, "_NET_WM_NAME"),
                                                atom(connection, "UTF8_STRING"), 0, 64),
                               nullptr),
        &std::free);
    if (!reply)
        return {};
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

// KWin keeps a focused fullscreen window above every "keep above" window; only its critical
// notifications stay above that, and those it shows without a title bar and never minimises.
bool isKWin(xcb_connection_t* connection) {
    const xcb_window_t check = windowManagerCheckWindow(connection);
    return check != XCB_NONE && windowManagerName(connection, check) == "KWin";
}

xcb_window_t nativeWindow(QWidget* window) {
    return static_cast<xcb_window_t>(window->winId());
}

} // namespace

QString windowManagerName() {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return QStringLiteral("a Wayland compositor without X11");
    xcb_connection_t* connection = x11Connection();
    const xcb_window_t check = connection ? windowManagerCheckWindow(connection) : XCB_NONE;
    const QString name = check != XCB_NONE ? QString::fromUtf8(windowManagerName(connection, check)) : QString();
    return name.isEmpty() ? QStringLiteral("no window manager") : name;
}

PopupDesktop popupDesktop() {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return {false, true};
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return {};
    // Without a window manager nobody draws a title bar; KWin draws none for the window kind we ask of it.
    const bool managed = windowManagerCheckWindow(connection) != XCB_NONE;
    return {true, managed && !isKWin(connection)};
}

void preparePopupWindow(QWidget* window) {
    xcb_connection_t* connection = x11Connection();
    if (!connection)
        return;
    const xcb_window_t id = nativeWindow(window);
    if (isKWin(connection)) {
        // A list of kinds: a window manager takes the first one it knows, so others see a normal window.
        const xcb_atom_t kinds[] = {atom(connection, "_KDE_NET_WM_WINDOW_TYPE_CRITICAL_NOTIFICATION"),
                                    atom(connection, "_NET_WM_WINDOW_TYPE_NORMAL")};
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_WINDOW_TYPE"),
                            XCB_ATOM_ATOM, 32, 2, kinds);
    }
    // On every virtual desktop: switching desktops must not hide a message that waits for OK.
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL,
                        32, 1, &allDesktops);
    xcb_flush(connection);
}

void setExactWindowTitle(QWidget* window, const QString& title) {
    xcb_connection_t* connection = x11Connection();
    if (!connection) {
        // Elsewhere only the toolkit's title exists; a blank one at least names nothing.
        if (title.isEmpty() && window->windowHandle())
            window->windowHandle()->setTitle(QStringLiteral(" "));
        return;
    }
    const QByteArray utf8 = title.toUtf8();
    const xcb_window_t id = nativeWindow(window);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_NAME"),
                        atom(connection, "UTF8_STRING"), 8, static_cast<uint32_t>(utf8.size()), utf8.constData());
    // WM_NAME too in UTF-8: as Latin-1 text (type STRING) every letter outside Latin-1 became "?" for the
    // tools and window managers that read WM_NAME only.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, atom(connection, "UTF8_STRING"), 8,
                        static_cast<uint32_t>(utf8.size()), utf8.constData());
    xcb_flush(connection);
}

void redrawScreen(QWidget* window) {
    xcb_connection_t* connection = x11Connection();
    if (!connection || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") || !isKWin(connection))
        return;
    const QString ownerName = QStringLiteral("redrawHelper");
    delete window->findChild<QObject*>(ownerName, Qt::FindDirectChildrenOnly);
    // Mapped minimised ("iconic"; KWin minimises only windows that could take the keyboard), never to be
    // activated (user time 0), and out of the task bar, pager and window switcher, it is never seen. It lives
    // as long as the window it was made for, so that KWin surely takes it on.
    const xcb_window_t helper = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, helper, rootWindow(connection), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const uint32_t stateHint = 2, iconicState = 3, never = 0;
    const uint32_t hints[9] = {stateHint, 0, iconicState};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, helper, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, 9, hints);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, helper, atom(connection, "_NET_WM_USER_TIME"),
                        XCB_ATOM_CARDINAL, 32, 1, &never);
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 atom(connection, "_NET_WM_STATE_SKIP_PAGER"),
                                 atom(connection, "_KDE_NET_WM_STATE_SKIP_SWITCHER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, helper, atom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        3, states);
    xcb_map_window(connection, helper);
    xcb_flush(connection);
    auto* owner = new QObject(window);
    owner->setObjectName(ownerName);
    QObject::connect(owner, &QObject::destroyed, [helper] {
        if (xcb_connection_t* stillOpen = x11Connection()) {
            xcb_destroy_window(stillOpen, helper);
            xcb_flush(stillOpen);
        }
    });
}

MapChange mapChange(const QByteArray& eventType, void* message) {
    if (eventType != "xcb_generic_event_t" || !message)
        return MapChange::None;
    switch (static_cast<const xcb_generic_event_t*>(message)->response_type & ~0x80) {
    case XCB_UNMAP_NOTIFY:
        return MapChange::Unmapped;
    case XCB_MAP_NOTIFY:
        return MapChange::Mapped;
    default:
        return MapChange::None;
    }
}

} // namespace plinket
