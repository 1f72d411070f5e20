#pragma once

// Whether a person can see the pop-up, asked of the display server and the session rather than taken
// for granted once the window is shown: the report "1" waits for it. A window manager can put a shown
// window on another workspace, roll it up, hide it behind "show desktop" or under a window it keeps
// higher; a locker or a screen saver can cover the whole screen. The watch follows what the display
// server and the session announce (never by polling), tells when the verdict may have changed, and
// works at removing what it can: it leaves "show desktop", unrolls the window, puts it on every
// workspace, raises it over the window that covers it and ends a screen saver that blanks without a lock.
// One implementation per platform; where nothing can be checked (Wayland without X11, an offscreen
// screen) the pop-up counts as seen once the windowing system has exposed it.

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace plinket {

// Why a pop-up on the screen cannot be seen, in the order they are told (the first that applies).
enum class Hindrance {
    Locked,         // the session or the screen is locked
    Blanked,        // a screen saver blanks the screen, or the display is off
    ShowingDesktop, // the window manager shows the desktop and hides every window
    OtherWorkspace, // the pop-up is on a workspace other than the one in use
    Minimised,      // the window manager iconified it
    Shaded,         // rolled up into its title bar
    NotShown,       // not (yet) mapped and viewable
    Covered,        // another window lies over part of it
};

// The reason as it appears in event 107 ("screen locked", "covered by another window", ...).
QString hindranceText(Hindrance hindrance);

// What the watch has learnt from the display server and the session; each field false when unknown.
struct DesktopView {
    bool locked = false;         // logind's LockedHint, a locker's status, or a locker's window over the screen
    bool blanked = false;        // a screen saver is on, or the display is powered down
    bool showingDesktop = false; // _NET_SHOWING_DESKTOP
    bool otherWorkspace = false; // the pop-up's workspace is neither "all" nor the one in use
    bool minimised = false;      // iconic
    bool shaded = false;         // _NET_WM_STATE_SHADED
    bool viewable = false;       // the pop-up and every window it is framed in are mapped
    bool covered = false;        // a managed window stacked above overlaps it
};

// The first hindrance that applies; none when a person can see the pop-up.
std::optional<Hindrance> firstHindrance(const DesktopView& view);

class VisibilityWatch : public QObject {
    Q_OBJECT

public:
    // Starts watching `window`, which is about to be shown. Call check() on changed().
    static std::unique_ptr<VisibilityWatch> create(QWidget* window);

    // True where the display server lets the watch check anything at all (X11). Elsewhere the pop-up
    // counts as seen once exposed, and the client says so once (event 108).
    static bool canVerify();

    // The current hindrance, asked anew; none once a person can see the pop-up. Also starts what can
    // remove the hindrance (each such step at most a few times per message: a window manager that
    // undoes it every time is not fought forever, but named once in the journal, event 108).
    virtual std::optional<Hindrance> check() = 0;

signals:
    // Something was announced that may change the verdict.
    void changed();

protected:
    using QObject::QObject;
};

} // namespace plinket
