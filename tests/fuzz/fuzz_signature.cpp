// The signature field of a message datagram, the key files and the workstation's policy: any bytes.
//   field:   the reader stays inside the bytes it is given; a field it reads as present has a key id of
//            16 hexadecimal digits and a 64-byte signature, and covers exactly the bytes before it; the
//            first look (no signature decoded) finds the same key id and time;
//   check:   a datagram made of the input and signed with the test key verifies, with its time; the
//            same datagram with any one byte changed, or cut, never does; the raw input never
//            verifies under a key nobody holds the secret of;
//   keys:    every public key read from the input reads back the same from the line written for it;
//   policy:  the input as client.conf and as a trusted key gives a policy whose age lies in its range,
//            and the trusted keys are exactly those the key file holds, each with a name;
//   report:  the report signature reader stays inside the bytes; a report made of the input and signed
//            verifies with its key and time, and with any one byte changed never does.

#include "client_policy.h"
#include "fuzz_target.h"
#include "guarded_file.h"
#include "message_signature.h"
#include "protocol.h"

#include <QDir>

#include <algorithm>

using namespace plinket;
using plinket::fuzz::check;

namespace {

const SigningKey& testKey() {
    static const SigningKey key = *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, '\x2a'));
    return key;
}

void checkReading(QByteArrayView bytes) {
    const SignatureReading r = readSignatureField(bytes);
    const SignatureReading peek = peekSignatureField(bytes);
    check((peek.kind == SignatureReading::Kind::Unsigned) == (r.kind == SignatureReading::Kind::Unsigned) &&
              (r.kind != SignatureReading::Kind::Present ||
               (peek.kind == r.kind && peek.keyId == r.keyId && peek.utcSeconds == r.utcSeconds)),
          "the first look at a field reads what the whole reading reads");
    if (r.kind != SignatureReading::Kind::Present)
        return;
    check(r.keyId.size() == KEY_ID_LENGTH, "a present field has a 16-digit key id");
    check(r.signature.size() == SIGNATURE_BYTES, "a present field has a 64-byte signature");
    // What a client shows: the first 2000 bytes, up to the first NUL; the field ends it.
    QByteArrayView shown = bytes.first(std::min<qsizetype>(bytes.size(), CLIENT_PAYLOAD_LIMIT));
    if (const qsizetype nul = shown.indexOf('\0'); nul >= 0)
        shown = shown.first(nul);
    check(r.signedBytes.data() == bytes.data() &&
              r.signedBytes.size() == shown.size() - qsizetype(SIGNATURE_TEXT_LENGTH),
          "the signature covers every shown byte before it");
}

void checkSignedRoundTrip(const QByteArray& input) {
    // The input becomes the text of a message; its first byte picks a byte to change afterwards.
    const qint64 time = 1700000000 + (input.isEmpty() ? 0 : quint8(input.at(0)));
    const QString datagram = formatMessageDatagram(u"EN"_qs, u"420195130"_qs, QString::fromUtf8(input), u"ADMIN-PC"_qs);
    const QByteArray signedBytes = signMessageDatagram(datagram, testKey(), time).toUtf8();
    const std::array<PublicKey, 1> trusted{testKey().publicKey()};
    const SignatureCheck good = checkMessageSignature(signedBytes, trusted);
    // A text with a NUL or one over the client's 2000 bytes is cut before the field: never valid.
    const bool shownWhole = !signedBytes.contains('\0') && signedBytes.size() <= CLIENT_PAYLOAD_LIMIT;
    check((good.status == SignatureCheck::Status::Valid) == shownWhole, "a signed message verifies when shown whole");
    if (!shownWhole)
        return;
    check(good.utcSeconds == time, "a signed message verifies with its time");
    checkReading(signedBytes);

    const qsizetype at = input.isEmpty() ? 0 : qsizetype(quint8(input.at(input.size() - 1))) * signedBytes.size() / 256;
    QByteArray altered = signedBytes;
    altered[at] = char(altered.at(at) ^ 0x01);
    check(checkMessageSignature(altered, trusted).status != SignatureCheck::Status::Valid,
          "one byte changed never verifies");
    check(checkMessageSignature(QByteArrayView(signedBytes).first(signedBytes.size() - 1), trusted).status !=
              SignatureCheck::Status::Valid,
          "a cut datagram never verifies");
}

void checkKeys(QByteArrayView text) {
    for (const PublicKey& key : readPublicKeys(text)) {
        const QList<PublicKey> again = readPublicKeys(publicKeyLine(key));
        check(again.size() == 1 && again.first() == key, "a public key reads back from its own line");
    }
    if (const std::optional<SigningKey> secret = readSecretKey(text)) {
        const std::optional<SigningKey> again = readSecretKey(secretKeyLine(*secret));
        check(again && again->publicKey() == secret->publicKey(), "a secret key reads back from its own line");
    }
}

void checkPolicy(const QByteArray& input) {
    // The scratch files are the fuzzing user's: let them stand for root's, with root's modes.
    acceptOwnFilesAsAdministrators(true);
    const QString folder = fuzz::scratchPath(u"policy"_qs);
    const QFile::Permissions readable = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QDir().mkpath(folder + u"/trusted-keys"_qs);
    QFile::setPermissions(folder + u"/trusted-keys"_qs, readable | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    fuzz::putFile(folder + u"/client.conf"_qs, input);
    fuzz::putFile(folder + u"/trusted-keys/console.pub"_qs, input);
    QFile::setPermissions(folder + u"/client.conf"_qs, readable);
    QFile::setPermissions(folder + u"/trusted-keys/console.pub"_qs, readable);
    const ClientPolicy policy = loadClientPolicy(folder);
    check(policy.maxMessageAgeSeconds >= 1 && policy.maxMessageAgeSeconds <= LONGEST_MAX_MESSAGE_AGE_SECONDS,
          "the message age stays in its range");
    QList<PublicKey> expected;
    // A key file over the size limit is refused whole.
    if (input.size() <= GUARDED_FILE_LIMIT)
        for (const PublicKey& key : readPublicKeys(input))
            if (!expected.contains(key))
                expected.append(key);
    check(policy.trustedKeys == expected, "the trusted keys are the keys of the key file");
    check(policy.trustedKeyNames.size() == policy.trustedKeys.size() &&
              std::none_of(policy.trustedKeyNames.begin(), policy.trustedKeyNames.end(),
                           [](const QString& n) { return n.isEmpty(); }),
          "every trusted key has a name");
}

void checkReport(const QByteArray& input) {
    (void)readReportSignature(input); // stays inside the bytes (the sanitizers watch)
    // The input as HOST of a signed report; the first byte picks a byte to change afterwards.
    const qint64 time = 1700000000 + (input.isEmpty() ? 0 : quint8(input.at(0)));
    const QByteArray report = formatReportDatagram(u"420195130"_qs, 2, QString::fromUtf8(input), u"PC"_qs).toUtf8();
    const QByteArray signedBytes = signReportDatagram(report, testKey(), time);
    const std::optional<ReportSignature> good = readReportSignature(signedBytes);
    // A separator or NUL in the input shifts or hides the field, and a console reads 2100 bytes at most.
    const bool readWhole =
        !input.contains('\x04') && !input.contains('\0') && signedBytes.size() <= SERVER_PAYLOAD_LIMIT;
    check(!readWhole || (good && good->valid && good->key == testKey().publicKey() && good->messageUtcSeconds == time),
          "a signed report verifies with its key and time");
    if (!readWhole)
        return;
    const qsizetype at = input.isEmpty() ? 0 : qsizetype(quint8(input.at(input.size() - 1))) * signedBytes.size() / 256;
    QByteArray altered = signedBytes;
    altered[at] = char(altered.at(at) ^ 0x01);
    const std::optional<ReportSignature> bad = readReportSignature(altered);
    check(!bad || !bad->valid, "a report with one byte changed never verifies");
}

} // namespace

PLINKET_FUZZ_TARGET(signature) {
    const QByteArray input = fuzz::bytesOf(data, size);
    checkReading(input);
    // Nobody holds the secret of an all-zero public key's counterpart: raw bytes never verify with it.
    const std::array<PublicKey, 1> nobody{PublicKey{}};
    check(checkMessageSignature(input, nobody).status != SignatureCheck::Status::Valid,
          "bytes nobody signed never verify");
    checkSignedRoundTrip(input);
    checkKeys(input);
    checkPolicy(input);
    checkReport(input);
    return 0;
}
