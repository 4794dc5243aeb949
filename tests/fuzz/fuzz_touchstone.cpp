// Any bytes as a Touchstone file: read as a network that holds together and transforms, or
// refused by line with nothing changed.
#include "files/touchstone.h"
#include "freqdomain/network.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int ports = data[0] % 3; // 0: a name that says no port count
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    Network n;
    n.hz = {-1};
    std::string error;
    if (!readTouchstone(text, ports, n, error)) {
        if (n.hz.size() != 1 || n.hz[0] != -1 || error.rfind("line ", 0) != 0) std::abort();
        return 0;
    }
    const std::size_t count = n.hz.size();
    if (count < kTouchstoneMinPoints || count > kTouchstoneMaxPoints || n.s11.size() != count ||
        n.s21.size() != (n.ports == 2 ? count : 0) || !(n.referenceOhms > 0))
        std::abort();
    for (std::size_t i = 0; i < count; ++i)
        if ((i > 0 && !(n.hz[i] > n.hz[i - 1])) || !std::isfinite(n.hz[i]) || n.hz[i] < 0)
            std::abort();
    // The transform of a file small enough for a fuzzer's pace: finite or refused, never a crash.
    if (count > 4000) return 0;
    StepResponse step;
    Waveform x, y;
    if (stepResponse(n, n.ports == 2 ? Mode::TDT : Mode::TDR, 35, step, error))
        profileOver(step, {XUnit::Nanoseconds, 0, 1, 0, 1, 0}, YUnit::Ohms, x, y, error);
    return 0;
}
