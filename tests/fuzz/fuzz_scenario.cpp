// Any bytes as a simulator description: parsed or refused with a line number, nothing else.
#include "simulator/sim_scenario.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto parsed = simulator::parseScenario(
        std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (!parsed && error.rfind("line ", 0) != 0) std::abort();
    return 0;
}
