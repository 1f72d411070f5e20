#pragma once

// The few things plinket_send needs from the system that differ between Linux and Windows.

#include <QtGlobal>

namespace plinket {

// Stop requests (Ctrl+C, SIGTERM from systemd or kill, SIGHUP when the terminal goes away; the console
// window's Ctrl+C or close on Windows): from holdStopRequests() on they no longer end the process at
// once. The run asks takeStopRequest() as it goes, and then closes its round, records it and prints
// what it knows before it ends. Call holdStopRequests on the main thread before any thread is started.
void holdStopRequests();
bool takeStopRequest();

// Whether standard error is a terminal (progress is shown only there).
bool stderrIsTerminal();

} // namespace plinket
