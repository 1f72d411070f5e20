#include "popup_native.h"

#include <QWidget>

#include <windows.h>

namespace plinket {

// Windows keeps a topmost window above a fullscreen one and draws every caption itself.
PopupDesktop popupDesktop() {
    return {};
}

QString windowManagerName() {
    return QStringLiteral("Windows");
}

void preparePopupWindow(QWidget* window) {
    (void)window->winId();
}

void setExactWindowTitle(QWidget* window, const QString& title) {
    SetWindowTextW(reinterpret_cast<HWND>(window->winId()), reinterpret_cast<const wchar_t*>(title.utf16()));
}

// Windows draws a topmost window over a fullscreen one as soon as it is shown.
void redrawScreen(QWidget*) {}

// A window is never taken off the screen behind its program's back; minimising is seen by the toolkit.
MapChange mapChange(const QByteArray&, void*) {
    return MapChange::None;
}

} // namespace plinket
