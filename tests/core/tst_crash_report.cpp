#include "crash_report.h"

#include <QTest>

#include <cstring>

using namespace plinket;

Q_DECLARE_METATYPE(plinket::FaultInfo)

namespace {

FaultInfo fault(std::uint32_t code, std::uint64_t codeAddress, std::uint64_t targetAddress, int wordBits,
                std::initializer_list<std::uint64_t> registers) {
    FaultInfo f;
    f.code = code;
    f.codeAddress = codeAddress;
    f.targetAddress = targetAddress;
    f.wordBits = wordBits;
    int i = 0;
    for (const std::uint64_t r : registers)
        f.registers[i++] = r;
    return f;
}

// Builds the expected text from its lines, each ended by CR as the report ends them.
QString lines(std::initializer_list<const char*> texts) {
    QString out;
    for (const char* t : texts)
        out += QString::fromUtf8(t) + u'\r';
    return out;
}

} // namespace

class TestCrashReport final : public QObject {
    Q_OBJECT

private slots:
    void fullReport_data() {
        QTest::addColumn<FaultInfo>("info");
        QTest::addColumn<int>("line");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");

        QTest::newRow("access violation, 32-bit registers")
            << fault(0xC0000005, 0x00401A2B, 0, 32, {1, 2, 3, 4, 0x0012FF80, 0xFFFFFFFF, 0x80000000, 0x0012FF70}) << 0
            << QByteArray()
            << lines({"A program error was detected:", "Error Message:   Invalid memory access",
                      "Error Code:      -1073741819", "Code Address:    4201003", "Target Address:  0", "",
                      "Register content:", "EAX = 1", "EBX = 2", "ECX = 3", "EDX = 4", "EBP = 1245056", "ESI = -1",
                      "EDI = -2147483648", "ESP = 1245040"});
        QTest::newRow("access violation, 64-bit addresses not cut")
            << fault(0xC0000005, 0x00005555DEADBEEF, 0x00007FFF12345678, 64,
                     {0xFFFFFFFFFFFFFFFF, 0x100000000, 0, 0x8000000000000000, 0x7FFFFFFFFFFFFFFF, 0xFFFFFFFF,
                      0x80000000, 0x00007FFFFFFFE000})
            << 0 << QByteArray()
            << lines({"A program error was detected:", "Error Message:   Invalid memory access",
                      "Error Code:      -1073741819", "Code Address:    93827296509679",
                      "Target Address:  140733498807928", "", "Register content:", "RAX = -1", "RBX = 4294967296",
                      "RCX = 0", "RDX = -9223372036854775808", "RBP = 9223372036854775807", "RSI = 4294967295",
                      "RDI = 2147483648", "RSP = 140737488347136"});
        QTest::newRow("integer division by zero: trailing blank, no target line")
            << fault(0xC0000094, 0x401000, 0xDEAD, 32, {10, 0, 0, 0, 0, 0, 0, 0x12FF00}) << 0 << QByteArray()
            << lines({"A program error was detected:", "Error Message:   Division by zero ",
                      "Error Code:      -1073741676", "Code Address:    4198400", "", "Register content:", "EAX = 10",
                      "EBX = 0", "ECX = 0", "EDX = 0", "EBP = 0", "ESI = 0", "EDI = 0", "ESP = 1244928"});
        QTest::newRow("stack overflow") << fault(0xC00000FD, 0x4010F0, 0, 64, {}) << 0 << QByteArray()
                                        << lines({"A program error was detected:", "Error Message:   Stack overflow",
                                                  "Error Code:      -1073741571", "Code Address:    4198640", "",
                                                  "Register content:", "RAX = 0", "RBX = 0", "RCX = 0", "RDX = 0",
                                                  "RBP = 0", "RSI = 0", "RDI = 0", "RSP = 0"});
        QTest::newRow("unknown code, positive")
            << fault(11, 0, 0, 32, {}) << 0 << QByteArray()
            << lines({"A program error was detected:", "Error Message:   Unknown error code", "Error Code:      11",
                      "Code Address:    0", "", "Register content:", "EAX = 0", "EBX = 0", "ECX = 0", "EDX = 0",
                      "EBP = 0", "ESI = 0", "EDI = 0", "ESP = 0"});
        QTest::newRow("breakpoint, source line with Windows path")
            << fault(0x80000003, 0x401000, 0, 32, {}) << 417 << QByteArray("C:\\src\\plinket\\main_window.cpp")
            << lines({"A program error was detected:", "Error Message:   Debugger breakpoint reached",
                      "Error Code:      -2147483645", "Code Address:    4198400", "Sourcecode line: 417",
                      "Sourcecode file: main_window.cpp", "", "Register content:", "EAX = 0", "EBX = 0", "ECX = 0",
                      "EDX = 0", "EBP = 0", "ESI = 0", "EDI = 0", "ESP = 0"});
        QTest::newRow("access violation with source line, Unix path: target before source")
            << fault(0xC0000005, 16, 8, 64, {}) << 12 << QByteArray("/home/dev/plinket/server/ui/знак.cpp")
            << lines({"A program error was detected:", "Error Message:   Invalid memory access",
                      "Error Code:      -1073741819", "Code Address:    16", "Target Address:  8",
                      "Sourcecode line: 12", "Sourcecode file: знак.cpp", "", "Register content:", "RAX = 0", "RBX = 0",
                      "RCX = 0", "RDX = 0", "RBP = 0", "RSI = 0", "RDI = 0", "RSP = 0"});
        QTest::newRow("file known but line 0: source lines omitted")
            << fault(0xC0000095, 1, 0, 64, {}) << 0 << QByteArray("main.cpp")
            << lines({"A program error was detected:", "Error Message:   Integer overflow",
                      "Error Code:      -1073741675", "Code Address:    1", "", "Register content:", "RAX = 0",
                      "RBX = 0", "RCX = 0", "RDX = 0", "RBP = 0", "RSI = 0", "RDI = 0", "RSP = 0"});
    }
    void fullReport() {
        QFETCH(FaultInfo, info);
        QFETCH(int, line);
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        info.line = std::uint32_t(line);
        info.file = file.isNull() ? nullptr : file.constData();
        QCOMPARE(crashReportText(info), expected);
    }

    // The wording is kept as it has always been shown, misspelling and trailing blank included.
    void messages_data() {
        QTest::addColumn<uint>("code");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("misspelling kept") << 0xC0000091u << QByteArray("Floating-point overflow (exponent to great)");
        QTest::newRow("longest") << 0xC0000025u
                                 << QByteArray("Exception handler tried to continue after non-continuable exception");
        QTest::newRow("single step") << 0x80000004u << QByteArray("Single step trap");
        QTest::newRow("zero") << 0u << QByteArray("Unknown error code");
        QTest::newRow("near a known code") << 0xC0000007u << QByteArray("Unknown error code");
    }
    void messages() {
        QFETCH(uint, code);
        QFETCH(QByteArray, message);
        QCOMPARE(QByteArray(crashMessageForCode(code)), message);
    }

    // The signal handler formats into a fixed buffer: a short one must be cut, never overrun.
    void shortBufferIsCutAndTerminated_data() {
        QTest::addColumn<int>("capacity");
        QTest::newRow("none") << 0;
        QTest::newRow("one byte") << 1;
        QTest::newRow("mid line") << 40;
        QTest::newRow("mid number") << 65;
    }
    void shortBufferIsCutAndTerminated() {
        QFETCH(int, capacity);
        const FaultInfo info = fault(0xC0000005, 0x00007FFF12345678, 0x00007FFF12345678, 64, {});
        const QByteArray full = crashReportText(info).toUtf8();
        char buffer[128];
        std::memset(buffer, '#', sizeof(buffer));
        const std::size_t length = formatCrashReport(info, buffer, std::size_t(capacity));
        const std::size_t expectedLength = capacity > 0 ? std::size_t(capacity) - 1 : 0;
        QCOMPARE(length, expectedLength);
        if (capacity > 0) {
            QCOMPARE(buffer[length], '\0');
            QCOMPARE(QByteArray(buffer, qsizetype(length)), full.left(qsizetype(length)));
        }
        for (std::size_t i = std::size_t(capacity); i < sizeof(buffer); ++i)
            QCOMPARE(buffer[i], '#');
    }
};

QTEST_APPLESS_MAIN(TestCrashReport)
#include "tst_crash_report.moc"
