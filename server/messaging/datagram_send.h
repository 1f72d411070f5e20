#pragma once

// The send path of SendWorker: one datagram from a fresh UDP socket (the system picks the source port),
// closed right after, as every datagram of the protocol is sent. Plain system sockets: at 10,000
// recipients a socket object per datagram with its own event-loop machinery costs most of a second,
// a system socket a few microseconds.
//
// The socket has the broadcast permission, so a broadcast destination (the subnet's, or
// 255.255.255.255) works like any other. It blocks while the system's send buffer is full rather than
// failing, so a large send never loses datagrams to a full buffer.

#include <QByteArray>
#include <QHostAddress>

namespace plinket {

bool sendFromFreshSocket(const QByteArray& payload, const QHostAddress& ipv4Destination, quint16 port);

} // namespace plinket
