#include "message_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace plinket {

namespace {

// Room for thousands of small datagrams; the system caps it at net.core.rmem_max. The receiver reads the
// socket empty at every wake, so this only has to bridge the moments the program is busy elsewhere.
constexpr int RECEIVE_SOCKET_BUFFER = 4 * 1024 * 1024;

} // namespace

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
    return std::unique_ptr<MessageSocket>(new MessageSocket(fd));
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
    sockaddr_in from{};
    iovec part{m_buffer.data(), size_t(m_buffer.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timeval))];
    msghdr header{};
    header.msg_name = &from;
    header.msg_namelen = sizeof(from);
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof(control);
    // MSG_TRUNC: the datagram's real length, also when it did not fit.
    const ssize_t size = ::recvmsg(int(m_handle), &header, MSG_TRUNC);
    if (size < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? Receive::Empty : Receive::Failed;

    out.tooLong = size > RECEIVE_BUFFER_SIZE;
    out.bytes = out.tooLong ? QByteArray() : QByteArray(m_buffer.constData(), qsizetype(size));
    out.source = QHostAddress(ntohl(from.sin_addr.s_addr));
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
    if (out.arrivedAtMs == 0) { // no stamp came with it: it can have arrived no later than now
        timeval now{};
        ::gettimeofday(&now, nullptr);
        out.arrivedAtMs = qint64(now.tv_sec) * 1000 + now.tv_usec / 1000;
    }
    return Receive::Datagram;
}

} // namespace plinket
