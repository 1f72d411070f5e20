#include "receiver.h"

#include "eventlog.h"
#include "popup.h"
#include "udp_send.h"

#include <QDateTime>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <chrono>

namespace plinket {

namespace {

// Room for thousands of queued messages; the system caps it at its own maximum (net.core.rmem_max on Linux).
constexpr int RECEIVE_SOCKET_BUFFER = 4 * 1024 * 1024;

void writeJournalEvent(int eventId, const QString& s1, const QString& s2, const QString& s3) {
    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, eventId, s1, s2, s3);
}

} // namespace

bool bindMessageSocket(QUdpSocket& socket, quint16 port) {
    // Messages come straight from the console on the office network, never through a proxy.
    socket.setProxy(QNetworkProxy::NoProxy);
    if (!socket.bind(QHostAddress::AnyIPv4, port, QAbstractSocket::DontShareAddress))
        return false;
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, RECEIVE_SOCKET_BUFFER);
    return true;
}

Receiver::Receiver(ClientState& state, Popup& popup, QUdpSocket* boundSocket, QObject* parent)
    : QObject(parent), m_state(state), m_popup(popup), m_socket(boundSocket), m_writeEvent(writeJournalEvent) {
    m_socket->setParent(this);
}

void Receiver::start() {
    connect(m_socket, &QUdpSocket::readyRead, this, &Receiver::readNext);
    // Datagrams that arrived during start-up raise no new signal.
    scheduleRead();
}

void Receiver::scheduleRead() {
    QMetaObject::invokeMethod(this, &Receiver::readNext, Qt::QueuedConnection);
}

void Receiver::adopt(const IncomingMessage& message) {
    m_adopted.push_back(message);
    if (!m_shown)
        scheduleRead();
}

void Receiver::readNext() {
    // While a pop-up is open the socket stays unread; Qt then stops watching it, so the client sleeps
    // until OK is pressed, and the queued datagrams are taken afterwards one per pass, in arrival order.
    if (m_shown)
        return;
    if (!m_adopted.empty()) {
        m_shown = m_adopted.front();
        m_adopted.pop_front();
        if (!m_backlogSince)
            m_backlogSince = QDateTime::currentSecsSinceEpoch(); // the socket now stays unread until OK
        m_popup.open(*m_shown, {[this] { showing(); }, [this] { confirm(); }, [this] { abandon(); }});
        return;
    }
    // Always attempt the read, even when a wake-up finds nothing (it can: a datagram taken by the read
    // after OK may still be announced once). Only a read call re-arms QUdpSocket's notifier, and the read
    // is the test itself, so no datagram can slip in between a check and a read.
    // One byte more than the limit tells a longer datagram apart: it arrives cut to this size.
    QByteArray datagram(RECEIVE_BUFFER_SIZE + 1, Qt::Uninitialized);
    QHostAddress sender;
    const qint64 size = m_socket->readDatagram(datagram.data(), datagram.size(), &sender);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (size < 0) {
        m_backlogSince.reset(); // nothing waiting
        return;
    }
    // A datagram read while none was waiting has just arrived; one that waited arrived no earlier than
    // the moment datagrams began to wait.
    // (Only signature checks need to know; without them the socket is not asked.)
    const qint64 arrivedNoEarlierThan = m_backlogSince.value_or(now);
    if (m_gate && m_socket->hasPendingDatagrams())
        m_backlogSince = arrivedNoEarlierThan;
    else
        m_backlogSince.reset();
    if (size > RECEIVE_BUFFER_SIZE)
        return; // too long to be a message: dropped whole, unanswered
    datagram.truncate(size);
    handle(sender, datagram, arrivedNoEarlierThan, now);
    if (m_shown && !m_backlogSince)
        m_backlogSince = now; // the socket now stays unread until OK
    // A further datagram keeps the socket readable, and Qt announces it on the next pass of the loop.
}

void Receiver::handle(const QHostAddress& sender, const QByteArray& datagram, qint64 arrivedNoEarlierThan, qint64 now) {
    const MessageDatagram message = readMessageDatagram(datagram);
    if (m_gate && !admit(sender, datagram, message, arrivedNoEarlierThan, now))
        return;
    if (isAlreadyConfirmed(m_state, message.id)) {
        sendReport(sender, message.id, REPORT_STATUS_CONFIRMED);
        return;
    }
    m_shown = IncomingMessage{sender, QHostAddress(), QDateTime::currentMSecsSinceEpoch(), message, QString()};
    m_popup.open(*m_shown, {[this] { showing(); }, [this] { confirm(); }, [this] { abandon(); }});
}

void Receiver::showing() {
    if (!m_shown)
        return;
    const MessageDatagram& message = m_shown->fields;
    m_writeEvent(EVENT_CLIENT_RECEIVED, message.serverHost, message.id, message.text);
    sendReport(m_shown->senderAddress, message.id, REPORT_STATUS_RECEIVED);
}

bool Receiver::admit(const QHostAddress& sender, const QByteArray& datagram, const MessageDatagram& message,
                     qint64 arrivedNoEarlierThan, qint64 now) {
    const GateVerdict verdict =
        m_gate->admit(datagram, message.id, isAlreadyConfirmed(m_state, message.id), arrivedNoEarlierThan, now);
    if (!verdict.drop)
        return true;
    const qint64 nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    if (m_dropEvents.allow(sender.toIPv4Address(), nowMs))
        m_writeEvent(EVENT_CLIENT_DROPPED, dottedAddress(sender), dropReasonText(*verdict.drop, verdict.keyId),
                     message.id);
    return false;
}

void Receiver::confirm() {
    if (!m_shown)
        return;
    const IncomingMessage shown = *std::exchange(m_shown, std::nullopt);
    const MessageDatagram& message = shown.fields;
    m_writeEvent(EVENT_CLIENT_CONFIRMED, message.serverHost, message.id, message.text);
    sendReport(shown.senderAddress, message.id, REPORT_STATUS_CONFIRMED);
    m_state.lastConfirmedId = message.id;
    m_popup.close();
    scheduleRead();
}

void Receiver::abandon() {
    if (!m_shown)
        return;
    m_shown.reset();
    m_popup.close();
    scheduleRead();
}

void Receiver::sendReport(const QHostAddress& sender, const QString& id, int status) const {
    const QString report = formatReportDatagram(id, status, m_state.hostName, m_state.fqdn);
    sendDatagramFromFreshSocket(report.toUtf8(), sender, REPORT_PORT);
}

} // namespace plinket
