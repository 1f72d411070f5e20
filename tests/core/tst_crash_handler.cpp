// Real faults in a child process (plinket_crash_victim) with the box program's test build: the box it
// records, the exit code and config.ini after the crash.

#include "recorded_boxes.h"
#include "test_files.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace plinket;
using plinket::test::readMessageBoxFile;

namespace {

// Bytes a settings file might hold; after a crash they must be exactly as they were.
const QByteArray CONFIG_BYTES = test::BOM + QByteArrayLiteral("[Settings]\r\nLanguage=1\r\nTimer=30\r\n");

struct CrashRun {
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QList<ShownMessageBox> boxes;
    QByteArray configAfter;
    QByteArray standardError;
    bool finished = false;
};

CrashRun runVictim(const QString& mode) {
    CrashRun run;
    QTemporaryDir dir;
    if (!dir.isValid() || !test::writeFileBytes(dir.filePath(u"config.ini"_qs), CONFIG_BYTES))
        return run;
    const QString boxesFile = dir.filePath(u"boxes.jsonl"_qs);
    QProcess victim;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"PLINKET_TEST_MESSAGE_BOXES"_qs, boxesFile);
    env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs); // the box program needs a platform, not a screen
    victim.setProcessEnvironment(env);
    victim.setWorkingDirectory(dir.path());
    victim.start(QStringLiteral(PLINKET_CRASH_VICTIM), {mode});
    run.finished = victim.waitForFinished(60000);
    if (!run.finished) {
        victim.kill();
        victim.waitForFinished(5000);
        return run;
    }
    run.exitStatus = victim.exitStatus();
    run.exitCode = victim.exitCode();
    run.standardError = victim.readAllStandardError();
    run.boxes = readMessageBoxFile(boxesFile);
    run.configAfter = test::readFileBytes(dir.filePath(u"config.ini"_qs));
    return run;
}

const QString REGISTER_PREFIX = sizeof(void*) == 8 ? u"R"_qs : u"E"_qs;

} // namespace

class TestCrashHandler final : public QObject {
    Q_OBJECT

private slots:
    void faultShowsOneReportAndEndsWithZero_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("target"); // null: no Target Address line
        QTest::newRow("null write") << u"null-write"_qs << u"Invalid memory access"_qs << u"-1073741819"_qs << u"0"_qs;
        QTest::newRow("integer division by zero")
            << u"divide"_qs << u"Division by zero "_qs << u"-1073741676"_qs << QString();
        QTest::newRow("null write on a worker thread")
            << u"worker-null-write"_qs << u"Invalid memory access"_qs << u"-1073741819"_qs << u"0"_qs;
        QTest::newRow("division on a thread without its own signal stack")
            << u"unprepared-worker-divide"_qs << u"Division by zero "_qs << u"-1073741676"_qs << QString();
        QTest::newRow("stack overflow") << u"stack-overflow"_qs << u"Stack overflow"_qs << u"-1073741571"_qs
                                        << QString();
        QTest::newRow("stack overflow on a worker thread")
            << u"worker-stack-overflow"_qs << u"Stack overflow"_qs << u"-1073741571"_qs << QString();
        QTest::newRow("illegal instruction")
            << u"illegal-instruction"_qs << u"Illegal instruction"_qs << u"-1073741795"_qs << QString();
        QTest::newRow("read beyond the end of a mapped file")
            << u"bus-error"_qs << u"Memory page error"_qs << u"-1073741818"_qs << QString();
#if defined(__x86_64__) || defined(__i386__)
        QTest::newRow("breakpoint") << u"breakpoint"_qs << u"Debugger breakpoint reached"_qs << u"-2147483645"_qs
                                    << QString();
#endif
        // Sent by a process rather than raised by the processor: no fault the table knows.
        QTest::newRow("SIGSEGV sent with raise()")
            << u"raised-segv"_qs << u"Unknown error code"_qs << QString::number(SIGSEGV) << QString();
    }
    void faultShowsOneReportAndEndsWithZero() {
        QFETCH(QString, mode);
        QFETCH(QString, message);
        QFETCH(QString, code);
        QFETCH(QString, target);
        const CrashRun run = runVictim(mode);
        QVERIFY2(run.finished, "the crashed program did not end");
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.configAfter, CONFIG_BYTES);
        QCOMPARE(run.boxes.size(), 1);
        const ShownMessageBox& box = run.boxes.first();
        QCOMPARE(box.title, u"Error!"_qs);
        QCOMPARE(box.icon, BoxIcon::None);

        QVERIFY2(box.text.endsWith(u'\r'), "every line, the last one too, ends with CR");
        QStringList lines = box.text.split(u'\r');
        lines.removeLast();
        QStringList expectedHead{u"A program error was detected:"_qs, u"Error Message:   "_qs + message,
                                 u"Error Code:      "_qs + code};
        const int headSize = int(expectedHead.size()) + 1 + (target.isNull() ? 0 : 1);
        QCOMPARE(lines.size(), headSize + 2 + 8);
        QCOMPARE(lines.mid(0, 3), expectedHead);
        const QRegularExpression codeAddress(u"^Code Address:    (-?[0-9]+)$"_qs);
        const QRegularExpressionMatch address = codeAddress.match(lines[3]);
        QVERIFY2(address.hasMatch(), qPrintable(lines[3]));
        if (!target.isNull())
            QCOMPARE(lines[4], u"Target Address:  "_qs + target);
        QCOMPARE(lines.mid(headSize, 2), (QStringList{QString(), u"Register content:"_qs}));
        const QStringList names{u"AX"_qs, u"BX"_qs, u"CX"_qs, u"DX"_qs, u"BP"_qs, u"SI"_qs, u"DI"_qs, u"SP"_qs};
        for (int r = 0; r < names.size(); ++r) {
            const QString& l = lines[headSize + 2 + r];
            QVERIFY2(QRegularExpression(u"^"_qs + REGISTER_PREFIX + names[r] + u" = -?[0-9]+$"_qs).match(l).hasMatch(),
                     qPrintable(l));
        }
#if defined(__x86_64__) || defined(__i386__)
        // The registers come from the faulting thread's context, not from the handler.
        QVERIFY(address.captured(1) != u"0");
        QVERIFY(lines.last() != REGISTER_PREFIX + u"SP = 0"_qs);
#endif
    }

    void secondFaultAtTheSameTimeShowsNoSecondBox() {
        const CrashRun run = runVictim(u"two-threads"_qs);
        QVERIFY(run.finished);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.boxes.size(), 1);
        const QStringList lines = run.boxes.first().text.split(u'\r');
        QVERIFY(lines.size() > 4);
        QVERIFY2(lines[4] == u"Target Address:  16" || lines[4] == u"Target Address:  32", qPrintable(lines[4]));
        QCOMPARE(run.configAfter, CONFIG_BYTES);
    }

    // Without the box program the report still reaches stderr, and the end is the same.
    void missingBoxProgramReportsOnStderr() {
        const CrashRun run = runVictim(u"missing-box"_qs);
        QVERIFY(run.finished);
        QCOMPARE(run.exitStatus, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.boxes.isEmpty());
        QVERIFY2(run.standardError.contains("A program error was detected:\nError Message:   Invalid memory access\n"
                                            "Error Code:      -1073741819\n"),
                 run.standardError.constData());
        QCOMPARE(run.configAfter, CONFIG_BYTES);
    }
};

QTEST_GUILESS_MAIN(TestCrashHandler)
#include "tst_crash_handler.moc"
