#include "crash_handler.h"
#include "crash_report.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

extern char** environ;

namespace plinket {

namespace {

// Everything the signal handler touches is prepared before any fault: the box program's path, the
// report buffers and each thread's stack bounds. From inside the handler only async-signal-safe
// calls are made (no malloc, no locks, no Qt): a fault may strike while another thread holds
// malloc's lock, or inside malloc itself.

constexpr int FAULT_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

char g_boxProgram[PATH_MAX];
char g_report[CRASH_REPORT_CAPACITY];
char g_stderrReport[CRASH_REPORT_CAPACITY];

// Set by the first faulting thread; a second fault on another thread at the same time waits for
// the first report to end the process instead of showing a second box.
std::atomic<int> g_reporting{0};
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free flag");

// From the first fault until the box is closed no other thread may go on: the UI thread would
// still take a close request and save config.ini, a send thread would keep sending. The faulting
// thread sends every other thread of the process a signal of its own whose handler parks it for
// good (a real-time signal whose disposition nobody else has set, chosen at installation).
int g_parkSignal = 0;
std::atomic<int> g_parkedThreads{0};
// Threads already sent the signal, so that a second look at the task list skips them.
constexpr int MAX_PARKED_THREADS = 4096;
pid_t g_signalledThreads[MAX_PARKED_THREADS];
int g_signalledCount = 0;
// How long the faulting thread waits for the others to stop before it shows the box anyway (a
// thread that blocks every signal never stops; it is not one of ours).
constexpr int PARK_WAIT_STEPS = 100;
constexpr long PARK_WAIT_STEP_NS = 10'000'000;

// The span of addresses around the low end of a thread's stack where a fault means the stack ran
// out. The main thread's stack grows on demand: it fails up to the kernel's stack guard gap (1 MiB
// by default) above the limit glibc reports and a large frame can fault well below it, so the span
// reaches 1 MiB to either side there; a created thread's guard pages lie just below its stack.
constexpr std::uintptr_t MAIN_THREAD_GUARD_SPAN = 1024 * 1024;
constexpr std::uintptr_t THREAD_GUARD_SPAN_BELOW = 1024 * 1024;

// Read by the signal handler. Initial-exec TLS is a fixed offset from the thread pointer, so the
// handler can read it without the lazy allocation of dynamic TLS.
struct StackGuardRegion {
    std::uintptr_t low = 0;
    std::uintptr_t high = 0;
};
__attribute__((tls_model("initial-exec"))) constinit thread_local StackGuardRegion t_guardRegion;

// The thread's alternate signal stack, unmapped again when the thread ends (the console starts a
// thread per Send, so they must not pile up).
class AlternateStack {
public:
    AlternateStack() = default;
    AlternateStack(const AlternateStack&) = delete;
    AlternateStack& operator=(const AlternateStack&) = delete;
    ~AlternateStack() { release(); }

    bool prepare();

private:
    void release();

    char* m_mapping = nullptr;
    std::size_t m_mappingSize = 0;
};
thread_local AlternateStack t_alternateStack;

std::size_t pageSize() {
    return std::size_t(sysconf(_SC_PAGESIZE));
}

std::size_t roundUpToPage(std::size_t size) {
    const std::size_t page = pageSize();
    return (size + page - 1) / page * page;
}

bool isMainThread() {
    return getpid() == pid_t(syscall(SYS_gettid));
}

void recordStackGuardRegion() {
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return;
    void* stackLow = nullptr;
    std::size_t stackSize = 0;
    std::size_t guardSize = 0;
    const bool known =
        pthread_attr_getstack(&attr, &stackLow, &stackSize) == 0 && pthread_attr_getguardsize(&attr, &guardSize) == 0;
    pthread_attr_destroy(&attr);
    if (!known || stackLow == nullptr)
        return;
    const std::uintptr_t low = reinterpret_cast<std::uintptr_t>(stackLow);
    const std::uintptr_t guard = std::max<std::uintptr_t>(guardSize, pageSize());
    std::uintptr_t below = std::max(guard, THREAD_GUARD_SPAN_BELOW);
    std::uintptr_t above = guard;
    if (isMainThread()) {
        below = std::max(guard, MAIN_THREAD_GUARD_SPAN);
        above = std::min<std::uintptr_t>(guard + MAIN_THREAD_GUARD_SPAN, stackSize);
    }
    t_guardRegion.low = low > below ? low - below : 0;
    t_guardRegion.high = low + above;
}

bool AlternateStack::prepare() {
    if (m_mapping)
        return true;
    // Room for the handler's frames (formatting uses the static buffers) and for the kernel's
    // signal frame, which grows with the CPU's vector registers; a guard page below catches an
    // overflow of the alternate stack itself.
    const long minimum = sysconf(_SC_SIGSTKSZ);
    const std::size_t stackSize = roundUpToPage(std::max<std::size_t>(64 * 1024, minimum > 0 ? 4 * minimum : 0));
    const std::size_t guard = pageSize();
    void* mapping =
        mmap(nullptr, stackSize + guard, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapping == MAP_FAILED)
        return false;
    m_mapping = static_cast<char*>(mapping);
    m_mappingSize = stackSize + guard;
    mprotect(m_mapping, guard, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = m_mapping + guard;
    stack.ss_size = stackSize;
    stack.ss_flags = 0;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(m_mapping, m_mappingSize);
        m_mapping = nullptr;
        return false;
    }
    recordStackGuardRegion();
    return true;
}

void AlternateStack::release() {
    if (!m_mapping)
        return;
    stack_t current{};
    if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_ONSTACK))
        return; // never pull the stack from under a running handler
    if (current.ss_sp == m_mapping + pageSize()) {
        stack_t disable{};
        disable.ss_flags = SS_DISABLE;
        sigaltstack(&disable, nullptr);
    }
    munmap(m_mapping, m_mappingSize);
    m_mapping = nullptr;
    t_guardRegion = {};
}

std::uint32_t codeForSignal(int signo, const siginfo_t* info) {
    // Only faults raised by the processor carry a meaningful si_code (positive, SI_KERNEL
    // included); the same signal sent with kill() or raise() is no known fault.
    if (info->si_code <= 0)
        return std::uint32_t(signo);
    switch (signo) {
    case SIGSEGV: {
        const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
        if (address >= t_guardRegion.low && address < t_guardRegion.high)
            return CODE_STACK_OVERFLOW;
        return CODE_ACCESS_VIOLATION;
    }
    case SIGFPE:
        switch (info->si_code) {
        case FPE_INTDIV:
            return CODE_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF:
            return CODE_INT_OVERFLOW;
        case FPE_FLTDIV:
            return CODE_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF:
            return CODE_FLT_OVERFLOW;
        case FPE_FLTUND:
            return CODE_FLT_UNDERFLOW;
        case FPE_FLTRES:
            return CODE_FLT_INEXACT_RESULT;
        case FPE_FLTINV:
            return CODE_FLT_INVALID_OPERATION;
        case FPE_FLTSUB:
            return CODE_ARRAY_BOUNDS_EXCEEDED;
        }
        break;
    case SIGILL:
        if (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG)
            return CODE_PRIVILEGED_INSTRUCTION;
        return CODE_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
        // x86 reports int3 as SI_KERNEL, other processors as TRAP_BRKPT.
        return info->si_code == TRAP_TRACE ? CODE_SINGLE_STEP : CODE_BREAKPOINT;
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? CODE_DATATYPE_MISALIGNMENT : CODE_IN_PAGE_ERROR;
    }
    return std::uint32_t(signo);
}

FaultInfo faultFromSignal(int signo, const siginfo_t* info, const ucontext_t* context) {
    FaultInfo fault;
    fault.code = codeForSignal(signo, info);
    if (fault.code == CODE_ACCESS_VIOLATION)
        fault.targetAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
    // For SIGILL, SIGFPE and SIGTRAP si_addr is the faulting instruction: the best guess where the
    // context cannot be read.
    if (signo != SIGSEGV && signo != SIGBUS)
        fault.codeAddress = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (!context)
        return fault;
#if defined(__x86_64__)
    const greg_t* g = context->uc_mcontext.gregs;
    fault.codeAddress = std::uint64_t(g[REG_RIP]);
    fault.registers[RegAx] = std::uint64_t(g[REG_RAX]);
    fault.registers[RegBx] = std::uint64_t(g[REG_RBX]);
    fault.registers[RegCx] = std::uint64_t(g[REG_RCX]);
    fault.registers[RegDx] = std::uint64_t(g[REG_RDX]);
    fault.registers[RegBp] = std::uint64_t(g[REG_RBP]);
    fault.registers[RegSi] = std::uint64_t(g[REG_RSI]);
    fault.registers[RegDi] = std::uint64_t(g[REG_RDI]);
    fault.registers[RegSp] = std::uint64_t(g[REG_RSP]);
    fault.flags = std::uint64_t(g[REG_EFL]);
#elif defined(__i386__)
    const greg_t* g = context->uc_mcontext.gregs;
    fault.codeAddress = std::uint32_t(g[REG_EIP]);
    fault.registers[RegAx] = std::uint32_t(g[REG_EAX]);
    fault.registers[RegBx] = std::uint32_t(g[REG_EBX]);
    fault.registers[RegCx] = std::uint32_t(g[REG_ECX]);
    fault.registers[RegDx] = std::uint32_t(g[REG_EDX]);
    fault.registers[RegBp] = std::uint32_t(g[REG_EBP]);
    fault.registers[RegSi] = std::uint32_t(g[REG_ESI]);
    fault.registers[RegDi] = std::uint32_t(g[REG_EDI]);
    fault.registers[RegSp] = std::uint32_t(g[REG_UESP]);
    fault.flags = std::uint32_t(g[REG_EFL]);
#elif defined(__aarch64__)
    // No x86 registers here: show the program counter, the frame pointer (x29) and the stack
    // pointer in the slots of the same meaning; the rest stay 0.
    fault.codeAddress = context->uc_mcontext.pc;
    fault.registers[RegBp] = context->uc_mcontext.regs[29];
    fault.registers[RegSp] = context->uc_mcontext.sp;
    fault.flags = context->uc_mcontext.pstate;
#endif
    return fault;
}

bool writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= std::size_t(n);
    }
    return true;
}

// fork() would run the atfork handlers and take malloc's and stdio's locks, and deadlocks when the
// fault struck while one of them was held. The bare system call copies the process without them;
// the child only makes system calls until execve.
pid_t forkBare() {
    return pid_t(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0));
}

[[noreturn]] void runBoxProgram(int reportFd) {
    if (reportFd == STDIN_FILENO)
        fcntl(reportFd, F_SETFD, 0);
    else if (dup2(reportFd, STDIN_FILENO) < 0)
        _exit(127);
    // The handler blocks the fault signals and execve keeps the mask: give the box a clean one.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    char* argv[] = {g_boxProgram, nullptr};
    execve(g_boxProgram, argv, environ);
    _exit(127);
}

// Shows the report in g_report through the box program and waits until the box is closed. False
// when the box could not be shown.
bool showReportBox(std::size_t length) {
    if (g_boxProgram[0] == '\0')
        return false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    // The report is far smaller than a pipe's buffer, so it is written whole before the box
    // program starts, and the box reads it to end of file.
    const bool written = writeAll(fds[1], g_report, length);
    close(fds[1]);
    if (!written) {
        close(fds[0]);
        return false;
    }
    const pid_t child = forkBare();
    if (child == 0)
        runBoxProgram(fds[0]);
    close(fds[0]);
    if (child < 0)
        return false;
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, 0) == child)
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (errno != EINTR)
            return true; // SIGCHLD ignored: the child was reaped for us once it ended
    }
}

// Without a box (no display, program missing) the report still reaches the log on stderr.
void writeReportToStderr(std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        g_stderrReport[i] = g_report[i] == '\r' ? '\n' : g_report[i];
    writeAll(STDERR_FILENO, g_stderrReport, length);
}

void onPark(int) {
    g_parkedThreads.fetch_add(1);
    // Every signal is blocked while this handler runs (sa_mask), so nothing wakes the thread again;
    // it ends with the process.
    for (;;)
        pause();
}

bool alreadySignalled(pid_t tid) {
    for (int i = 0; i < g_signalledCount; ++i)
        if (g_signalledThreads[i] == tid)
            return true;
    return false;
}

pid_t taskId(const char* name) {
    pid_t tid = 0;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return 0;
        tid = tid * 10 + (*name - '0');
    }
    return tid;
}

// One pass over /proc/self/task: sends the park signal to every thread not yet sent it. True when
// it found such a thread (one may have been started meanwhile, so the caller looks again).
bool signalUnparkedThreads(pid_t self) {
    const int dir = open("/proc/self/task", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return false;
    bool found = false;
    alignas(8) char entries[4096];
    for (;;) {
        const long length = syscall(SYS_getdents64, dir, entries, sizeof(entries));
        if (length <= 0)
            break;
        for (long offset = 0; offset < length;) {
            // struct linux_dirent64: inode (8 bytes), offset (8), record length (2), type (1), name.
            const char* entry = entries + offset;
            unsigned short recordLength = 0;
            std::memcpy(&recordLength, entry + 16, sizeof(recordLength));
            offset += recordLength;
            const pid_t tid = taskId(entry + 19);
            if (tid <= 0 || tid == self || alreadySignalled(tid) || g_signalledCount == MAX_PARKED_THREADS)
                continue;
            if (syscall(SYS_tgkill, getpid(), tid, g_parkSignal) == 0) {
                g_signalledThreads[g_signalledCount++] = tid;
                found = true;
            }
        }
    }
    close(dir);
    return found;
}

// Stops every other thread of the process and waits until they have stopped. Async-signal-safe.
void parkOtherThreads() {
    if (g_parkSignal == 0)
        return;
    const pid_t self = pid_t(syscall(SYS_gettid));
    for (int pass = 0; pass < 16 && signalUnparkedThreads(self); ++pass) {
    }
    const timespec step{0, PARK_WAIT_STEP_NS};
    for (int i = 0; i < PARK_WAIT_STEPS && g_parkedThreads.load() < g_signalledCount; ++i)
        nanosleep(&step, nullptr);
}

void onFault(int signo, siginfo_t* info, void* context) {
    const FaultInfo fault = faultFromSignal(signo, info, static_cast<const ucontext_t*>(context));
    int expected = 0;
    if (!g_reporting.compare_exchange_strong(expected, 1)) {
        // Another thread is already reporting and will end the process. Returning would only
        // repeat this fault, so wait here (the reporting thread parks this one too).
        for (;;)
            pause();
    }
    parkOtherThreads();
    const std::size_t length = formatCrashReport(fault, g_report, sizeof(g_report));
    if (!showReportBox(length))
        writeReportToStderr(length);
    // Ends at once: no exit handlers, no destructors, nothing saved.
    _exit(0);
}

// Takes the highest real-time signal that still has its default disposition for parking threads.
bool installParkHandler() {
    struct sigaction park {};
    park.sa_handler = onPark;
    park.sa_flags = SA_ONSTACK;
    sigfillset(&park.sa_mask);
    for (int signo = SIGRTMAX; signo >= SIGRTMIN; --signo) {
        struct sigaction current {};
        if (sigaction(signo, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            continue;
        if (sigaction(signo, &park, nullptr) != 0)
            return false;
        g_parkSignal = signo;
        return true;
    }
    return false;
}

} // namespace

bool installCrashHandler(const QString& boxProgramPath) {
    bool complete = true;
    const QByteArray path = QFile::encodeName(QFileInfo(boxProgramPath).absoluteFilePath());
    if (!boxProgramPath.isEmpty() && std::size_t(path.size()) < sizeof(g_boxProgram) &&
        access(path.constData(), X_OK) == 0) {
        std::memcpy(g_boxProgram, path.constData(), std::size_t(path.size()) + 1);
    } else {
        complete = false; // the report will go to stderr only
    }

    complete = t_alternateStack.prepare() && complete;

    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A fault inside the handler itself must not re-enter it: with every fault signal blocked,
    // the kernel ends the process instead.
    sigemptyset(&action.sa_mask);
    for (const int signo : FAULT_SIGNALS)
        sigaddset(&action.sa_mask, signo);
    for (const int signo : FAULT_SIGNALS)
        complete = sigaction(signo, &action, nullptr) == 0 && complete;
    complete = installParkHandler() && complete;
    return complete;
}

void prepareThreadForCrashReports() {
    t_alternateStack.prepare();
}

} // namespace plinket
