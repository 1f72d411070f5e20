#include "loadgen_plan.h"

#include <algorithm>

namespace plinket::loadgen {

namespace {
constexpr int HOSTS_PER_NET = 254;
}

quint32 clientAddress(int index) {
    const quint32 last = static_cast<quint32>(index % HOSTS_PER_NET) + 1;
    const quint32 rest = static_cast<quint32>(index / HOSTS_PER_NET);
    const quint32 third = rest % 256;
    const quint32 second = 1 + rest / 256;
    return (127u << 24) | (second << 16) | (third << 8) | last;
}

int clientIndex(quint32 address) {
    const quint32 second = (address >> 16) & 0xFF;
    const quint32 third = (address >> 8) & 0xFF;
    const quint32 last = address & 0xFF;
    if ((address >> 24) != 127 || second == 0 || last == 0 || last == 255)
        return -1;
    const qint64 index = (qint64(second - 1) * 256 + third) * HOSTS_PER_NET + (last - 1);
    return index < MAX_CLIENTS ? static_cast<int>(index) : -1;
}

QString dottedV4(quint32 address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

bool isLoopback(quint32 address) {
    return (address >> 24) == 127;
}

QString clientHostName(quint32 address) {
    return u"LG-"_qs + dottedV4(address).replace(u'.', u'-');
}

QString clientFqdn(quint32 address) {
    return clientHostName(address) + u".LOADGEN.TEST"_qs;
}

QByteArray clientsFileBytes(const ClientsFileLayout& layout) {
    const int groups = std::max(1, layout.groups);
    const int depth = std::max(1, layout.depth);
    QByteArray out = QByteArrayLiteral("\xEF\xBB\xBF;Plinket Clients v2\r\n\r\n");
    int next = 0;
    for (int g = 0; g < groups; ++g) {
        // Contiguous blocks whose sizes differ by at most one.
        const int count = layout.clients / groups + (g < layout.clients % groups ? 1 : 0);
        QStringList names;
        for (int d = 0; d < depth; ++d)
            names.append(d == 0 ? QStringLiteral("Group %1").arg(g + 1)
                                : QStringLiteral("Group %1.%2").arg(g + 1).arg(d));
        for (const QString& name : names)
            out += "[+" + name.toUtf8() + "]\r\n";
        for (int i = 0; i < count; ++i, ++next) {
            const quint32 address = clientAddress(next);
            out += "  " + clientHostName(address).toUtf8() + " = " + dottedV4(address).toUtf8() + "\r\n";
        }
        for (auto it = names.crbegin(); it != names.crend(); ++it)
            out += "[-" + it->toUtf8() + "]\r\n";
        out += "\r\n";
    }
    return out;
}

ReplyPlanner::ReplyPlanner(const ReplyOptions& options, int clients)
    : m_options(options), m_random(options.seed), m_clients(clients) {}

int ReplyPlanner::delay(int baseMs) {
    if (m_options.jitterMs <= 0)
        return baseMs;
    return baseMs + std::uniform_int_distribution<int>(0, m_options.jitterMs)(m_random);
}

bool ReplyPlanner::lose(double probability) {
    return probability > 0.0 && std::uniform_real_distribution<double>(0.0, 1.0)(m_random) < probability;
}

QList<PlannedReply> ReplyPlanner::plan(int index, const QString& id, qint64 nowMs) {
    ClientState& client = m_clients[index];
    QList<PlannedReply> replies;
    if (client.confirmedAtMs >= 0 && id == client.lastConfirmedId) {
        // Already confirmed (or confirmed once the open pop-up is closed): "2" only, nothing shown.
        ++m_repeats;
        const qint64 at = std::max(nowMs, client.confirmedAtMs);
        if (lose(m_options.loss2))
            ++m_lost2;
        else
            replies.append({at, 2});
        return replies;
    }
    const qint64 shownAt = std::max(nowMs, client.busyUntilMs) + delay(m_options.delay1Ms);
    const qint64 confirmedAt = shownAt + delay(m_options.delay2Ms);
    if (lose(m_options.loss1))
        ++m_lost1;
    else
        replies.append({shownAt, 1});
    if (lose(m_options.loss2))
        ++m_lost2;
    else
        replies.append({confirmedAt, 2});
    client.busyUntilMs = confirmedAt;
    client.lastConfirmedId = id;
    client.confirmedAtMs = confirmedAt;
    return replies;
}

} // namespace plinket::loadgen
