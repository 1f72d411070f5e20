#pragma once

// One client per user session. Linux: an exclusive flock on a file of the session in the user's runtime directory,
// held for the life of the process and released by the kernel however the process ends, so a crashed
// client never blocks the next one. Windows: the named mutex "Plinket Client".

#include <QtGlobal>

namespace plinket {

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False only when another instance holds the lock. When the lock cannot be made at all (no runtime
    // directory, no mutex), true: the client starts anyway.
    bool acquire();

private:
    qintptr m_handle = -1; // file descriptor (Linux) or mutex handle (Windows)
};

} // namespace plinket
