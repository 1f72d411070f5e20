// plinket_send, the real program, in the lab's console namespace (with a config.ini and a clients.ini
// in its working folder) against a real plinket_client in one client namespace, a loadgen responder
// that confirms in another, and 1,000 load-generator clients on the console namespace's loopback.

#include "journal_capture.h"
#include "netns.h"
#include "protocol.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace plinket;
using plinket::test::JournalCapture;
using plinket::test::JournalRecord;
using plinket::test::NetnsLab;

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
    // plinket_send in the console namespace, in the working folder that holds config.ini and lab.ini.
    Run send(const QStringList& args, const QByteArray& input = {}) const {
        const QStringList cmd = NetnsLab::command(
            m_lab.consoleNamespace(), u"sh"_qs,
            QStringList{u"-c"_qs, u"cd \"$0\" && exec \"$@\""_qs, m_dir.path(), QStringLiteral(PLINKET_SEND_PATH)} +
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
        QFile f(m_dir.filePath(name));
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
        if (!m_lab.create(2))
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

    // Every run that had to send nothing sent nothing, and none sent twice.
    void cleanupTestCase() {
        if (!m_responder)
            return;
        m_responder->terminate();
        QVERIFY(NetnsLab::waitForOutput(m_responder, "datagrams_received=" + QByteArray::number(m_sentToPc1) + ' '));
    }
};

QTEST_GUILESS_MAIN(TestPlinketSend)
#include "tst_plinket_send.moc"
