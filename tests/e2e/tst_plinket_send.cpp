// plinket_send, the real program, in the lab's console namespace (with a config.ini and a clients.ini
// in its working folder) against a real plinket_client in one client namespace, a loadgen responder
// that confirms in another, and 1,000 load-generator clients on the console namespace's loopback.
// Attacks replayed against the real programs: a third host (client namespace 2, this program run
// again as the forger) answering for a workstation with guessed ids; a workstation (client namespace
// 3) whose signed reports are pinned and whose key then changes; a workstation whose policy files are
// open to everyone or replaced by a FIFO; plinket_send given a signing key that others may read or a
// FIFO in its place.

#include "client_policy.h"
#include "journal_capture.h"
#include "netns.h"
#include "protocol.h"
#include "signing_key_file.h"
#include "udp_send.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace plinket;
using plinket::test::JournalCapture;
using plinket::test::JournalRecord;
using plinket::test::NetnsLab;

namespace {

// Set for this program run again as the forging third host: "<victim address>,<seconds>".
constexpr char FORGE_VARIABLE[] = "PLINKET_TEST_FORGE";
// An address in the lab where no workstation runs: the victim the forger answers for.
const QString VICTIM = u"10.250.0.20"_qs;

// The third host: for `seconds` (at most 30), fifteen times a second, "2" reports to the console for the
// victim, carrying its address as HOST and the ids a clock-based console would use now (now - 1 to now + 1),
// and one random guess each time. Prints "forging" when it starts and "forged=N" at the end.
int forgeReports(const QByteArray& spec) {
    const QString victim = QString::fromLatin1(spec.split(',').value(0));
    const int seconds = std::min(30, spec.split(',').value(1).toInt());
    std::printf("forging\n");
    std::fflush(stdout);
    qint64 forged = 0;
    for (QDeadlineTimer end(seconds * 1000); !end.hasExpired(); QThread::msleep(66)) {
        const qint32 now = makeMessageId(QDateTime::currentDateTime());
        for (const qint32 id : {now - 1, now, now + 1, randomMessageId()}) {
            const QByteArray report = formatReportDatagram(QString::number(id), 2, victim, victim).toUtf8();
            forged += sendDatagramFromFreshSocket(report, QHostAddress(NetnsLab::consoleAddress()), REPORT_PORT);
        }
    }
    std::printf("forged=%lld\n", static_cast<long long>(forged));
    return 0;
}

} // namespace

class TestPlinketSend final : public QObject {
    Q_OBJECT

    NetnsLab m_lab;
    QTemporaryDir m_dir;
    JournalCapture m_journal;
    QProcess* m_responder = nullptr; // client namespace 1, listed as PC-1; confirms after 100 ms
    int m_sentToPc1 = 0;             // datagrams the runs so far must have sent to PC-1

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };
    // plinket_send in the console namespace, in the working folder that holds config.ini and lab.ini (or in
    // `folder`).
    Run send(const QStringList& args, const QByteArray& input = {}, const QString& folder = {}) const {
        const QStringList cmd =
            NetnsLab::command(m_lab.consoleNamespace(), u"sh"_qs,
                              QStringList{u"-c"_qs, u"cd \"$0\" && exec \"$@\""_qs,
                                          folder.isEmpty() ? m_dir.path() : folder, QStringLiteral(PLINKET_SEND_PATH)} +
                                  args);
        QProcess p;
        p.start(cmd.first(), cmd.mid(1));
        p.write(input);
        p.closeWriteChannel();
        Run run;
        if (p.waitForFinished(90000) && p.exitStatus() == QProcess::NormalExit)
            run.code = p.exitCode();
        run.out = QString::fromUtf8(p.readAllStandardOutput());
        run.err = QString::fromUtf8(p.readAllStandardError());
        return run;
    }
    bool write(const QString& name, const QByteArray& bytes) const {
        QFile f(QDir::isAbsolutePath(name) ? name : m_dir.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    JournalRecord sendEvent(const QByteArray& id) {
        QDeadlineTimer deadline(5000);
        for (int wanted = 1; !deadline.hasExpired(); ++wanted)
            for (const JournalRecord& r : m_journal.waitForRecords(wanted, 200))
                if (r.value("SYSLOG_IDENTIFIER") == "Plinket Send" && test::insertionStrings(r).first() == id)
                    return r;
        return {};
    }

private slots:
    void initTestCase() {
        if (!m_lab.create(4))
            QSKIP(qPrintable(m_lab.reason()));
        if (!JournalCapture::available())
            QSKIP(qPrintable(JournalCapture::unavailableReason()));
        QVERIFY(m_journal.start());
        // Names nobody knows fail after one second, and no query leaves the lab.
        QFile resolv(u"/etc/netns/"_qs + m_lab.consoleNamespace() + u"/resolv.conf"_qs);
        QVERIFY(resolv.open(QIODevice::WriteOnly) && resolv.write("nameserver 10.250.0.250\noptions timeout:1 "
                                                                  "attempts:1\n") > 0);
        resolv.close();
        QVERIFY(m_lab.startInClient(0, QStringLiteral(PLINKET_CLIENT_PATH), {}, m_lab.clientEnvironment(0)));
        bool started = false;
        for (int wanted = 1; !started && wanted < 50; ++wanted)
            for (const JournalRecord& r : m_journal.waitForRecords(wanted, 2000))
                started |= r.value("SYSLOG_IDENTIFIER") == "Plinket Client" && r.value("PLINKET_EVENT_ID") == "100";
        QVERIFY2(started, "plinket_client did not start");
        m_responder =
            m_lab.startInClient(1, QStringLiteral(PLINKET_LOADGEN_PATH),
                                {u"--responder"_qs, u"--duration-s"_qs, u"300"_qs, u"--delay2-ms"_qs, u"100"_qs});
        QVERIFY(m_responder && NetnsLab::waitForOutput(m_responder, "listening on"));
        // The console's files: English, and a client directory that is not ./clients.ini.
        QVERIFY(write(u"config.ini"_qs,
                      "\xEF\xBB\xBF[Common]\r\nLanguage = EN\r\n\r\n[Paths]\r\nClients = .\\lab.ini\r\n"));
        QVERIFY(write(u"lab.ini"_qs, "\xEF\xBB\xBF;Plinket Clients v2\r\n[+Office]\r\n  PC-0 = " +
                                         NetnsLab::clientAddress(0).toLatin1() +
                                         "\r\n  [+Desk]\r\n    PC-1 = " + m_lab.clientHostName(1).toLatin1() +
                                         "\r\n  [-Desk]\r\n[-Office]\r\n[+Empty]\r\n[-Empty]\r\n"));
    }

    // Rows run in order: the real client answers only the first message (its pop-up stays open).
    void exitCodes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("out"); // a pattern for the whole standard output
        QTest::addColumn<QString>("err"); // text standard error must hold
        QTest::addColumn<int>("toPc1");
        const QString x = u"x"_qs;
        QTest::newRow("group, real client")
            << QStringList{u"--to"_qs, u"Office"_qs, u"--require"_qs, u"delivered"_qs, u"Fire drill"_qs} << QByteArray()
            << 0 << u"PC-0\t= Delivered in \\d\\d:\\d\\d:\\d\\d\nPC-1\t= (Delivered|Confirmed) in .*\n"_qs << QString()
            << 1;
        QTest::newRow("some not reached")
            << QStringList{u"--to"_qs, u"desk"_qs, u"--host"_qs, u"ghost.invalid"_qs, x} << QByteArray() << 1
            << u"PC-1\t= Confirmed in .*\nghost.invalid\t= Not delivered\n"_qs << u"no address for \"GHOST.INVALID\""_qs
            << 1;
        QTest::newRow("nothing sendable") << QStringList{u"--host"_qs, u"ghost.invalid"_qs, x} << QByteArray() << 3
                                          << u"ghost.invalid\t= Not delivered\n"_qs << u"nothing could be sent"_qs << 0;
        QTest::newRow("without waiting") << QStringList{u"--to"_qs, u"PC-1"_qs, u"--wait"_qs, u"0"_qs, x}
                                         << QByteArray() << 0 << u"PC-1\t= Sent\n"_qs << QString() << 1;
        QTest::newRow("stdin, Russian") << QStringList{u"--to"_qs, u"PC-1"_qs, u"--lang"_qs, u"ru"_qs, u"-"_qs}
                                        << QByteArray("Обед\n") << 0 << u"PC-1\t= Подтверждено в .*\n"_qs << QString()
                                        << 1;
        QTest::newRow("unknown name") << QStringList{u"--to"_qs, u"PC-1"_qs, u"--to"_qs, u"Nobody"_qs, x}
                                      << QByteArray() << 2 << QString() << u"\"Nobody\""_qs << 0;
        QTest::newRow("empty group") << QStringList{u"--to"_qs, u"Empty"_qs, x} << QByteArray() << 2 << QString()
                                     << u"hold no clients"_qs << 0;
        QTest::newRow("no recipients") << QStringList{x} << QByteArray() << 2 << QString() << u"--help"_qs << 0;
        QTest::newRow("bad wait") << QStringList{u"--to"_qs, u"PC-1"_qs, u"--wait"_qs, u"-1"_qs, x} << QByteArray() << 2
                                  << QString() << u"--wait"_qs << 0;
        QTest::newRow("text too long") << QStringList{u"--to"_qs, u"PC-1"_qs, QString(1001, u'x')} << QByteArray() << 2
                                       << QString() << u"1001 characters"_qs << 0;
        QTest::newRow("would be cut") << QStringList{u"--to"_qs, u"PC-1"_qs, QString(1000, u'ж')} << QByteArray() << 2
                                      << QString() << u"2000 bytes"_qs << 0;
        // --probe: the real client answers (its pop-up open or not), the responder drops the probe as an
        // older client does, and neither shows anything.
        const QString version = QRegularExpression::escape(QStringLiteral(PLINKET_VERSION));
        QTest::newRow("probe, a client and an older receiver")
            << QStringList{u"--probe"_qs, u"--to"_qs, u"Office"_qs} << QByteArray() << 1
            << (u"NAME\tHOST\tADDRESS\tSTATE\tVERSION\tKIND\tSESSIONS\nPC-0\t[^\t]+\t"_qs +
                QRegularExpression::escape(NetnsLab::clientAddress(0)) + u"\tanswered\t"_qs + version +
                u"\tclient\t-\nPC-1\t[^\t]+\t[^\t]+\tno answer\t-\t-\t-\n"_qs)
            << QString() << 1;
        QTest::newRow("probe, JSON") << QStringList{u"--probe"_qs, u"--json"_qs, NetnsLab::clientAddress(0)}
                                     << QByteArray() << 0
                                     << (u"\\[\\{\"address\":\"[^\"]+\",\"answered\":true,\"host\":\"[^\"]+\","
                                         "\"hostname\":\"[^\"]+\",\"kind\":\"client\",\"name\":\"[^\"]+\","
                                         "\"sessions\":null,\"version\":\""_qs +
                                         version + u"\"\\}\\]\n"_qs)
                                     << QString() << 0;
        QTest::newRow("probe, no address")
            << QStringList{u"--probe"_qs, u"ghost.invalid"_qs} << QByteArray() << 3
            << u"NAME.*\nghost.invalid\tGHOST.INVALID\t-\tno address\t-\t-\t-\n"_qs << QString() << 0;
    }
    void exitCodes() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, input);
        QFETCH(int, code);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QFETCH(int, toPc1);
        const Run run = send(args, input);
        QVERIFY2(run.code == code, qPrintable(run.err));
        QVERIFY2(QRegularExpression(u'^' + out + u'$').match(run.out).hasMatch(), qPrintable(run.out));
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
        m_sentToPc1 += toPc1;
    }

    // --json, and the round's record in the journal under its own source, with the same states.
    void jsonAndJournal() {
        const Run run = send({u"--to"_qs, u"PC-1"_qs, u"--json"_qs, u"Lunch"_qs});
        ++m_sentToPc1;
        QCOMPARE(run.code, 0);
        const QJsonObject o = QJsonDocument::fromJson(run.out.toUtf8()).object();
        QCOMPARE(o.keys(), (QStringList{u"id"_qs, u"recipients"_qs, u"text"_qs}));
        QCOMPARE(o[u"text"_qs].toString(), u"Lunch"_qs);
        const QJsonArray recipients = o[u"recipients"_qs].toArray();
        QCOMPARE(recipients.size(), 1);
        const QJsonObject r = recipients[0].toObject();
        QCOMPARE(r[u"name"_qs].toString(), u"PC-1"_qs);
        QCOMPARE(r[u"host"_qs].toString(), m_lab.clientHostName(1).toUpper());
        QCOMPARE(r[u"state"_qs].toString(), u"confirmed"_qs);
        QVERIFY(QRegularExpression(u"^\\d\\d:\\d\\d:\\d\\d$"_qs).match(r[u"time"_qs].toString()).hasMatch());
        const QByteArray id = QByteArray::number(o[u"id"_qs].toInteger());
        const JournalRecord event = sendEvent(id);
        QVERIFY2(!event.isEmpty(), "no event 101 from Plinket Send");
        QCOMPARE(event.value("PLINKET_EVENT_ID"), "101");
        QCOMPARE(test::insertionStrings(event).mid(1),
                 (QByteArrayList{"Lunch", "PC-1\t= Confirmed in " + r[u"time"_qs].toString().toLatin1() + "\r\n"}));
        QVERIFY(!event.value("MESSAGE_ID").isEmpty());
    }

    // A program holding the report port (as a console does): waiting is refused before anything is
    // sent; --wait 0 sends, and the reports go to that program.
    void portBusy() {
        QProcess* holder = m_lab.startInConsole(QStringLiteral(PLINKET_LOADGEN_PATH),
                                                {u"--listen"_qs, u"drain"_qs, u"--duration-s"_qs, u"60"_qs});
        QVERIFY(holder && NetnsLab::waitForOutput(holder, "listening on"));
        const Run refused = send({u"--to"_qs, u"PC-1"_qs, u"--wait"_qs, u"5"_qs, u"x"_qs});
        QCOMPARE(refused.code, 3);
        QVERIFY2(refused.err.contains(u"UDP port 47128 is taken"_qs) && refused.err.contains(u"Nothing was sent"_qs),
                 qPrintable(refused.err));
        const Run anyway = send({u"--to"_qs, u"PC-1"_qs, u"--wait"_qs, u"0"_qs, u"x"_qs});
        m_sentToPc1 += 1;
        QCOMPARE(anyway.code, 0);
        QVERIFY(anyway.err.contains(u"47128 is taken"_qs));
        // Both reports of the one message that left reached the holder (it ends 2 s after the last one).
        QVERIFY(NetnsLab::waitForOutput(holder, " reports=2 ", 20000));
    }

    // 1,000 load-generator clients in ten nested groups, each confirming within half a second: every one
    // ends "confirmed", none is lost.
    void thousandClients() {
        const QString file = m_dir.filePath(u"loadgen.ini"_qs);
        QCOMPARE(m_lab.run(m_lab.consoleNamespace(), QStringLiteral(PLINKET_LOADGEN_PATH),
                           {u"--write-clients"_qs, file, u"--clients"_qs, u"1000"_qs, u"--groups"_qs, u"10"_qs,
                            u"--depth"_qs, u"2"_qs}),
                 0);
        QProcess* clients = m_lab.startInConsole(QStringLiteral(PLINKET_LOADGEN_PATH),
                                                 {u"--clients"_qs, u"1000"_qs, u"--duration-s"_qs, u"60"_qs,
                                                  u"--delay2-ms"_qs, u"200"_qs, u"--jitter-ms"_qs, u"300"_qs});
        QVERIFY(clients && NetnsLab::waitForOutput(clients, "listening on"));
        const Run run = send({u"--clients"_qs, file, u"--all"_qs, u"--json"_qs, u"Load"_qs});
        QVERIFY2(run.code == 0, qPrintable(run.err));
        const QJsonArray recipients = QJsonDocument::fromJson(run.out.toUtf8()).object()[u"recipients"_qs].toArray();
        QCOMPARE(recipients.size(), 1000);
        for (const QJsonValue& r : recipients)
            QCOMPARE(r[u"state"_qs].toString(), u"confirmed"_qs);
    }

    // A third host answers "2" for a workstation that runs no client, fifteen times a second, with its
    // address as host name and the ids a clock-based console would have used: the round does not take it.
    void forgedReportsNeverConfirm() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(FORGE_VARIABLE), VICTIM + u",8"_qs);
        QProcess* forger = m_lab.startInClient(2, QCoreApplication::applicationFilePath(), {}, env);
        QVERIFY(forger && NetnsLab::waitForOutput(forger, "forging"));
        const Run run = send({u"--host"_qs, VICTIM, u"--wait"_qs, u"4"_qs, u"Fire drill"_qs});
        QVERIFY2(run.code == 1, qPrintable(run.err));
        QCOMPARE(run.out, VICTIM + u"\t= Not delivered\n"_qs);
        QVERIFY(NetnsLab::waitForOutput(forger, "forged=", 20000));
        QVERIFY(!forger->property("plinketOutput").toByteArray().contains("forged=0\n"));
    }

    // A workstation with a report key of its own (client namespace 3, the real client): its first signed
    // report is verified and its key pinned in known-workstations; after its key changes, its report is
    // still shown but as not verified, and event 102 says so. A signing key that other users may read, or
    // a FIFO in its place, is refused at once with the reason, nothing sent.
    void signedReportsPinnedThenChanged() {
        if (!NetnsLab::privateEtc())
            QSKIP("needs root under with_private_journal.sh with a private /etc");
        QTemporaryDir folder;
        QVERIFY(generateSigningKey(folder.path(), u"LAB-CONSOLE"_qs).ok);
        QVERIFY(write(folder.filePath(u"config.ini"_qs), "[Common]\r\nLanguage = EN\r\n"));
        const QString workstation = NetnsLab::clientAddress(3);
        const QString keyFile = u"/etc/netns/"_qs + m_lab.clientNamespace(3) + u"/plinket/workstation.key"_qs;
        QProcess* client = nullptr;
        const auto startWorkstation = [&](char seed) {
            if (client) {
                client->terminate();
                client->waitForFinished(10000);
            }
            const std::optional<SigningKey> key = SigningKey::fromSeed(QByteArray(KEY_SEED_BYTES, seed));
            if (!m_lab.writeClientEtcFile(3, u"plinket/workstation.key"_qs, secretKeyLine(*key) + '\n') ||
                ::chmod(QFile::encodeName(keyFile).constData(), 0600) != 0)
                return QByteArray();
            client = m_lab.startInClient(3, QStringLiteral(PLINKET_CLIENT_PATH), {}, m_lab.clientEnvironment(3));
            return client && m_lab.waitForUdpPort(m_lab.clientNamespace(3), MESSAGE_PORT) ? key->keyId() : QByteArray();
        };
        const auto round = [&](const QString& text) -> QString {
            // The journal socket queues only a few records before a writer blocks: keep reading it meanwhile.
            std::atomic<bool> done{false};
            std::thread reader([&] {
                while (!done)
                    m_journal.waitForRecords(100000, 100);
            });
            const Run run = send({u"--host"_qs, workstation, u"--require"_qs, u"delivered"_qs, u"--wait"_qs, u"60"_qs,
                                  u"--json"_qs, text},
                                 {}, folder.path());
            done = true;
            reader.join();
            const QJsonObject r = QJsonDocument::fromJson(run.out.toUtf8())[u"recipients"_qs][0].toObject();
            return r[u"state"_qs].toString() + u' ' + r[u"report"_qs].toString();
        };
        const QByteArray first = startWorkstation('\x31');
        QVERIFY(!first.isEmpty());
        QCOMPARE(round(u"Signed, first sight"_qs), u"delivered verified"_qs);
        QFile known(folder.filePath(u"known-workstations"_qs));
        QVERIFY(known.open(QIODevice::ReadOnly));
        QVERIFY(known.readAll().contains(QByteArray(workstation.toLatin1() + " ed25519 ")));
        known.close();

        const QByteArray second = startWorkstation('\x32');
        QVERIFY(!second.isEmpty());
        QCOMPARE(round(u"Signed, another key"_qs), u"delivered not_verified"_qs);
        bool warned = false;
        for (QDeadlineTimer deadline(5000); !warned && !deadline.hasExpired();)
            for (const JournalRecord& r : m_journal.waitForRecords(100000, 200))
                warned |=
                    r.value("SYSLOG_IDENTIFIER") == "Plinket Send" && r.value("PLINKET_EVENT_ID") == "102" &&
                    test::insertionStrings(r) == QByteArrayList{workstation.toLatin1(), workstation.toLatin1(),
                                                                "known key " + first + ", this report's key " + second};
        QVERIFY(warned);

        const QString signingKey = folder.filePath(u"signing.key"_qs);
        QVERIFY(::chmod(QFile::encodeName(signingKey).constData(), 0644) == 0);
        Run refused = send({u"--host"_qs, workstation, u"x"_qs}, {}, folder.path());
        QCOMPARE(refused.code, 2);
        QVERIFY2(refused.err.contains(u"other users may read or change it"_qs), qPrintable(refused.err));
        QVERIFY(QFile::remove(signingKey) && ::mkfifo(QFile::encodeName(signingKey).constData(), 0600) == 0);
        refused = send({u"--host"_qs, workstation, u"x"_qs}, {}, folder.path());
        QCOMPARE(refused.code, 2);
        QVERIFY2(refused.err.contains(u"not a regular file"_qs), qPrintable(refused.err));
    }

    // A workstation (client namespace 2) whose trusted-keys folder anyone may write to, holding a key that
    // user nobody dropped there, and whose client.conf is a FIFO: the client starts all the same, says why
    // it uses neither (event 110), and a message signed by nobody's key is not shown.
    void openPolicyIsRefused() {
        if (!NetnsLab::privateEtc())
            QSKIP("needs root under with_private_journal.sh with a private /etc");
        QTemporaryDir folder;
        QVERIFY(generateSigningKey(folder.path(), u"NOBODY"_qs).ok);
        QVERIFY(write(folder.filePath(u"config.ini"_qs), "[Common]\r\nLanguage = EN\r\n"));
        QFile pub(folder.filePath(u"signing.pub"_qs));
        QVERIFY(pub.open(QIODevice::ReadOnly));
        const QString etc = u"/etc/netns/"_qs + m_lab.clientNamespace(2) + u"/plinket"_qs;
        QVERIFY(m_lab.writeClientEtcFile(2, u"plinket/trusted-keys/nobody.pub"_qs, pub.readAll()));
        QVERIFY(::chown(QFile::encodeName(etc + u"/trusted-keys/nobody.pub"_qs).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(QFile::encodeName(etc + u"/trusted-keys"_qs).constData(), 0777) == 0);
        QVERIFY(::mkfifo(QFile::encodeName(etc + u"/client.conf"_qs).constData(), 0644) == 0);
        QVERIFY(m_lab.startInClient(2, QStringLiteral(PLINKET_CLIENT_PATH), {}, m_lab.clientEnvironment(2)));
        QStringList refused;
        for (QDeadlineTimer deadline(30000); refused.size() < 2 && !deadline.hasExpired();) {
            refused.clear();
            for (const JournalRecord& r : m_journal.waitForRecords(100000, 200))
                if (r.value("PLINKET_EVENT_ID") == "110")
                    refused.append(QString::fromUtf8(test::insertionStrings(r).mid(0, 2).join(' ')));
        }
        refused.sort();
        QCOMPARE(refused, (QStringList{u"/etc/plinket/client.conf not a regular file; signatures are required"_qs,
                                       u"/etc/plinket/trusted-keys group or other users may change it (mode 0777; "
                                       u"chmod go-w); no key in it is trusted and signatures are required"_qs}));
        QVERIFY(m_lab.waitForUdpPort(m_lab.clientNamespace(2), MESSAGE_PORT));
        const Run run =
            send({u"--host"_qs, NetnsLab::clientAddress(2), u"--wait"_qs, u"3"_qs, u"Trust me"_qs}, {}, folder.path());
        QCOMPARE(run.code, 1);
        QCOMPARE(run.out, NetnsLab::clientAddress(2) + u"\t= Not delivered\n"_qs);
    }

    // Every run that had to send nothing sent nothing, and none sent twice.
    void cleanupTestCase() {
        if (!m_responder)
            return;
        m_responder->terminate();
        QVERIFY(NetnsLab::waitForOutput(m_responder, "datagrams_received=" + QByteArray::number(m_sentToPc1) + ' '));
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsSet(FORGE_VARIABLE))
        return forgeReports(qgetenv(FORGE_VARIABLE));
    QCoreApplication app(argc, argv);
    TestPlinketSend test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_plinket_send.moc"
