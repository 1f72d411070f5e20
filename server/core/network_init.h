#pragma once

// The console's networking check at start-up: false when the system cannot give the program an
// IPv4 datagram socket (Windows: the socket library cannot be started), which ends the program
// with errTcpInit.

namespace plinket {

bool initNetworking();

} // namespace plinket
