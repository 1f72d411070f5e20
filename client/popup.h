#pragma once

// The receive loop's view of the message pop-up, so that the loop can be driven in tests with the real
// window or with a stand-in.

#include <QString>

#include <functional>

namespace plinket {

class Popup {
public:
    virtual ~Popup() = default;

    // Shows the message and returns once the pop-up is visible and on top. `confirmed` is called once,
    // from the event loop, when the user presses OK.
    virtual void open(const QString& lang, const QString& text, std::function<void()> confirmed) = 0;
    // Stops the age line and removes the pop-up.
    virtual void close() = 0;
};

} // namespace plinket
