#pragma once

// The receive loop's view of the message pop-up, so that the loop can be driven in tests with the real
// window or with a stand-in.

#include "incoming_message.h"

namespace plinket {

class Popup {
public:
    virtual ~Popup() = default;

    // Puts the message on the screen. `callbacks.visible` follows once a person can see it (at once, or
    // later), `callbacks.confirmed` once a person has pressed OK.
    virtual void open(const IncomingMessage& message, PopupCallbacks callbacks) = 0;
    // Stops the age line and removes the pop-up.
    virtual void close() = 0;
};

} // namespace plinket
