// The datagram readers of both programs and parseInteger: any bytes, any sender.
//   message: fields never hold the separator and read back the same after being written again;
//   report:  the first four input bytes are the sender's IPv4 address, the rest the payload; the
//            console's matcher agrees with the plain walk over the records, and a report with id 0
//            matches nothing;
//   parseInteger: the decimal, "$" hexadecimal and "%" binary forms of the 64-bit value in the first
//            eight bytes read back as that value;
//   probe:   padded requests and answers that read as such read back the same after being written again.

#include "fuzz_target.h"
#include "probe.h"
#include "protocol.h"
#include "report_matcher.h"

#include <cstring>
#include <vector>

using namespace plinket;
using plinket::fuzz::check;

namespace {

constexpr qint32 ID = 420195130;

// A directory in which reports can find every kind of candidate: sent and unsent records, the
// same host twice, confirmed ones, an empty host, groups that carry the id.
const RecipientList& recipients() {
    static const RecipientList list = [] {
        struct Row {
            const char* host;
            int parent;
            bool group;
            qint32 id;
            quint8 status;
        };
        const Row rows[] = {
            {"", -1, true, ID, 0},
            {"", 0, true, ID, 0},
            {"10.0.0.1", 1, false, ID, STATUS_WAITING},
            {"PC-07", 1, false, ID, STATUS_CONFIRMED},
            {"PC-07", 1, false, ID, STATUS_DELIVERED},
            {"PC-07.CORP.LAN", 1, false, 0, STATUS_WAITING},
            {"LOCALHOST", 0, false, ID, STATUS_NOT_DELIVERED},
            {"127.0.0.1", 0, false, -7, STATUS_WAITING},
            {"", 0, false, ID, STATUS_WAITING},
            {"10.0.0.1", 0, false, 0, STATUS_WAITING},
        };
        std::vector<RecipientRecord> records;
        for (const Row& row : rows) {
            RecipientRecord r;
            r.host = QString::fromLatin1(row.host);
            r.parentIndex = row.parent;
            r.level = row.parent < 0 ? 0 : records[size_t(row.parent)].level + 1;
            r.isGroup = row.group ? 1 : 0;
            r.messageId = row.id;
            r.deliveryStatus = row.status;
            records.push_back(r);
        }
        return RecipientList(std::move(records));
    }();
    return list;
}

void checkMessage(const QByteArray& bytes) {
    const MessageDatagram m = readMessageDatagram(bytes);
    const QChar separator(FIELD_SEPARATOR);
    check(!m.lang.contains(separator) && !m.id.contains(separator) && !m.text.contains(separator) &&
              !m.serverHost.contains(separator),
          "a message field holds the separator");
    const QByteArray again = formatMessageDatagram(m.lang, m.id, m.text, m.serverHost).toUtf8();
    // Bytes that are not UTF-8 come back as three-byte replacement characters and may then be cut.
    if (again.size() <= CLIENT_PAYLOAD_LIMIT) {
        const MessageDatagram n = readMessageDatagram(again);
        check(n.lang == m.lang && n.id == m.id && n.text == m.text && n.serverHost == m.serverHost,
              "a message written again reads back differently");
    }
}

void checkReport(const QByteArray& bytes) {
    quint32 v4 = 0;
    std::memcpy(&v4, bytes.constData(), 4);
    const QHostAddress source(v4);
    const ReportDatagram r = readReportDatagram(source, bytes.mid(4));
    check(r.senderAddress == source.toString(), "the sender address is not dotted decimal");
    check(r.senderAddress != u"127.0.0.1"_qs || r.host == u"LOCALHOST"_qs,
          "a report from 127.0.0.1 does not read as LOCALHOST");

    static const ReportMatcher matcher(recipients());
    const int indexed = matcher.match(recipients(), r);
    check(indexed == matchByWalk(recipients(), r), "the matcher and the walk disagree");
    check(r.id != 0 || indexed < 0, "a report with id 0 matched a record");
    if (indexed >= 0) {
        const RecipientRecord& hit = recipients().at(indexed);
        check(!hit.isGroup && hit.messageId == r.id && hit.deliveryStatus != STATUS_CONFIRMED,
              "a report matched a record it must not change");
    }
}

void checkParseInteger(const QByteArray& bytes) {
    (void)parseInteger(QString::fromUtf8(bytes));
    if (bytes.size() < 8)
        return;
    qint64 value = 0;
    std::memcpy(&value, bytes.constData(), 8);
    const quint64 bits = quint64(value);
    const QString decimal = QString::number(value);
    check(parseInteger(decimal) == value, "decimal text does not read back");
    check(parseInteger(u" \t"_qs + decimal + u"x9"_qs) == value, "leading blanks or trailing text change the value");
    check(parseInteger(u"$"_qs + QString::number(bits, 16).toUpper()) == value, "hexadecimal text does not read back");
    check(parseInteger(u"-%"_qs + QString::number(bits, 2)) == qint64(0 - bits), "negated binary does not read back");
}

void checkProbe(const QByteArray& bytes) {
    QByteArray request = QByteArray(PROBE_REQUEST_MARKER) + char(FIELD_SEPARATOR) + bytes;
    if (request.size() < PROBE_REQUEST_SIZE)
        request.resize(PROBE_REQUEST_SIZE, '\0');
    if (const std::optional<quint64> nonce = parseProbeRequest(request))
        check(parseProbeRequest(formatProbeRequest(*nonce)) == nonce,
              "a probe request written again reads back differently");
    QByteArray answerBytes = QByteArray(PROBE_ANSWER_MARKER) + char(FIELD_SEPARATOR) + bytes;
    if (answerBytes.size() < PROBE_ANSWER_SIZE)
        answerBytes.resize(PROBE_ANSWER_SIZE, '\0');
    const std::optional<ProbeAnswer> a = parseProbeAnswer(answerBytes);
    // Longer strings are cut when an answer is written; the rest must survive.
    if (!a || a->version.size() > 32 || a->host.size() > 255 || a->kind.size() > 16)
        return;
    const std::optional<ProbeAnswer> b = parseProbeAnswer(formatProbeAnswer(*a));
    check(b && b->nonce == a->nonce && b->version == a->version && b->host == a->host && b->kind == a->kind &&
              b->sessions == a->sessions,
          "a probe answer written again reads back differently");
}

} // namespace

PLINKET_FUZZ_TARGET(protocol) {
    const QByteArray bytes = fuzz::bytesOf(data, size);
    checkMessage(bytes);
    if (bytes.size() >= 4)
        checkReport(bytes);
    checkParseInteger(bytes);
    checkProbe(bytes);
    return 0;
}
