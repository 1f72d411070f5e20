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

#include <deque>
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
    // journaled (event 106) at most once per sender per second.
    void setMessageGate(std::unique_ptr<MessageGate> gate) { m_gate = std::move(gate); }

    bool isShowing() const { return m_shown.has_value(); }

    // Takes up a message that an earlier run already let through (a pop-up that a user session still
    // shows after the host agent restarted): it is handed to the pop-up ahead of the socket, without
    // the signature check or the repeat rule, which it passed when it arrived.
    void adopt(const IncomingMessage& message);

private:
    void readNext();
    void scheduleRead();
    void handle(const QHostAddress& sender, const QByteArray& datagram, qint64 arrivedNoEarlierThan, qint64 now);
    // False when the gate drops the message (after journaling it, within the limit).
    bool admit(const QHostAddress& sender, const QByteArray& datagram, const MessageDatagram& message,
               qint64 arrivedNoEarlierThan, qint64 now);
    void showing();
    void confirm();
    void abandon();
    void sendReport(const QHostAddress& sender, const QString& id, int status) const;

    ClientState& m_state;
    Popup& m_popup;
    QUdpSocket* m_socket;
    EventWriter m_writeEvent;
    std::optional<IncomingMessage> m_shown;
    std::deque<IncomingMessage> m_adopted;
    std::unique_ptr<MessageGate> m_gate;
    DropEventLimiter m_dropEvents;
    // Set while datagrams may be waiting unread (a pop-up is open, or a burst is being taken one by
    // one): the UTC second since which that is so, the earliest a waiting datagram can have arrived.
    std::optional<qint64> m_backlogSince;
};

} // namespace plinket
