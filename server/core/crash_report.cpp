#include "crash_report.h"

namespace plinket {

namespace {

struct CodeMessage {
    std::uint32_t code;
    const char* message;
};

// The wording, spelling and the trailing blank of the integer division entry are kept as they
// have always been shown, so reports from every version read alike.
constexpr CodeMessage MESSAGES[] = {
    {CODE_ACCESS_VIOLATION, "Invalid memory access"},
    {CODE_ARRAY_BOUNDS_EXCEEDED, "Array bounds exceeded"},
    {CODE_BREAKPOINT, "Debugger breakpoint reached"},
    {CODE_DATATYPE_MISALIGNMENT, "Misaligned data access"},
    {CODE_FLT_DENORMAL_OPERAND, "Denormal floating-point operand"},
    {CODE_FLT_DIVIDE_BY_ZERO, "Division by zero (floating-point)"},
    {CODE_FLT_INEXACT_RESULT, "Inexact floating-point result"},
    {CODE_FLT_INVALID_OPERATION, "Invalid floating-point operation"},
    {CODE_FLT_OVERFLOW, "Floating-point overflow (exponent to great)"},
    {CODE_FLT_STACK_CHECK, "Floating-point stack overflow or underflow"},
    {CODE_FLT_UNDERFLOW, "Floating-point underflow (exponent too small)"},
    {CODE_ILLEGAL_INSTRUCTION, "Illegal instruction"},
    {CODE_IN_PAGE_ERROR, "Memory page error"},
    {CODE_INT_DIVIDE_BY_ZERO, "Division by zero "},
    {CODE_INT_OVERFLOW, "Integer overflow"},
    {CODE_INVALID_DISPOSITION, "Exception handler returned unknown value"},
    {CODE_NONCONTINUABLE, "Exception handler tried to continue after non-continuable exception"},
    {CODE_PRIVILEGED_INSTRUCTION, "Privileged instruction"},
    {CODE_SINGLE_STEP, "Single step trap"},
    {CODE_STACK_OVERFLOW, "Stack overflow"},
};

constexpr const char* REGISTER_LABELS_32[CRASH_REGISTER_COUNT] = {
    "EAX = ", "EBX = ", "ECX = ", "EDX = ", "EBP = ", "ESI = ", "EDI = ", "ESP = "};
constexpr const char* REGISTER_LABELS_64[CRASH_REGISTER_COUNT] = {
    "RAX = ", "RBX = ", "RCX = ", "RDX = ", "RBP = ", "RSI = ", "RDI = ", "RSP = "};

// Appends to a fixed buffer, dropping what does not fit and always leaving room for the NUL.
class Writer {
public:
    Writer(char* buffer, std::size_t capacity) : m_buffer(buffer), m_capacity(capacity) {}

    void text(const char* s) {
        while (s && *s)
            put(*s++);
    }

    // Signed decimal of a value that is `bits` wide (32 or 64): 0xC0000005 as 32 bits is -1073741819.
    void number(std::uint64_t value, int bits) {
        const std::int64_t v = bits == 32 ? std::int64_t(std::int32_t(std::uint32_t(value))) : std::int64_t(value);
        // Work on the magnitude as unsigned so that the most negative value needs no special case.
        std::uint64_t magnitude = v < 0 ? ~std::uint64_t(v) + 1 : std::uint64_t(v);
        char digits[20];
        int count = 0;
        do {
            digits[count++] = char('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (v < 0)
            put('-');
        while (count > 0)
            put(digits[--count]);
    }

    void endLine() { put('\r'); }

    std::size_t finish() {
        if (m_capacity > 0)
            m_buffer[m_length] = '\0';
        return m_length;
    }

private:
    void put(char c) {
        if (m_length + 1 < m_capacity)
            m_buffer[m_length++] = c;
    }

    char* m_buffer;
    std::size_t m_capacity;
    std::size_t m_length = 0;
};

const char* baseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\')
            name = p + 1;
    }
    return name;
}

} // namespace

const char* crashMessageForCode(std::uint32_t code) {
    for (const CodeMessage& entry : MESSAGES) {
        if (entry.code == code)
            return entry.message;
    }
    return "Unknown error code";
}

std::size_t formatCrashReport(const FaultInfo& fault, char* buffer, std::size_t capacity) {
    const int bits = fault.wordBits == 32 ? 32 : 64;
    Writer w(buffer, capacity);
    w.text("A program error was detected:");
    w.endLine();
    w.text("Error Message:   ");
    w.text(crashMessageForCode(fault.code));
    w.endLine();
    w.text("Error Code:      ");
    w.number(fault.code, 32);
    w.endLine();
    w.text("Code Address:    ");
    w.number(fault.codeAddress, bits);
    w.endLine();
    if (fault.code == CODE_ACCESS_VIOLATION) {
        w.text("Target Address:  ");
        w.number(fault.targetAddress, bits);
        w.endLine();
    }
    if (fault.line != 0) {
        w.text("Sourcecode line: ");
        w.number(fault.line, 32);
        w.endLine();
        w.text("Sourcecode file: ");
        w.text(fault.file ? baseName(fault.file) : "");
        w.endLine();
    }
    w.endLine();
    w.text("Register content:");
    w.endLine();
    const auto& labels = bits == 32 ? REGISTER_LABELS_32 : REGISTER_LABELS_64;
    for (int r = 0; r < CRASH_REGISTER_COUNT; ++r) {
        w.text(labels[r]);
        w.number(fault.registers[r], bits);
        w.endLine();
    }
    return w.finish();
}

QString crashReportText(const FaultInfo& fault) {
    char buffer[CRASH_REPORT_CAPACITY];
    const std::size_t length = formatCrashReport(fault, buffer, sizeof(buffer));
    return QString::fromUtf8(buffer, qsizetype(length));
}

} // namespace plinket
