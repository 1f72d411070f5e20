#pragma once

// Helpers shared by the client's tests: a private network for each test process, and a stand-in console
// that sends messages to UDP 47127 and collects the reports coming back on UDP 47128 (loopback only).

#include "protocol.h"

#include <QApplication>
#include <QStringList>
#include <QTest>
#include <QUdpSocket>

#include <optional>

namespace plinket::test {

// As root, moves the process into a network namespace of its own with only the loopback interface up,
// so its ports 47127 and 47128 (and those of the client processes it starts) never meet anyone else's.
// Must run before any thread starts. Without the rights it does nothing: the tests then rely on their
// CTest resource lock. Returns whether the namespace was entered.
bool enterPrivateNetwork();

// QTEST_MAIN for the tests that use the UDP ports.
#define PLINKET_PRIVATE_NETWORK_TEST_MAIN(TestObject)                                                                  \
    int main(int argc, char* argv[]) {                                                                                 \
        plinket::test::enterPrivateNetwork();                                                                          \
        QApplication app(argc, argv);                                                                                  \
        TestObject tc;                                                                                                 \
        QTEST_SET_MAIN_SOURCE_PATH                                                                                     \
        return QTest::qExec(&tc, argc, argv);                                                                          \
    }

struct Report {
    QString id;
    QString status;
    QString host;
    QString fqdn;
    quint16 sourcePort = 0;
    QByteArray bytes; // the datagram as it came
};

// Whether a UDP socket of this network namespace is bound to IPv4 `port` (as /proc/net/udp lists it), and
// how many bytes wait in its receive queue, not yet read.
bool udpPortBound(quint16 port, qint64* waitingBytes = nullptr);

class FakeConsole {
public:
    // Binds 127.0.0.1:47128 for the reports.
    bool listen();

    // Sends one datagram from a fresh socket to 127.0.0.1:47127.
    static void sendRaw(const QByteArray& datagram);
    static void sendMessage(const QString& lang, const QString& id, const QString& text, const QString& serverHost);

    // Runs the event loop until a report arrives or the time is up.
    std::optional<Report> nextReport(int timeoutMs = 5000);
    // Runs the event loop for `ms` and says whether any report arrived meanwhile (the report stays queued).
    bool reportArrivesWithin(int ms);
    bool hasPendingReport() { return m_socket.hasPendingDatagrams(); }
    QUdpSocket& socket() { return m_socket; }

    // Waits until a client has bound the message port in this network namespace: from then on every
    // message reaches it (those that come before its loop runs wait in the socket).
    static bool waitUntilClientListens(int timeoutMs = 10000);

private:
    QUdpSocket m_socket;
};

} // namespace plinket::test
