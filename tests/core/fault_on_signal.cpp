// Linked into the console's test build: SIGUSR1 makes a worker thread of the running console fault
// with a null write, so that a test can crash the console on a worker thread at a moment of its
// choosing and then act on the console's windows while the crash box is open.

#include "crash_handler.h"

#include <csignal>
#include <pthread.h>
#include <thread>

namespace {

int* volatile g_nullPointer = nullptr;

// The fault is the point: under the undefined-behaviour sanitizer it must still reach the processor.
__attribute__((no_sanitize("undefined"))) void nullWrite() {
    *g_nullPointer = 1;
}

[[maybe_unused]] const bool g_armed = [] {
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    // Blocked before the program starts any thread, so every thread inherits the block and only
    // the waiting worker takes the signal.
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
    std::thread([usr1] {
        plinket::prepareThreadForCrashReports();
        int signo = 0;
        if (sigwait(&usr1, &signo) == 0)
            nullWrite();
    }).detach();
    return true;
}();

} // namespace
