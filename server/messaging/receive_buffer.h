#pragma once

// Enlarging a UDP socket's receive buffer, so a burst of reports from thousands of clients waits in
// the kernel instead of being dropped while the listener is busy.

#include <QtGlobal>

namespace plinket {

// The report listener asks for this much.
inline constexpr int REPORT_RECEIVE_BUFFER_BYTES = 4 * 1024 * 1024;

// Asks for `bytes` of receive buffer on socket `fd`. On Linux the request is capped by
// net.core.rmem_max; a process allowed to (root) bypasses the cap with SO_RCVBUFFORCE. Returns the
// size the system reports afterwards (Linux reports twice the usable size), or -1 when unknown.
int enlargeReceiveBuffer(qintptr fd, int bytes);

} // namespace plinket
