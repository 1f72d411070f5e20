#pragma once

// What the pop-up needs from the desktop beyond the toolkit: the kind of window that each window manager
// keeps above a focused fullscreen window, a place on every virtual desktop, an empty title that stays
// empty, a compositor that really draws it, and the moment the window manager takes the window off the
// screen. One implementation per platform; on platforms where a program cannot do these things they do
// nothing.

#include <QByteArray>
#include <QString>

class QWidget;

namespace plinket {

struct PopupDesktop {
    // False where the session cannot keep a program's window above the others or give it a place
    // (Wayland without X11): the pop-up is still shown and answered, and the client says so in the journal.
    bool keepsOnTop = true;
    // False where the pop-up's window kind gets no title bar from the window manager (KWin shows its
    // critical notifications bare; no window manager at all): the pop-up then draws its title itself.
    bool drawsTitleBar = true;
};

// The window manager's own name (_NET_WM_NAME of its check window on X11), for the journal.
QString windowManagerName();

// Asks the running session; cheap enough to call for every pop-up (a window manager can be replaced).
PopupDesktop popupDesktop();

// Before the window is shown the first time: the window kind that keeps it above a focused fullscreen
// window where the window manager has one, and a place on every virtual desktop. Creates the native window.
void preparePopupWindow(QWidget* window);

// Sets the native title to exactly `title`. The toolkit puts the program's name into an empty title;
// the pop-up's title is empty when a message came in an unknown language before any known one.
void setExactWindowTitle(QWidget* window, const QString& title);

// Makes the compositor draw the whole screen anew, for a window that has just been put on the screen
// (shown, or back) and drawn by the toolkit for it. KWin 5.27 in a Wayland session draws no new frame for
// other windows while a fullscreen window was on top at its last frame; a window it newly manages makes it
// draw the screen. So there a window that never shows and leaves no trace is managed, and taken away
// again with `window`. Elsewhere it does nothing.
void redrawScreen(QWidget* window);

// What a native event says about the window being on the screen: taken off it (unmapped; the toolkit
// still counts such a window as shown, while the window manager has forgotten it and its state), put on it
// (mapped), or neither.
enum class MapChange { None, Unmapped, Mapped };
MapChange mapChange(const QByteArray& eventType, void* message);

} // namespace plinket
