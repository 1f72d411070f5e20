#include "send_probe.h"

#include "probe_round.h"
#include "send_output.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QNetworkProxy>
#include <QUdpSocket>

namespace plinket {

std::optional<QList<ProbeOutcome>> runProbes(const RecipientList& recipients, int waitSeconds) {
    QList<ProbeOutcome> outcomes;
    QStringList hosts;
    for (int i = 0; i < recipients.size(); ++i) {
        const RecipientRecord& r = recipients.at(i);
        if (r.isGroup || r.checkState != CHECK_CHECKED)
            continue;
        outcomes.append({r.name, r.host, std::nullopt, std::nullopt});
        hosts.append(r.host);
    }
    // Bound before the first probe leaves, so no answer comes before anyone listens.
    QUdpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    if (!socket.bind(QHostAddress(QHostAddress::AnyIPv4), REPORT_PORT, QAbstractSocket::DontShareAddress))
        return std::nullopt;

    QHash<quint64, qsizetype> byNonce;
    QHash<QString, qsizetype> byHost;
    const QList<ProbeTarget> targets = sendProbes(hosts);
    for (qsizetype t = 0; t < targets.size(); ++t) {
        byHost.insert(targets[t].host, t);
        if (targets[t].sent)
            byNonce.insert(targets[t].nonce, t);
    }
    QHash<qsizetype, ProbeAnswer> answers;
    for (QDeadlineTimer deadline(qint64(waitSeconds) * 1000); answers.size() < byNonce.size();) {
        if (!socket.hasPendingDatagrams() &&
            !socket.waitForReadyRead(int(std::min<qint64>(deadline.remainingTime(), 100))) && deadline.hasExpired())
            break;
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram(PROBE_REQUEST_SIZE + 1);
            if (const std::optional<ProbeAnswer> answer = parseProbeAnswer(datagram.data()))
                if (const auto it = byNonce.constFind(answer->nonce); it != byNonce.cend() && !answers.contains(*it))
                    answers.insert(*it, *answer);
        }
    }
    for (ProbeOutcome& o : outcomes) {
        const qsizetype t = byHost.value(o.host, -1);
        if (t < 0)
            continue;
        o.address = targets[t].address;
        if (const auto it = answers.constFind(t); it != answers.cend())
            o.answer = *it;
    }
    return outcomes;
}

namespace {

QString stateOf(const ProbeOutcome& o) {
    return o.answer ? u"answered"_qs : o.address ? u"no answer"_qs : u"no address"_qs;
}

QString orDash(const QString& text) {
    return text.isEmpty() ? u"-"_qs : text;
}

} // namespace

QString probeTable(const QList<ProbeOutcome>& outcomes) {
    QString table = u"NAME\tHOST\tADDRESS\tSTATE\tVERSION\tKIND\tSESSIONS\n"_qs;
    for (const ProbeOutcome& o : outcomes) {
        const ProbeAnswer a = o.answer.value_or(ProbeAnswer{});
        table += QStringList{o.name,
                             o.host,
                             o.address ? o.address->toString() : u"-"_qs,
                             stateOf(o),
                             orDash(a.version),
                             orDash(a.kind),
                             a.sessions >= 0 ? QString::number(a.sessions) : u"-"_qs}
                     .join(u'\t') +
                 u'\n';
    }
    return table;
}

QByteArray probeJson(const QList<ProbeOutcome>& outcomes) {
    QJsonArray list;
    for (const ProbeOutcome& o : outcomes) {
        QJsonObject entry{{u"name"_qs, o.name},
                          {u"host"_qs, o.host},
                          {u"address"_qs, o.address ? QJsonValue(o.address->toString()) : QJsonValue()},
                          {u"answered"_qs, bool(o.answer)},
                          {u"version"_qs, QJsonValue()},
                          {u"kind"_qs, QJsonValue()},
                          {u"sessions"_qs, QJsonValue()},
                          {u"hostname"_qs, QJsonValue()}};
        if (o.answer) {
            entry[u"version"_qs] = o.answer->version;
            entry[u"kind"_qs] = o.answer->kind;
            entry[u"hostname"_qs] = o.answer->host;
            if (o.answer->sessions >= 0)
                entry[u"sessions"_qs] = o.answer->sessions;
        }
        list.append(entry);
    }
    return QJsonDocument(list).toJson(QJsonDocument::Compact) + '\n';
}

int probeExitCode(const QList<ProbeOutcome>& outcomes) {
    bool anySent = false;
    bool allAnswered = true;
    for (const ProbeOutcome& o : outcomes) {
        anySent |= o.address.has_value();
        allAnswered &= o.answer.has_value();
    }
    if (!anySent)
        return EXIT_NOTHING_SENT;
    return allAnswered ? EXIT_ALL_REACHED : EXIT_SOME_NOT_REACHED;
}

} // namespace plinket
