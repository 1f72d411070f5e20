#pragma once

// Signed messages: an optional fifth field of the message datagram by which a client can tell that a
// message comes from a console holding a given Ed25519 key. Bytes on the wire (UTF-8):
//
//   LANG 04 ID 04 TEXT 04 SERVERHOST 04 "sig1:" KEYID ":" TIME ":" SIGNATURE
//
//   "sig1:"    the version tag of this layout
//   KEYID      16 lower-case hexadecimal digits: the first 8 bytes of BLAKE2b-256 (libsodium's
//              crypto_generichash, no key) of the 32-byte Ed25519 public key
//   TIME       the UTC time of the Send: decimal seconds since 1970-01-01 00:00:00 UTC, digits only,
//              no leading zero
//   SIGNATURE  the 64-byte Ed25519 signature (crypto_sign_detached) in base64 with the URL-safe
//              alphabet ("-" and "_") and no padding: exactly 86 characters
//
// The signature covers every byte before SIGNATURE: the four fields with their separators, the fourth
// separator, "sig1:", KEYID, ":", TIME and ":". The datagram is the same for every recipient of a
// Send, so a Send is signed once. Programs that know nothing of the field read fields 1 to 4 and ignore
// the rest. With TIME at ten digits the field adds exactly SIGNATURE_OVERHEAD bytes to a datagram.
//
// A receiver checks what it would show: the first 2000 bytes of the datagram, up to the first NUL
// byte. The signature field is the last field of that text, and the text holds a signature only when
// it has at least five fields and the last one begins with "sig1:"; the field must then match the
// layout exactly. A signed datagram that the client cuts therefore never verifies, and a text that
// carries U+0004 (which splits the fields the client shows) is still covered whole.
//
// Nothing here writes cryptography of its own: keys, hashes, signatures and base64 are libsodium's.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <array>
#include <optional>
#include <span>

namespace plinket {

inline constexpr int PUBLIC_KEY_BYTES = 32;
inline constexpr int KEY_SEED_BYTES = 32;
inline constexpr int SIGNATURE_BYTES = 64;
inline constexpr int KEY_ID_LENGTH = 16;
inline constexpr int SIGNATURE_TEXT_LENGTH = 86;
inline constexpr QByteArrayView SIGNATURE_TAG = "sig1:";
// Bytes a signature adds to a datagram while TIME has ten digits (until the year 2286).
inline constexpr int SIGNATURE_OVERHEAD = 1 + 5 + KEY_ID_LENGTH + 1 + 10 + 1 + SIGNATURE_TEXT_LENGTH;

struct PublicKey {
    std::array<quint8, PUBLIC_KEY_BYTES> bytes{};

    // KEYID of the layout above.
    QByteArray keyId() const;
    bool operator==(const PublicKey&) const = default;
};

// A console's secret key. The secret bytes are wiped when the object goes.
class SigningKey {
public:
    // A new random key pair; nothing when the system has no source of randomness.
    static std::optional<SigningKey> generate();
    static std::optional<SigningKey> fromSeed(QByteArrayView seed);
    SigningKey(const SigningKey& other) = default;
    SigningKey& operator=(const SigningKey& other) = default;
    ~SigningKey();

    const PublicKey& publicKey() const { return m_public; }
    QByteArray keyId() const { return m_public.keyId(); }
    QByteArray seed() const;
    QByteArray sign(QByteArrayView message) const; // the 64-byte detached signature

private:
    SigningKey() = default;
    std::array<quint8, 64> m_secret{};
    PublicKey m_public;
};

// The signature field, with its leading separator, for the UTF-8 bytes of a message datagram.
QByteArray signatureField(const SigningKey& key, QByteArrayView datagram, qint64 utcSeconds);
// The datagram text with its signature field appended (the console's SendJob datagram).
QString signMessageDatagram(const QString& datagram, const SigningKey& key, qint64 utcSeconds);
// How many bytes the signature field adds for a Send at this time.
qsizetype signatureFieldSize(qint64 utcSeconds);

// What a datagram's last field says, read without any key. The reader takes raw received bytes of any
// length and never reads outside them.
struct SignatureReading {
    enum class Kind {
        Unsigned,  // no signature field
        Malformed, // a field that begins with "sig1:" but does not match the layout
        Present,
    };
    Kind kind = Kind::Unsigned;
    QByteArray keyId;
    qint64 utcSeconds = 0;
    QByteArray signature;       // 64 bytes when Present
    QByteArrayView signedBytes; // view into the given datagram: what SIGNATURE covers
};
SignatureReading readSignatureField(QByteArrayView datagram);
// The same reading without decoding SIGNATURE, for a receiver's first look at a datagram (which key, which
// time) before it decides whether the signature is worth checking: `signature` stays empty, and a field
// whose SIGNATURE is 86 characters that are not valid base64 reads as Present. checkMessageSignature
// reads the field whole.
SignatureReading peekSignatureField(QByteArrayView datagram);

struct SignatureCheck {
    enum class Status { Unsigned, UnknownKey, BadSignature, Valid };
    Status status = Status::Unsigned;
    QByteArray keyId;      // when the field could be read
    qint64 utcSeconds = 0; // TIME, when Valid
    int keyIndex = -1;     // which of the trusted keys verified it, when Valid
};
// Checks a received datagram against the trusted keys. A malformed field is a bad signature.
SignatureCheck checkMessageSignature(QByteArrayView datagram, std::span<const PublicKey> trusted);

// Signed reports: a workstation that holds a key of its own signs the reports it sends for a signed
// message, in an optional fifth field after FQDN (UTF-8 bytes on the wire):
//
//   ID 04 STATUS 04 HOST 04 FQDN 04 "rsig1:" PUBKEY ":" MSGTIME ":" SIGNATURE
//
//   PUBKEY     the workstation's 32-byte Ed25519 public key, URL-safe base64 without padding (43 chars)
//   MSGTIME    TIME of the signed message the report answers (decimal UTC seconds, no leading zero)
//   SIGNATURE  the 64-byte detached signature over every byte before it, as in messages (86 chars)
//
// Consoles that know nothing of the field read fields 1 to 4 and ignore the rest. The field must be the
// fifth and last field of the first 2100 bytes up to the first NUL byte (what a console reads).
inline constexpr QByteArrayView REPORT_SIGNATURE_TAG = "rsig1:";
inline constexpr int PUBLIC_KEY_TEXT_LENGTH = 43;

// The report datagram's bytes with the signature field appended.
QByteArray signReportDatagram(QByteArrayView report, const SigningKey& key, qint64 messageUtcSeconds);

struct ReportSignature {
    PublicKey key;                // the key the field names
    qint64 messageUtcSeconds = 0; // MSGTIME
    bool valid = false;           // the signature holds for that key over the bytes before it
};
// The signature field of a received report; nothing when it has none. A field that begins with
// "rsig1:" but does not match the layout reads as present and not valid.
std::optional<ReportSignature> readReportSignature(QByteArrayView datagram);

// Key files are text: lines beginning with "#" and blank lines are comments; a public key is the line
// "ed25519 " followed by the 32 key bytes in URL-safe base64 without padding (43 characters), a secret
// key the line "ed25519-secret " followed by the 32-byte seed, written the same way.
QByteArray publicKeyLine(const PublicKey& key);
QByteArray secretKeyLine(const SigningKey& key);
// Every public key of a file's text; `problems` gets one text per line that is neither a comment nor a key.
// A key line may go on after the key with a blank and a name ("ed25519 KEY Office console"); `names`, when
// given, gets one name per key (empty where the line has none).
QList<PublicKey> readPublicKeys(QByteArrayView text, QStringList* problems = nullptr, QStringList* names = nullptr);
// The one secret key of a file's text; nothing when the text holds none, several, or anything else.
std::optional<SigningKey> readSecretKey(QByteArrayView text);

} // namespace plinket
