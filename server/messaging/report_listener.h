#pragma once

// ReportListener: the console's thread that receives delivery reports on UDP 47128 for the whole
// run, matches each to a recipient record and updates its status, time and the group aggregates.
//
// The thread waits on its socket and, at each wake, drains every pending datagram (in batches, so
// recipientsLock is never held for long), with a receive buffer of 4 MiB: a burst of thousands of
// clients answering at once is taken in well under a second, where one datagram per 100 ms would let
// the kernel drop most of it. A report whose status is neither 1 nor 2 is dropped, so no record ever
// holds a status without an image. Changed records are handed to `notify` after the lock is
// released; the console passes the tree model's non-blocking, coalescing notifyRecordsChanged, so the
// listener never waits for the UI thread.
//
// With workstation keys (workstation_keys.h) each report that matched a record has its signature, if any,
// checked and judged before the record is updated, so the record tells whether its report was verified;
// only matched reports cost a signature check, so junk with wrong ids costs nothing more than before.
//
// Widget-free: a port that cannot be bound is reported through `portBusy` (on the listener's thread);
// the console shows its box on the UI thread and ends there.

#include "probe.h"
#include "protocol.h"
#include "recipient_list.h"
#include "workstation_keys.h"

#include <QHostAddress>
#include <QMutex>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

namespace plinket {

class ReportListener final : public QThread {
public:
    using Notify = std::function<void(const ChangedRecords&)>;
    using PortBusy = std::function<void()>;

    struct Options {
        QHostAddress bindAddress = QHostAddress(QHostAddress::AnyIPv4);
        quint16 port = REPORT_PORT;
        // Reports taken from the socket per hold of recipientsLock.
        int batchLimit = 256;
        // The pinned report keys; none: reports are taken as they come, none is verified.
        std::shared_ptr<WorkstationKeys> keys;
        // Called on the listener's thread with each probe answer (probe.h) that arrives; none: such
        // datagrams are dropped as too long, as every datagram over RECEIVE_BUFFER_SIZE is.
        std::function<void(const ProbeAnswer&)> probeAnswer;
    };

    enum class State { Starting, Listening, PortBusy, Stopped };

    ReportListener(RecipientList& recipients, QMutex& recipientsLock, Notify notify, PortBusy portBusy,
                   Options options);
    ReportListener(RecipientList& recipients, QMutex& recipientsLock, Notify notify, PortBusy portBusy)
        : ReportListener(recipients, recipientsLock, std::move(notify), std::move(portBusy), Options()) {}
    // Stops the thread and waits for it (tests and tools; the console never destroys its listener).
    ~ReportListener() override;

    // Asks the loop to end; it does within a quarter of a second.
    void stop() { m_stop = true; }
    State state() const { return m_state.load(); }
    // Waits until the socket is bound (or binding failed); true when listening.
    bool waitUntilListening(int timeoutMs) const;
    // The port actually bound (Options::port, or the system's choice when that was 0); 0 until bound.
    quint16 boundPort() const { return m_boundPort.load(); }
    // The receive buffer the system granted (as getsockopt reports it), -1 until known.
    int receiveBufferBytes() const { return m_receiveBuffer.load(); }
    // Reports read (status 1 or 2) and reports that updated a record, since the start.
    qint64 reportsRead() const { return m_read.load(); }
    qint64 reportsApplied() const { return m_applied.load(); }

protected:
    void run() override;

private:
    RecipientList& m_recipients;
    QMutex& m_lock;
    Notify m_notify;
    PortBusy m_portBusy;
    Options m_options;
    std::atomic<bool> m_stop{false};
    std::atomic<State> m_state{State::Starting};
    std::atomic<int> m_receiveBuffer{-1};
    std::atomic<quint16> m_boundPort{0};
    std::atomic<qint64> m_read{0};
    std::atomic<qint64> m_applied{0};
};

} // namespace plinket
