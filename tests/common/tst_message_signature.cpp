#include "message_signature.h"
#include "protocol.h"

#include <QTest>

using namespace plinket;

namespace {

constexpr qint64 SENT_AT = 1780000000; // 2026-05-28 20:26:40 UTC

SigningKey keyFromByte(char b) {
    return *SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, b));
}

QByteArray signedDatagram(const SigningKey& key, const QString& text) {
    return signMessageDatagram(formatMessageDatagram(u"EN"_qs, u"420195130"_qs, text, u"ADMIN-PC"_qs), key, SENT_AT)
        .toUtf8();
}

} // namespace

class TestMessageSignature final : public QObject {
    Q_OBJECT

    const SigningKey m_key = keyFromByte('\x01');
    const SigningKey m_other = keyFromByte('\x02');

private slots:
    // The exact bytes for a fixed key and time (key id and signature as another Ed25519 implementation
    // computes them): the layout on the wire does not drift.
    void fieldLayout() {
        const QByteArray unsignedBytes =
            formatMessageDatagram(u"EN"_qs, u"420195130"_qs, u"Printer on floor 2 is out of paper"_qs, u"ADMIN-PC"_qs)
                .toUtf8();
        const QByteArray datagram = signedDatagram(m_key, u"Printer on floor 2 is out of paper"_qs);
        QVERIFY(datagram.startsWith(unsignedBytes));
        QCOMPARE(datagram.size() - unsignedBytes.size(), SIGNATURE_OVERHEAD);
        QCOMPARE(signatureFieldSize(SENT_AT), SIGNATURE_OVERHEAD);
        const QByteArray field = datagram.mid(unsignedBytes.size());
        QCOMPARE(field.left(1 + 5 + 16 + 12), "\x04sig1:" + m_key.keyId() + ":1780000000:");
        QCOMPARE(m_key.keyId(), QByteArray("c5e21ab1c9f6022d"));
        QCOMPARE(field.mid(34), QByteArray("PaQlCB9FC3xndVrGiibrsakZaPPAvFNeUEiaDsaV6B-bkL0wFAn58JaYOYxBtW0nHpivr2f8N"
                                           "mG3xQUSejjfDg"));
        // Peers that know nothing of the field read the same four fields.
        const MessageDatagram m = readMessageDatagram(datagram);
        QCOMPARE(m.serverHost, u"ADMIN-PC"_qs);
        QCOMPARE(m.text, u"Printer on floor 2 is out of paper"_qs);
    }

    // Every byte that the client shows, the time, the key id and the signature are covered: one altered
    // byte in any of them and the message no longer verifies. A key that is not trusted is unknown.
    void alterations_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("status");
        const QByteArray good = signedDatagram(m_key, u"Обед в 13:00"_qs);
        const auto altered = [&](QByteArrayView part, int offset = 0) {
            QByteArray d = good;
            const qsizetype at = d.indexOf(part) + offset;
            d[at] = static_cast<char>(d[at] ^ 0x01);
            return d;
        };
        const int valid = int(SignatureCheck::Status::Valid);
        const int bad = int(SignatureCheck::Status::BadSignature);
        const int unknown = int(SignatureCheck::Status::UnknownKey);
        QTest::newRow("as sent") << good << valid;
        QTest::newRow("LANG") << altered("EN") << bad;
        QTest::newRow("ID") << altered("420195130", 8) << bad;
        QTest::newRow("TEXT, inside a letter") << altered("\xD0\xB1", 1) << bad;
        QTest::newRow("SERVERHOST") << altered("ADMIN-PC", 7) << bad;
        QTest::newRow("timestamp") << altered("1780000000", 9) << bad;
        QTest::newRow("signature, first character") << altered(":1780000000:", 12) << bad;
        QTest::newRow("signature, last character") << altered(good.right(1)) << bad;
        QTest::newRow("key id") << altered(m_key.keyId(), 3) << unknown;
        QTest::newRow("version tag") << altered("sig1:", 3) << int(SignatureCheck::Status::Unsigned);
        QTest::newRow("another key") << signedDatagram(m_other, u"Обед в 13:00"_qs) << unknown;
        QTest::newRow("field appended") << good + "\x04x" << int(SignatureCheck::Status::Unsigned);
        QTest::newRow("signature doubled") << good + good.right(86) << bad;
        QTest::newRow("no signature") << formatMessageDatagram(u"EN"_qs, u"1"_qs, u"a"_qs, u"B"_qs).toUtf8()
                                      << int(SignatureCheck::Status::Unsigned);
        // The client uses the first 2000 bytes only: up to the 2048 bytes it receives at all, the cut falls
        // inside the signature; further on, before the field, and the rest reads as unsigned.
        QTest::newRow("cut at 2000, 2001 bytes") << signedDatagram(m_key, QString(1859, u'x')) << bad;
        QTest::newRow("cut at 2000, 2048 bytes") << signedDatagram(m_key, QString(1906, u'x')) << bad;
        QTest::newRow("cut at 2000, 2642 bytes")
            << signedDatagram(m_key, QString(2500, u'x')) << int(SignatureCheck::Status::Unsigned);
    }
    void alterations() {
        QFETCH(QByteArray, datagram);
        QFETCH(int, status);
        const std::array<PublicKey, 2> trusted{m_other.publicKey(), m_key.publicKey()};
        const SignatureCheck check = checkMessageSignature(datagram, std::span(trusted).last(1));
        QCOMPARE(int(check.status), status);
        QCOMPARE(check.utcSeconds, status == int(SignatureCheck::Status::Valid) ? SENT_AT : 0);
        // Another trusted key does not change the verdict on any of them.
        QCOMPARE(int(checkMessageSignature(datagram, trusted).status),
                 QTest::currentDataTag() == QByteArray("another key") ? int(SignatureCheck::Status::Valid) : status);
    }

    // A workstation's signed report: four fields as always, then "rsig1:" PUBKEY ":" MSGTIME ":" SIGNATURE.
    // Any byte of the four fields, the key or the time altered, and the signature no longer holds; a field
    // that is not the fifth and last is malformed; a report without it reads as unsigned.
    void reportSignatures_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("verdict"); // 0 unsigned, 1 valid, 2 present but not valid
        const QByteArray report = formatReportDatagram(u"420195130"_qs, 2, u"PC-07"_qs, u"PC-07.CORP.LAN"_qs).toUtf8();
        const QByteArray good = signReportDatagram(report, m_key, SENT_AT);
        const auto altered = [&](QByteArrayView part, int offset = 0) {
            QByteArray d = good;
            const qsizetype at = d.indexOf(part) + offset;
            d[at] = static_cast<char>(d[at] ^ 0x01);
            return d;
        };
        const QByteArray pub = publicKeyLine(m_key.publicKey()).mid(8);
        QTest::newRow("as sent") << good << 1;
        QTest::newRow("ID") << altered("420195130", 3) << 2;
        QTest::newRow("STATUS 2 made 3") << altered("\x04"
                                                    "2\x04",
                                                    1)
                                         << 2;
        QTest::newRow("HOST") << altered("PC-07", 4) << 2;
        QTest::newRow("FQDN") << altered("CORP") << 2;
        QTest::newRow("message time") << altered(":1780000000:", 10) << 2;
        QTest::newRow("public key") << altered(pub, 5) << 2;
        QByteArray lastFlipped = good;
        lastFlipped[good.size() - 2] = static_cast<char>(good.at(good.size() - 2) ^ 0x01);
        QTest::newRow("signature") << lastFlipped << 2;
        QTest::newRow("another key's signature, this key named")
            << signReportDatagram(report, m_other, SENT_AT).replace(publicKeyLine(m_other.publicKey()).mid(8), pub)
            << 2;
        QTest::newRow("a sixth field") << good + "\x04x" << 2;
        QTest::newRow("signature cut") << good.chopped(1) << 2;
        QTest::newRow("behind a NUL") << report + '\0' + good.mid(report.size()) << 0;
        QTest::newRow("unsigned") << report << 0;
        QTest::newRow("other fifth field") << report + "\x04sig1:x" << 0;
    }
    void reportSignatures() {
        QFETCH(QByteArray, datagram);
        QFETCH(int, verdict);
        const std::optional<ReportSignature> signature = readReportSignature(datagram);
        QCOMPARE(signature.has_value(), verdict != 0);
        if (!signature)
            return;
        QCOMPARE(signature->valid, verdict == 1);
        if (verdict == 1) {
            QCOMPARE(signature->key, m_key.publicKey());
            QCOMPARE(signature->messageUtcSeconds, SENT_AT);
            // Consoles that know nothing of the field read the four fields as they are.
            const ReportDatagram r = readReportDatagram(QHostAddress(u"10.0.0.7"_qs), datagram);
            QCOMPARE(r.fqdn, u"PC-07.CORP.LAN"_qs);
            QCOMPARE(datagram.size() -
                         formatReportDatagram(u"420195130"_qs, 2, u"PC-07"_qs, u"PC-07.CORP.LAN"_qs).toUtf8().size(),
                     1 + 6 + PUBLIC_KEY_TEXT_LENGTH + 12 + SIGNATURE_TEXT_LENGTH);
        }
    }
};

QTEST_APPLESS_MAIN(TestMessageSignature)
#include "tst_message_signature.moc"
