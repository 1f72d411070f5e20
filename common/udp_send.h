#pragma once

#include <QByteArray>
#include <QHostAddress>

namespace plinket {

// Sends one datagram from a fresh IPv4 UDP socket (the system picks the source port) and closes
// the socket. Qt grants every UDP socket the broadcast permission, so a broadcast address works
// too. Returns whether the datagram was handed to the system in full.
bool sendDatagramFromFreshSocket(const QByteArray& payload, const QHostAddress& destination, quint16 port);

} // namespace plinket
