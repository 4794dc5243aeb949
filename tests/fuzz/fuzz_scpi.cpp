// Any bytes as what a remote client sends, line by line, to a session on the simulated
// instrument: every line gets its replies or its errors, never a crash, and the error queue and a
// reply stay bounded. Without a timer an overlapped command runs to its end where it starts.
#include "app/remote.h"
#include "app/scpi.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/timer.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <unistd.h>

namespace {

simulator::SimulatedInstrument* sim = nullptr;
std::filesystem::path folder;

bool setUp() {
    platform::setVirtualTime(true);
    char tmpl[] = "/tmp/velt_fuzz_scpi_XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    folder = tmpl;
    for (const char* data : kDataFolders) std::filesystem::create_directory(folder / data);
    sim = new simulator::SimulatedInstrument("QSA004");
    sim->setNoise(false);
    platform::setSerialDevice(sim);
    loadInterface();
    if (instrument.open() != 1 || calibrate(2, 4, 0) != 1) std::abort();
    instrument.isInit.store(1);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = setUp();
    (void)ready;
    // The files a session writes land in a folder of their own; libFuzzer reads its corpus from
    // where it was started.
    const std::filesystem::path started = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    static RemoteInstrument remote({sim, true});
    RemoteSession session(remote);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (int lines = 0; !text.empty() && lines < 16; ++lines) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (line.size() > platform::kMaxRemoteLine) {
            session.lineTooLong();
            continue;
        }
        const std::string reply = session.execute(line);
        if (reply.size() > platform::kMaxRemoteUnread || (!reply.empty() && reply.back() != '\n'))
            std::abort();
        if (remote.errorCount() > 16 || remote.busy()) std::abort();
    }
    std::filesystem::current_path(started);
    return 0;
}
