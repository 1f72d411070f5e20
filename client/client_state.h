#pragma once

#include "protocol.h"

#include <QHostAddress>
#include <QString>

#include <optional>

namespace plinket {

// The message a person confirmed last: what a copy of it must repeat to be answered without showing it.
struct ConfirmedMessage {
    QString id;
    QHostAddress sender;
    QString text;
};

// What the client keeps for its whole run. The names are computed once at start-up and sent in every report.
struct ClientState {
    QString hostName; // this computer's host name, upper-cased: the HOST of each report
    QString fqdn;     // this computer's full DNS name, upper-cased: the FQDN of each report
    bool fadeEffects = false;
    std::optional<ConfirmedMessage> lastConfirmed; // none at start, never cleared
};

// A copy of the message a person confirmed last (a workstation listed under two groups receives the same
// message twice) is answered "confirmed" at once and not shown again. Only the same message counts: the
// same id, from the same sender, with the same text. Any other message with that id is shown like any
// other, so that a second console sending in the same second, or a reused id, never reports a "confirmed"
// that no person gave. An empty id names no message and is never already confirmed.
inline bool isAlreadyConfirmed(const ClientState& state, const QHostAddress& sender, const MessageDatagram& message) {
    const std::optional<ConfirmedMessage>& last = state.lastConfirmed;
    return last && !message.id.isEmpty() && message.id == last->id && sender == last->sender &&
           message.text == last->text;
}

} // namespace plinket
