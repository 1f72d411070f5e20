#include "udp_send.h"

#include <QUdpSocket>

namespace plinket {

bool sendDatagramFromFreshSocket(const QByteArray& payload, const QHostAddress& destination, quint16 port) {
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::AnyIPv4, 0))
        return false;
    return socket.writeDatagram(payload, destination, port) == payload.size();
}

} // namespace plinket
