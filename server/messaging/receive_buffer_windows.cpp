#include "receive_buffer.h"

#include <winsock2.h>

namespace plinket {

int enlargeReceiveBuffer(qintptr fd, int bytes) {
    const SOCKET s = SOCKET(fd);
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof(bytes));
    int granted = 0;
    int length = sizeof(granted);
    if (::getsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &length) != 0)
        return -1;
    return granted;
}

} // namespace plinket
