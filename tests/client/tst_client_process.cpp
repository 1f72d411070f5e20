// plinket_client started as a child process (its test build, which records its message boxes in a file).
#include "client_system.h"
#include "client_test_support.h"
#include "recorded_boxes.h"

#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

using namespace plinket;
using plinket::test::FakeConsole;
using plinket::test::readMessageBoxFile;

class TestClientProcess final : public QObject {
    Q_OBJECT

    FakeConsole m_console;
    QTemporaryDir m_dir;

    QString boxFile() const { return m_dir.filePath(u"boxes.jsonl"_qs); }

    // Starts a client with its own runtime directory (for its instance lock) and a box file; `readErrors`:
    // its standard error kept for waitForError().
    void start(QProcess& process, const QStringList& unset = {}, const QProcessEnvironment& extra = {},
               bool readErrors = false) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_RUNTIME_DIR"_qs, m_dir.path());
        env.insert(u"PLINKET_TEST_MESSAGE_BOXES"_qs, boxFile());
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.remove(u"DBUS_SESSION_BUS_ADDRESS"_qs);
        for (const QString& name : unset)
            env.remove(name);
        env.insert(extra);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(readErrors ? QProcess::ForwardedOutputChannel : QProcess::ForwardedChannels);
        process.start(QStringLiteral(PLINKET_CLIENT_BINARY), {});
        QVERIFY(process.waitForStarted());
    }

    // Waits until the client has written `text` to standard error since the last call.
    static bool waitForError(QProcess& process, const QByteArray& text) {
        QByteArray seen;
        return QTest::qWaitFor([&] { return seen.append(process.readAllStandardError()).contains(text); }, 10000);
    }

    static void expectCleanExit(QProcess& process, int timeoutMs) {
        QVERIFY2(process.waitForFinished(timeoutMs), "the client did not end");
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_console.listen());
    }
    void init() {
        QFile::remove(boxFile());
        while (m_console.nextReport(0)) {
        }
    }

    void reportsCarryThisComputersNames() {
        QProcess client;
        start(client);
        QVERIFY(m_console.waitUntilClientListens());
        FakeConsole::sendMessage(u"EN"_qs, u"420195130"_qs, u"Printer on floor 2 is out of paper"_qs, u"ADMIN-PC"_qs);
        const auto report = m_console.nextReport();
        QVERIFY(report);
        const auto names = localHostNames();
        QCOMPARE(report->id, u"420195130"_qs);
        QCOMPARE(report->status, u"1"_qs);
        QCOMPARE(report->host, names->hostName);
        QCOMPARE(report->fqdn, names->fqdn);
        QVERIFY(report->sourcePort != MESSAGE_PORT); // from a fresh socket, not the receive socket
        QVERIFY(readMessageBoxFile(boxFile()).isEmpty());
    }

    // On a real X server the pop-up also asks for the display to be switched on. A server without the
    // power-management extension (a virtual one, or a remote desktop) must leave the client running:
    // a request for a missing extension would make the X library drop the whole connection. When the
    // X server then goes away without a signal (the session ended), the client ends as at a session end.
    void popupOnXServerWithoutPowerManagement() {
        const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_qs);
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed");
        const QString display = u":"_qs + QString::number(180 + QCoreApplication::applicationPid() % 200);
        QProcess server;
        server.start(xvfb, {display, u"-nolisten"_qs, u"tcp"_qs, u"-screen"_qs, u"0"_qs, u"1024x768x24"_qs});
        QVERIFY(server.waitForStarted());
        const QString socket = u"/tmp/.X11-unix/X"_qs + display.mid(1);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 5000);

        QProcessEnvironment x11;
        x11.insert(u"QT_QPA_PLATFORM"_qs, u"xcb"_qs);
        x11.insert(u"DISPLAY"_qs, display);
        QProcess client;
        start(client, {}, x11);
        QVERIFY(m_console.waitUntilClientListens());
        FakeConsole::sendMessage(u"EN"_qs, u"77"_qs, u"Fire drill at 15:00"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
        QTest::qWait(300);
        QCOMPARE(client.state(), QProcess::Running);

        server.terminate();
        server.waitForFinished();
        expectCleanExit(client, 5000);
    }

    void oversizedDatagramUnanswered() {
        QProcess client;
        start(client);
        QVERIFY(m_console.waitUntilClientListens());
        FakeConsole::sendRaw("EN\x04"
                             "5\x04" +
                             QByteArray(3000, 'x'));
        QVERIFY(!m_console.reportArrivesWithin(500));
        FakeConsole::sendRaw("probe"); // still listening: a message with an empty id is shown
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
    }

    void secondInstanceEndsAtOnce() {
        QProcess first;
        start(first);
        QVERIFY(m_console.waitUntilClientListens());
        QProcess second;
        start(second);
        expectCleanExit(second, 5000);
        QVERIFY(readMessageBoxFile(boxFile()).isEmpty()); // silently
        QCOMPARE(first.state(), QProcess::Running);
        FakeConsole::sendRaw("probe");
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
    }

    void portBusyBox() {
        QUdpSocket squatter;
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, MESSAGE_PORT, QAbstractSocket::DontShareAddress));
        QProcess client;
        start(client);
        expectCleanExit(client, 10000);
        const QList<ShownMessageBox> boxes = readMessageBoxFile(boxFile());
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].icon, BoxIcon::None);
        QCOMPARE(boxes[0].title, u"Error!"_qs);
        QCOMPARE(boxes[0].text, u"Can't open port 47127. Already busy?"_qs);
    }

    void sessionEndWithPopupOpen_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("ends"); // else the policy is read again and the pop-up stays
        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    }
    void sessionEndWithPopupOpen() {
        QFETCH(int, signalNumber);
        QFETCH(bool, ends);
        QProcess client;
        start(client, {}, {}, !ends);
        QVERIFY(m_console.waitUntilClientListens());
        FakeConsole::sendMessage(u"EN"_qs, u"61"_qs, u"going"_qs, u"ADMIN-PC"_qs);
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).status, u"1"_qs);
        QCOMPARE(::kill(static_cast<pid_t>(client.processId()), signalNumber), 0);
        if (!ends) {
            QVERIFY(waitForError(client, "SIGHUP: reading"));
            QCOMPARE(client.state(), QProcess::Running);
            QCOMPARE(::kill(static_cast<pid_t>(client.processId()), SIGTERM), 0);
        }
        expectCleanExit(client, 5000);
        QVERIFY(!m_console.reportArrivesWithin(300)); // no "2" for the lost pop-up
    }

    // client.conf edited under a running client: an unsigned message is dropped from then on; edited back,
    // the next one is shown, and the one between never was.
    void policyEditedWhileRunning() {
        QTemporaryDir policy;
        if (QFileInfo(policy.path()).ownerId() != 0)
            QSKIP("policy files must belong to root");
        QProcessEnvironment env;
        env.insert(u"PLINKET_TEST_POLICY_DIR"_qs, policy.path());
        QProcess client;
        start(client, {}, env, true);
        QVERIFY(m_console.waitUntilClientListens());
        for (const QByteArray require : {"yes", "no"}) {
            QSaveFile conf(policy.filePath(u"client.conf"_qs)); // as an editor saves: renamed over the old one
            QVERIFY(conf.open(QIODevice::WriteOnly) && conf.write("require-signature = " + require) && conf.commit());
            QVERIFY(waitForError(client, require == "yes" ? "signature no -> yes" : "signature yes -> no"));
            FakeConsole::sendMessage(u"EN"_qs, QString::fromLatin1(require), u"unsigned"_qs, u"ADMIN-PC"_qs);
            qint64 waiting = -1; // read, and so judged, before the next edit
            QTRY_VERIFY_WITH_TIMEOUT(test::udpPortBound(MESSAGE_PORT, &waiting) && waiting == 0, 10000);
        }
        QCOMPARE(m_console.nextReport().value_or(test::Report{}).id, u"no"_qs);
        QCOMPARE(::kill(static_cast<pid_t>(client.processId()), SIGTERM), 0);
        expectCleanExit(client, 5000);
    }

    void noDisplayEndsQuietly() {
        QProcess client;
        start(client, {u"QT_QPA_PLATFORM"_qs, u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs});
        expectCleanExit(client, 5000);
        QVERIFY(readMessageBoxFile(boxFile()).isEmpty());
    }
};

PLINKET_PRIVATE_NETWORK_TEST_MAIN(TestClientProcess)
#include "tst_client_process.moc"
