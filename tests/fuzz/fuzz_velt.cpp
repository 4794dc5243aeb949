// Any bytes as a .velt file: a recall shows the stored trace or changes nothing at all.
#include "acquisition/acquire.h"
#include "files/waveform_file.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/waveform_io.h"
#include "platform/clock.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <unistd.h>

namespace {

std::string path;

bool setUp() {
    platform::setVirtualTime(true);
    char tmpl[] = "/tmp/velt_fuzz_velt_XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    path = std::string(tmpl) + "/w.velt";
    return true;
}

std::string state() {
    std::ostringstream s;
    s << code(view.xUnits.load()) << ' ' << code(view.yUnits.load()) << ' ' << view.xStart << ' '
      << view.xEnd << ' ' << view.xZero << ' ' << view.dielK << ' ' << getStimulus() << ' '
      << getSampler() << ' ' << code(getMode()) << ' ' << getFilter() << ' ' << getFilterWidth()
      << ' ' << panelState.storedPlot << ' ' << getYMin() << ' ' << getYMax();
    return s.str();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = setUp();
    (void)ready;
    loadInterface();
    platform::defaultResponder().clear();
    view.xUnits = XUnit::Metres, view.yUnits = YUnit::Millivolts, view.xZero = 0.0,
    view.xStart = 0.0, view.xEnd = 3.0, view.dielK = 2.25;
    panelState.storedPlot = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    const std::string before = state();
    platform::defaultResponder().pushFile(path);
    const int result = recallWaveform();
    if (result == 1) {
        if (panelState.storedPlot.load() == 0 ||
            !platform::panel().plotExists(panelState.storedPlot.load()))
            std::abort();
        clearWaveform();
    } else if (state() != before) {
        std::abort();
    }
    return 0;
}
