#include "receive_buffer.h"

#include <sys/socket.h>

namespace plinket {

int enlargeReceiveBuffer(qintptr fd, int bytes) {
    const int s = int(fd);
    int granted = 0;
    socklen_t length = sizeof(granted);
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0)
        return -1;
    // Linux doubles the request for its bookkeeping; less than the request means rmem_max cut it.
    if (granted < bytes) {
        ::setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes));
        length = sizeof(granted);
        if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, &granted, &length) != 0)
            return -1;
    }
    return granted;
}

} // namespace plinket
