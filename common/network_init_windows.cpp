#include "network_init.h"

#include <winsock2.h>

namespace plinket {

bool initNetworking() {
    // Started once for the whole run; endProgram leaves the cleanup to the process end.
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

} // namespace plinket
