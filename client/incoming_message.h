#pragma once

// One message as it reached this computer: the datagram's fields with what the network said about it.
// The receive loop fills it once and hands it on (to the pop-up, the journal and the reports) unchanged.

#include "protocol.h"

#include <QHostAddress>
#include <QString>

#include <functional>

namespace plinket {

struct IncomingMessage {
    QHostAddress senderAddress; // the datagram's source: reports go back there, on REPORT_PORT
    QHostAddress localAddress;  // the address of this computer it was sent to; null when not known
    qint64 arrivedAtMs = 0;     // UTC milliseconds since 1970 at which it reached this computer
    MessageDatagram fields;     // LANG, ID, TEXT, SERVERHOST
    QString signer;             // the name of the trusted key that signed it; empty when unsigned
    qint64 signedAtUtc = 0;     // TIME of its signature field (checked or not); 0 when it carries none
};

// What the pop-up tells the receive loop about one message. `visible` is called once, when a person
// can see the pop-up (checked, not assumed); `confirmed` once, when a person has deliberately pressed OK.
// `waiting` is called at most once, when the pop-up could not be seen soon after it opened, with the
// reason ("screen locked", "no user session", ...). `abandoned` only where a message can wait with nobody
// to see it (the host agent, with no user session): it was held for the hold time and given up unseen, and
// the loop moves on without a report. All run from the event loop; any may be left empty.
struct PopupCallbacks {
    std::function<void()> visible;
    std::function<void()> confirmed;
    std::function<void(const QString& reason)> waiting;
    std::function<void()> abandoned = nullptr; // an initializer: the pop-up's callers may leave it out
};

} // namespace plinket
