#include "crash_handler.h"
#include "crash_report.h"

#include <windows.h>

#include <tlhelp32.h>

namespace plinket {

namespace {

// Everything the filter needs is static: a fault may have broken the heap.
char g_report[CRASH_REPORT_CAPACITY];
wchar_t g_reportWide[CRASH_REPORT_CAPACITY];

// Set by the first faulting thread; a second fault at the same time on another thread waits for
// the first report to end the process instead of showing a second box.
volatile LONG g_reporting = 0;

// Stack kept back for the filter when a thread's stack overflows: enough to format the report and
// start the thread that shows it.
constexpr ULONG STACK_GUARANTEE = 64 * 1024;

FaultInfo faultFromException(const EXCEPTION_POINTERS* pointers) {
    FaultInfo fault;
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    fault.code = std::uint32_t(record->ExceptionCode);
    fault.codeAddress = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2)
        fault.targetAddress = record->ExceptionInformation[1];
    const CONTEXT* c = pointers->ContextRecord;
    if (!c)
        return fault;
#if defined(_M_X64) || defined(__x86_64__)
    fault.registers[RegAx] = c->Rax;
    fault.registers[RegBx] = c->Rbx;
    fault.registers[RegCx] = c->Rcx;
    fault.registers[RegDx] = c->Rdx;
    fault.registers[RegBp] = c->Rbp;
    fault.registers[RegSi] = c->Rsi;
    fault.registers[RegDi] = c->Rdi;
    fault.registers[RegSp] = c->Rsp;
    fault.flags = c->EFlags;
#elif defined(_M_IX86) || defined(__i386__)
    fault.registers[RegAx] = c->Eax;
    fault.registers[RegBx] = c->Ebx;
    fault.registers[RegCx] = c->Ecx;
    fault.registers[RegDx] = c->Edx;
    fault.registers[RegBp] = c->Ebp;
    fault.registers[RegSi] = c->Esi;
    fault.registers[RegDi] = c->Edi;
    fault.registers[RegSp] = c->Esp;
    fault.flags = c->EFlags;
#elif defined(_M_ARM64) || defined(__aarch64__)
    // No x86 registers here: the frame pointer and stack pointer go in the slots of the same
    // meaning; the rest stay 0.
    fault.registers[RegBp] = c->Fp;
    fault.registers[RegSp] = c->Sp;
    fault.flags = c->Cpsr;
#endif
    return fault;
}

// Suspends every other thread of the process, so that from the fault until the box is closed the
// UI thread takes no close request and saves nothing, and no send goes on. The process heap's lock
// is held meanwhile, so no thread is suspended while it holds that lock (the box needs the heap).
void suspendOtherThreads() {
    const HANDLE heap = GetProcessHeap();
    const BOOL heapLocked = HeapLock(heap);
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot != INVALID_HANDLE_VALUE) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof(entry);
        const DWORD process = GetCurrentProcessId();
        const DWORD self = GetCurrentThreadId();
        for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
            if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self)
                continue;
            if (const HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
                SuspendThread(thread);
                CloseHandle(thread);
            }
        }
        CloseHandle(snapshot);
    }
    if (heapLocked)
        HeapUnlock(heap);
}

// One OK button, no icon. The box has no owner: the console's windows belong to the UI thread,
// which is suspended and could not answer the messages an owned box sends its owner.
constexpr UINT BOX_STYLE = MB_OK | MB_SETFOREGROUND | MB_TOPMOST;

DWORD WINAPI showBoxOnFreshStack(LPVOID) {
    MessageBoxW(nullptr, g_reportWide, L"Error!", BOX_STYLE);
    return 0;
}

void showBox(std::uint32_t code) {
    if (code != CODE_STACK_OVERFLOW) {
        MessageBoxW(nullptr, g_reportWide, L"Error!", BOX_STYLE);
        return;
    }
    // After a stack overflow this thread has only the guaranteed few kilobytes left, far too
    // little for a message box: show it from a new thread with a full stack and wait for it.
    HANDLE thread = CreateThread(nullptr, 0, showBoxOnFreshStack, nullptr, 0, nullptr);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

LONG WINAPI showCrashReport(EXCEPTION_POINTERS* pointers) {
    if (InterlockedCompareExchange(&g_reporting, 1, 0) != 0) {
        // Another thread is reporting and will end the process.
        for (;;)
            Sleep(INFINITE);
    }
    suspendOtherThreads();
    const FaultInfo fault = faultFromException(pointers);
    const std::size_t length = formatCrashReport(fault, g_report, sizeof(g_report));
    // The report is UTF-8 (the file name may not be ASCII); the NUL is converted too.
    if (MultiByteToWideChar(CP_UTF8, 0, g_report, int(length) + 1, g_reportWide, int(CRASH_REPORT_CAPACITY)) > 0)
        showBox(fault.code);
    // Ends at once with code 0. ExitProcess would first run the DLLs' detach routines and with
    // them global destructors in a process the fault may have broken; nothing is saved either way,
    // and the system releases every handle.
    TerminateProcess(GetCurrentProcess(), 0);
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

bool installCrashHandler(const QString& boxProgramPath) {
    Q_UNUSED(boxProgramPath); // the box is shown from this process
    SetUnhandledExceptionFilter(showCrashReport);
    prepareThreadForCrashReports();
    return true;
}

void prepareThreadForCrashReports() {
    ULONG guarantee = STACK_GUARANTEE;
    SetThreadStackGuarantee(&guarantee);
}

} // namespace plinket
