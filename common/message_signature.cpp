#include "message_signature.h"

#include "protocol.h"

#include <sodium.h>

#include <algorithm>

namespace plinket {

namespace {

constexpr char SEPARATOR = static_cast<char>(FIELD_SEPARATOR);
constexpr int BASE64 = sodium_base64_VARIANT_URLSAFE_NO_PADDING;
constexpr QByteArrayView PUBLIC_KEY_PREFIX = "ed25519 ";
constexpr QByteArrayView SECRET_KEY_PREFIX = "ed25519-secret ";

// libsodium must be initialised once before use; it is safe to ask from any thread.
bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

QByteArray toBase64(const quint8* bytes, size_t size) {
    QByteArray out(static_cast<qsizetype>(sodium_base64_ENCODED_LEN(size, BASE64)), Qt::Uninitialized);
    sodium_bin2base64(out.data(), static_cast<size_t>(out.size()), bytes, size, BASE64);
    out.chop(1); // the terminating NUL
    return out;
}

// Exactly `size` bytes from canonical URL-safe base64 without padding, or nothing.
std::optional<QByteArray> fromBase64(QByteArrayView text, size_t size) {
    if (static_cast<size_t>(text.size()) != sodium_base64_ENCODED_LEN(size, BASE64) - 1)
        return std::nullopt;
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    size_t written = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), size, text.data(),
                          static_cast<size_t>(text.size()), nullptr, &written, nullptr, BASE64) != 0 ||
        written != size)
        return std::nullopt;
    return out;
}

bool isLowerHex(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Decimal digits without a leading zero, at most 18 of them (no overflow); nothing otherwise.
std::optional<qint64> readTime(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 18 || text.front() == '0')
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

QByteArray fieldPrefix(const QByteArray& keyId, qint64 utcSeconds) {
    return SEPARATOR + SIGNATURE_TAG.toByteArray() + keyId + ':' + QByteArray::number(utcSeconds) + ':';
}

// The non-comment lines of a key file, trimmed.
QList<QByteArrayView> keyLines(QByteArrayView text) {
    QList<QByteArrayView> lines;
    for (QByteArrayView rest = text; !rest.isEmpty();) {
        const qsizetype end = rest.indexOf('\n');
        QByteArrayView line = (end < 0 ? rest : rest.first(end)).trimmed();
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        if (!line.isEmpty() && !line.startsWith('#'))
            lines.append(line);
    }
    return lines;
}

} // namespace

QByteArray PublicKey::keyId() const {
    (void)sodiumReady();
    std::array<quint8, crypto_generichash_BYTES> hash{};
    crypto_generichash(hash.data(), hash.size(), bytes.data(), bytes.size(), nullptr, 0);
    return QByteArray(reinterpret_cast<const char*>(hash.data()), KEY_ID_LENGTH / 2).toHex();
}

std::optional<SigningKey> SigningKey::generate() {
    if (!sodiumReady())
        return std::nullopt;
    std::array<quint8, KEY_SEED_BYTES> seed{};
    randombytes_buf(seed.data(), seed.size());
    auto key = fromSeed(QByteArrayView(reinterpret_cast<const char*>(seed.data()), seed.size()));
    sodium_memzero(seed.data(), seed.size());
    return key;
}

std::optional<SigningKey> SigningKey::fromSeed(QByteArrayView seed) {
    if (!sodiumReady() || seed.size() != KEY_SEED_BYTES)
        return std::nullopt;
    SigningKey key;
    if (crypto_sign_seed_keypair(key.m_public.bytes.data(), key.m_secret.data(),
                                 reinterpret_cast<const unsigned char*>(seed.data())) != 0)
        return std::nullopt;
    return key;
}

SigningKey::~SigningKey() {
    sodium_memzero(m_secret.data(), m_secret.size());
}

QByteArray SigningKey::seed() const {
    // libsodium keeps the seed as the first half of its secret key.
    return QByteArray(reinterpret_cast<const char*>(m_secret.data()), KEY_SEED_BYTES);
}

QByteArray SigningKey::sign(QByteArrayView message) const {
    QByteArray signature(SIGNATURE_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(message.data()),
                         static_cast<unsigned long long>(message.size()), m_secret.data());
    return signature;
}

QByteArray signatureField(const SigningKey& key, QByteArrayView datagram, qint64 utcSeconds) {
    QByteArray field = fieldPrefix(key.keyId(), utcSeconds);
    const QByteArray signedBytes = datagram.toByteArray() + field;
    const QByteArray signature = key.sign(signedBytes);
    return field + toBase64(reinterpret_cast<const quint8*>(signature.constData()), SIGNATURE_BYTES);
}

QString signMessageDatagram(const QString& datagram, const SigningKey& key, qint64 utcSeconds) {
    const QByteArray bytes = datagram.toUtf8();
    return QString::fromUtf8(bytes + signatureField(key, bytes, utcSeconds));
}

qsizetype signatureFieldSize(qint64 utcSeconds) {
    return fieldPrefix(QByteArray(KEY_ID_LENGTH, '0'), utcSeconds).size() + SIGNATURE_TEXT_LENGTH;
}

namespace {

SignatureReading readField(QByteArrayView datagram, bool decodeSignature) {
    // What the client shows: its first 2000 bytes, up to the first NUL byte.
    QByteArrayView view = datagram.first(std::min<qsizetype>(datagram.size(), CLIENT_PAYLOAD_LIMIT));
    if (const qsizetype nul = view.indexOf('\0'); nul >= 0)
        view = view.first(nul);
    SignatureReading reading;
    if (view.count(SEPARATOR) < 4)
        return reading;
    const qsizetype start = view.lastIndexOf(SEPARATOR) + 1;
    const QByteArrayView field = view.sliced(start);
    if (!field.startsWith(SIGNATURE_TAG))
        return reading;

    reading.kind = SignatureReading::Kind::Malformed;
    // KEYID ":" TIME ":" SIGNATURE after the tag; the signature part has a fixed length.
    const QByteArrayView rest = field.sliced(SIGNATURE_TAG.size());
    if (rest.size() < KEY_ID_LENGTH + 3 + SIGNATURE_TEXT_LENGTH)
        return reading;
    const QByteArrayView keyId = rest.first(KEY_ID_LENGTH);
    const QByteArrayView afterKey = rest.sliced(KEY_ID_LENGTH);
    const QByteArrayView signatureText = rest.last(SIGNATURE_TEXT_LENGTH);
    const QByteArrayView middle = afterKey.first(afterKey.size() - SIGNATURE_TEXT_LENGTH);
    if (!isLowerHex(keyId) || middle.size() < 3 || middle.front() != ':' || middle.back() != ':')
        return reading;
    const std::optional<qint64> time = readTime(middle.sliced(1, middle.size() - 2));
    const std::optional<QByteArray> signature =
        decodeSignature ? fromBase64(signatureText, SIGNATURE_BYTES) : std::optional<QByteArray>(QByteArray());
    if (!time || !signature)
        return reading;

    reading.kind = SignatureReading::Kind::Present;
    reading.keyId = keyId.toByteArray();
    reading.utcSeconds = *time;
    reading.signature = *signature;
    reading.signedBytes = view.first(view.size() - SIGNATURE_TEXT_LENGTH);
    return reading;
}

} // namespace

SignatureReading readSignatureField(QByteArrayView datagram) {
    return readField(datagram, true);
}

SignatureReading peekSignatureField(QByteArrayView datagram) {
    return readField(datagram, false);
}

SignatureCheck checkMessageSignature(QByteArrayView datagram, std::span<const PublicKey> trusted) {
    const SignatureReading reading = readSignatureField(datagram);
    SignatureCheck check;
    check.keyId = reading.keyId;
    switch (reading.kind) {
    case SignatureReading::Kind::Unsigned:
        return check;
    case SignatureReading::Kind::Malformed:
        check.status = SignatureCheck::Status::BadSignature;
        return check;
    case SignatureReading::Kind::Present:
        break;
    }
    check.status = SignatureCheck::Status::UnknownKey;
    if (!sodiumReady())
        return check;
    // Ids are short, so two trusted keys may share one: each of them is tried.
    for (size_t i = 0; i < trusted.size(); ++i) {
        const PublicKey& key = trusted[i];
        if (key.keyId() != reading.keyId)
            continue;
        check.status = SignatureCheck::Status::BadSignature;
        if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(reading.signature.constData()),
                                        reinterpret_cast<const unsigned char*>(reading.signedBytes.data()),
                                        static_cast<unsigned long long>(reading.signedBytes.size()),
                                        key.bytes.data()) == 0) {
            check.status = SignatureCheck::Status::Valid;
            check.utcSeconds = reading.utcSeconds;
            check.keyIndex = int(i);
            return check;
        }
    }
    return check;
}

QByteArray signReportDatagram(QByteArrayView report, const SigningKey& key, qint64 messageUtcSeconds) {
    const PublicKey& pub = key.publicKey();
    QByteArray bytes = report.toByteArray() + SEPARATOR + REPORT_SIGNATURE_TAG.toByteArray() +
                       toBase64(pub.bytes.data(), pub.bytes.size()) + ':' + QByteArray::number(messageUtcSeconds) + ':';
    const QByteArray signature = key.sign(bytes);
    return bytes + toBase64(reinterpret_cast<const quint8*>(signature.constData()), SIGNATURE_BYTES);
}

std::optional<ReportSignature> readReportSignature(QByteArrayView datagram) {
    // What a console reads: its first 2100 bytes, up to the first NUL byte.
    QByteArrayView view = datagram.first(std::min<qsizetype>(datagram.size(), SERVER_PAYLOAD_LIMIT));
    if (const qsizetype nul = view.indexOf('\0'); nul >= 0)
        view = view.first(nul);
    qsizetype start = 0;
    for (int n = 0; n < 4; ++n) {
        const qsizetype at = view.indexOf(SEPARATOR, start);
        if (at < 0)
            return std::nullopt;
        start = at + 1;
    }
    const QByteArrayView field = view.sliced(start);
    if (!field.startsWith(REPORT_SIGNATURE_TAG))
        return std::nullopt;

    ReportSignature result;
    // PUBKEY ":" MSGTIME ":" SIGNATURE, with no further separator.
    const QByteArrayView rest = field.sliced(REPORT_SIGNATURE_TAG.size());
    if (rest.size() < PUBLIC_KEY_TEXT_LENGTH + 3 + SIGNATURE_TEXT_LENGTH || rest.contains(SEPARATOR))
        return result;
    const QByteArrayView middle =
        rest.sliced(PUBLIC_KEY_TEXT_LENGTH, rest.size() - PUBLIC_KEY_TEXT_LENGTH - SIGNATURE_TEXT_LENGTH);
    if (middle.size() < 3 || middle.front() != ':' || middle.back() != ':')
        return result;
    const std::optional<QByteArray> key = fromBase64(rest.first(PUBLIC_KEY_TEXT_LENGTH), PUBLIC_KEY_BYTES);
    const std::optional<qint64> time = readTime(middle.sliced(1, middle.size() - 2));
    const std::optional<QByteArray> signature = fromBase64(rest.last(SIGNATURE_TEXT_LENGTH), SIGNATURE_BYTES);
    if (!key || !time || !signature || !sodiumReady())
        return result;
    std::copy(key->begin(), key->end(), result.key.bytes.begin());
    result.messageUtcSeconds = *time;
    const QByteArrayView signedBytes = view.first(view.size() - SIGNATURE_TEXT_LENGTH);
    result.valid =
        crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->constData()),
                                    reinterpret_cast<const unsigned char*>(signedBytes.data()),
                                    static_cast<unsigned long long>(signedBytes.size()), result.key.bytes.data()) == 0;
    return result;
}

QByteArray publicKeyLine(const PublicKey& key) {
    return PUBLIC_KEY_PREFIX.toByteArray() + toBase64(key.bytes.data(), key.bytes.size());
}

QByteArray secretKeyLine(const SigningKey& key) {
    QByteArray seed = key.seed();
    const QByteArray line =
        SECRET_KEY_PREFIX.toByteArray() +
        toBase64(reinterpret_cast<const quint8*>(seed.constData()), static_cast<size_t>(seed.size()));
    sodium_memzero(seed.data(), static_cast<size_t>(seed.size()));
    return line;
}

QList<PublicKey> readPublicKeys(QByteArrayView text, QStringList* problems, QStringList* names) {
    QList<PublicKey> keys;
    for (const QByteArrayView line : keyLines(text)) {
        // The key, then optionally blanks and a name.
        QByteArrayView keyText, name;
        if (line.startsWith(PUBLIC_KEY_PREFIX)) {
            keyText = line.sliced(PUBLIC_KEY_PREFIX.size()).trimmed();
            const auto blank =
                std::find_if(keyText.begin(), keyText.end(), [](char c) { return c == ' ' || c == '\t'; });
            if (blank != keyText.end()) {
                name = keyText.sliced(blank - keyText.begin()).trimmed();
                keyText = keyText.first(blank - keyText.begin());
            }
        }
        const std::optional<QByteArray> bytes =
            keyText.isEmpty() ? std::nullopt : fromBase64(keyText, PUBLIC_KEY_BYTES);
        if (!bytes) {
            if (problems)
                problems->append(u"not a public key: "_qs +
                                 QString::fromUtf8(line.first(std::min<qsizetype>(line.size(), 60))));
            continue;
        }
        PublicKey key;
        std::copy(bytes->begin(), bytes->end(), key.bytes.begin());
        keys.append(key);
        if (names)
            names->append(QString::fromUtf8(name));
    }
    return keys;
}

std::optional<SigningKey> readSecretKey(QByteArrayView text) {
    const QList<QByteArrayView> lines = keyLines(text);
    if (lines.size() != 1 || !lines[0].startsWith(SECRET_KEY_PREFIX))
        return std::nullopt;
    std::optional<QByteArray> seed = fromBase64(lines[0].sliced(SECRET_KEY_PREFIX.size()).trimmed(), KEY_SEED_BYTES);
    if (!seed)
        return std::nullopt;
    std::optional<SigningKey> key = SigningKey::fromSeed(*seed);
    sodium_memzero(seed->data(), static_cast<size_t>(seed->size()));
    return key;
}

} // namespace plinket
