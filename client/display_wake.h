#pragma once

class QWidget;

namespace plinket {

// Switches the display on when a pop-up opens. Linux: forces DPMS on under X11, and asks the
// desktop's screen saver over D-Bus (freedesktop ScreenSaver SimulateUserActivity), without waiting
// for an answer and without starting a bus or a service that is not running. Windows: SC_MONITORPOWER "on" to the
// pop-up. Silent when nothing answers.
void wakeDisplay(QWidget* window);

// Linux: whether a session bus is there to be asked (its address is set, or the per-user bus socket
// exists); without one libdbus would try to launch a bus of its own. Windows: false.
bool sessionBusExpected();

} // namespace plinket
