#pragma once

// SendWorker: the thread that delivers one Send's datagram. Broadcast mode (root checked and
// broadcast on): one datagram to the broadcast address, and every record carries the id. Otherwise
// per-recipient mode: one datagram to every checked client in tree order (a client listed twice is
// sent twice), each record stamped with the id whether or not its datagram could be sent.
//
// Names are resolved outside recipientsLock by a bounded pool of resolver threads, all started at
// once in tree order, so one slow or unresolvable name does not hold up the rest: datagrams to
// recipients whose address is known leave in tree order, and a recipient whose name is still
// resolving is sent as soon as its name resolves. 100 unresolvable names then cost about one resolver
// time-out instead of a hundred. "Unresolvable" means the resolver said so; 255.255.255.255 is a
// valid (broadcast) destination.
//
// A record is stamped with the id (under recipientsLock, found again by its index) just before its
// datagram leaves, so a fast client's report always finds the id in place; in per-recipient mode it is
// stamped with the address too, and its reports count only from there (report_matcher.h). A new Send stops the
// previous worker: stop() is called with recipientsLock held, and the worker checks the flag under
// the same lock before every stamp, so no record the new Send has reset is stamped by the old one.

#include "broadcast_setting.h"
#include "protocol.h"
#include "recipient_list.h"

#include <QHostAddress>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <functional>
#include <optional>

namespace plinket {

// The input of one SendWorker, which owns it; nothing in it changes while the worker runs.
struct SendJob {
    QString datagram;    // the message datagram text (LANG, ID, TEXT, SERVERHOST)
    QString messageText; // the editor's text, for the event of the delivery round
    qint32 messageId = 0;
};

// The first IPv4 address of `host`: a dotted IPv4 text as it is, any other text through the system's
// resolver (hosts file, DNS). Empty when the resolver finds no IPv4 address.
std::optional<QHostAddress> resolveIPv4(const QString& host);

class SendWorker final : public QThread {
public:
    struct Options {
        quint16 port = MESSAGE_PORT;
        // Names resolved at the same time, at most.
        int resolverThreads = 128;
        // Stands in for resolveIPv4 (tests); called on resolver threads.
        std::function<std::optional<QHostAddress>(const QString&)> resolve;
    };

    SendWorker(SendJob job, BroadcastSnapshot broadcast, RecipientList& recipients, QMutex& recipientsLock,
               Options options);
    SendWorker(SendJob job, BroadcastSnapshot broadcast, RecipientList& recipients, QMutex& recipientsLock)
        : SendWorker(std::move(job), broadcast, recipients, recipientsLock, Options()) {}
    ~SendWorker() override;

    const SendJob& job() const { return m_job; }

    // Call with recipientsLock held: from then on the worker stamps no record and sends nothing more.
    void stop() { m_stop = true; }

    // Datagrams handed to the system, and recipients whose host gave no address.
    qint64 datagramsSent() const { return m_sent.load(); }
    qint64 unresolved() const { return m_unresolved.load(); }
    // The records (by index) whose host gave no address, in the order the worker met them. Read it
    // only once the thread has finished.
    const QList<int>& unresolvedRecords() const { return m_unresolvedRecords; }

protected:
    void run() override;

private:
    void sendBroadcast(const QByteArray& payload);
    void sendPerRecipient(const QByteArray& payload);
    // Stamps the records at `positions` of the target list and sends to those with an address.
    // False when the worker was stopped.
    bool dispatch(const QByteArray& payload, const QList<int>& recordIndices,
                  const QList<std::optional<QHostAddress>>& addresses);

    SendJob m_job;
    BroadcastSnapshot m_broadcast;
    RecipientList& m_recipients;
    QMutex& m_lock;
    Options m_options;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_sent{0};
    std::atomic<qint64> m_unresolved{0};
    QList<int> m_unresolvedRecords;
};

} // namespace plinket
