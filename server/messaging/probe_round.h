#pragma once

// "Who is listening" on the asking side (probe.h has the datagrams): probes go out to workstations, and
// the answers that come back on the report port are kept by nonce. Widget-free; plinket_send prints
// what it learns, the console shows it in the recipient tree's tooltips.

#include "probe.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace plinket {

struct ProbeTarget {
    QString host;                        // as named (address or host name)
    std::optional<QHostAddress> address; // none: the name gave no IPv4 address, nothing was sent
    quint64 nonce = 0;                   // of the probe sent to it
    bool sent = false;                   // the datagram was handed to the system
};

// One probe to each host (a host named twice gets one probe), names resolved at once by a pool of
// resolver threads as a Send resolves them, each with its own random nonce. Blocks until every host was
// tried; `port` is the workstations' message port (tests choose another). `aboutToSend`, when given, is
// called on a resolver thread with each target (its address, if any, known) before its probe leaves, so
// an answer that comes back at once already finds its nonce.
QList<ProbeTarget> sendProbes(const QStringList& hosts, quint16 port = MESSAGE_PORT,
                              const std::function<void(const ProbeTarget&)>& aboutToSend = {});

// The console's memory of the last probe of each host, shared by the UI thread (tooltips ask for it, and
// it says which hosts are due for a new probe) and the report listener's thread (answers come in).
class ProbeCache {
public:
    // How long an answer (or the lack of one) is taken as current before the host is probed again.
    static constexpr qint64 FRESH_MS = 60'000;

    // The hosts among `hosts` not probed within FRESH_MS of `nowMs`; they count as probed from now on, so
    // a tooltip shown again meanwhile asks nothing more of the network.
    QStringList takeDue(const QStringList& hosts, qint64 nowMs);
    // The probe to `target.host` leaves with this nonce: an answer with it is that host's from now on, and
    // an answer to an earlier probe no longer is.
    void sent(const ProbeTarget& target);
    // An answer from the report port. True when it answered a probe sent to a host (by its nonce).
    bool answered(const ProbeAnswer& answer);

    struct Entry {
        bool probed = false;
        std::optional<ProbeAnswer> answer; // of the last probe; none: no answer (yet)
    };
    Entry entryOf(const QString& host) const;

private:
    struct State {
        qint64 probedAtMs = 0;
        bool probed = false;
        quint64 nonce = 0;
        std::optional<ProbeAnswer> answer;
    };
    mutable QMutex m_lock;
    QHash<QString, State> m_hosts;    // by host as named in clients.ini (upper-case)
    QHash<quint64, QString> m_nonces; // the nonce of each host's last probe
};

// Tooltip lines in `language` ("EN", else Russian). A group: "Listening: 5 of 7 (1.40: 5)", the answers
// counted by version; empty when none of its members was probed yet. A member: "Listening: Plinket 1.40
// (agent, 2 sessions)", "Not answering" or empty when not probed yet.
QString probeGroupLine(const QList<ProbeCache::Entry>& members, const QString& language);
QString probeMemberLine(const ProbeCache::Entry& entry, const QString& language);

} // namespace plinket
