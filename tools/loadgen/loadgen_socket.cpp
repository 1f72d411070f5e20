#include "loadgen_socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace plinket::loadgen {

namespace {

sockaddr_in socketAddress(quint32 address, quint16 port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

} // namespace

int openBoundSocket(quint32 address, quint16 port, bool packetInfo) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    if (packetInfo && ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof(on)) != 0) {
        ::close(fd);
        return -1;
    }
    const sockaddr_in sa = socketAddress(address, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof(sa)) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int receiveBufferSize(int fd) {
    int size = 0;
    socklen_t len = sizeof(size);
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &len);
    return size;
}

int setReceiveBuffer(int fd, int bytes) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    // The system doubles the request for its bookkeeping and caps it at net.core.rmem_max.
    if (receiveBufferSize(fd) < bytes)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes));
    return receiveBufferSize(fd);
}

bool receiveOne(int fd, Received& out) {
    static thread_local QByteArray buffer(65536, Qt::Uninitialized);
    sockaddr_in from{};
    iovec iov{buffer.data(), static_cast<size_t>(buffer.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof(from);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof(control);
    const ssize_t n = ::recvmsg(fd, &msg, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0)
        return false;
    out.size = n;
    out.payload = buffer.left(std::min<qsizetype>(n, buffer.size()));
    out.source = ntohl(from.sin_addr.s_addr);
    out.sourcePort = ntohs(from.sin_port);
    out.destination = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof(info));
            out.destination = ntohl(info.ipi_addr.s_addr);
        }
    }
    return true;
}

bool waitReadable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, std::max(0, timeoutMs)) > 0;
}

int sendAllOn(int fd, quint32 to, quint16 port, const QList<QByteArray>& payloads) {
    sockaddr_in sa = socketAddress(to, port);
    std::vector<iovec> parts(size_t(payloads.size()));
    std::vector<mmsghdr> messages(size_t(payloads.size()));
    for (size_t i = 0; i < parts.size(); ++i) {
        parts[i] = {const_cast<char*>(payloads[qsizetype(i)].constData()), size_t(payloads[qsizetype(i)].size())};
        messages[i].msg_hdr.msg_name = &sa;
        messages[i].msg_hdr.msg_namelen = sizeof(sa);
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int sent = 0;
    while (sent < int(messages.size())) {
        const int n = ::sendmmsg(fd, messages.data() + sent, unsigned(messages.size()) - unsigned(sent), 0);
        if (n <= 0)
            break;
        sent += n;
    }
    return sent;
}

bool sendFromFreshSocket(quint32 from, quint32 to, quint16 port, const QByteArray& payload) {
    const int fd = from ? openBoundSocket(from, 0, false) : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const sockaddr_in sa = socketAddress(to, port);
    const ssize_t n = ::sendto(fd, payload.constData(), static_cast<size_t>(payload.size()), 0,
                               reinterpret_cast<const sockaddr*>(&sa), sizeof(sa));
    ::close(fd);
    return n == payload.size();
}

} // namespace plinket::loadgen
