// Both real programs with --help, --version and bad arguments: they print, end with 0 or 2, and open no
// display, write no file (working folder and runtime folder stay empty) and take no lock.
#include "guarded_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestCommandLine final : public QObject {
    Q_OBJECT

private slots:
    void programs_data() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output"); // standard output starts with it
        QTest::addColumn<QString>("error");  // standard error starts with it
        const QString server = QStringLiteral(PLINKET_SERVER_PROGRAM);
        const QString client = QStringLiteral(PLINKET_CLIENT_PROGRAM);
        const QString version = QStringLiteral(PLINKET_VERSION "\n");
        QTest::newRow("server --help") << server << QStringList{u"--help"_qs} << 0
                                       << u"Usage: plinket_server [options]\nPlinket's console"_qs << QString();
        QTest::newRow("server --version")
            << server << QStringList{u"--version"_qs} << 0 << u"plinket_server "_qs + version << QString();
        QTest::newRow("server -v") << server << QStringList{u"-v"_qs} << 0 << u"plinket_server "_qs + version
                                   << QString();
        QTest::newRow("server unknown option")
            << server << QStringList{u"--bogus"_qs} << 2 << QString()
            << u"plinket_server: Unknown option 'bogus'.\nTry 'plinket_server --help' for more information.\n"_qs;
        QTest::newRow("server stray argument") << server << QStringList{u"clients.ini"_qs} << 2 << QString()
                                               << u"plinket_server: unexpected argument 'clients.ini'."_qs;
        QTest::newRow("client --help") << client << QStringList{u"-h"_qs} << 0
                                       << u"Usage: plinket_client [options]\nPlinket's receiver"_qs << QString();
        QTest::newRow("client --version")
            << client << QStringList{u"--version"_qs} << 0 << u"plinket_client "_qs + version << QString();
        QTest::newRow("client unknown option")
            << client << QStringList{u"--port=1"_qs} << 2 << QString() << u"plinket_client: Unknown option 'port'."_qs;
    }
    void programs() {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QFETCH(QString, error);
        QTemporaryDir work;
        QTemporaryDir runtime;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // A program that got as far as its application object would fail here on the missing display.
        env.remove(u"DISPLAY"_qs);
        env.remove(u"WAYLAND_DISPLAY"_qs);
        env.insert(u"QT_QPA_PLATFORM"_qs, u"xcb"_qs);
        env.insert(u"XDG_RUNTIME_DIR"_qs, runtime.path());
        QProcess p;
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(work.path());
        // Text mode: a Windows console program ends its lines with CR LF.
        p.start(program, arguments, QIODevice::ReadWrite | QIODevice::Text);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(out.startsWith(output) && (!output.isEmpty() || out.isEmpty()), qPrintable(out));
        QVERIFY2(err.startsWith(error) && (!error.isEmpty() || err.isEmpty()), qPrintable(err));
        QCOMPARE(p.exitCode(), exitCode);
        const auto entries = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden;
        QCOMPARE(QDir(work.path()).entryList(entries), QStringList());
        QCOMPARE(QDir(runtime.path()).entryList(entries), QStringList());
    }

    void generateKey() {
        // The key pair appears in the working folder, the secret owner-only; a second run keeps it.
        QTemporaryDir work;
        auto run = [&work] {
            QProcess p;
            p.setWorkingDirectory(work.path());
            p.start(QStringLiteral(PLINKET_SERVER_PROGRAM), {u"--generate-key"_qs});
            return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        };
        QCOMPARE(run(), 0);
        const QString secret = work.filePath(u"signing.key"_qs);
        QVERIFY(QFileInfo(secret).isReadable());
        // Only its owner may read it: it passes the check a secret key must pass.
        QCOMPARE(plinket::readGuardedFile(secret, plinket::FileGuard::Private).status,
                 plinket::GuardedRead::Status::Read);
        QVERIFY(QFile::exists(work.filePath(u"signing.pub"_qs)));
        QFile file(secret);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray key = file.readAll();
        file.close();
        QCOMPARE(run(), 1);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), key);
    }
};

QTEST_APPLESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
