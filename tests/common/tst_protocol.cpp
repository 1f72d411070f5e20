#include "probe.h"
#include "protocol.h"
#include "test_files.h"

#include <QTest>

using namespace plinket;
using plinket::test::hexBytes;

namespace {

// What a receiver of the probe layout makes of a datagram: "request NONCE", "answer NONCE VERSION HOST
// KIND SESSIONS" or "dropped".
QString probeReading(const QByteArray& wire) {
    if (const std::optional<quint64> nonce = parseProbeRequest(wire))
        return u"request "_qs + QString::number(*nonce);
    if (const std::optional<ProbeAnswer> a = parseProbeAnswer(wire))
        return QStringList{u"answer"_qs, QString::number(a->nonce),   a->version, a->host,
                           a->kind,      QString::number(a->sessions)}
            .join(u' ');
    return u"dropped"_qs;
}

QByteArray padded(QByteArray head, int size) {
    head.resize(size, '\0');
    return head;
}

} // namespace

class TestProtocol final : public QObject {
    Q_OBJECT

private slots:
    void workedExamples_data() {
        QTest::addColumn<bool>("isReport");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("english message")
            << false << QStringList{u"EN"_qs, u"420195130"_qs, u"Printer on floor 2 is out of paper"_qs, u"ADMIN-PC"_qs}
            << hexBytes("45 4E 04 34 32 30 31 39 35 31 33 30 04 50 72 69 6E 74 65 72 20 6F 6E 20 66 6C 6F 6F 72 20 "
                        "32 20 69 73 20 6F 75 74 20 6F 66 20 70 61 70 65 72 04 41 44 4D 49 4E 2D 50 43");
        QTest::newRow("russian message")
            << false << QStringList{u"RU"_qs, u"420195131"_qs, u"Обед"_qs, u"ADMIN-PC"_qs}
            << hexBytes("52 55 04 34 32 30 31 39 35 31 33 31 04 D0 9E D0 B1 D0 B5 D0 B4 04 41 44 4D 49 4E 2D 50 43");
        QTest::newRow("report received")
            << true << QStringList{u"420195130"_qs, u"1"_qs, u"PC-07"_qs, u"PC-07.CORP.LAN"_qs}
            << hexBytes("34 32 30 31 39 35 31 33 30 04 31 04 50 43 2D 30 37 04 50 43 2D 30 37 2E 43 4F 52 50 2E 4C "
                        "41 4E");
        QTest::newRow("report confirmed")
            << true << QStringList{u"420195130"_qs, u"2"_qs, u"PC-07"_qs, u"PC-07.CORP.LAN"_qs}
            << hexBytes("34 32 30 31 39 35 31 33 30 04 32 04 50 43 2D 30 37 04 50 43 2D 30 37 2E 43 4F 52 50 2E 4C "
                        "41 4E");
    }
    void workedExamples() {
        QFETCH(bool, isReport);
        QFETCH(QStringList, fields);
        QFETCH(QByteArray, wire);
        const QString text = isReport ? formatReportDatagram(fields[0], fields[1].toInt(), fields[2], fields[3])
                                      : formatMessageDatagram(fields[0], fields[1], fields[2], fields[3]);
        QCOMPARE(text.toUtf8(), wire);
        const Fields back = splitFields(decodePayload(wire, RECEIVE_BUFFER_SIZE));
        QCOMPARE(QStringList(back.begin(), back.end()), fields);
    }

    void splitting_data() {
        QTest::addColumn<QString>("payload");
        QTest::addColumn<QStringList>("expected");
        const QString s = QString(QChar(FIELD_SEPARATOR));
        QTest::newRow("empty") << QString() << QStringList{{}, {}, {}, {}};
        QTest::newRow("no separator") << u"abc"_qs << QStringList{u"abc"_qs, {}, {}, {}};
        QTest::newRow("two fields") << (u"a"_qs + s + u"b"_qs) << QStringList{u"a"_qs, u"b"_qs, {}, {}};
        QTest::newRow("empty middle") << (s + s + u"c"_qs) << QStringList{{}, {}, u"c"_qs, {}};
        QTest::newRow("trailing separator after four") << (u"a"_qs + s + u"b"_qs + s + u"c"_qs + s + u"d"_qs + s)
                                                       << QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs};
        QTest::newRow("fifth field ignored") << (u"a"_qs + s + u"b"_qs + s + u"c"_qs + s + u"d"_qs + s + u"e"_qs)
                                             << QStringList{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs};
        QTest::newRow("separator pasted into text")
            << (u"EN"_qs + s + u"1"_qs + s + u"before"_qs + s + u"after"_qs + s + u"HOST"_qs)
            << QStringList{u"EN"_qs, u"1"_qs, u"before"_qs, u"after"_qs};
    }
    void splitting() {
        QFETCH(QString, payload);
        QFETCH(QStringList, expected);
        const Fields f = ::plinket::splitFields(payload);
        QCOMPARE(QStringList(f.begin(), f.end()), expected);
    }

    void decodeStopsAtNul() {
        const QByteArray bytes("EN\x04"
                               "1\x04te\0xt\x04HOST",
                               15);
        const MessageDatagram m = readMessageDatagram(bytes);
        QCOMPARE(m.text, u"te"_qs);
        QVERIFY(m.serverHost.isEmpty());
    }

    void clientUsesFirst2000Bytes() {
        // 1000 Cyrillic letters are 2000 bytes of text: with the header the datagram exceeds 2000
        // bytes, so the client sees the text cut and no sender.
        const QString text(1000, QChar(0x0416));
        const QByteArray wire = formatMessageDatagram(u"RU"_qs, u"7"_qs, text, u"ADMIN-PC"_qs).toUtf8();
        QVERIFY(wire.size() > CLIENT_PAYLOAD_LIMIT && wire.size() <= RECEIVE_BUFFER_SIZE);
        const MessageDatagram m = readMessageDatagram(wire);
        QVERIFY(m.serverHost.isEmpty());
        QVERIFY(text.startsWith(m.text.left(m.text.size() - 1)));
        QVERIFY(m.text.size() < text.size());
    }

    void utf8SequenceCutAtLimit() {
        // "RU\4" "1\4" is 5 bytes; then 997 ASCII bytes reach byte 2002 with a 2-byte letter at 1999..2000.
        QByteArray wire = "RU\x04"
                          "1\x04";
        wire += QByteArray(1994, 'a');
        wire += "\xD0\x96"; // bytes 2000 and 2001 (1-based 1999..2000 straddle the cut)
        wire += "tail";
        QCOMPARE(wire.indexOf("\xD0\x96"), 1999);
        const MessageDatagram m = readMessageDatagram(wire);
        QVERIFY(!m.text.contains(QChar(0x0416)));
        QCOMPARE(m.text.right(1), QString(QChar::ReplacementCharacter));
        QCOMPARE(m.text.size(), 1995);
    }

    void parsing_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("decimal") << u"420195130"_qs << qint64(420195130);
        QTest::newRow("negative") << u"-1073741819"_qs << qint64(-1073741819);
        QTest::newRow("plus") << u"+12"_qs << qint64(12);
        QTest::newRow("blanks and tabs") << u" \t 42"_qs << qint64(42);
        QTest::newRow("trailing letters") << u"12ab"_qs << qint64(12);
        QTest::newRow("leading letter") << u"x12"_qs << qint64(0);
        QTest::newRow("empty") << QString() << qint64(0);
        QTest::newRow("sign only") << u"-"_qs << qint64(0);
        QTest::newRow("hex") << u"$1F"_qs << qint64(31);
        QTest::newRow("hex lower") << u"$ff"_qs << qint64(255);
        QTest::newRow("negative hex") << u"-$10"_qs << qint64(-16);
        QTest::newRow("binary") << u"%1011"_qs << qint64(11);
        QTest::newRow("binary stops at 2") << u"%1021"_qs << qint64(2);
        QTest::newRow("leading zeros") << u"007"_qs << qint64(7);
        QTest::newRow("blank after sign stops") << u"- 5"_qs << qint64(0);
    }
    void parsing() {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        QCOMPARE(::plinket::parseInteger(text), value);
    }

    void reportReading_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<qint32>("id");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("host");
        QTest::newRow("plain") << u"10.1.2.3"_qs
                               << QByteArray("420195130\x04"
                                             "1\x04PC-07\x04PC-07.CORP.LAN")
                               << 420195130 << 1 << u"PC-07"_qs;
        QTest::newRow("status low 8 bits") << u"10.1.2.3"_qs
                                           << QByteArray("5\x04"
                                                         "258\x04H\x04"
                                                         "F")
                                           << 5 << 2 << u"H"_qs;
        QTest::newRow("id low 32 bits") << u"10.1.2.3"_qs
                                        << QByteArray("4294967297\x04"
                                                      "2\x04H\x04"
                                                      "F")
                                        << 1 << 2 << u"H"_qs;
        QTest::newRow("loopback becomes LOCALHOST") << u"127.0.0.1"_qs
                                                    << QByteArray("9\x04"
                                                                  "1\x04PC\x04PC.LAN")
                                                    << 9 << 1 << u"LOCALHOST"_qs;
        QTest::newRow("other loopback kept") << u"127.0.0.2"_qs
                                             << QByteArray("9\x04"
                                                           "1\x04PC\x04PC.LAN")
                                             << 9 << 1 << u"PC"_qs;
        QTest::newRow("missing fields") << u"10.0.0.1"_qs << QByteArray("garbage") << 0 << 0 << QString();
    }
    void reportReading() {
        QFETCH(QString, source);
        QFETCH(QByteArray, payload);
        QFETCH(qint32, id);
        QFETCH(int, status);
        QFETCH(QString, host);
        const ReportDatagram r = readReportDatagram(QHostAddress(source), payload);
        QCOMPARE(r.senderAddress, source);
        QCOMPARE(r.id, id);
        QCOMPARE(int(r.status), status);
        QCOMPARE(r.host, host);
    }

    // Probe requests and answers: each formatted one is longer than any receiver that only knows messages
    // and reports reads (they drop it whole), and an answer is never longer than a request.
    void probeDatagrams_data() {
        QTest::addColumn<QByteArray>("wire");
        QTest::addColumn<QString>("reading");
        const QByteArray requestHead = QByteArray(PROBE_REQUEST_MARKER) + '\x04';
        const QByteArray answerHead = QByteArray(PROBE_ANSWER_MARKER) + "\x04" + "7\x04" + "1.40\x04PC-07\x04";
        QTest::newRow("request") << formatProbeRequest(420195130) << u"request 420195130"_qs;
        QTest::newRow("request, largest nonce")
            << formatProbeRequest(18446744073709551615ULL) << u"request 18446744073709551615"_qs;
        QTest::newRow("answer of a client")
            << formatProbeAnswer({7, u"1.40"_qs, u"PC-07"_qs, PROBE_KIND_CLIENT.toString(), -1})
            << u"answer 7 1.40 PC-07 client -1"_qs;
        QTest::newRow("answer of an agent with three sessions")
            << formatProbeAnswer({7, u"1.40"_qs, u"ТЕРМИНАЛ"_qs, PROBE_KIND_AGENT.toString(), 3})
            << u"answer 7 1.40 ТЕРМИНАЛ agent 3"_qs;
        QTest::newRow("answer: a long host name is cut, separators in it replaced")
            << formatProbeAnswer({7, u"1.40"_qs, QString(2000, u'Ж').replace(0, 1, QChar(FIELD_SEPARATOR)),
                                  PROBE_KIND_CLIENT.toString(), -1})
            << (u"answer 7 1.40 ?"_qs + QString(254, u'Ж') + u" client -1"_qs);
        QTest::newRow("request of 2048 bytes: an older client would read it")
            << formatProbeRequest(1).left(RECEIVE_BUFFER_SIZE) << u"dropped"_qs;
        QTest::newRow("request shorter than an answer")
            << formatProbeRequest(1).left(PROBE_ANSWER_SIZE - 1) << u"dropped"_qs;
        QTest::newRow("request longer than the layout")
            << padded(formatProbeRequest(1), PROBE_REQUEST_SIZE + 1) << u"dropped"_qs;
        QTest::newRow("request, nonce over 64 bits")
            << padded(requestHead + "18446744073709551616", PROBE_REQUEST_SIZE) << u"dropped"_qs;
        QTest::newRow("request, blank padding")
            << QByteArray(requestHead + '5').leftJustified(PROBE_REQUEST_SIZE, ' ') << u"request 5"_qs;
        QTest::newRow("request, something after the padding")
            << padded(formatProbeRequest(5).left(PROBE_REQUEST_SIZE - 1) + 'x', PROBE_REQUEST_SIZE) << u"dropped"_qs;
        QTest::newRow("answer as long as a request")
            << padded(formatProbeAnswer({5, u"1"_qs, u"H"_qs, u"client"_qs, -1}), PROBE_REQUEST_SIZE)
            << u"answer 5 1 H client -1"_qs;
        QTest::newRow("answer of 2048 bytes")
            << padded(answerHead + "client\x04", RECEIVE_BUFFER_SIZE) << u"dropped"_qs;
        QTest::newRow("answer, sessions not a number")
            << padded(answerHead + "agent\x04-1", PROBE_ANSWER_SIZE) << u"dropped"_qs;
    }
    void probeDatagrams() {
        QFETCH(QByteArray, wire);
        QFETCH(QString, reading);
        QCOMPARE(probeReading(wire), reading);
        // Whatever a receiver takes is dropped by those that know only messages and reports; an answer is
        // never longer than a request it answers.
        if (reading != u"dropped"_qs)
            QVERIFY(wire.size() > RECEIVE_BUFFER_SIZE && wire.size() <= PROBE_REQUEST_SIZE);
        QVERIFY(!reading.startsWith(u"request"_qs) || wire.size() >= PROBE_ANSWER_SIZE);
    }

    void probeAnswerRate() {
        // 20 at once, then one per 50 ms; an idle hour refills no more than the burst.
        ProbeAnswerLimiter limiter;
        int allowed = 0;
        for (int i = 0; i < 100; ++i)
            allowed += limiter.allow(1000);
        QCOMPARE(allowed, 20);
        QVERIFY(!limiter.allow(1049));
        QVERIFY(limiter.allow(1050));
        QVERIFY(!limiter.allow(1050));
        QVERIFY(!limiter.allow(900)); // a clock that went back refills nothing
        allowed = 0;
        for (int i = 0; i < 100; ++i)
            allowed += limiter.allow(3'601'050);
        QCOMPARE(allowed, 20);
    }

    void messageId_data() {
        QTest::addColumn<QDateTime>("local");
        QTest::addColumn<qint32>("id");
        QTest::newRow("epoch") << QDateTime(QDate(2013, 8, 13), QTime(1, 23, 20)) << qint32(0);
        QTest::newRow("one day later") << QDateTime(QDate(2013, 8, 14), QTime(1, 23, 20)) << qint32(86400);
        QTest::newRow("before epoch is negative") << QDateTime(QDate(2013, 8, 13), QTime(1, 23, 19)) << qint32(-1);
        QTest::newRow("2026") << QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0))
                              << qint32(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 0), Qt::UTC).toSecsSinceEpoch() -
                                        MESSAGE_ID_EPOCH);
    }
    void messageId() {
        QFETCH(QDateTime, local);
        QFETCH(qint32, id);
        QCOMPARE(makeMessageId(local), id);
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
