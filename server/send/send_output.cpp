#include "send_output.h"

#include "delivery_round.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace plinket {

namespace {

// The word for a datagram that left when nobody waited for the reports (the console's event 101
// says "Status: Sent" in the same words).
QString sentWord(const QString& language) {
    return language == u"EN"_qs ? u"Sent"_qs : u"Отправлено"_qs;
}

} // namespace

bool reachedState(quint8 status, Requirement require) {
    return status == STATUS_CONFIRMED || (require == Requirement::Delivered && status == STATUS_DELIVERED);
}

QString statusLines(const SendOutcome& outcome, const QString& language, const QString& lineEnd, bool marks) {
    const StatusWords words = StatusWords::inLanguage(language);
    QString lines;
    for (const RecipientOutcome& r : outcome.recipients) {
        QString state = !outcome.waited ? (r.sent ? sentWord(language) : words.notDelivered)
                                        : statusWords(r.status, r.reportTime, words);
        if (marks && outcome.waited && r.trust == ReportTrust::Verified)
            state += u", verified"_qs;
        else if (marks && outcome.waited && r.trust == ReportTrust::Unverified)
            state += u", NOT verified"_qs;
        lines += r.name + u'\t' + u"= "_qs + state + lineEnd;
    }
    return lines;
}

QByteArray jsonReport(const SendOutcome& outcome) {
    QJsonArray recipients;
    for (const RecipientOutcome& r : outcome.recipients) {
        QString state = u"not_delivered"_qs;
        if (!outcome.waited && r.sent)
            state = u"sent"_qs;
        else if (outcome.waited && r.status == STATUS_DELIVERED)
            state = u"delivered"_qs;
        else if (outcome.waited && r.status == STATUS_CONFIRMED)
            state = u"confirmed"_qs;
        const bool timed = outcome.waited && (r.status == STATUS_DELIVERED || r.status == STATUS_CONFIRMED);
        const QString report = r.trust == ReportTrust::Verified     ? u"verified"_qs
                               : r.trust == ReportTrust::Unverified ? u"not_verified"_qs
                                                                    : u"unsigned"_qs;
        recipients.append(QJsonObject{{u"name"_qs, r.name},
                                      {u"host"_qs, r.host},
                                      {u"state"_qs, state},
                                      {u"time"_qs, timed ? QJsonValue(r.reportTime) : QJsonValue()},
                                      {u"report"_qs, timed ? QJsonValue(report) : QJsonValue()}});
    }
    const QJsonObject report{{u"id"_qs, outcome.messageId}, {u"text"_qs, outcome.text}, {u"recipients"_qs, recipients}};
    return QJsonDocument(report).toJson(QJsonDocument::Compact) + '\n';
}

int exitCode(const SendOutcome& outcome, Requirement require) {
    if (outcome.datagramsSent == 0)
        return EXIT_NOTHING_SENT;
    for (const RecipientOutcome& r : outcome.recipients) {
        if (outcome.waited ? !reachedState(r.status, require) : !r.sent)
            return EXIT_SOME_NOT_REACHED;
    }
    return EXIT_ALL_REACHED;
}

} // namespace plinket
