#pragma once

// Lets no file of this process grow beyond `bytes` while it exists: writes past the limit fail
// part-way, as on a full disk. Binds root too, so it works where permission tricks do not.
// Where the system has no such limit, active() is false and the test skips.

#include <QtGlobal>

#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/resource.h>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN); // a failing write returns an error instead of ending the test
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_old{};
    bool m_active = false;
};
#else
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long) {}
    bool active() const { return false; }
};
#endif
