#pragma once

#include <QString>

namespace plinket {

// What the client keeps for its whole run. The names are computed once at start-up and sent in every report.
struct ClientState {
    QString hostName; // this computer's host name, upper-cased: the HOST of each report
    QString fqdn;     // this computer's full DNS name, upper-cased: the FQDN of each report
    bool fadeEffects = false;
    QString lastConfirmedId; // the ID of the last message the user confirmed; empty at start, never cleared
};

// A message whose ID equals the last confirmed one is answered "confirmed" at once and not shown again.
// The comparison is exact, so before the first confirmation an empty ID counts as a repeat.
inline bool isAlreadyConfirmed(const ClientState& state, const QString& id) { return id == state.lastConfirmedId; }

} // namespace plinket
