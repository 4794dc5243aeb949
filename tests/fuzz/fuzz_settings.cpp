// Any bytes as user.ini: the whole record is applied or the defaults are in force, never a mixture.
#include "app/startup.h"
#include "files/settings_file.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "platform/clock.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

std::string path;

// The file is chosen in the dialog: libFuzzer reads its corpus relative to the working folder.
bool setUp() {
    platform::setVirtualTime(true);
    loadInterface();
    std::strcpy(instrument.model, "QSB020");
    char tmpl[] = "/tmp/velt_fuzz_settings_XXXXXX";
    if (!mkdtemp(tmpl)) std::abort();
    path = std::string(tmpl) + "/s.ini";
    return true;
}

void require(bool ok) {
    if (!ok) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = setUp();
    (void)ready;
    platform::panel().setText(PANEL_MESSAGE, "");
    platform::defaultResponder().clear();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    const SettingsRecord r =
        parseSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    platform::defaultResponder().pushFile(path);
    const int result = loadSettings(0);
    require((result == 1) == (checkSettings(r, instrument.model) == 0));
    if (result == 1) {
        // The vertical unit may follow the line kind (differential is shown in ohms).
        require(code(view.xUnits.load()) == r.xUnits);
        require(getAutoAcquire() == r.autoAcquire && getFilter() == r.filter);
        require(view.dielK.load() > 0);
    } else {
        require(view.xUnits.load() == XUnit::Metres && view.yUnits.load() == YUnit::Millivolts &&
                view.xEnd.load() == 3.0);
        require(view.dielK.load() == 2.23 && getAutoAcquire() == 1 && view.xZero.load() == 0.0);
    }
    return 0;
}
