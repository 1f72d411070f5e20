#pragma once

// The client's receive loop, driven by the socket's readiness instead of polling. The socket is read
// empty at every wake, also while a pop-up is open, into bounded queues shared fairly between sender
// addresses (fair_queue.h), so that junk never pushes a real message out of the system's receive buffer.
// Messages are still handled one at a time, in arrival order: one pop-up at a time, and what arrived
// meanwhile follows after OK.
//
// With a signature policy (message_gate.h) each datagram is screened as it is read; those that need a
// signature check wait in a queue of their own and are checked by turns between sender addresses, a
// slice of time per pass of the event loop, so the pop-up and the socket stay served under a flood and
// a flood from some addresses delays a message from another by about one check per flooding address.
// Checks that take turns can finish out of arrival order: then each sender's messages still keep their
// order, and messages of different senders are handled in the order their checks finished.
//
// A probe request (probe.h) is answered as it is read, at most ProbeAnswerLimiter's rate, and never reaches
// the queues, the signature gate, the journal or the pop-up.
//
// Nothing runs while nothing arrives: no timer, no wake-up.

#include "client_state.h"
#include "fair_queue.h"
#include "incoming_message.h"
#include "message_gate.h"
#include "message_socket.h"
#include "probe.h"
#include "protocol.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace plinket {

class Popup;

class Receiver final : public QObject {
    Q_OBJECT

public:
    using EventWriter = std::function<void(int eventId, const QString& s1, const QString& s2, const QString& s3)>;

    // Datagrams (of at most 2 KB) ready to be handled, and apart from them those still waiting for their
    // signature check: checking a full queue of them takes some tens of milliseconds.
    static constexpr qsizetype MAX_WAITING = 2048;
    static constexpr qsizetype MAX_UNCHECKED = 1024;

    // Takes over a socket made with MessageSocket::open. Nothing is read before start().
    Receiver(ClientState& state, Popup& popup, std::unique_ptr<MessageSocket> socket, QObject* parent = nullptr);
    ~Receiver() override;

    // Handles every datagram waiting now or arriving later.
    void start();

    // Replaces the journal writer (tests observe the order of events and reports through it).
    void setEventWriter(EventWriter writer) { m_writeEvent = std::move(writer); }

    // Checks signatures under the workstation's policy before anything else (client_policy.h). Without a
    // gate every message is taken as it comes. A dropped message is neither shown nor answered; it is
    // journaled (event 106) at most once per sender per second; the drops that limit leaves out are
    // summed up in one event 109 a minute after the first of them.
    void setMessageGate(std::unique_ptr<MessageGate> gate) { m_gate = std::move(gate); }
    // A policy read again, for the datagrams read from now on; a gate once set stays (with its replay
    // record), and a datagram already screened is checked against the keys trusted when its turn comes.
    void setPolicy(const ClientPolicy& policy) {
        if (m_gate)
            m_gate->setPolicy(policy);
        else if (policy.checksSignatures())
            m_gate = std::make_unique<MessageGate>(policy);
    }

    // The workstation's own key: reports for a signed message carry its signature (report_signature in
    // message_signature.h). Without one, reports are exactly as they always were.
    void setWorkstationKey(std::shared_ptr<const SigningKey> key) { m_workstationKey = std::move(key); }

    // How long after the first left-out drop event its summary is written (tests shorten it).
    static constexpr int DROP_SUMMARY_DELAY_MS = 60'000;
    void setDropSummaryDelay(int ms) { m_dropSummary.setInterval(ms); }

    // Who answers a probe request (probe.h): PROBE_KIND_CLIENT without a session count unless told
    // otherwise; the host agent names itself and counts the sessions it serves at each answer.
    void setProbeKind(QString kind, std::function<int()> sessions) {
        m_probeKind = std::move(kind);
        m_probeSessions = std::move(sessions);
    }

    bool isShowing() const { return m_shown.has_value(); }

    // Takes up a message that an earlier run already let through (a pop-up that a user session still
    // shows after the host agent restarted): it is handed to the pop-up ahead of the socket, without
    // the signature check or the repeat rule, which it passed when it arrived.
    void adopt(const IncomingMessage& message);
    // Datagrams read and not yet handled (for tests and measurements).
    qsizetype waitingCount() const { return m_unchecked.size() + m_ready.size(); }

private:
    // One pass: reads what is waiting, checks signatures, hands messages over, each for a slice of time.
    void work();
    // True when the socket was read empty within the pass's reading slice.
    bool readAvailable(const QElapsedTimer& pass);
    void take(ReceivedDatagram&& datagram);
    void answerProbe(const ReceivedDatagram& datagram);
    void queue(FairQueue& queue, WaitingDatagram&& entry);
    void scheduleWork();
    void handle(const WaitingDatagram& waiting);
    void show(IncomingMessage message);
    void dropped(const WaitingDatagram& waiting, DropReason reason);
    void showing();
    void confirm();
    void abandon();
    void sendReport(const IncomingMessage& message, int status) const;
    void writeDropSummary();

    ClientState& m_state;
    Popup& m_popup;
    std::unique_ptr<MessageSocket> m_socket;
    QSocketNotifier* m_notifier = nullptr;
    EventWriter m_writeEvent;
    std::optional<IncomingMessage> m_shown;
    std::deque<IncomingMessage> m_adopted; // taken up from an earlier run: shown before the queues
    std::unique_ptr<MessageGate> m_gate;
    DropEventLimiter m_dropEvents;
    QTimer m_dropSummary; // armed only while drop events are being left out: no wake-ups otherwise
    std::shared_ptr<const SigningKey> m_workstationKey;
    FairQueue m_unchecked{MAX_UNCHECKED}; // screened, signature still to check; taken by turns
    FairQueue m_ready{MAX_WAITING};       // ready to be handled once no pop-up is open; taken oldest first
    bool m_workScheduled = false;
    QString m_probeKind = PROBE_KIND_CLIENT.toString();
    std::function<int()> m_probeSessions;
    ProbeAnswerLimiter m_probeAnswers;
};

} // namespace plinket
