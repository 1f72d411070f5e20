#pragma once

// The client's receive loop, driven by the socket's readiness instead of polling: one datagram at a time,
// one pop-up at a time, and the socket left unread while a pop-up is open so that messages arriving
// meanwhile are handled in arrival order after OK.

#include "client_state.h"
#include "incoming_message.h"
#include "message_gate.h"
#include "protocol.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QUdpSocket;

namespace plinket {

class Popup;

// Binds the message port on all local IPv4 addresses, exclusively (a second program on the port must
// fail, and so must we when one is there), and enlarges the receive buffer so that messages queued
// behind an open pop-up are not dropped by the system. False when the port cannot be had.
bool bindMessageSocket(QUdpSocket& socket, quint16 port = MESSAGE_PORT);

class Receiver final : public QObject {
    Q_OBJECT

public:
    using EventWriter = std::function<void(int eventId, const QString& s1, const QString& s2, const QString& s3)>;

    // Takes over `boundSocket` (bound with bindMessageSocket). Nothing is read before start().
    Receiver(ClientState& state, Popup& popup, QUdpSocket* boundSocket, QObject* parent = nullptr);

    // Handles every datagram waiting now or arriving later.
    void start();

    // Replaces the journal writer (tests observe the order of events and reports through it).
    void setEventWriter(EventWriter writer) { m_writeEvent = std::move(writer); }

    // Checks signatures under the workstation's policy before anything else (client_policy.h). Without a
    // gate every message is taken as it comes. A dropped message is neither shown nor answered; it is
    // journaled (event 106) at most once per sender per second; the drops that limit leaves out are
    // summed up in one event 109 a minute after the first of them.
    void setMessageGate(std::unique_ptr<MessageGate> gate) { m_gate = std::move(gate); }

    // The workstation's own key: reports for a signed message carry its signature (report_signature in
    // message_signature.h). Without one, reports are exactly as they always were.
    void setWorkstationKey(std::shared_ptr<const SigningKey> key) { m_workstationKey = std::move(key); }

    // How long after the first left-out drop event its summary is written (tests shorten it).
    static constexpr int DROP_SUMMARY_DELAY_MS = 60'000;
    void setDropSummaryDelay(int ms) { m_dropSummary.setInterval(ms); }

    bool isShowing() const { return m_shown.has_value(); }

private:
    void readNext();
    void scheduleRead();
    void handle(const QHostAddress& sender, const QByteArray& datagram, qint64 arrivedNoEarlierThan, qint64 now);
    // False when the gate drops the message (after journaling it, within the limit).
    bool admit(const QHostAddress& sender, const QByteArray& datagram, const MessageDatagram& message,
               qint64 arrivedNoEarlierThan, qint64 now, GateVerdict& verdict);
    void showing();
    void confirm();
    void sendReport(const QHostAddress& sender, const QString& id, int status, qint64 signedAtUtc) const;
    void writeDropSummary();

    ClientState& m_state;
    Popup& m_popup;
    QUdpSocket* m_socket;
    EventWriter m_writeEvent;
    std::optional<IncomingMessage> m_shown;
    std::unique_ptr<MessageGate> m_gate;
    DropEventLimiter m_dropEvents;
    QTimer m_dropSummary; // armed only while drop events are being left out: no wake-ups otherwise
    std::shared_ptr<const SigningKey> m_workstationKey;
    // Set while datagrams may be waiting unread (a pop-up is open, or a burst is being taken one by
    // one): the UTC second since which that is so, the earliest a waiting datagram can have arrived.
    std::optional<qint64> m_backlogSince;
};

} // namespace plinket
