#pragma once

// The console's last resort: a fault that nothing else handles (access violation, division by
// zero, stack overflow ...), on any thread, shows the crash report in a box titled "Error!" with
// no icon and then ends the process with exit code 0. Nothing is saved: config.ini is written only
// on a normal quit, and the end path runs no exit handlers or destructors.
//
// From the first fault until the box is closed no other thread of the console runs: the faulting
// thread stops them all before it shows the box, so a close request to the main window, a save of
// the settings or a send cannot happen meanwhile.
//
// Linux: signal handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGTRAP run on a per-thread
// alternate stack. The handler sends every other thread (listed in /proc/self/task) a real-time
// signal whose handler parks it for good, waits until they are parked, formats the report without
// allocating and hands it to the separate box program (plinket_crash_box) through a pipe, waits for
// it, then _exit(0).
// Windows: an unhandled-exception filter suspends every other thread of the process, shows the box
// with MessageBoxW, then ends with code 0.

#include <QString>

namespace plinket {

// Installs the handler for the whole process and prepares the calling thread (call it from the
// main thread, early in start-up, before anything can fault). boxProgramPath is the path of
// plinket_crash_box, which sits beside the console's own executable
// (QCoreApplication::applicationDirPath() + "/plinket_crash_box"); it is resolved and kept now
// because nothing may be allocated once a fault has happened. Returns false when the handler could
// not be installed completely (on Linux also when the box program is not there: reports then go
// to stderr only); the console carries on either way. Call once.
bool installCrashHandler(const QString& boxProgramPath);

// Every thread the console creates calls this first thing: it gives the thread the alternate
// stack the handler runs on, so that a stack overflow on that thread is reported too (other
// faults are reported either way). Threads that never call it die silently on a stack overflow.
// Harmless to call twice; the stack is released when the thread ends.
void prepareThreadForCrashReports();

} // namespace plinket
