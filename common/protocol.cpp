#include "protocol.h"

#include <sodium.h>

namespace plinket {

namespace {

QString joinFields(const QString& a, const QString& b, const QString& c, const QString& d) {
    const QChar sep(FIELD_SEPARATOR);
    return a + sep + b + sep + c + sep + d;
}

int digitValue(QChar c, int base) {
    const char16_t u = c.unicode();
    int v = -1;
    if (u >= u'0' && u <= u'9')
        v = u - u'0';
    else if (u >= u'a' && u <= u'f')
        v = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        v = u - u'A' + 10;
    return v < base ? v : -1;
}

} // namespace

QString formatMessageDatagram(const QString& lang, const QString& id, const QString& text, const QString& serverHost) {
    return joinFields(lang, id, text, serverHost);
}

QString formatReportDatagram(const QString& id, int status, const QString& host, const QString& fqdn) {
    return joinFields(id, QString::number(status), host, fqdn);
}

Fields splitFields(const QString& payloadText) {
    Fields fields;
    qsizetype start = 0;
    for (auto& field : fields) {
        if (start > payloadText.size())
            break;
        qsizetype end = payloadText.indexOf(QChar(FIELD_SEPARATOR), start);
        if (end < 0)
            end = payloadText.size();
        field = payloadText.mid(start, end - start);
        start = end + 1;
    }
    return fields;
}

QString decodePayload(const QByteArray& bytes, int limit) {
    QByteArrayView view(bytes.constData(), std::min<qsizetype>(bytes.size(), limit));
    const qsizetype nul = view.indexOf('\0');
    if (nul >= 0)
        view = view.first(nul);
    return QString::fromUtf8(view);
}

qint32 makeMessageId(const QDateTime& localDateTime) {
    const QDateTime asIfUtc(localDateTime.date(), localDateTime.time(), Qt::UTC);
    return static_cast<qint32>(static_cast<quint32>(asIfUtc.toSecsSinceEpoch() - MESSAGE_ID_EPOCH));
}

qint32 randomMessageId() {
    // sodium_init() is idempotent and thread-safe; it picks the system's random source (getrandom on Linux).
    static const bool ready = sodium_init() >= 0;
    (void)ready;
    return static_cast<qint32>(randombytes_uniform(static_cast<uint32_t>(MAX_MESSAGE_ID))) + 1;
}

qint64 parseInteger(const QString& fieldText) {
    qsizetype i = 0;
    const qsizetype n = fieldText.size();
    while (i < n && (fieldText[i] == u' ' || fieldText[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < n && (fieldText[i] == u'+' || fieldText[i] == u'-')) {
        negative = fieldText[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && fieldText[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && fieldText[i] == u'%') {
        base = 2;
        ++i;
    }
    // Unsigned arithmetic wraps instead of overflowing; only the low bits are ever used.
    quint64 value = 0;
    for (; i < n; ++i) {
        const int d = digitValue(fieldText[i], base);
        if (d < 0)
            break;
        value = value * static_cast<quint64>(base) + static_cast<quint64>(d);
    }
    if (negative)
        value = 0 - value;
    return static_cast<qint64>(value);
}

QString dottedAddress(const QHostAddress& address) {
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    if (!ok)
        return address.toString();
    return QStringLiteral("%1.%2.%3.%4").arg(v4 >> 24).arg((v4 >> 16) & 0xFF).arg((v4 >> 8) & 0xFF).arg(v4 & 0xFF);
}

MessageDatagram readMessageDatagram(const QByteArray& datagram) {
    const Fields f = splitFields(decodePayload(datagram, CLIENT_PAYLOAD_LIMIT));
    return {f[0], f[1], f[2], f[3]};
}

ReportDatagram readReportDatagram(const QHostAddress& source, const QByteArray& datagram) {
    const Fields f = splitFields(decodePayload(datagram, SERVER_PAYLOAD_LIMIT));
    ReportDatagram report;
    report.senderAddress = dottedAddress(source);
    report.senderIPv4 = source.toIPv4Address();
    report.id = static_cast<qint32>(static_cast<quint32>(parseInteger(f[0])));
    report.status = static_cast<quint8>(parseInteger(f[1]));
    report.host = report.senderAddress == QLatin1String("127.0.0.1") ? QStringLiteral("LOCALHOST") : f[2];
    report.fqdn = f[3];
    return report;
}

} // namespace plinket
