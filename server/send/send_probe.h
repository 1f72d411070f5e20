#pragma once

// plinket_send --probe: one probe request (probe.h) to each ticked client, the answers collected on the
// report port for the waiting period (or until every host answered), printed as a table or as JSON.
// Nothing is shown on the workstations and nothing is journaled.

#include "probe.h"
#include "recipient_list.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace plinket {

struct ProbeOutcome {
    QString name;                        // as in clients.ini, or the host given
    QString host;                        // the address or host name probed
    std::optional<QHostAddress> address; // none: the name gave no IPv4 address, nothing was sent
    std::optional<ProbeAnswer> answer;   // none: no answer within the waiting period
};

// Ends with the outcome of each ticked client in tree order, or none when the report port is taken.
std::optional<QList<ProbeOutcome>> runProbes(const RecipientList& recipients, int waitSeconds);

// One line per client, TAB-separated, under a header: NAME HOST ADDRESS STATE VERSION KIND SESSIONS, where
// STATE is "answered", "no answer" or "no address", and "-" stands for what is not known.
QString probeTable(const QList<ProbeOutcome>& outcomes);
// [{"name": "PC-07", "host": "10.0.0.7", "address": "10.0.0.7", "answered": true, "version": "1.40",
//   "kind": "client", "sessions": null, "hostname": "PC-07"}, ...] on one line; what is not known is null.
QByteArray probeJson(const QList<ProbeOutcome>& outcomes);
// 0 when every client answered, 1 when some did not, 3 when no probe could be sent.
int probeExitCode(const QList<ProbeOutcome>& outcomes);

} // namespace plinket
