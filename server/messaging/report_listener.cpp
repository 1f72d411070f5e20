#include "report_listener.h"

#include "crash_handler.h"
#include "delivery_round.h"
#include "receive_buffer.h"
#include "report_matcher.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QTime>
#include <QUdpSocket>

#include <vector>

namespace plinket {

ReportListener::ReportListener(RecipientList& recipients, QMutex& recipientsLock, Notify notify, PortBusy portBusy,
                               Options options)
    : m_recipients(recipients), m_lock(recipientsLock), m_notify(std::move(notify)), m_portBusy(std::move(portBusy)),
      m_options(std::move(options)) {
    setObjectName(QStringLiteral("ReportListener"));
}

ReportListener::~ReportListener() {
    stop();
    wait();
}

bool ReportListener::waitUntilListening(int timeoutMs) const {
    QDeadlineTimer deadline(timeoutMs);
    while (m_state.load() == State::Starting && !deadline.hasExpired())
        QThread::msleep(5);
    return m_state.load() == State::Listening;
}

void ReportListener::run() {
    prepareThreadForCrashReports();

    QUdpSocket socket;
    // Reports come straight from the clients on the office network: a configured or system proxy
    // (which a socket asks for by default) is never used.
    socket.setProxy(QNetworkProxy::NoProxy);
    // Not shared: a second console on this computer must find the port busy, not split the reports.
    if (!socket.bind(m_options.bindAddress, m_options.port, QAbstractSocket::DontShareAddress)) {
        m_state = State::PortBusy;
        if (m_portBusy)
            m_portBusy();
        return;
    }
    m_boundPort = socket.localPort();
    m_receiveBuffer = enlargeReceiveBuffer(socket.socketDescriptor(), REPORT_RECEIVE_BUFFER_BYTES);

    ReportMatcher matcher;
    {
        QMutexLocker lock(&m_lock);
        matcher = ReportMatcher(m_recipients);
    }
    m_state = State::Listening;

    struct Received {
        ReportDatagram report;
        QByteArray bytes; // for the signature, read once the report has matched a record
    };
    std::vector<Received> batch;
    batch.reserve(size_t(m_options.batchLimit));
    WorkstationKeys* keys = m_options.keys.get();
    const qint64 readLimit = (m_options.probeAnswer ? PROBE_REQUEST_SIZE : RECEIVE_BUFFER_SIZE) + 1;
    while (!m_stop.load()) {
        if (!socket.hasPendingDatagrams())
            socket.waitForReadyRead(250);
        batch.clear();
        while (int(batch.size()) < m_options.batchLimit && socket.hasPendingDatagrams()) {
            // One byte more than the buffer tells a datagram that is too long; it is dropped whole, unless it
            // is a probe answer (longer than any report, so that older consoles drop it) and answers are wanted.
            const QNetworkDatagram datagram = socket.receiveDatagram(readLimit);
            if (!datagram.isValid())
                break;
            if (datagram.data().size() > RECEIVE_BUFFER_SIZE) {
                if (m_options.probeAnswer)
                    if (const std::optional<ProbeAnswer> answer = parseProbeAnswer(datagram.data()))
                        m_options.probeAnswer(*answer);
                continue;
            }
            ReportDatagram report = readReportDatagram(datagram.senderAddress(), datagram.data());
            if (report.status != REPORT_STATUS_RECEIVED && report.status != REPORT_STATUS_CONFIRMED)
                continue;
            batch.push_back({std::move(report), keys ? datagram.data() : QByteArray()});
        }
        if (batch.empty())
            continue;
        m_read += qint64(batch.size());

        ChangedRecords changed;
        qint64 applied = 0;
        const QString now = reportTimeText(QTime::currentTime());
        {
            QMutexLocker lock(&m_lock);
            for (const Received& r : batch) {
                const int index = matcher.match(m_recipients, r.report);
                if (index < 0)
                    continue;
                WorkstationKeys::Judgement judgement;
                if (keys)
                    judgement =
                        keys->judge(m_recipients.at(index).host, r.report.senderAddress, readReportSignature(r.bytes));
                changed += m_recipients.recordReport(index, r.report.status, now, judgement.trust, judgement.keyId);
                ++applied;
            }
        }
        if (keys)
            keys->flush();
        m_applied += applied;
        if (!changed.isEmpty() && m_notify)
            m_notify(changed);
    }
    m_state = State::Stopped;
}

} // namespace plinket
