#pragma once

// Writing events to the system event log: the systemd journal on Linux, the Application event
// log on Windows. One interface for both programs.

#include "event_texts.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <utility>

namespace plinket {

inline constexpr int EVENT_TYPE_INFORMATION = 4;

// Makes sure the event log knows the source. On Linux there is nothing to register. Returns false
// when the registration cannot be written; the caller shows its failure box and ends.
bool registerEventSource(EventSource source);

// Structured fields an event may carry beside its three insertion strings (journal field name, value),
// e.g. who saw a message. The message text never contains them. Names: capital letters and "_" only.
using EventFields = QList<std::pair<QByteArray, QString>>;

// Writes one information event with exactly three insertion strings. Silent on failure: when no
// event log is reachable nothing happens and the program goes on. `extra` goes into the journal as
// fields of their own; the Windows event log has no place for them and leaves them out.
void reportEvent(EventSource source, int eventType, int eventId, const QString& s1 = {}, const QString& s2 = {},
                 const QString& s3 = {}, const EventFields& extra = {});

} // namespace plinket
