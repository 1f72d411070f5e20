#pragma once

// The few things plinket_send needs from the system that differ between Linux and Windows.

#include <QtGlobal>

namespace plinket {

// Message ids are local seconds, so two sends from this computer within one second would carry the
// same id, and a client that confirmed the first answers the second with "2" without showing it.
// plinket_send therefore holds this computer-wide lock from taking its id until the clock has left
// that second; another plinket_send waits for it and so takes a later id.
// Linux: an abstract local socket name (released by the kernel however the process ends).
// Windows: a named mutex.
class MessageIdLock {
public:
    MessageIdLock() = default;
    ~MessageIdLock() { release(); }
    MessageIdLock(const MessageIdLock&) = delete;
    MessageIdLock& operator=(const MessageIdLock&) = delete;

    // Waits up to timeoutMs for the lock; false when it could not be had.
    bool acquire(int timeoutMs);
    void release();
    bool held() const { return m_handle != -1; }

private:
    qintptr m_handle = -1;
};

// Stop requests (Ctrl+C, SIGTERM from systemd or kill, SIGHUP when the terminal goes away; the console
// window's Ctrl+C or close on Windows): from holdStopRequests() on they no longer end the process at
// once. The run asks takeStopRequest() as it goes, and then closes its round, records it and prints
// what it knows before it ends. Call holdStopRequests on the main thread before any thread is started.
void holdStopRequests();
bool takeStopRequest();

// Whether standard error is a terminal (progress is shown only there).
bool stderrIsTerminal();

} // namespace plinket
