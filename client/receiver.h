#pragma once

// The client's receive loop, driven by the socket's readiness instead of polling: one datagram at a time,
// one pop-up at a time, and the socket left unread while a pop-up is open so that messages arriving
// meanwhile are handled in arrival order after OK.

#include "client_state.h"
#include "protocol.h"

#include <QHostAddress>
#include <QObject>

#include <functional>
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

    bool isShowing() const { return m_shown.has_value(); }

private:
    struct ShownMessage {
        QHostAddress sender;
        MessageDatagram message;
    };

    void readNext();
    void scheduleRead();
    void handle(const QHostAddress& sender, const QByteArray& datagram);
    void confirm();
    void sendReport(const QHostAddress& sender, const QString& id, int status) const;

    ClientState& m_state;
    Popup& m_popup;
    QUdpSocket* m_socket;
    EventWriter m_writeEvent;
    std::optional<ShownMessage> m_shown;
};

} // namespace plinket
