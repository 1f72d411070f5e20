#include "signal_watcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace plinket {

namespace {

int g_signalPipe[2] = {-1, -1}; // [0] written by the handler, [1] read by the notifier
QSocketNotifier* g_notifier = nullptr;
std::vector<int> g_watched;
bool g_hangUpReloads = false;

void onSignal(int sig) {
    const int savedErrno = errno;
    const char byte = char(sig); // the numbers watched here are all below 128
    // Non-blocking: when the pipe is full a byte is already waiting, which is all that is needed.
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &byte, 1);
    errno = savedErrno;
}

int posixSignal(StopSignal s) {
    return s == StopSignal::Interrupt ? SIGINT : s == StopSignal::Terminate ? SIGTERM : SIGHUP; // HangUp, Reload
}

} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<StopSignal> watched, QObject* parent) : QObject(parent) {
    Q_ASSERT(!g_notifier);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, g_signalPipe) != 0) {
        g_signalPipe[0] = g_signalPipe[1] = -1;
        return; // the signals keep their default action: the process still ends, only less gracefully
    }
    g_notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, this);
    connect(g_notifier, &QSocketNotifier::activated, this, &SignalWatcher::drain);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const StopSignal s : watched) {
        g_hangUpReloads = g_hangUpReloads || s == StopSignal::Reload;
        g_watched.push_back(posixSignal(s));
        ::sigaction(g_watched.back(), &action, nullptr);
    }
}

SignalWatcher::~SignalWatcher() {
    if (g_signalPipe[0] < 0)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int sig : g_watched)
        ::sigaction(sig, &action, nullptr);
    g_watched.clear();
    g_hangUpReloads = false;
    delete g_notifier;
    g_notifier = nullptr;
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

void SignalWatcher::drain() {
    char buffer[64];
    bool stop = false;
    bool reload = false;
    for (ssize_t n; (n = ::read(g_signalPipe[1], buffer, sizeof buffer)) > 0;) {
        for (ssize_t i = 0; i < n; ++i)
            (buffer[i] == SIGHUP && g_hangUpReloads ? reload : stop) = true;
    }
    if (reload)
        emit reloadRequested();
    if (stop)
        emit arrived();
}

} // namespace plinket
