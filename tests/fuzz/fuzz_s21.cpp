// Any bytes as a .s21 calibration file.
#include "tests/fuzz/solt_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzSoltFile(1, data, size);
}
