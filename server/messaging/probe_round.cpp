#include "probe_round.h"

#include "crash_handler.h"
#include "send_worker.h"
#include "udp_send.h"

#include <QHash>
#include <QMap>
#include <QThreadPool>

namespace plinket {

namespace {

// Names resolved at the same time, at most: a few unresolvable names cost one resolver time-out.
constexpr int RESOLVER_THREADS = 64;

} // namespace

QList<ProbeTarget> sendProbes(const QStringList& hosts, quint16 port,
                              const std::function<void(const ProbeTarget&)>& aboutToSend) {
    QList<ProbeTarget> targets;
    QHash<QString, bool> seen;
    for (const QString& host : hosts)
        if (!seen.contains(host)) {
            seen.insert(host, true);
            targets.append({host, std::nullopt, randomProbeNonce(), false});
        }
    // Each task writes only its own target; the list is not resized meanwhile.
    QThreadPool resolvers;
    resolvers.setMaxThreadCount(RESOLVER_THREADS);
    resolvers.setStackSize(256 * 1024);
    for (ProbeTarget& target : targets)
        resolvers.start([&target, port, &aboutToSend] {
            prepareThreadForCrashReports();
            target.address = resolveIPv4(target.host);
            if (aboutToSend)
                aboutToSend(target);
            if (target.address)
                target.sent = sendDatagramFromFreshSocket(formatProbeRequest(target.nonce), *target.address, port);
        });
    resolvers.waitForDone();
    return targets;
}

QStringList ProbeCache::takeDue(const QStringList& hosts, qint64 nowMs) {
    QMutexLocker lock(&m_lock);
    QStringList due;
    for (const QString& host : hosts) {
        State& state = m_hosts[host];
        if (state.probed && nowMs - state.probedAtMs < FRESH_MS)
            continue;
        state.probed = true;
        state.probedAtMs = nowMs;
        due.append(host);
    }
    return due;
}

void ProbeCache::sent(const ProbeTarget& target) {
    QMutexLocker lock(&m_lock);
    State& state = m_hosts[target.host];
    m_nonces.remove(state.nonce);
    state.probed = true;
    state.nonce = target.nonce;
    state.answer.reset();
    m_nonces.insert(target.nonce, target.host);
}

bool ProbeCache::answered(const ProbeAnswer& answer) {
    QMutexLocker lock(&m_lock);
    const auto it = m_nonces.constFind(answer.nonce);
    if (it == m_nonces.cend())
        return false;
    m_hosts[it.value()].answer = answer;
    return true;
}

ProbeCache::Entry ProbeCache::entryOf(const QString& host) const {
    QMutexLocker lock(&m_lock);
    const auto it = m_hosts.constFind(host);
    return it == m_hosts.cend() ? Entry{} : Entry{it->probed, it->answer};
}

QString probeGroupLine(const QList<ProbeCache::Entry>& members, const QString& language) {
    const bool english = language == u"EN"_qs;
    int probed = 0;
    int answered = 0;
    QMap<QString, int> versions; // sorted by version text
    for (const ProbeCache::Entry& e : members) {
        probed += e.probed;
        if (e.answer) {
            ++answered;
            ++versions[e.answer->version];
        }
    }
    if (probed == 0)
        return {};
    QString line = (english ? u"Listening: %1 of %2"_qs : u"Слушают: %1 из %2"_qs).arg(answered).arg(members.size());
    QStringList counts;
    for (auto it = versions.cbegin(); it != versions.cend(); ++it)
        counts.append(it.key() + u": "_qs + QString::number(it.value()));
    if (!counts.isEmpty())
        line += u" ("_qs + counts.join(u", "_qs) + u')';
    return line;
}

QString probeMemberLine(const ProbeCache::Entry& entry, const QString& language) {
    const bool english = language == u"EN"_qs;
    if (!entry.probed)
        return {};
    if (!entry.answer)
        return english ? u"Not answering"_qs : u"Не отвечает"_qs;
    const ProbeAnswer& a = *entry.answer;
    QString line = (english ? u"Listening: Plinket %1"_qs : u"Слушает: Plinket %1"_qs).arg(a.version);
    if (a.kind == PROBE_KIND_AGENT)
        line += (english ? u" (agent, sessions: %1)"_qs : u" (агент, сеансов: %1)"_qs).arg(a.sessions);
    return line;
}

} // namespace plinket
