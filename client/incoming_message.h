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
};

// What the pop-up tells the receive loop about one message. `visible` is called once, when a person
// can see the pop-up; `confirmed` once, when a person has pressed OK. Both run from the event loop.
// `abandoned` only where a message can wait with nobody to see it (the host agent, with no user
// session): it was held for the hold time and given up unseen, and the loop moves on without a report.
struct PopupCallbacks {
    std::function<void()> visible;
    std::function<void()> confirmed;
    std::function<void()> abandoned = nullptr;
};

} // namespace plinket
