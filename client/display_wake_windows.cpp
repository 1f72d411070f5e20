#include "display_wake.h"

#include <QWidget>

#include <windows.h>

namespace plinket {

void wakeDisplay(QWidget* window) {
    SendMessageW(reinterpret_cast<HWND>(window->winId()), WM_SYSCOMMAND, SC_MONITORPOWER, static_cast<LPARAM>(-1));
}

bool sessionBusExpected() {
    return false;
}

} // namespace plinket
