#include "agent_channel.h"

#include <QCborMap>
#include <QCborValue>
#include <QCryptographicHash>
#include <QtEndian>

#include <array>
#include <utility>

namespace plinket {

namespace {

constexpr std::array<std::pair<ChannelFrameType, QLatin1StringView>, 8> TYPE_NAMES = {{
    {ChannelFrameType::Hello, QLatin1StringView("hello")},
    {ChannelFrameType::Welcome, QLatin1StringView("welcome")},
    {ChannelFrameType::Refused, QLatin1StringView("refused")},
    {ChannelFrameType::Show, QLatin1StringView("show")},
    {ChannelFrameType::Visible, QLatin1StringView("visible")},
    {ChannelFrameType::Confirmed, QLatin1StringView("confirmed")},
    {ChannelFrameType::Showing, QLatin1StringView("showing")},
    {ChannelFrameType::Waiting, QLatin1StringView("waiting")},
}};

QCborMap messageMap(const IncomingMessage& m) {
    QCborMap map;
    map.insert(u"sa"_qs, m.senderAddress.toString());
    map.insert(u"la"_qs, m.localAddress.isNull() ? QString() : m.localAddress.toString());
    map.insert(u"at"_qs, m.arrivedAtMs);
    map.insert(u"lang"_qs, m.fields.lang);
    map.insert(u"id"_qs, m.fields.id);
    map.insert(u"text"_qs, m.fields.text);
    map.insert(u"host"_qs, m.fields.serverHost);
    map.insert(u"signer"_qs, m.signer);
    map.insert(u"ts"_qs, m.signedAtUtc);
    return map;
}

std::optional<IncomingMessage> readMessage(const QCborValue& value) {
    if (!value.isMap())
        return std::nullopt;
    const QCborMap map = value.toMap();
    const auto text = [&](const char16_t* key) { return map.value(QString::fromUtf16(key)); };
    for (const char16_t* key : {u"sa", u"la", u"lang", u"id", u"text", u"host", u"signer"})
        if (!text(key).isString())
            return std::nullopt;
    if (!text(u"at").isInteger() || !text(u"ts").isInteger())
        return std::nullopt;
    IncomingMessage m;
    m.senderAddress = QHostAddress(text(u"sa").toString());
    const QString local = text(u"la").toString();
    if (!local.isEmpty())
        m.localAddress = QHostAddress(local);
    m.arrivedAtMs = text(u"at").toInteger();
    m.fields.lang = text(u"lang").toString();
    m.fields.id = text(u"id").toString();
    m.fields.text = text(u"text").toString();
    m.fields.serverHost = text(u"host").toString();
    m.signer = text(u"signer").toString();
    m.signedAtUtc = text(u"ts").toInteger();
    // Reports go back to the sender: only an IPv4 address can be one.
    if (m.senderAddress.protocol() != QAbstractSocket::IPv4Protocol)
        return std::nullopt;
    return m;
}

bool hasToken(ChannelFrameType t) {
    return t == ChannelFrameType::Show || t == ChannelFrameType::Visible || t == ChannelFrameType::Confirmed ||
           t == ChannelFrameType::Showing || t == ChannelFrameType::Waiting;
}

bool hasMessage(ChannelFrameType t) {
    return t == ChannelFrameType::Show || t == ChannelFrameType::Showing;
}

std::optional<ChannelFrame> decode(const QByteArray& body) {
    const QCborValue value = QCborValue::fromCbor(body);
    if (!value.isMap())
        return std::nullopt;
    const QCborMap map = value.toMap();
    const QString typeName = map.value(u"t"_qs).toString();
    ChannelFrame frame;
    bool known = false;
    for (const auto& [type, name] : TYPE_NAMES)
        if (typeName == name) {
            frame.type = type;
            known = true;
        }
    if (!known)
        return std::nullopt;
    if (frame.type == ChannelFrameType::Hello || frame.type == ChannelFrameType::Welcome) {
        if (!map.value(u"v"_qs).isInteger())
            return std::nullopt;
        frame.version = int(map.value(u"v"_qs).toInteger());
    }
    if (frame.type == ChannelFrameType::Refused || frame.type == ChannelFrameType::Waiting)
        frame.reason = map.value(u"r"_qs).toString();
    if (frame.type == ChannelFrameType::Waiting && (frame.reason.isEmpty() || frame.reason.size() > MAX_REASON_CHARS))
        return std::nullopt;
    if (hasToken(frame.type)) {
        frame.token = map.value(u"k"_qs).toString();
        if (frame.token.isEmpty() || frame.token.size() > 64)
            return std::nullopt;
    }
    if (hasMessage(frame.type)) {
        const std::optional<IncomingMessage> message = readMessage(map.value(u"m"_qs));
        if (!message)
            return std::nullopt;
        frame.message = *message;
    }
    if (frame.type == ChannelFrameType::Showing)
        frame.alreadyVisible = map.value(u"s"_qs).toBool();
    return frame;
}

} // namespace

QByteArray encodeFrame(const ChannelFrame& frame) {
    QCborMap map;
    for (const auto& [type, name] : TYPE_NAMES)
        if (type == frame.type)
            map.insert(u"t"_qs, QString(name));
    if (frame.type == ChannelFrameType::Hello || frame.type == ChannelFrameType::Welcome)
        map.insert(u"v"_qs, frame.version);
    if (frame.type == ChannelFrameType::Refused || frame.type == ChannelFrameType::Waiting)
        map.insert(u"r"_qs, frame.reason);
    if (hasToken(frame.type))
        map.insert(u"k"_qs, frame.token);
    if (hasMessage(frame.type))
        map.insert(u"m"_qs, messageMap(frame.message));
    if (frame.type == ChannelFrameType::Showing)
        map.insert(u"s"_qs, frame.alreadyVisible);
    const QByteArray body = map.toCborValue().toCbor();
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(quint32(body.size()), out.data());
    return out + body;
}

QString messageToken(const IncomingMessage& m) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QCborValue(messageMap(m)).toCbor());
    return QString::fromLatin1(hash.result().left(16).toHex());
}

std::optional<ChannelFrame> FrameReader::next() {
    if (m_failed || m_buffer.size() < 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
    if (length == 0 || length > quint32(MAX_FRAME_BYTES)) {
        m_failed = true;
        return std::nullopt;
    }
    if (m_buffer.size() < qsizetype(4 + length))
        return std::nullopt;
    const QByteArray body = m_buffer.mid(4, length);
    m_buffer.remove(0, 4 + length);
    std::optional<ChannelFrame> frame = decode(body);
    if (!frame)
        m_failed = true;
    return frame;
}

bool sentByPopup(ChannelFrameType type) {
    return type == ChannelFrameType::Hello || type == ChannelFrameType::Visible ||
           type == ChannelFrameType::Confirmed || type == ChannelFrameType::Showing ||
           type == ChannelFrameType::Waiting;
}

} // namespace plinket
