#include "message_socket.h"

#include "probe.h"

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace plinket {

namespace {

// Room for about a thousand small datagrams (the system caps it at net.core.rmem_max). The receiver reads
// the socket empty at every wake into queues of its own, so this only bridges the moments the program is
// busy elsewhere; when a flood outruns the reading, a longer buffer would only make every datagram in it,
// a real message among them, wait longer before it is read.
constexpr int RECEIVE_SOCKET_BUFFER = 1024 * 1024;
// Datagrams taken with one system call (recvmmsg): under a flood most of a read's cost is the call itself.
constexpr unsigned BATCH = 32;
// Room for a probe request (longer than any message), and one byte more, so a longer datagram is told
// apart also where MSG_TRUNC is not reported.
constexpr size_t SLOT_BYTES = std::max(RECEIVE_BUFFER_SIZE, PROBE_REQUEST_SIZE) + 1;
constexpr size_t CONTROL_BYTES = CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timeval));

qint64 nowMs() {
    timeval now{};
    ::gettimeofday(&now, nullptr);
    return qint64(now.tv_sec) * 1000 + now.tv_usec / 1000;
}

} // namespace

struct MessageSocket::Buffers {
    std::array<char, BATCH * SLOT_BYTES> bytes;
    std::array<sockaddr_in, BATCH> sources;
    std::array<iovec, BATCH> parts;
    alignas(cmsghdr) std::array<char, BATCH * CONTROL_BYTES> control;
    std::array<mmsghdr, BATCH> headers;
    unsigned filled = 0; // datagrams of the last call
    unsigned next = 0;   // the next of them to hand out
};

MessageSocket::MessageSocket(qintptr handle, std::unique_ptr<Buffers> buffers)
    : m_handle(handle), m_buffers(std::move(buffers)) {}

std::unique_ptr<MessageSocket> MessageSocket::open(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return nullptr;
    // Neither SO_REUSEADDR nor SO_REUSEPORT: the port is ours alone, and taken by nobody else first.
    const int on = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on)) != 0 ||
        ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof(on)) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return nullptr;
    }
    const int size = RECEIVE_SOCKET_BUFFER;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    return std::unique_ptr<MessageSocket>(new MessageSocket(fd, std::make_unique<Buffers>()));
}

MessageSocket::~MessageSocket() {
    ::close(int(m_handle));
}

quint16 MessageSocket::localPort() const {
    sockaddr_in address{};
    socklen_t length = sizeof(address);
    if (::getsockname(int(m_handle), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int MessageSocket::receiveBufferSize() const {
    int size = 0;
    socklen_t length = sizeof(size);
    ::getsockopt(int(m_handle), SOL_SOCKET, SO_RCVBUF, &size, &length);
    return size;
}

MessageSocket::Receive MessageSocket::receive(ReceivedDatagram& out) {
    Buffers& b = *m_buffers;
    if (b.next == b.filled) {
        for (unsigned i = 0; i < BATCH; ++i) {
            b.parts[i] = {b.bytes.data() + i * SLOT_BYTES, SLOT_BYTES};
            msghdr& h = b.headers[i].msg_hdr;
            h = msghdr{};
            h.msg_name = &b.sources[i];
            h.msg_namelen = sizeof(sockaddr_in);
            h.msg_iov = &b.parts[i];
            h.msg_iovlen = 1;
            h.msg_control = b.control.data() + i * CONTROL_BYTES;
            h.msg_controllen = CONTROL_BYTES;
        }
        const int count = ::recvmmsg(int(m_handle), b.headers.data(), BATCH, MSG_DONTWAIT, nullptr);
        b.next = 0;
        b.filled = count > 0 ? unsigned(count) : 0;
        if (count <= 0)
            return count == 0 || errno == EAGAIN || errno == EWOULDBLOCK ? Receive::Empty : Receive::Failed;
    }
    const unsigned i = b.next++;
    msghdr& header = b.headers[i].msg_hdr;
    const size_t size = b.headers[i].msg_len;
    const bool truncated = header.msg_flags & MSG_TRUNC;
    out.tooLong = size > size_t(RECEIVE_BUFFER_SIZE) || truncated;
    out.bytes = out.tooLong ? QByteArray() : QByteArray(b.bytes.data() + i * SLOT_BYTES, qsizetype(size));
    out.probeNonce = out.tooLong && !truncated && size <= size_t(PROBE_REQUEST_SIZE)
                         ? parseProbeRequest(QByteArrayView(b.bytes.data() + i * SLOT_BYTES, qsizetype(size)))
                         : std::nullopt;
    out.source = QHostAddress(ntohl(b.sources[i].sin_addr.s_addr));
    out.replyFrom.clear();
    out.arrivedAtMs = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            // ipi_spec_dst is the destination for a datagram sent to one of our addresses, and the
            // interface's own address for one sent to a broadcast address: the source a reply should have.
            out.replyFrom = QHostAddress(ntohl(info.ipi_spec_dst.s_addr));
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
            timeval stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
            out.arrivedAtMs = qint64(stamp.tv_sec) * 1000 + stamp.tv_usec / 1000;
        }
    }
    if (out.arrivedAtMs == 0) // no stamp came with it: it can have arrived no later than now
        out.arrivedAtMs = nowMs();
    return Receive::Datagram;
}

} // namespace plinket
