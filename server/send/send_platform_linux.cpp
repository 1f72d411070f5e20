#include "send_platform.h"

#include <csignal>
#include <unistd.h>

namespace plinket {

namespace {

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, sig);
    return set;
}

} // namespace

void holdStopRequests() {
    const sigset_t set = stopSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool takeStopRequest() {
    const sigset_t set = stopSignals();
    const timespec now{0, 0};
    return ::sigtimedwait(&set, nullptr, &now) > 0;
}

bool stderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace plinket
