#include "journal_capture.h"

#include <QDeadlineTimer>

#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace plinket::test {

namespace {
constexpr char SOCKET_PATH[] = "/run/systemd/journal/socket";
}

QByteArrayList insertionStrings(const JournalRecord& record) {
    // Spelled out here rather than taken from the programs' table, so a renamed field fails the tests.
    return {record.value("PLINKET_STRING_ONE"), record.value("PLINKET_STRING_TWO"),
            record.value("PLINKET_STRING_THREE")};
}

JournalCapture::~JournalCapture() {
    m_notifier.reset();
    if (m_fd >= 0) {
        ::close(m_fd);
        ::unlink(SOCKET_PATH);
    }
}

bool JournalCapture::available() {
    return qEnvironmentVariableIsSet("PLINKET_PRIVATE_JOURNAL");
}

QString JournalCapture::unavailableReason() {
    return QStringLiteral("needs root: run under with_private_journal.sh (private mount namespace with its own "
                          "/run/systemd/journal/socket)");
}

bool JournalCapture::start() {
    m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, SOCKET_PATH, sizeof(addr.sun_path) - 1);
    ::unlink(SOCKET_PATH);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0)
        return false;
    const int size = 8 * 1024 * 1024;
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof(size));
    return true;
}

void JournalCapture::readWhileEventLoopRuns() {
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated,
                     [this] { waitForRecords(m_records.size() + 1, 1); });
}

QList<JournalRecord> JournalCapture::waitForRecords(int count, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QByteArray buffer(256 * 1024, Qt::Uninitialized);
    while (m_records.size() < count && !deadline.hasExpired()) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))) <= 0)
            continue;
        const ssize_t n = ::recv(m_fd, buffer.data(), static_cast<size_t>(buffer.size()), 0);
        if (n > 0)
            m_records.append(parseNative(buffer.left(n)));
    }
    return m_records;
}

JournalRecord JournalCapture::parseNative(const QByteArray& datagram) {
    // Native protocol: "NAME=value\n", or "NAME\n" + 64-bit little-endian length + value + "\n".
    JournalRecord record;
    qsizetype pos = 0;
    while (pos < datagram.size()) {
        const qsizetype eol = datagram.indexOf('\n', pos);
        if (eol < 0)
            break;
        const QByteArray line = datagram.mid(pos, eol - pos);
        const qsizetype eq = line.indexOf('=');
        if (eq >= 0) {
            record.insert(line.left(eq), line.mid(eq + 1));
            pos = eol + 1;
            continue;
        }
        if (eol + 1 + 8 > datagram.size())
            break;
        quint64 len = 0;
        for (int i = 0; i < 8; ++i)
            len |= static_cast<quint64>(static_cast<quint8>(datagram[eol + 1 + i])) << (8 * i);
        const qsizetype start = eol + 1 + 8;
        record.insert(line, datagram.mid(start, static_cast<qsizetype>(len)));
        pos = start + static_cast<qsizetype>(len) + 1;
    }
    return record;
}

} // namespace plinket::test
