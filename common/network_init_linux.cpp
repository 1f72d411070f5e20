#include "network_init.h"

#include <sys/socket.h>
#include <unistd.h>

namespace plinket {

bool initNetworking() {
    // Nothing to start on Linux; the check is that an IPv4 datagram socket can be had at all.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace plinket
