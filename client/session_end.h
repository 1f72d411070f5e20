#pragma once

// The end of the user's session. On Linux the session (or the system) ends the client with SIGTERM (a
// session scope's SIGHUP only follows it), and a session manager may ask it to commit its data first; on
// Windows Qt turns WM_QUERYENDSESSION into that same commit request. The reaction is always endSession().
// SIGHUP on its own asks the client to read its configuration again (`pkill -HUP plinket_client`).

#include <QObject>

namespace plinket {

// Reports to the event loop that SIGTERM or SIGHUP arrived (through a SignalWatcher, so at most one
// watcher exists at a time). Does nothing on Windows, where no such signals arrive.
class SessionEndWatcher final : public QObject {
    Q_OBJECT

public:
    explicit SessionEndWatcher(QObject* parent = nullptr);

signals:
    void sessionEnding();
    void reloadRequested(); // SIGHUP
};

// Writes event 103 and ends the process at once with exit code 0: an open pop-up is simply lost and
// no confirmation is sent for it.
[[noreturn]] void endSession();

// From now on an exit the program did not choose is the end of the session too (event 103, exit code 0).
// The toolkit ends the process with exit(1) when its connection to the display breaks, which is how a
// session whose X server goes away without a signal ends.
void treatUnplannedExitAsSessionEnd();

} // namespace plinket
