// libFuzzer's entry point for one target, chosen at build time (PLINKET_FUZZ_ENTRY).

#include <cstddef>
#include <cstdint>

extern "C" int PLINKET_FUZZ_ENTRY(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return PLINKET_FUZZ_ENTRY(data, size);
}
