#include "session_end.h"

namespace plinket {

// Windows ends a session through WM_QUERYENDSESSION, which Qt delivers as commitDataRequest.
SessionEndWatcher::SessionEndWatcher(QObject* parent) : QObject(parent) {}
SessionEndWatcher::~SessionEndWatcher() = default;
void SessionEndWatcher::drain() {}

} // namespace plinket
