#include "send_platform.h"

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace plinket {

namespace {

// An abstract name (leading NUL): nothing on disk, shared by every user of this computer.
constexpr char LOCK_NAME[] = "plinket_send.message-id";

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, sig);
    return set;
}

} // namespace

bool MessageIdLock::acquire(int timeoutMs) {
    if (held())
        return true;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, LOCK_NAME, sizeof LOCK_NAME - 1);
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + sizeof LOCK_NAME - 1);
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            m_handle = fd;
            return true;
        }
        ::close(fd);
        if (deadline.hasExpired())
            return false;
        QThread::msleep(20);
    }
}

void MessageIdLock::release() {
    if (!held())
        return;
    ::close(int(m_handle));
    m_handle = -1;
}

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
