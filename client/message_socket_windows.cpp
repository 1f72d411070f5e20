#include "message_socket.h"

#include "probe.h"

#include <QDateTime>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mswsock.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace plinket {

namespace {

constexpr int RECEIVE_SOCKET_BUFFER = 1024 * 1024; // see message_socket_linux.cpp

// WSARecvMsg is reached through the socket provider, not exported by name.
LPFN_WSARECVMSG receiveMessageFunction(SOCKET s) {
    static LPFN_WSARECVMSG function = nullptr;
    if (!function) {
        GUID id = WSAID_WSARECVMSG;
        DWORD returned = 0;
        WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof(id), &function, sizeof(function), &returned,
                 nullptr, nullptr);
    }
    return function;
}

} // namespace

struct MessageSocket::Buffers {
    // Room for a probe request (longer than any message), and one byte more to tell a longer datagram apart.
    std::array<char, std::max(RECEIVE_BUFFER_SIZE, PROBE_REQUEST_SIZE) + 1> bytes;
};

MessageSocket::MessageSocket(qintptr handle, std::unique_ptr<Buffers> buffers)
    : m_handle(handle), m_buffers(std::move(buffers)) {}

std::unique_ptr<MessageSocket> MessageSocket::open(quint16 port) {
    WSADATA data; // the socket calls below need Winsock 2; the count is kept by the system, so this is cheap
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return nullptr;
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return nullptr;
    const BOOL on = TRUE;
    u_long nonBlocking = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    // SO_EXCLUSIVEADDRUSE: nobody can take the port beside us, not even with SO_REUSEADDR.
    if (::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof(on)) != 0 ||
        ::setsockopt(s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&on), sizeof(on)) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 || !receiveMessageFunction(s) ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::closesocket(s);
        return nullptr;
    }
    const int size = RECEIVE_SOCKET_BUFFER;
    ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof(size));
    return std::unique_ptr<MessageSocket>(new MessageSocket(qintptr(s), std::make_unique<Buffers>()));
}

MessageSocket::~MessageSocket() {
    ::closesocket(SOCKET(m_handle));
}

quint16 MessageSocket::localPort() const {
    sockaddr_in address{};
    int length = sizeof(address);
    if (::getsockname(SOCKET(m_handle), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int MessageSocket::receiveBufferSize() const {
    int size = 0;
    int length = sizeof(size);
    ::getsockopt(SOCKET(m_handle), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&size), &length);
    return size;
}

MessageSocket::Receive MessageSocket::receive(ReceivedDatagram& out) {
    const SOCKET s = SOCKET(m_handle);
    sockaddr_in from{};
    WSABUF part{ULONG(m_buffers->bytes.size()), m_buffers->bytes.data()};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
    WSAMSG header{};
    header.name = reinterpret_cast<sockaddr*>(&from);
    header.namelen = sizeof(from);
    header.lpBuffers = &part;
    header.dwBufferCount = 1;
    header.Control = WSABUF{ULONG(sizeof(control)), control};
    DWORD size = 0;
    bool tooLong = false;
    if (receiveMessageFunction(s)(s, &header, &size, nullptr, nullptr) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK)
            return Receive::Empty;
        if (error != WSAEMSGSIZE)
            return Receive::Failed;
        tooLong = true; // the rest of the datagram is already discarded
    }
    // Windows keeps no receive time stamp for a datagram that a program can ask for here: the time of the
    // read stands in. The receiver reads its socket empty at every wake, so the two differ only while the
    // program is busy.
    out.arrivedAtMs = QDateTime::currentMSecsSinceEpoch();
    const bool truncated = tooLong || (header.dwFlags & MSG_TRUNC);
    out.tooLong = truncated || size > DWORD(RECEIVE_BUFFER_SIZE);
    out.bytes = out.tooLong ? QByteArray() : QByteArray(m_buffers->bytes.data(), qsizetype(size));
    out.probeNonce = out.tooLong && !truncated && size <= DWORD(PROBE_REQUEST_SIZE)
                         ? parseProbeRequest(QByteArrayView(m_buffers->bytes.data(), qsizetype(size)))
                         : std::nullopt;
    out.source = QHostAddress(ntohl(from.sin_addr.s_addr));
    out.replyFrom.clear();
    for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&header); c; c = WSA_CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO)
            continue;
        IN_PKTINFO info;
        std::memcpy(&info, WSA_CMSG_DATA(c), sizeof(info));
        // Windows says only where the datagram was sent to. A unicast destination is the reply's source; for
        // the limited broadcast and multicast nothing is named, and the system picks the source by the route
        // back (a subnet broadcast address cannot be bound, and the report then leaves unbound the same way).
        const QHostAddress destination(ntohl(info.ipi_addr.s_addr));
        if (destination != QHostAddress::Broadcast && !destination.isMulticast())
            out.replyFrom = destination;
    }
    return Receive::Datagram;
}

} // namespace plinket
