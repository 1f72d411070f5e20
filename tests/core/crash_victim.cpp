// A program that installs the console's crash handler and then faults in the way its argument
// names. tst_crash_handler runs it and checks the box, the exit code and config.ini.
//
// Like the console, it would write config.ini on a normal exit: an exit handler stands in for
// that save, so the test sees whether the crash path ran it.

#include "crash_handler.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

// Volatile so that the compiler cannot see the null pointer, the zero divisor or the end of the
// recursion, and must emit the faulting instruction as written.
int* volatile g_nullPointer = nullptr;
volatile int g_dividend = 1;
volatile int g_divisor = 0;
volatile int g_sink = 0;
volatile bool g_deeper = true;

void saveSettingsOnNormalExit() {
    if (std::FILE* f = std::fopen("config.ini", "wb")) {
        std::fputs("[Settings]\r\nWrittenOnExit=1\r\n", f);
        std::fclose(f);
    }
}

// The faults are the point: under the undefined-behaviour sanitizer these must still reach the
// processor, not end in the sanitizer's report.
__attribute__((no_sanitize("undefined"))) void nullWrite() {
    *g_nullPointer = 1;
}

__attribute__((no_sanitize("undefined"))) void divideByZero() {
    g_sink = g_dividend / g_divisor;
}

// Reading a mapped page that lies beyond the end of its (empty) file.
void readBeyondEndOfFile() {
    const int fd = memfd_create("plinket-crash-victim", 0);
    void* page = fd >= 0 ? mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (page == MAP_FAILED)
        return;
    g_sink = *static_cast<volatile char*>(page);
}

void breakpoint() {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("int3");
#endif
}

__attribute__((noinline)) void recurse(int depth) {
    volatile char frame[256];
    frame[0] = char(depth);
    if (g_deeper)
        recurse(depth + 1);
    g_sink = frame[0];
}

void onWorker(void (*fault)(), bool prepare) {
    std::thread worker([fault, prepare] {
        if (prepare)
            plinket::prepareThreadForCrashReports();
        fault();
    });
    worker.join();
}

// Two threads fault at the same moment: exactly one report may be shown.
void twoThreadsAtOnce() {
    std::atomic<int> ready{0};
    auto body = [&ready](int offset) {
        plinket::prepareThreadForCrashReports();
        ready.fetch_add(1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (ready.load() < 2 && std::chrono::steady_clock::now() < deadline) {
        }
        g_nullPointer[offset] = 1;
    };
    std::thread a(body, 4);
    std::thread b(body, 8);
    a.join();
    b.join();
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 2)
        return 2;
    const char* mode = argv[1];
    std::atexit(saveSettingsOnNormalExit);
    // An unlimited stack would let the recursion eat memory for a long time before it faults.
    rlimit stack{};
    if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur > 8 * 1024 * 1024) {
        stack.rlim_cur = 8 * 1024 * 1024;
        setrlimit(RLIMIT_STACK, &stack);
    }

    const bool missingBox = std::strcmp(mode, "missing-box") == 0;
    const QString boxPath =
        missingBox ? QStringLiteral("/nonexistent/plinket_crash_box") : QString::fromUtf8(PLINKET_CRASH_BOX);
    if (!plinket::installCrashHandler(boxPath) && !missingBox)
        return 3;

    if (std::strcmp(mode, "null-write") == 0 || missingBox)
        nullWrite();
    else if (std::strcmp(mode, "divide") == 0)
        divideByZero();
    else if (std::strcmp(mode, "worker-null-write") == 0)
        onWorker(nullWrite, true);
    else if (std::strcmp(mode, "unprepared-worker-divide") == 0)
        onWorker(divideByZero, false);
    else if (std::strcmp(mode, "stack-overflow") == 0)
        recurse(0);
    else if (std::strcmp(mode, "worker-stack-overflow") == 0)
        onWorker([] { recurse(0); }, true);
    else if (std::strcmp(mode, "illegal-instruction") == 0)
        __builtin_trap();
    else if (std::strcmp(mode, "breakpoint") == 0)
        breakpoint();
    else if (std::strcmp(mode, "bus-error") == 0)
        readBeyondEndOfFile();
    else if (std::strcmp(mode, "raised-segv") == 0)
        std::raise(SIGSEGV);
    else if (std::strcmp(mode, "two-threads") == 0)
        twoThreadsAtOnce();
    else
        return 2;
    return 4; // the fault did not happen
}
