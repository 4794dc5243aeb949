// The settings a user saves, loads and resets: the file's record taken from and applied to the
// panel; the file itself is checked completely before the first setter runs.
#include "panel/settings_io.h"

#include "acquisition/acquire.h"
#include "files/file_io.h"
#include "files/settings_file.h"
#include "instrument/driver.h"
#include "panel/domain.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "panel/zero.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

using platform::panel;

namespace {

constexpr const char* kTypeList = "Configuration File (*.ini)";

void apply(const SettingsRecord& r) {
    // A time-domain file loaded from the frequency domain would leave its rings and menus.
    if (domainOf(view.xUnits.load()) == Domain::Frequency) setDomain(Domain::Time);
    // The file's codes were checked before anything is applied.
    setXUnits(xUnitFromCode(r.xUnits));
    setYUnits(yUnitFromCode(r.yUnits));
    panel().setXAxisName(labelFullX[index(view.xUnits.load())]);
    setDiff(r.diff);
    setStimulus(modeFromCode(r.mode), r.stimulus);
    setSampler(r.sampler);
    setCalMode(r.cal);
    // The fields accept down to minus the zero and are marked while one is set.
    setZero(r.xZero);
    setXStart(r.xStart);
    setXEnd(r.xEnd);
    setDiel(r.dielK);
    setYMinMax(r.yMin, r.yMax);
    setAutoscale(r.autoscale);
    setFilter(r.filter);
    setFilterWidth(r.filterWidth);
    calibrate(-1, -1, 0);
    writeMessage(0, "Settings file loaded successfully.", 0);
    setAutoAcquire(r.autoAcquire);
}

} // namespace

SettingsRecord currentSettings() {
    return settingsRecordOf(readSetup(), instrument.model);
}

int saveSettings(int mode) {
    std::string path = kAutosaveFile;
    if (mode != 1) {
        const std::string folder = files::startFolder(panelState.defaultSaveSettings, "settings");
        if (platform::FileSelectPopup(folder, ".ini", kTypeList, "Select File to Save", true,
                                      path) == platform::VAL_NO_FILE_SELECTED)
            return 0;
    }
    const std::string text = formatSettings(currentSettings());
    switch (files::replaceFile(path, text)) {
    case files::ReplaceStatus::Ok:
        break;
    case files::ReplaceStatus::OpenFailed:
        if (mode == 1) {
            writeMessage(2211, "Could not open autosave file.", 0);
            return -1;
        }
        writeMessage(2212, "Could not open settings file.", 0);
        return -2;
    case files::ReplaceStatus::WriteFailed:
        writeMessage(2213, "Could not write settings file.", 0);
        return -3;
    case files::ReplaceStatus::CloseFailed:
        writeMessage(2214, "Could not close settings file.", 0);
        return -4;
    }
    writeMessage(0, "Settings file saved successfully.", 0);
    return 1;
}

int loadSettings(int mode) {
    std::string path = kAutosaveFile;
    if (mode != 1) {
        const std::string folder = files::startFolder(panelState.defaultSaveSettings, "settings");
        if (platform::FileSelectPopup(folder, "*.ini", kTypeList, "Select File to Load", false,
                                      path) == platform::VAL_NO_FILE_SELECTED)
            return 0;
    }
    std::vector<files::Line> lines;
    switch (files::readLines(path, kSettingsLines, lines)) {
    case files::ReadStatus::Ok:
        break;
    case files::ReadStatus::OpenFailed:
        if (mode == 1) {
            writeMessage(2231, "Previous settings file not found. Reverting to defaults.", 0);
            resetSettings();
            return -1;
        }
        writeMessage(2232, "Could not read settings file.", 0);
        return -2;
    case files::ReadStatus::CloseFailed:
        writeMessage(2233, "Could not close settings file.", 0);
        return -3;
    }
    const SettingsRecord r = parseSettingsLines(lines);
    if (const int check = checkSettings(r, instrument.model); check != 0) {
        const SettingsRejection bad = settingsRejection(check);
        writeMessage(bad.code, bad.text, 0);
        resetSettings();
        return bad.result;
    }
    apply(r);
    return 1;
}

int resetSettings() {
    if (const int stored = panelState.storedPlot.exchange(0); stored != 0)
        panel().deletePlot(stored);
    setDomain(Domain::Time);
    setDiff(0);
    setStimulus(Mode::TDR, 2);
    setXUnits(XUnit::Metres);
    setYUnits(YUnit::Millivolts);
    setZero(0.0);
    setXStart(0.0);
    setXEnd(3.0);
    setDiel(2.23);
    panel().setXAxisName(labelFullX[index(view.xUnits.load())]);
    setYMinMax(-250.0, 250.0);
    setAutoscale(1);
    setAutoAcquire(1);
    setAveraging(1);
    setCalMode(0);
    setFilter(0);
    setFilterWidth(instrument.speed != 0 ? 200 : 35);
    writeMessage(0, "Settings successfully reset to defaults.", 0);
    return 1;
}
