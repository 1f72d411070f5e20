#include "probe.h"

#include <sodium.h>

#include <algorithm>
#include <limits>

namespace plinket {

namespace {

constexpr char SEPARATOR = char(FIELD_SEPARATOR);
// Longest strings an answer carries (in characters): with them the answer stays far below its size.
constexpr qsizetype MAX_VERSION = 32;
constexpr qsizetype MAX_HOST = 255;
constexpr qsizetype MAX_KIND = 16;

// 1 to 20 decimal digits, nothing else, fitting 64 bits.
std::optional<quint64> strictDecimal(QByteArrayView digits) {
    if (digits.isEmpty() || digits.size() > 20)
        return std::nullopt;
    quint64 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const quint64 d = quint64(c - '0');
        if (value > (~quint64(0) - d) / 10)
            return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

QByteArray answerField(const QString& text, qsizetype maxCharacters) {
    QByteArray bytes = text.left(maxCharacters).toUtf8();
    std::replace(bytes.begin(), bytes.end(), SEPARATOR, '?');
    std::replace(bytes.begin(), bytes.end(), '\0', '?');
    return bytes;
}

} // namespace

QByteArray formatProbeRequest(quint64 nonce) {
    QByteArray datagram = QByteArray(PROBE_REQUEST_MARKER) + SEPARATOR + QByteArray::number(nonce);
    datagram.resize(PROBE_REQUEST_SIZE, '\0');
    return datagram;
}

std::optional<quint64> parseProbeRequest(QByteArrayView datagram) {
    if (datagram.size() < PROBE_ANSWER_SIZE || datagram.size() > PROBE_REQUEST_SIZE)
        return std::nullopt;
    const QByteArrayView head = QByteArrayView(PROBE_REQUEST_MARKER);
    if (!datagram.startsWith(head) || datagram.at(head.size()) != SEPARATOR)
        return std::nullopt;
    const QByteArrayView rest = datagram.sliced(head.size() + 1);
    qsizetype end = 0;
    while (end < rest.size() && rest.at(end) != '\0' && rest.at(end) != ' ')
        ++end;
    for (qsizetype i = end; i < rest.size(); ++i)
        if (rest.at(i) != '\0' && rest.at(i) != ' ')
            return std::nullopt;
    return strictDecimal(rest.first(end));
}

QByteArray formatProbeAnswer(const ProbeAnswer& answer) {
    QByteArray datagram = QByteArray(PROBE_ANSWER_MARKER) + SEPARATOR + QByteArray::number(answer.nonce) + SEPARATOR +
                          answerField(answer.version, MAX_VERSION) + SEPARATOR + answerField(answer.host, MAX_HOST) +
                          SEPARATOR + answerField(answer.kind, MAX_KIND) + SEPARATOR +
                          (answer.sessions >= 0 ? QByteArray::number(answer.sessions) : QByteArray());
    datagram.resize(PROBE_ANSWER_SIZE, '\0');
    return datagram;
}

std::optional<ProbeAnswer> parseProbeAnswer(QByteArrayView datagram) {
    if (datagram.size() <= RECEIVE_BUFFER_SIZE || datagram.size() > PROBE_REQUEST_SIZE)
        return std::nullopt;
    const qsizetype nul = datagram.indexOf('\0');
    const QList<QByteArray> fields = datagram.first(nul < 0 ? datagram.size() : nul).toByteArray().split(SEPARATOR);
    if (fields.size() < 6 || fields[0] != PROBE_ANSWER_MARKER || fields[4].isEmpty())
        return std::nullopt;
    const std::optional<quint64> nonce = strictDecimal(fields[1]);
    if (!nonce)
        return std::nullopt;
    ProbeAnswer answer{*nonce, QString::fromUtf8(fields[2]), QString::fromUtf8(fields[3]),
                       QString::fromUtf8(fields[4])};
    if (!fields[5].isEmpty()) {
        const std::optional<quint64> sessions = strictDecimal(fields[5]);
        if (!sessions || *sessions > quint64(std::numeric_limits<int>::max()))
            return std::nullopt;
        answer.sessions = int(*sessions);
    }
    return answer;
}

quint64 randomProbeNonce() {
    static const bool ready = sodium_init() >= 0;
    (void)ready;
    quint64 nonce = 0;
    randombytes_buf(&nonce, sizeof(nonce));
    return nonce;
}

bool ProbeAnswerLimiter::allow(qint64 nowMs) {
    if (m_lastMs >= 0 && nowMs > m_lastMs)
        m_milliTokens = std::min(BURST * 1000, m_milliTokens + (nowMs - m_lastMs) * RATE_PER_SECOND);
    if (m_lastMs < 0 || nowMs > m_lastMs)
        m_lastMs = nowMs;
    if (m_milliTokens < 1000)
        return false;
    m_milliTokens -= 1000;
    return true;
}

} // namespace plinket
