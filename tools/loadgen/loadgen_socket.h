#pragma once

// Thin POSIX UDP helpers for the load generator (Linux only). Addresses are IPv4 in host byte order.

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace plinket::loadgen {

struct Received {
    QByteArray payload; // at most the first 64 KiB
    qsizetype size = 0; // the datagram's full size
    quint32 source = 0; // the sender's address
    quint16 sourcePort = 0;
    quint32 destination = 0; // the address the datagram was sent to (from IP_PKTINFO)
};

// A non-blocking UDP socket bound to address:port; with `packetInfo` every received datagram carries
// its destination address. Returns -1 on failure (errno kept).
int openBoundSocket(quint32 address, quint16 port, bool packetInfo);
// Asks for a receive buffer of `bytes`; as root the system limit is bypassed when it is lower.
// Returns the effective size the system reports.
int setReceiveBuffer(int fd, int bytes);
int receiveBufferSize(int fd);

// One pending datagram; false when none is waiting.
bool receiveOne(int fd, Received& out);
// Waits until the socket is readable or `timeoutMs` passed; false on timeout.
bool waitReadable(int fd, int timeoutMs);

// Sends `payloads` on `fd` (a socket of openBoundSocket) with as few system calls as it can (sendmmsg);
// returns how many went out.
int sendAllOn(int fd, quint32 to, quint16 port, const QList<QByteArray>& payloads);

// Sends one datagram from a fresh socket bound to `from` (0: unbound, the system picks the source
// address) with a system-chosen port, then closes it, as the clients do.
bool sendFromFreshSocket(quint32 from, quint32 to, quint16 port, const QByteArray& payload);

} // namespace plinket::loadgen
