#include "udp_send.h"

#include <winsock2.h>

namespace plinket {

bool sendDatagramFromFreshSocket(const QByteArray& payload, const QHostAddress& ipv4Destination, quint16 port,
                                 const QHostAddress& ipv4Source) {
    bool isV4 = false;
    const quint32 address = ipv4Destination.toIPv4Address(&isV4);
    if (!isV4)
        return false;
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return false;
    const BOOL on = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof(on));
    bool isV4Source = false;
    if (const quint32 source = ipv4Source.toIPv4Address(&isV4Source); isV4Source) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        (void)::bind(s, reinterpret_cast<sockaddr*>(&from), sizeof(from));
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    const int sent =
        ::sendto(s, payload.constData(), int(payload.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    ::closesocket(s);
    return sent == payload.size();
}

} // namespace plinket
