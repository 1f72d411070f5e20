#pragma once

// Fuzz targets: each feeds arbitrary bytes through one reader of outside bytes and checks the
// properties that reader promises. The same functions are run by libFuzzer (fuzz_main.cpp, built
// with -DPLINKET_FUZZ=ON) and by tst_fuzz_replay, which replays the seed corpus and every saved
// finding in the normal suite.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

#define PLINKET_FUZZ_TARGET(name) extern "C" int plinketFuzz_##name(const uint8_t* data, size_t size)

namespace plinket::fuzz {

// A broken property. Without a handler (under libFuzzer) it prints `what` and aborts, which libFuzzer
// records as a finding with its input; the replay test installs a handler that fails the test case.
using FailureHandler = void (*)(const char* what);
void setFailureHandler(FailureHandler handler);
void check(bool ok, const char* what);

inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A folder of this process for the targets that go through files; the same one for every input.
QString scratchPath(const QString& fileName);
// Writes `bytes` to `path`, replacing whatever is there; aborts when it cannot (no fuzzing without it).
void putFile(const QString& path, const QByteArray& bytes);

} // namespace plinket::fuzz
