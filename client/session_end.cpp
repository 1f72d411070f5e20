#include "session_end.h"

#include "eventlog.h"
#include "signal_watcher.h"

#include <cstdlib>

namespace plinket {

SessionEndWatcher::SessionEndWatcher(QObject* parent) : QObject(parent) {
    auto* watcher = new SignalWatcher({StopSignal::Terminate, StopSignal::Reload}, this);
    connect(watcher, &SignalWatcher::arrived, this, &SessionEndWatcher::sessionEnding);
    connect(watcher, &SignalWatcher::reloadRequested, this, &SessionEndWatcher::reloadRequested);
}

void endSession() {
    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, EVENT_CLIENT_SESSION_END);
    // No destructors, no event loop: nothing may run after the session-end event, least of all a report.
    std::_Exit(0);
}

void treatUnplannedExitAsSessionEnd() {
    std::atexit([] { endSession(); });
}

} // namespace plinket
