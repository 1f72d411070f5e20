#pragma once

// Where the main window hands a Send, the end of a waiting period and its own closing to the
// messaging code. The window knows nothing about datagrams or delivery rounds: it calls these at
// the right moments and drops them while a secondary window is open.

#include <QString>

namespace plinket {

class DeliveryController {
public:
    virtual ~DeliveryController() = default;

    // Send button or Ctrl+Enter: the editor's text, unchanged (possibly empty; the controller
    // decides that an empty text does nothing). The controller arms MainWindow::deliveryTimer().
    virtual void onSend(const QString& text) = 0;

    // MainWindow::deliveryTimer() fired while no secondary window was open. The timer keeps
    // repeating until the controller stops it, so an expiry dropped meanwhile comes again.
    virtual void onDeliveryTimer() = 0;

    // The main window is closing normally, before the settings are saved: close a running
    // waiting period here.
    virtual void onMainWindowClosing() = 0;
};

// Used until messaging is plugged in: nothing is sent and the timer is never armed.
class IdleDeliveryController final : public DeliveryController {
public:
    void onSend(const QString&) override {}
    void onDeliveryTimer() override {}
    void onMainWindowClosing() override {}
};

} // namespace plinket
