#pragma once

// The load generator's pure logic, kept apart from sockets so it can be tested: which loopback
// address plays which client, the clients.ini that lists them, and when each simulated client answers.

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <random>

namespace plinket::loadgen {

// Client i (from 0) plays 127.1.0.1 upward; last octets 0 and 255 are skipped so no generated
// address looks like a network or broadcast address. The cap keeps every run bounded.
inline constexpr int MAX_CLIENTS = 1'000'000;
// The loopback broadcast address; a message sent there is answered by every simulated client.
inline constexpr quint32 LOOPBACK_BROADCAST = 0x7FFFFFFF;

// IPv4 addresses are held in host byte order.
quint32 clientAddress(int index);
// The index of a generated address, or -1 when the address is not one of ours.
int clientIndex(quint32 address);
QString dottedV4(quint32 address);
bool isLoopback(quint32 address);

// HOST and FQDN that the simulated client at `address` sends: "LG-127-1-0-5", "LG-127-1-0-5.LOADGEN.TEST".
QString clientHostName(quint32 address);
QString clientFqdn(quint32 address);

struct ClientsFileLayout {
    int clients = 0;
    int groups = 1; // top-level groups; the clients are split over them in contiguous blocks
    int depth = 1;  // each top-level group holds a chain of this many nested groups, clients in the innermost
};

// The whole clients.ini: UTF-8 byte-order mark, version line, CR LF line ends, "[+Name]" ... "[-Name]".
QByteArray clientsFileBytes(const ClientsFileLayout& layout);

struct ReplyOptions {
    int delay1Ms = 0;   // message arrival to report "1" (the pop-up is on screen)
    int delay2Ms = 0;   // report "1" to report "2" (the user pressed OK)
    int jitterMs = 0;   // each delay gets a uniform extra of 0..jitterMs
    double loss1 = 0.0; // probability that a "1" never leaves
    double loss2 = 0.0; // probability that a "2" never leaves
    quint64 seed = 1;
};

struct PlannedReply {
    qint64 atMs = 0;
    int status = 0;
};

// Plays the clients' answering behaviour: one pop-up at a time per client (a message that arrives
// while one is open is shown after it is confirmed), and a message whose id repeats the last
// confirmed one is answered with "2" only, without being shown. Lost reports are still planned
// for the client's own state (the user did confirm) but not returned.
class ReplyPlanner {
public:
    ReplyPlanner(const ReplyOptions& options, int clients);

    // Replies of client `index` to a message with `id` that arrived at `nowMs`.
    QList<PlannedReply> plan(int index, const QString& id, qint64 nowMs);

    qint64 lost1() const { return m_lost1; }
    qint64 lost2() const { return m_lost2; }
    qint64 repeats() const { return m_repeats; }

private:
    struct ClientState {
        QString lastConfirmedId;
        qint64 confirmedAtMs = -1; // when lastConfirmedId was (or will be) confirmed
        qint64 busyUntilMs = 0;    // the open pop-up is confirmed at this time
    };

    int delay(int baseMs);
    bool lose(double probability);

    ReplyOptions m_options;
    std::mt19937_64 m_random;
    QList<ClientState> m_clients;
    qint64 m_lost1 = 0;
    qint64 m_lost2 = 0;
    qint64 m_repeats = 0;
};

} // namespace plinket::loadgen
