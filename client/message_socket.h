#pragma once

// The client's receiving socket: UDP on every local IPv4 address, bound exclusively (a second program
// on the port must fail, and so must we when one is there), non-blocking, with an enlarged receive
// buffer. Each datagram comes with two things the system knows beyond its bytes and its source:
//
//   replyFrom    the address of this computer that a reply should leave from: the address the datagram
//                was sent to, or for a broadcast the address of the interface it came in on. A report
//                sent from there matches a console that expects it from the address it sent to, also on
//                a computer with several addresses.
//   arrivedAtMs  when the datagram reached this computer (the system's receive time stamp where there is
//                one), so a message that waited unread is judged by when it came, not when it was read.
//
// The socket is meant to be read until it is empty at every wake (QSocketNotifier on descriptor()).

#include "protocol.h"

#include <QByteArray>
#include <QHostAddress>

#include <memory>
#include <optional>

namespace plinket {

struct ReceivedDatagram {
    QByteArray bytes;       // the whole datagram; empty when tooLong
    bool tooLong = false;   // longer than RECEIVE_BUFFER_SIZE: dropped whole, unanswered
    QHostAddress source;    // the sender's IPv4 address (the port is not kept)
    QHostAddress replyFrom; // null when the system did not say
    qint64 arrivedAtMs = 0; // UTC milliseconds since 1970
    // A probe request (probe.h), also tooLong: its nonce, for an answer; never a message.
    std::optional<quint64> probeNonce;
};

class MessageSocket {
public:
    enum class Receive {
        Datagram, // `out` holds the next datagram
        Empty,    // nothing is waiting
        Failed,   // the system reported an error for this read; the next read may succeed
    };

    // The bound socket, or nothing when the port cannot be had. Port 0 lets the system choose (tests).
    static std::unique_ptr<MessageSocket> open(quint16 port = MESSAGE_PORT);
    ~MessageSocket();
    MessageSocket(const MessageSocket&) = delete;
    MessageSocket& operator=(const MessageSocket&) = delete;

    qintptr descriptor() const { return m_handle; }
    quint16 localPort() const;
    int receiveBufferSize() const;

    Receive receive(ReceivedDatagram& out);

private:
    struct Buffers; // what a read fills in; each platform's own
    MessageSocket(qintptr handle, std::unique_ptr<Buffers> buffers);

    qintptr m_handle;
    std::unique_ptr<Buffers> m_buffers;
};

} // namespace plinket
