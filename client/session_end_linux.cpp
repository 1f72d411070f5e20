#include "session_end.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace plinket {

namespace {

int g_signalPipe[2] = {-1, -1}; // [0] written by the handler, [1] read by the notifier
QSocketNotifier* g_notifier = nullptr;
constexpr int WATCHED_SIGNALS[] = {SIGTERM, SIGHUP};

void onSignal(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // Non-blocking: when the pipe is full a byte is already waiting, which is all that is needed.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
    errno = savedErrno;
}

} // namespace

SessionEndWatcher::SessionEndWatcher(QObject* parent) : QObject(parent) {
    Q_ASSERT(!g_notifier);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        g_signalPipe[0] = g_signalPipe[1] = -1;
        return; // the signals keep their default action: the process still ends, without the event
    }
    g_notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(g_notifier, &QSocketNotifier::activated, this, &SessionEndWatcher::drain);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int sig : WATCHED_SIGNALS)
        ::sigaction(sig, &action, nullptr);
}

SessionEndWatcher::~SessionEndWatcher() {
    if (g_signalPipe[0] < 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int sig : WATCHED_SIGNALS)
        ::sigaction(sig, &action, nullptr);
    delete g_notifier;
    g_notifier = nullptr;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

void SessionEndWatcher::drain() {
    char buffer[64];
    while (::read(g_signalPipe[1], buffer, sizeof buffer) > 0) {
    }
    emit sessionEnding();
}

} // namespace plinket
