#include "client_test_support.h"

#include "udp_send.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QThread>

#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace plinket::test {

bool enterPrivateNetwork() {
    if (::unshare(CLONE_NEWNET) != 0)
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

bool FakeConsole::listen() {
    if (!m_socket.bind(QHostAddress::LocalHost, REPORT_PORT))
        return false;
    m_socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024); // room for bursts
    return true;
}

void FakeConsole::sendRaw(const QByteArray& datagram) {
    sendDatagramFromFreshSocket(datagram, QHostAddress::LocalHost, MESSAGE_PORT);
}

void FakeConsole::sendMessage(const QString& lang, const QString& id, const QString& text, const QString& serverHost) {
    sendRaw(formatMessageDatagram(lang, id, text, serverHost).toUtf8());
}

std::optional<Report> FakeConsole::nextReport(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!m_socket.hasPendingDatagrams() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!m_socket.hasPendingDatagrams())
        return std::nullopt;
    const QNetworkDatagram datagram = m_socket.receiveDatagram();
    const Fields f = splitFields(QString::fromUtf8(datagram.data()));
    return Report{f[0], f[1], f[2], f[3], static_cast<quint16>(datagram.senderPort()), datagram.data()};
}

bool FakeConsole::reportArrivesWithin(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (m_socket.hasPendingDatagrams())
            return true;
    }
    return m_socket.hasPendingDatagrams();
}

bool udpPortBound(quint16 port, qint64* waitingBytes) {
    QFile table(u"/proc/net/udp"_qs);
    if (!table.open(QIODevice::ReadOnly))
        return false;
    // "  sl  local_address rem_address ...": the local address as hex ADDRESS:PORT.
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + ' ';
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> columns = line.simplified().split(' ');
        if (columns.size() > 4 && QByteArray(columns[1] + ' ').endsWith(local)) {
            if (waitingBytes) // "tx_queue:rx_queue" in hex
                *waitingBytes = columns[4].mid(columns[4].indexOf(':') + 1).toLongLong(nullptr, 16);
            return true;
        }
    }
    return false;
}

bool FakeConsole::waitUntilClientListens(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!udpPortBound(MESSAGE_PORT)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

} // namespace plinket::test
