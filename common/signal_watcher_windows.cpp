#include "signal_watcher.h"

namespace plinket {

// A windowed Windows program gets no console signals; the end of a session arrives as Qt's
// commitDataRequest and the window's close instead.
SignalWatcher::SignalWatcher(std::initializer_list<StopSignal>, QObject* parent) : QObject(parent) {}
SignalWatcher::~SignalWatcher() = default;
void SignalWatcher::drain() {}

} // namespace plinket
