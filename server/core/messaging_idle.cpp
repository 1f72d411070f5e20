#include "messaging_seam.h"

// Linked only while there is no messaging library: the console runs, but Send does nothing.

namespace plinket {

void startReportListener(ConsoleContext&) {}

std::unique_ptr<DeliveryController> createDeliveryController(ConsoleContext&) {
    return std::make_unique<IdleDeliveryController>();
}

} // namespace plinket
