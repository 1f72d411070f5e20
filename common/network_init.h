#pragma once

// The networking check both programs make at start-up: false when the system cannot give the
// program an IPv4 datagram socket (Windows: the socket library cannot be started). The caller shows
// its "Can't init TCP/IP stack." box and ends.

namespace plinket {

bool initNetworking();

} // namespace plinket
