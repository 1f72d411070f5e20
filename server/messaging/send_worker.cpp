#include "send_worker.h"

#include "crash_handler.h"
#include "udp_send.h"

#include <QHash>
#include <QHostInfo>
#include <QThreadPool>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace plinket {

namespace {

// Reports of one send's resolver threads, collected for the worker. Shared with the resolver tasks,
// which may outlive a stopped worker's loop. Standard primitives rather than QMutex and QWaitCondition:
// the wait releases and retakes the mutex inside the C++ library, where ThreadSanitizer sees it (inside
// Qt's uninstrumented library it does not, and reports the hand-off as a race).
struct Resolutions {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::pair<QString, std::optional<QHostAddress>>> done;
};

// Datagrams stamped and sent per hold of recipientsLock.
constexpr int CHUNK = 256;

std::optional<QHostAddress> literalIPv4(const QString& host) {
    QHostAddress address;
    if (address.setAddress(host) && address.protocol() == QAbstractSocket::IPv4Protocol)
        return address;
    return std::nullopt;
}

} // namespace

std::optional<QHostAddress> resolveIPv4(const QString& host) {
    if (const auto literal = literalIPv4(host))
        return literal;
    if (host.isEmpty())
        return std::nullopt;
    const QHostInfo info = QHostInfo::fromName(host);
    for (const QHostAddress& address : info.addresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    return std::nullopt;
}

SendWorker::SendWorker(SendJob job, BroadcastSnapshot broadcast, RecipientList& recipients, QMutex& recipientsLock,
                       Options options)
    : m_job(std::move(job)), m_broadcast(std::move(broadcast)), m_recipients(recipients), m_lock(recipientsLock),
      m_options(std::move(options)) {
    setObjectName(QStringLiteral("SendWorker"));
    if (!m_options.resolve)
        m_options.resolve = resolveIPv4;
    m_options.resolverThreads = std::max(1, m_options.resolverThreads);
}

SendWorker::~SendWorker() {
    m_stop = true;
    wait();
}

void SendWorker::run() {
    prepareThreadForCrashReports();
    const QByteArray payload = m_job.datagram.toUtf8();
    bool broadcastMode = false;
    {
        QMutexLocker lock(&m_lock);
        broadcastMode =
            !m_recipients.isEmpty() && m_recipients.at(0).checkState == CHECK_CHECKED && m_broadcast.enabled == 1;
    }
    if (broadcastMode)
        sendBroadcast(payload);
    else
        sendPerRecipient(payload);
}

void SendWorker::sendBroadcast(const QByteArray& payload) {
    // The address is dotted text from the Settings window; anything else goes through the resolver,
    // which is asked outside the lock. An empty or unresolvable address sends nothing, and every
    // checked client ends the round as "Not delivered".
    const std::optional<QHostAddress> destination = m_options.resolve(m_broadcast.address);
    {
        QMutexLocker lock(&m_lock);
        if (m_stop.load())
            return;
        m_recipients.setAllMessageIds(m_job.messageId);
    }
    if (!destination) {
        ++m_unresolved;
        return;
    }
    if (sendDatagramFromFreshSocket(payload, *destination, m_options.port))
        ++m_sent;
}

bool SendWorker::dispatch(const QByteArray& payload, const QList<int>& recordIndices,
                          const QList<std::optional<QHostAddress>>& addresses) {
    {
        QMutexLocker lock(&m_lock);
        if (m_stop.load())
            return false;
        // Its reports count only from the address it was sent to; a host that gave none gets none.
        for (qsizetype i = 0; i < recordIndices.size(); ++i)
            m_recipients.setMessageId(recordIndices[i], m_job.messageId,
                                      addresses[i] ? addresses[i]->toIPv4Address() : 0);
    }
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        if (m_stop.load())
            return false;
        if (!addresses[i]) {
            ++m_unresolved;
            m_unresolvedRecords.append(recordIndices[i]);
        } else if (sendDatagramFromFreshSocket(payload, *addresses[i], m_options.port)) {
            ++m_sent;
        }
    }
    return true;
}

void SendWorker::sendPerRecipient(const QByteArray& payload) {
    struct Target {
        int index;
        QString host;
    };
    std::vector<Target> targets;
    {
        QMutexLocker lock(&m_lock);
        if (m_stop.load())
            return;
        for (int i = 0; i < m_recipients.size(); ++i) {
            const RecipientRecord& r = m_recipients.at(i);
            if (!r.isGroup && r.checkState == CHECK_CHECKED)
                targets.push_back({i, r.host});
        }
    }

    // Every distinct name goes to the resolver pool at once, in tree order.
    auto resolutions = std::make_shared<Resolutions>();
    QThreadPool resolvers;
    resolvers.setStackSize(256 * 1024);
    QHash<QString, std::optional<QHostAddress>> known; // names resolved so far, and the literals
    QHash<QString, bool> asked;
    for (const Target& t : targets) {
        if (known.contains(t.host) || asked.contains(t.host))
            continue;
        if (const auto literal = literalIPv4(t.host)) {
            known.insert(t.host, literal);
            continue;
        }
        asked.insert(t.host, true);
        if (resolvers.maxThreadCount() != m_options.resolverThreads)
            resolvers.setMaxThreadCount(m_options.resolverThreads);
        const auto resolve = m_options.resolve;
        resolvers.start([resolutions, resolve, name = t.host] {
            prepareThreadForCrashReports();
            std::optional<QHostAddress> address = resolve(name);
            std::lock_guard lock(resolutions->mutex);
            resolutions->done.emplace_back(name, std::move(address));
            resolutions->arrived.notify_all();
        });
    }

    // Targets whose name was still resolving when the walk reached them, by name, in tree order.
    QHash<QString, std::vector<size_t>> deferred;
    qsizetype outstanding = asked.size();
    QList<int> indices;
    QList<std::optional<QHostAddress>> addresses;
    const auto flush = [&] {
        const bool goOn = indices.isEmpty() || dispatch(payload, indices, addresses);
        indices.clear();
        addresses.clear();
        return goOn;
    };
    // Takes what the resolvers reported and sends to the targets that waited for those names.
    const auto collect = [&](int waitMs) {
        std::deque<std::pair<QString, std::optional<QHostAddress>>> done;
        {
            std::unique_lock lock(resolutions->mutex);
            if (resolutions->done.empty() && waitMs > 0)
                resolutions->arrived.wait_for(lock, std::chrono::milliseconds(waitMs));
            done.swap(resolutions->done);
        }
        for (auto& [name, address] : done) {
            --outstanding;
            known.insert(name, address);
            const auto it = deferred.find(name);
            if (it == deferred.end())
                continue;
            for (const size_t position : it.value()) {
                indices.append(targets[position].index);
                addresses.append(address);
            }
            deferred.erase(it);
        }
        return flush();
    };

    for (size_t position = 0; position < targets.size(); ++position) {
        const Target& t = targets[position];
        const auto it = known.constFind(t.host);
        if (it == known.constEnd()) {
            deferred[t.host].push_back(position);
            continue;
        }
        indices.append(t.index);
        addresses.append(it.value());
        if (indices.size() >= CHUNK && (!flush() || !collect(0))) {
            resolvers.clear();
            return;
        }
    }
    if (!flush()) {
        resolvers.clear();
        return;
    }
    while (outstanding > 0) {
        if (m_stop.load() || !collect(100)) {
            resolvers.clear();
            return;
        }
    }
}

} // namespace plinket
