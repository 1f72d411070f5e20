// The signature field of a message datagram, the key files and the workstation's policy: any bytes.
//   field:   the reader stays inside the bytes it is given; a field it reads as present has a key id of
//            16 hexadecimal digits and a 64-byte signature, and covers exactly the bytes before it; the
//            first look (no signature decoded) finds the same key id and time;
//   check:   a datagram made of the input and signed with the test key verifies, with its time; the
//            same datagram with any one byte changed, or cut, never does; the raw input never
//            verifies under a key nobody holds the secret of;
//   keys:    every public key read from the input reads back the same from the line written for it;
//   policy:  the input as client.conf and as a trusted key gives a policy whose age lies in its range,
//            and the trusted keys are exactly those the key file holds.

#include "client_policy.h"
#include "fuzz_target.h"
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
    const QString folder = fuzz::scratchPath(u"policy"_qs);
    QDir().mkpath(folder + u"/trusted-keys"_qs);
    fuzz::putFile(folder + u"/client.conf"_qs, input);
    fuzz::putFile(folder + u"/trusted-keys/console.pub"_qs, input);
    const ClientPolicy policy = loadClientPolicy(folder);
    check(policy.maxMessageAgeSeconds >= 1 && policy.maxMessageAgeSeconds <= LONGEST_MAX_MESSAGE_AGE_SECONDS,
          "the message age stays in its range");
    QList<PublicKey> expected;
    for (const PublicKey& key : readPublicKeys(input.first(std::min<qsizetype>(input.size(), 64 * 1024))))
        if (!expected.contains(key))
            expected.append(key);
    check(policy.trustedKeys == expected, "the trusted keys are the keys of the key file");
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
    return 0;
}
