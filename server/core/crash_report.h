#pragma once

// The console's crash report: the text shown in the "Error!" box when a fault nothing else handles
// ends the program. Pure formatting, no widgets and no platform calls, so both crash handlers share
// it and tests check the exact bytes.
//
// formatCrashReport() is async-signal-safe: it allocates nothing, takes no locks and calls no
// library function, so the Linux signal handler can call it with a static buffer.

#include <QString>

#include <cstddef>
#include <cstdint>

namespace plinket {

// Registers shown in the report, in this order.
enum CrashRegister { RegAx, RegBx, RegCx, RegDx, RegBp, RegSi, RegDi, RegSp, CRASH_REGISTER_COUNT };

// What is known about one fault, captured before the report is built. Addresses and registers are
// kept at full width; wordBits says how wide they were on the faulting machine (32 or 64), which
// picks the register labels (EAX... or RAX...) and how the values are written.
struct FaultInfo {
    std::uint32_t code = 0;          // exception code (0xC0000005 ...)
    std::uint64_t codeAddress = 0;   // address of the faulting instruction
    std::uint64_t targetAddress = 0; // inaccessible address of an access violation, else 0
    std::uint32_t line = 0;          // source line, 0 when unknown
    const char* file = nullptr;      // source file (UTF-8, may carry a directory), or null
    std::uint64_t registers[CRASH_REGISTER_COUNT] = {};
    std::uint64_t flags = 0; // EFLAGS/RFLAGS: captured for debugging, not shown
    int wordBits = int(sizeof(void*) * 8);
};

// Exception codes the report knows by name (the platform-neutral codes both handlers produce).
inline constexpr std::uint32_t CODE_ACCESS_VIOLATION = 0xC0000005;
inline constexpr std::uint32_t CODE_IN_PAGE_ERROR = 0xC0000006;
inline constexpr std::uint32_t CODE_ILLEGAL_INSTRUCTION = 0xC000001D;
inline constexpr std::uint32_t CODE_NONCONTINUABLE = 0xC0000025;
inline constexpr std::uint32_t CODE_INVALID_DISPOSITION = 0xC0000026;
inline constexpr std::uint32_t CODE_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
inline constexpr std::uint32_t CODE_FLT_DENORMAL_OPERAND = 0xC000008D;
inline constexpr std::uint32_t CODE_FLT_DIVIDE_BY_ZERO = 0xC000008E;
inline constexpr std::uint32_t CODE_FLT_INEXACT_RESULT = 0xC000008F;
inline constexpr std::uint32_t CODE_FLT_INVALID_OPERATION = 0xC0000090;
inline constexpr std::uint32_t CODE_FLT_OVERFLOW = 0xC0000091;
inline constexpr std::uint32_t CODE_FLT_STACK_CHECK = 0xC0000092;
inline constexpr std::uint32_t CODE_FLT_UNDERFLOW = 0xC0000093;
inline constexpr std::uint32_t CODE_INT_DIVIDE_BY_ZERO = 0xC0000094;
inline constexpr std::uint32_t CODE_INT_OVERFLOW = 0xC0000095;
inline constexpr std::uint32_t CODE_PRIVILEGED_INSTRUCTION = 0xC0000096;
inline constexpr std::uint32_t CODE_STACK_OVERFLOW = 0xC00000FD;
inline constexpr std::uint32_t CODE_DATATYPE_MISALIGNMENT = 0x80000002;
inline constexpr std::uint32_t CODE_BREAKPOINT = 0x80000003;
inline constexpr std::uint32_t CODE_SINGLE_STEP = 0x80000004;

// The "Error Message" text for a code; "Unknown error code" for codes not in the table.
const char* crashMessageForCode(std::uint32_t code);

// Writes the report (ASCII except for the file name, which is copied as UTF-8 bytes; every line
// ends with CR) into buffer and NUL-terminates it. Returns the number of bytes written without the
// NUL. A report that does not fit is cut at capacity - 1 bytes; without the file name a report
// takes at most about 500 bytes. Async-signal-safe.
std::size_t formatCrashReport(const FaultInfo& fault, char* buffer, std::size_t capacity);

// Room for any report whose source file name is shorter than 1500 bytes.
inline constexpr std::size_t CRASH_REPORT_CAPACITY = 2048;

// The same text as a QString, for tests and for callers outside a signal handler.
QString crashReportText(const FaultInfo& fault);

} // namespace plinket
