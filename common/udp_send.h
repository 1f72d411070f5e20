#pragma once

// Every datagram of the protocol leaves from a fresh UDP socket (the system picks the source port),
// closed right after. Plain system sockets: at 10,000 recipients a socket object per datagram with
// its own event-loop machinery costs most of a second, a system socket a few microseconds; and a
// plain socket never goes through an application proxy.
//
// The socket has the broadcast permission, so a broadcast destination (the subnet's, or
// 255.255.255.255) works like any other. It blocks while the system's send buffer is full rather
// than failing, so a large send never loses datagrams to a full buffer.

#include <QByteArray>
#include <QHostAddress>

namespace plinket {

// Returns whether the whole datagram was handed to the system; false for a non-IPv4 destination.
// `ipv4Source`, when given, is bound first (with a system-chosen port), so the datagram leaves from that
// address of this computer; when it cannot be bound (the address is gone) the system picks the source.
bool sendDatagramFromFreshSocket(const QByteArray& payload, const QHostAddress& ipv4Destination, quint16 port,
                                 const QHostAddress& ipv4Source = QHostAddress());

} // namespace plinket
