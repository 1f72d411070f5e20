#include "popup_visibility.h"

#include "display_wake.h"
#include "eventlog.h"
#include "popup_native.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QSet>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <systemd/sd-login.h>
#include <xcb/dpms.h>
#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace plinket {

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> Reply<T> owned(T* reply) {
    return Reply<T>(reply, &std::free);
}

// Each step that works at making the pop-up visible is tried at most MAX_TRIES times in TRY_PERIOD_MS, so
// that a window manager (or a program) that undoes it every time is not fought without end.
constexpr int MAX_TRIES = 4;
constexpr int TRY_PERIOD_MS = 5000;
// A step is not repeated sooner than this: the window manager first has to act on it.
constexpr int SETTLE_MS = 250;

// The moments a step was last tried, within TRY_PERIOD_MS.
struct Tries {
    QList<qint64> at;
};

const QString LOGIN_SERVICE = QStringLiteral("org.freedesktop.login1");
const QString SAVER_SERVICE = QStringLiteral("org.freedesktop.ScreenSaver");
const QString SAVER_PATH = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");

// Writes event 108 for `what` once per run.
void reportLimit(const QString& what) {
    static QSet<QString> told;
    if (told.contains(what))
        return;
    told.insert(what);
    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_WINDOW_MANAGER_LIMIT, what,
                windowManagerName());
}

// The lock state of the user's session (logind's LockedHint) and the desktop's screen saver
// (org.freedesktop.ScreenSaver, where the desktop offers one), asked once and then followed through the
// buses' change signals for as long as this object lives.
class SessionWatch final : public QObject {
    Q_OBJECT

public:
    explicit SessionWatch(QObject* parent) : QObject(parent) {
        askLogind();
        askScreenSaver();
    }

    // True while a question to a bus is still unanswered: the verdict waits for it.
    bool pending() const { return m_pendingCalls > 0; }
    bool locked() const { return m_locked; }
    bool saverActive() const { return m_saverActive; }

signals:
    void changed();

private slots:
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed, const QStringList&) {
        if (interface == u"org.freedesktop.login1.Session" && changed.contains(u"LockedHint"_qs)) {
            m_locked = changed.value(u"LockedHint"_qs).toBool();
            emit this->changed();
        }
    }
    void saverActiveChanged(bool active) {
        m_saverActive = active;
        emit changed();
    }

private:
    // Sends `call` and hands the answer (or the error, as an invalid message) to `done`.
    template <typename Done> void ask(QDBusConnection bus, const QDBusMessage& call, Done done) {
        ++m_pendingCalls;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, done] {
            watcher->deleteLater();
            --m_pendingCalls;
            const QDBusMessage answer = watcher->reply();
            done(answer.type() == QDBusMessage::ReplyMessage ? answer : QDBusMessage());
            emit changed();
        });
    }

    void askLogind() {
        // No system bus (a container, a test namespace): no session to ask about.
        if (!QFileInfo::exists(u"/run/dbus/system_bus_socket"_qs) &&
            qEnvironmentVariableIsEmpty("DBUS_SYSTEM_BUS_ADDRESS"))
            return;
        char* session = nullptr;
        if (sd_pid_get_session(0, &session) < 0 || !session)
            return; // not started in a login session
        const QString id = QString::fromUtf8(session);
        std::free(session);
        QDBusConnection bus = QDBusConnection::systemBus();
        if (!bus.isConnected())
            return;
        QDBusMessage call = QDBusMessage::createMethodCall(LOGIN_SERVICE, u"/org/freedesktop/login1"_qs,
                                                           u"org.freedesktop.login1.Manager"_qs, u"GetSession"_qs);
        call << id;
        ask(bus, call, [this, bus](const QDBusMessage& answer) {
            if (answer.arguments().isEmpty())
                return;
            const QString path = qvariant_cast<QDBusObjectPath>(answer.arguments().constFirst()).path();
            QDBusConnection(bus).connect(LOGIN_SERVICE, path, PROPERTIES, u"PropertiesChanged"_qs, this,
                                         SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
            QDBusMessage get = QDBusMessage::createMethodCall(LOGIN_SERVICE, path, PROPERTIES, u"Get"_qs);
            get << u"org.freedesktop.login1.Session"_qs << u"LockedHint"_qs;
            ask(bus, get, [this](const QDBusMessage& value) {
                if (!value.arguments().isEmpty())
                    m_locked = qvariant_cast<QDBusVariant>(value.arguments().constFirst()).variant().toBool();
            });
        });
    }

    void askScreenSaver() {
        if (!sessionBusExpected())
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        bus.connect(SAVER_SERVICE, SAVER_PATH, SAVER_SERVICE, u"ActiveChanged"_qs, this,
                    SLOT(saverActiveChanged(bool)));
        QDBusMessage call = QDBusMessage::createMethodCall(SAVER_SERVICE, SAVER_PATH, SAVER_SERVICE, u"GetActive"_qs);
        call.setAutoStartService(false); // asked only where the desktop already offers it
        ask(bus, call, [this](const QDBusMessage& answer) {
            if (!answer.arguments().isEmpty())
                m_saverActive = answer.arguments().constFirst().toBool();
        });
    }

    int m_pendingCalls = 0;
    bool m_locked = false;
    bool m_saverActive = false;
};

// Where the windowing system tells nothing about other windows (Wayland without X11, offscreen): the
// pop-up counts as seen once it is exposed and the session is neither locked nor under a screen saver.
class ExposureWatch final : public VisibilityWatch {
public:
    explicit ExposureWatch(QWidget* window) : m_window(window), m_session(new SessionWatch(this)) {
        connect(m_session, &SessionWatch::changed, this, &VisibilityWatch::changed);
        window->installEventFilter(this);
        if (window->windowHandle())
            window->windowHandle()->installEventFilter(this);
    }

    std::optional<Hindrance> check() override {
        DesktopView view;
        view.locked = m_session->locked();
        view.blanked = m_session->saverActive();
        // Nothing here says when the pop-up is covered or taken away again: once exposed, it stays seen.
        QWindow* handle = m_window ? m_window->windowHandle() : nullptr;
        m_exposed = m_exposed || (handle && handle->isExposed());
        view.viewable = m_exposed && !m_session->pending();
        if (view.blanked && m_saverWakes++ < MAX_TRIES && m_window)
            wakeDisplay(m_window);
        return firstHindrance(view);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && m_window && watched == m_window && m_window->windowHandle())
            m_window->windowHandle()->installEventFilter(this);
        if (event->type() == QEvent::Expose)
            emit changed();
        return false;
    }

private:
    QPointer<QWidget> m_window;
    SessionWatch* m_session;
    bool m_exposed = false;
    int m_saverWakes = 0;
};

// The atoms the X11 watch reads and sends.
enum Atom {
    NET_SUPPORTED,
    NET_CURRENT_DESKTOP,
    NET_SHOWING_DESKTOP,
    NET_WM_DESKTOP,
    NET_WM_STATE,
    NET_WM_STATE_SHADED,
    NET_WM_STATE_STICKY,
    NET_WM_STATE_HIDDEN,
    NET_WM_STATE_FULLSCREEN,
    NET_WM_STATE_ABOVE,
    NET_RESTACK_WINDOW,
    WM_STATE,
    WM_CLASS_ATOM,
    SCREENSAVER_STATUS,
    BLANK,
    LOCK,
    ATOM_COUNT
};
constexpr std::array<const char*, ATOM_COUNT> ATOM_NAMES = {"_NET_SUPPORTED",
                                                            "_NET_CURRENT_DESKTOP",
                                                            "_NET_SHOWING_DESKTOP",
                                                            "_NET_WM_DESKTOP",
                                                            "_NET_WM_STATE",
                                                            "_NET_WM_STATE_SHADED",
                                                            "_NET_WM_STATE_STICKY",
                                                            "_NET_WM_STATE_HIDDEN",
                                                            "_NET_WM_STATE_FULLSCREEN",
                                                            "_NET_WM_STATE_ABOVE",
                                                            "_NET_RESTACK_WINDOW",
                                                            "WM_STATE",
                                                            "WM_CLASS",
                                                            "_SCREENSAVER_STATUS",
                                                            "BLANK",
                                                            "LOCK"};

constexpr uint32_t ALL_DESKTOPS = 0xFFFFFFFF;
constexpr uint32_t FROM_PAGER = 2; // source indication: a pager, which window managers obey without question

bool overlaps(const QRect& a, const QRect& b) {
    return a.intersects(b);
}

// The X11 watch. It has a display connection of its own: the events it asks for (changes of every
// top-level window and of the root window's properties, screen saver notices) then reach only it, and
// the toolkit's connection keeps the event masks the toolkit chose. Its socket wakes the event loop only
// when the display server has something to say.
class X11Watch final : public VisibilityWatch {
    Q_OBJECT

public:
    X11Watch(QWidget* window, xcb_connection_t* connection)
        : m_window(window), m_connection(connection), m_session(new SessionWatch(this)) {
        connect(m_session, &SessionWatch::changed, this, &X11Watch::announce);
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(setup).data;
        m_root = screen->root;
        m_screen = QRect(0, 0, screen->width_in_pixels, screen->height_in_pixels);
        m_id = static_cast<xcb_window_t>(window->winId());

        std::array<xcb_intern_atom_cookie_t, ATOM_COUNT> cookies{};
        for (int i = 0; i < ATOM_COUNT; ++i)
            cookies[i] = xcb_intern_atom(m_connection, 0, uint16_t(strlen(ATOM_NAMES[i])), ATOM_NAMES[i]);
        for (int i = 0; i < ATOM_COUNT; ++i) {
            const auto reply = owned(xcb_intern_atom_reply(m_connection, cookies[i], nullptr));
            m_atoms[i] = reply ? reply->atom : XCB_NONE;
        }

        m_clock.start();
        m_retry.setSingleShot(true);
        connect(&m_retry, &QTimer::timeout, this, &X11Watch::announce);
        m_limitTimer.setSingleShot(true);
        connect(&m_limitTimer, &QTimer::timeout, this, [this] {
            if (!m_exhausted.isEmpty())
                reportLimit(std::exchange(m_exhausted, QString()));
            announce();
        });
        const uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &rootEvents);
        const uint32_t windowEvents = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_id, XCB_CW_EVENT_MASK, &windowEvents);
        // Only with the extension present: a request for a missing one makes the X library drop the connection.
        const xcb_query_extension_reply_t* saver = xcb_get_extension_data(m_connection, &xcb_screensaver_id);
        m_hasSaverExtension = saver && saver->present;
        if (m_hasSaverExtension) {
            xcb_screensaver_select_input(m_connection, m_root,
                                         XCB_SCREENSAVER_EVENT_NOTIFY_MASK | XCB_SCREENSAVER_EVENT_CYCLE_MASK);
        }
        const xcb_query_extension_reply_t* dpms = xcb_get_extension_data(m_connection, &xcb_dpms_id);
        m_hasDpms = dpms && dpms->present;
        xcb_flush(m_connection);

        m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &X11Watch::readEvents);
        window->installEventFilter(this);
        if (window->windowHandle())
            window->windowHandle()->installEventFilter(this);
    }

    ~X11Watch() override { xcb_disconnect(m_connection); }

    std::optional<Hindrance> check() override {
        if (xcb_connection_has_error(m_connection))
            return Hindrance::NotShown;
        const DesktopView view = look();
        act(view);
        xcb_flush(m_connection);
        const std::optional<Hindrance> hindrance = firstHindrance(view);
        if (!hindrance)
            m_exhausted.clear();
        return hindrance;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && m_window && watched == m_window && m_window->windowHandle())
            m_window->windowHandle()->installEventFilter(this);
        if (event->type() == QEvent::Expose)
            announce();
        return false;
    }

private:
    // One `changed` per pass of the event loop, however many events came in it.
    void announce() {
        if (std::exchange(m_announced, true))
            return;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_announced = false;
                emit changed();
            },
            Qt::QueuedConnection);
    }

    void readEvents() {
        bool any = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            any = true;
            // Mapped anew (after an unmapping behind its back): the window manager has forgotten what was
            // asked of it, so every step may be tried afresh.
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            if ((event->response_type & ~0x80) == XCB_MAP_NOTIFY && map->window == m_id) {
                m_tries = {};
                m_transientFor = XCB_NONE;
            }
            std::free(event);
        }
        if (xcb_connection_has_error(m_connection)) {
            m_notifier->setEnabled(false); // the display is gone; the toolkit ends the program
            return;
        }
        if (any)
            announce();
    }

    QByteArray property(xcb_window_t window, int atom) {
        const auto reply = owned(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, m_atoms[atom], XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
            nullptr));
        if (!reply || reply->format == 0)
            return {};
        return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                          xcb_get_property_value_length(reply.get()));
    }
    static QList<uint32_t> values32(const QByteArray& bytes) {
        QList<uint32_t> values(bytes.size() / 4);
        if (!values.isEmpty()) // an empty list has no storage: memcpy must not see its null pointer
            std::memcpy(values.data(), bytes.constData(), size_t(values.size()) * 4);
        return values;
    }
    std::optional<uint32_t> cardinal(xcb_window_t window, int atom) {
        const QList<uint32_t> values = values32(property(window, atom));
        return values.isEmpty() ? std::nullopt : std::optional<uint32_t>(values.constFirst());
    }
    bool hasState(const QList<uint32_t>& states, int atom) const { return states.contains(m_atoms[atom]); }

    // The child of the root window that holds the pop-up: the window manager's frame, or the pop-up itself.
    xcb_window_t topLevel() {
        xcb_window_t window = m_id;
        for (int depth = 0; depth < 8; ++depth) {
            const auto tree = owned(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, window), nullptr));
            if (!tree || tree->parent == XCB_NONE)
                return XCB_NONE;
            if (tree->parent == m_root)
                return window;
            window = tree->parent;
        }
        return XCB_NONE;
    }

    // The client window inside a frame: the one with WM_STATE, the frame itself when none has it.
    xcb_window_t clientOf(xcb_window_t frame) {
        if (!property(frame, WM_STATE).isEmpty())
            return frame;
        const auto tree = owned(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, frame), nullptr));
        if (!tree)
            return frame;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = xcb_query_tree_children_length(tree.get()) - 1; i >= 0; --i)
            if (!property(children[i], WM_STATE).isEmpty())
                return children[i];
        return frame;
    }

    QRect geometryOf(xcb_window_t window) {
        const auto reply = owned(xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
        if (!reply)
            return {};
        return QRect(reply->x, reply->y, reply->width + 2 * reply->border_width,
                     reply->height + 2 * reply->border_width);
    }

    // Reads the stacking order: windows above the pop-up's frame that overlap it. A managed window (a
    // frame) covers it; a window no window manager handles (a menu, a tooltip) does only when it lies
    // over the whole screen, as lockers and screen savers do.
    void lookAtStacking(xcb_window_t frame, DesktopView& view) {
        m_coveringFrame = XCB_NONE;
        const QRect mine = geometryOf(frame);
        const auto tree = owned(xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
        if (!tree || mine.isEmpty())
            return;
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        const int count = xcb_query_tree_children_length(tree.get());
        int index = count;
        for (int i = 0; i < count; ++i)
            if (children[i] == frame)
                index = i;
        // Above it, bottom to top: ask for all at once, then read the answers.
        QList<xcb_get_window_attributes_cookie_t> attributes;
        QList<xcb_get_geometry_cookie_t> geometries;
        for (int i = index + 1; i < count; ++i) {
            attributes.append(xcb_get_window_attributes(m_connection, children[i]));
            geometries.append(xcb_get_geometry(m_connection, children[i]));
        }
        for (int i = 0; i < attributes.size(); ++i) {
            const auto a = owned(xcb_get_window_attributes_reply(m_connection, attributes[i], nullptr));
            const auto g = owned(xcb_get_geometry_reply(m_connection, geometries[i], nullptr));
            if (!a || !g || a->map_state != XCB_MAP_STATE_VIEWABLE || a->_class == XCB_WINDOW_CLASS_INPUT_ONLY)
                continue;
            const QRect area(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
            if (!overlaps(area, mine))
                continue;
            if (!a->override_redirect) {
                view.covered = true;
                m_coveringFrame = children[index + 1 + i];
            } else if (area.contains(m_screen)) {
                view.locked = true; // a locker's or a screen saver's window
            }
        }
    }

    DesktopView look() {
        DesktopView view;
        view.locked = m_session->locked();
        view.blanked = m_session->saverActive();
        m_saverOn = false;
        m_xscreensaverBlanks = false;
        if (m_hasSaverExtension) {
            const auto info = owned(xcb_screensaver_query_info_reply(
                m_connection, xcb_screensaver_query_info(m_connection, m_root), nullptr));
            m_saverOn = info && info->state == XCB_SCREENSAVER_STATE_ON;
        }
        m_displayOff = false;
        if (m_hasDpms) {
            const auto info = owned(xcb_dpms_info_reply(m_connection, xcb_dpms_info(m_connection), nullptr));
            m_displayOff = info && info->state && info->power_level != XCB_DPMS_DPMS_MODE_ON;
        }
        // xscreensaver announces itself on the root window: BLANK or LOCK, or 0 when it is idle.
        const QList<uint32_t> status = values32(property(m_root, SCREENSAVER_STATUS));
        if (!status.isEmpty()) {
            view.locked = view.locked || status[0] == m_atoms[LOCK];
            m_xscreensaverBlanks = status[0] == m_atoms[BLANK];
        }
        view.blanked = view.blanked || m_saverOn || m_displayOff || m_xscreensaverBlanks;
        view.showingDesktop = cardinal(m_root, NET_SHOWING_DESKTOP).value_or(0) == 1;

        const QList<uint32_t> states = values32(property(m_id, NET_WM_STATE));
        view.shaded = hasState(states, NET_WM_STATE_SHADED);
        m_sticky = hasState(states, NET_WM_STATE_STICKY);
        m_above = hasState(states, NET_WM_STATE_ABOVE);
        const QList<uint32_t> wmState = values32(property(m_id, WM_STATE));
        m_managed = !wmState.isEmpty();
        view.minimised = (m_managed && wmState[0] == 3) || hasState(states, NET_WM_STATE_HIDDEN);
        const std::optional<uint32_t> desktop = cardinal(m_id, NET_WM_DESKTOP);
        m_sticky = m_sticky || desktop == ALL_DESKTOPS; // some window managers say it only this way
        const std::optional<uint32_t> current = cardinal(m_root, NET_CURRENT_DESKTOP);
        view.otherWorkspace = desktop && current && *desktop != ALL_DESKTOPS && *desktop != *current;

        const auto attributes = owned(
            xcb_get_window_attributes_reply(m_connection, xcb_get_window_attributes(m_connection, m_id), nullptr));
        QWindow* handle = m_window ? m_window->windowHandle() : nullptr;
        view.viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && handle &&
                        handle->isExposed() && !m_session->pending();
        if (view.viewable) {
            if (const xcb_window_t frame = topLevel())
                lookAtStacking(frame, view);
        }
        return view;
    }

    void clientMessage(xcb_window_t window, int type, std::array<uint32_t, 5> data) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = m_atoms[type];
        std::memcpy(event.data.data32, data.data(), sizeof event.data.data32);
        xcb_send_event(m_connection, 0, m_root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }

    // Tries `step` while it has tries left; once they are used up the journal says (once per run) what the
    // window manager does not allow, and the step is tried again when the period lets it.
    template <typename Step> void attempt(Tries& tries, const QString& impossible, Step step) {
        const qint64 now = m_clock.elapsed();
        tries.at.removeIf([now](qint64 at) { return now - at >= TRY_PERIOD_MS; });
        if (!tries.at.isEmpty() && now - tries.at.constLast() < SETTLE_MS) {
            retryIn(tries.at.constLast() + SETTLE_MS - now);
        } else if (tries.at.size() < MAX_TRIES) {
            tries.at.append(now);
            step();
            retryIn(SETTLE_MS); // looked at again even if the window manager says nothing
        } else {
            // Told only if the pop-up is still not visible when the step may be tried again.
            m_exhausted = impossible;
            if (!m_limitTimer.isActive())
                m_limitTimer.start(int(TRY_PERIOD_MS - (now - tries.at.constFirst()) + 1));
        }
    }

    void retryIn(qint64 ms) {
        if (!m_retry.isActive() || m_retry.remainingTime() > ms)
            m_retry.start(int(ms));
    }

    void act(const DesktopView& view) {
        if (view.blanked && !view.locked)
            endBlanking();
        if (view.locked)
            return; // nothing to do until the person unlocks
        if (view.showingDesktop)
            attempt(m_tries.showDesktop, u"leave \"show desktop\""_qs, [&] {
                clientMessage(m_root, NET_SHOWING_DESKTOP, {0, 0, 0, 0, 0});
            });
        // On every workspace: asked once more after mapping (some window managers ignore the request
        // made before, or take "all workspaces" for the last one), and again whenever it is lost.
        if (m_managed && (!m_sticky || view.otherWorkspace))
            attempt(m_tries.sticky, u"be shown on every workspace"_qs, [&] {
                clientMessage(m_id, NET_WM_DESKTOP, {ALL_DESKTOPS, FROM_PAGER, 0, 0, 0});
                clientMessage(m_id, NET_WM_STATE, {1, m_atoms[NET_WM_STATE_STICKY], 0, FROM_PAGER, 0});
            });
        if (view.shaded)
            attempt(m_tries.unshade, u"stay unrolled"_qs, [&] {
                clientMessage(m_id, NET_WM_STATE, {0, m_atoms[NET_WM_STATE_SHADED], 0, FROM_PAGER, 0});
            });
        if (view.minimised)
            attempt(m_tries.restore, u"stay out of the minimised state"_qs,
                    [&] { xcb_map_window(m_connection, m_id); });
        // Kept above: asked again where a window manager forgot it (after the pop-up was minimised, say).
        if (m_managed && !m_above)
            attempt(m_tries.above, u"be kept above other windows"_qs, [&] {
                clientMessage(m_id, NET_WM_STATE, {1, m_atoms[NET_WM_STATE_ABOVE], 0, FROM_PAGER, 0});
            });
        if (view.covered && !view.showingDesktop && !view.otherWorkspace && !view.minimised && !view.shaded)
            raise();
    }

    // Raises the pop-up over the window that covers it: first by asking, as a pager would; where the
    // window manager keeps the other window in a higher layer (a focused fullscreen window, another
    // "always on top" window it prefers), by becoming that window's dialog, which every window manager
    // stacks above the window it belongs to.
    void raise() {
        const xcb_window_t client = clientOf(m_coveringFrame);
        const bool fullscreen = hasState(values32(property(client, NET_WM_STATE)), NET_WM_STATE_FULLSCREEN);
        attempt(m_tries.raise, u"stay above " + describe(client), [&] {
            if ((fullscreen || m_tries.raise.at.size() > 1) && client != m_transientFor) {
                m_transientFor = client;
                xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_id, XCB_ATOM_WM_TRANSIENT_FOR,
                                    XCB_ATOM_WINDOW, 32, 1, &client);
            }
            clientMessage(m_id, NET_RESTACK_WINDOW, {FROM_PAGER, XCB_NONE, XCB_STACK_MODE_ABOVE, 0, 0});
            const uint32_t above = XCB_STACK_MODE_ABOVE;
            xcb_configure_window(m_connection, m_id, XCB_CONFIG_WINDOW_STACK_MODE, &above);
        });
    }

    // "a fullscreen window (class)" or "an always-on-top window (class)" or "another window (class)".
    QString describe(xcb_window_t client) {
        const QList<uint32_t> states = values32(property(client, NET_WM_STATE));
        const QByteArray wmClass = property(client, WM_CLASS_ATOM);
        const QString name = QString::fromLocal8Bit(wmClass.mid(wmClass.indexOf('\0') + 1)).remove(QChar(0));
        const QString kind = hasState(states, NET_WM_STATE_FULLSCREEN) ? u"a fullscreen window"_qs
                             : hasState(states, NET_WM_STATE_ABOVE)    ? u"an always-on-top window"_qs
                                                                       : u"another window"_qs;
        return name.isEmpty() ? kind : kind + u" (" + name + u')';
    }

    // A screen saver that blanks without a lock is ended: the X server's own, xscreensaver's (through its
    // own command, which knows how to reach it) and the desktop's (through the display wake).
    void endBlanking() {
        attempt(m_tries.unblank, u"end the screen saver"_qs, [&] {
            if (m_saverOn)
                xcb_force_screen_saver(m_connection, XCB_SCREEN_SAVER_RESET);
            if (m_xscreensaverBlanks) {
                const QString command = QStandardPaths::findExecutable(u"xscreensaver-command"_qs);
                if (!command.isEmpty())
                    QProcess::startDetached(command, {u"-deactivate"_qs});
            }
            if (m_window)
                wakeDisplay(m_window);
        });
    }

    QPointer<QWidget> m_window;
    xcb_connection_t* m_connection;
    SessionWatch* m_session;
    QSocketNotifier* m_notifier = nullptr;
    xcb_window_t m_root = XCB_NONE;
    xcb_window_t m_id = XCB_NONE;
    QRect m_screen;
    std::array<xcb_atom_t, ATOM_COUNT> m_atoms{};
    bool m_hasSaverExtension = false;
    bool m_hasDpms = false;
    bool m_announced = false;
    // From the last look.
    bool m_managed = false;
    bool m_sticky = false;
    bool m_saverOn = false;
    bool m_displayOff = false;
    bool m_xscreensaverBlanks = false;
    xcb_window_t m_coveringFrame = XCB_NONE;
    xcb_window_t m_transientFor = XCB_NONE;
    bool m_above = false;
    QElapsedTimer m_clock;
    QTimer m_retry;      // looks again once a step had time to work
    QTimer m_limitTimer; // looks again once the tries of a step are renewed
    QString m_exhausted; // the step whose tries ran out while the pop-up could not be seen
    struct {
        Tries showDesktop, sticky, unshade, restore, above, raise, unblank;
    } m_tries;
};

bool onX11() {
    return QGuiApplication::platformName() == u"xcb" && qGuiApp &&
           qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
}

} // namespace

bool VisibilityWatch::canVerify() {
    return onX11();
}

std::unique_ptr<VisibilityWatch> VisibilityWatch::create(QWidget* window) {
    if (onX11()) {
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        if (connection && !xcb_connection_has_error(connection))
            return std::make_unique<X11Watch>(window, connection);
        if (connection)
            xcb_disconnect(connection);
    }
    return std::make_unique<ExposureWatch>(window);
}

} // namespace plinket

#include "popup_visibility_linux.moc"
