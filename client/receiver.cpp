#include "receiver.h"

#include "eventlog.h"
#include "popup.h"
#include "udp_send.h"

#include <QSocketNotifier>

#include <chrono>

namespace plinket {

namespace {

// Per pass of the event loop, time spent at most on reading, on checking signatures and on handing
// messages over, so that the pop-up's own events are never held up for long. Reading comes first and
// gets the longest slice: it costs a few microseconds a datagram, and a datagram left in the system's
// buffer keeps every one behind it waiting (a real message among them), or is lost when the buffer fills.
// While a flood outruns the reading, checks get only a short slice, enough to keep them going.
constexpr qint64 READ_SLICE_NS = 16'000'000;
constexpr qint64 SLICE_NS = 4'000'000;
constexpr qint64 BEHIND_SLICE_NS = 1'000'000;

void writeJournalEvent(int eventId, const QString& s1, const QString& s2, const QString& s3) {
    reportEvent(EventSource::Client, EVENT_TYPE_INFORMATION, eventId, s1, s2, s3);
}

qint64 secondsOf(qint64 utcMs) {
    return utcMs / 1000;
}

// The limiters' clock: milliseconds that only go forward, whatever the wall clock does.
qint64 steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A report for a signed message carries this workstation's signature where it has a key of its own; any
// other report is the four fields, byte for byte as always.
QByteArray signedReport(const QByteArray& report, const SigningKey* key, qint64 signedAtUtc) {
    return key && signedAtUtc > 0 ? signReportDatagram(report, *key, signedAtUtc) : report;
}

} // namespace

Receiver::Receiver(ClientState& state, Popup& popup, std::unique_ptr<MessageSocket> socket, QObject* parent)
    : QObject(parent), m_state(state), m_popup(popup), m_socket(std::move(socket)), m_writeEvent(writeJournalEvent) {
    m_dropSummary.setSingleShot(true);
    m_dropSummary.setInterval(DROP_SUMMARY_DELAY_MS);
    connect(&m_dropSummary, &QTimer::timeout, this, &Receiver::writeDropSummary);
}

Receiver::~Receiver() {
    delete m_notifier; // before the socket it watches is closed
}

void Receiver::start() {
    m_notifier = new QSocketNotifier(m_socket->descriptor(), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Receiver::work);
    // Datagrams that arrived during start-up are taken at the first pass.
    scheduleWork();
}

void Receiver::work() {
    QElapsedTimer pass;
    pass.start();
    const bool caughtUp = readAvailable(pass);
    const qint64 checksEnd = pass.nsecsElapsed() + (caughtUp ? SLICE_NS : BEHIND_SLICE_NS);
    while (!m_unchecked.isEmpty() && pass.nsecsElapsed() < checksEnd) {
        WaitingDatagram entry = m_unchecked.takeNextInTurn();
        if (entry.verdict.needsVerify && !m_gate->verify(entry.datagram.bytes, entry.verdict))
            dropped(entry, DropReason::BadSignature);
        else
            queue(m_ready, std::move(entry));
    }
    if (!m_shown && !m_adopted.empty()) {
        IncomingMessage adopted = std::move(m_adopted.front());
        m_adopted.pop_front();
        show(std::move(adopted));
    }
    const qint64 handOverEnd = pass.nsecsElapsed() + SLICE_NS;
    while (!m_shown && !m_ready.isEmpty() && pass.nsecsElapsed() < handOverEnd)
        handle(m_ready.takeFront());
    if (!m_unchecked.isEmpty() || (!m_shown && (!m_ready.isEmpty() || !m_adopted.empty())))
        scheduleWork();
}

bool Receiver::readAvailable(const QElapsedTimer& pass) {
    ReceivedDatagram datagram;
    while (pass.nsecsElapsed() < READ_SLICE_NS) {
        const MessageSocket::Receive result = m_socket->receive(datagram);
        if (result == MessageSocket::Receive::Empty)
            return true;
        if (result == MessageSocket::Receive::Datagram)
            take(std::move(datagram));
    }
    // Whatever is left keeps the socket readable, and the notifier fires again at the next pass.
    return false;
}

void Receiver::take(ReceivedDatagram&& datagram) {
    if (datagram.probeNonce) {
        answerProbe(datagram);
        return; // never a message: neither queued, nor screened, nor journaled
    }
    if (datagram.tooLong)
        return; // too long to be a message: dropped whole, unanswered
    WaitingDatagram entry{std::move(datagram), {}};
    if (m_gate) {
        entry.verdict = m_gate->screen(entry.datagram.bytes, secondsOf(entry.datagram.arrivedAtMs));
        if (entry.verdict.drop) {
            dropped(entry, *entry.verdict.drop);
            return;
        }
    }
    // In arrival order: a message that needs no check never overtakes one that waits for its check.
    queue(entry.verdict.needsVerify || !m_unchecked.isEmpty() ? m_unchecked : m_ready, std::move(entry));
}

void Receiver::answerProbe(const ReceivedDatagram& datagram) {
    // Rate-limited and not journaled one by one: a flood of probes with forged sources gets a trickle of
    // answers, no larger than the probes themselves, and leaves the journal alone.
    if (!m_probeAnswers.allow(steadyNowMs()))
        return;
    const ProbeAnswer answer{*datagram.probeNonce, QString::fromUtf16(CLIENT_VERSION), m_state.hostName, m_probeKind,
                             m_probeSessions ? m_probeSessions() : -1};
    sendDatagramFromFreshSocket(formatProbeAnswer(answer), datagram.source, REPORT_PORT, datagram.replyFrom);
}

void Receiver::queue(FairQueue& queue, WaitingDatagram&& entry) {
    if (const std::optional<WaitingDatagram> gaveWay = queue.push(std::move(entry)))
        dropped(*gaveWay, DropReason::QueueFull);
}

void Receiver::scheduleWork() {
    if (m_workScheduled)
        return;
    m_workScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_workScheduled = false;
            work();
        },
        Qt::QueuedConnection);
}

void Receiver::handle(const WaitingDatagram& waiting) {
    const ReceivedDatagram& d = waiting.datagram;
    // The time a report signature names: the checked signature's, or (no policy here) the field's as read.
    qint64 signedAt = waiting.verdict.signedAtUtc;
    if (!m_gate) {
        const SignatureReading reading = peekSignatureField(d.bytes);
        signedAt = reading.kind == SignatureReading::Kind::Present ? reading.utcSeconds : 0;
    }
    IncomingMessage message{d.source, d.replyFrom, d.arrivedAtMs, readMessageDatagram(d.bytes), waiting.verdict.signer,
                            signedAt};
    const bool repeat = isAlreadyConfirmed(m_state, d.source, message.fields);
    if (m_gate) {
        if (const std::optional<DropReason> drop =
                m_gate->remember(waiting.verdict, message.fields.id, repeat, secondsOf(d.arrivedAtMs))) {
            dropped(waiting, *drop);
            return;
        }
    }
    if (repeat) {
        sendReport(message, REPORT_STATUS_CONFIRMED);
        return;
    }
    show(std::move(message));
}

void Receiver::adopt(const IncomingMessage& message) {
    m_adopted.push_back(message);
    scheduleWork();
}

void Receiver::show(IncomingMessage message) {
    m_shown = std::move(message);
    m_popup.open(*m_shown, {[this] { showing(); }, [this] { confirm(); },
                            [this](const QString& reason) {
                                if (m_shown)
                                    m_writeEvent(EVENT_CLIENT_WAITING, m_shown->fields.serverHost, m_shown->fields.id,
                                                 reason);
                            },
                            [this] { abandon(); }});
}

void Receiver::dropped(const WaitingDatagram& waiting, DropReason reason) {
    const qint64 nowMs = steadyNowMs();
    const QHostAddress& sender = waiting.datagram.source;
    if (m_dropEvents.allow(sender.toIPv4Address(), nowMs))
        m_writeEvent(EVENT_CLIENT_DROPPED, dottedAddress(sender), dropReasonText(reason, waiting.verdict.keyId),
                     readMessageDatagram(waiting.datagram.bytes).id);
    else if (!m_dropSummary.isActive())
        m_dropSummary.start();
}

void Receiver::writeDropSummary() {
    const DropEventLimiter::LeftOut leftOut = m_dropEvents.takeLeftOut();
    if (leftOut.drops > 0)
        m_writeEvent(EVENT_CLIENT_DROPS_SUMMARY, QString::number(leftOut.drops), leftOut.senders, QString());
}

void Receiver::showing() {
    if (!m_shown)
        return;
    const MessageDatagram& message = m_shown->fields;
    m_writeEvent(EVENT_CLIENT_RECEIVED, message.serverHost, message.id, message.text);
    sendReport(*m_shown, REPORT_STATUS_RECEIVED);
}

void Receiver::confirm() {
    if (!m_shown)
        return;
    const IncomingMessage shown = *std::exchange(m_shown, std::nullopt);
    const MessageDatagram& message = shown.fields;
    m_writeEvent(EVENT_CLIENT_CONFIRMED, message.serverHost, message.id, message.text);
    sendReport(shown, REPORT_STATUS_CONFIRMED);
    m_state.lastConfirmed = ConfirmedMessage{message.id, shown.senderAddress, message.text};
    m_popup.close();
    scheduleWork();
}

void Receiver::abandon() {
    if (!m_shown)
        return;
    m_shown.reset();
    m_popup.close();
    scheduleWork();
}

void Receiver::sendReport(const IncomingMessage& message, int status) const {
    const QByteArray report = formatReportDatagram(message.fields.id, status, m_state.hostName, m_state.fqdn).toUtf8();
    // From the address the message was sent to, so the console finds the report where it sent the message.
    sendDatagramFromFreshSocket(signedReport(report, m_workstationKey.get(), message.signedAtUtc),
                                message.senderAddress, REPORT_PORT, message.localAddress);
}

} // namespace plinket
