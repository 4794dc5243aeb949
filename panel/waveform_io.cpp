// Stored waveforms on the panel: the checked store, a recall that checks the whole file before
// it changes anything, and the dimming that keeps the stored trace's settings in force while
// it is shown.
#include "panel/waveform_io.h"

#include "acquisition/acquire.h"
#include "files/file_io.h"
#include "panel/domain.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/timebase.h"
#include "panel/units.h"
#include "panel/zero.h"
#include "platform/log.h"
#include "platform/popups.h"

#include <algorithm>

using platform::panel;

namespace {

// The recalled trace, valid while it is shown.
Waveform wfmRecallX{};

Waveform wfmRecall{};

constexpr const char* kTypeList = "VELT Waveform (*.velt)";

// What a recall dims, and clearing gives back.
constexpr std::array<int, 12> kDimmedControls = {
    PANEL_MODE,      PANEL_DIFFERENTIAL, PANEL_XEND,        PANEL_XSTART,
    PANEL_DIEL,      PANEL_FILTER,       PANEL_FILTERWIDTH, PANEL_ZOOM,
    PANEL_RESETZOOM, PANEL_YMAX,         PANEL_YMIN,        PANEL_AUTOSCALE};

constexpr std::array<int, 6> kDimmedMenuItems = {MENUBAR_FILE_STORE,  MENUBAR_FILE_RESETSETTINGS,
                                                 MENUBAR_XUNITS,      MENUBAR_YUNITS,
                                                 MENUBAR_CAL_SETZERO, MENUBAR_CAL_RESETZERO};

bool ringHolds(int id, int value) {
    for (const platform::RingItem& item : panel().ringItems(id))
        if (item.value == value) return true;
    return false;
}

// The file's ports must be ones this instrument has.
bool fitsInstrument(const StoredSettings& s) {
    if (!ringHolds(PANEL_MODE, s.mode) || !ringHolds(PANEL_STIMULUS, s.stimulus)) return false;
    const std::vector<int> samplers =
        samplersFor(modeFromCode(s.mode), s.stimulus, instrument.channels);
    return std::find(samplers.begin(), samplers.end(), s.sampler) != samplers.end();
}

void markZero(int color) {
    panel().setTextBgColor(PANEL_XSTART, color);
    panel().setTextBgColor(PANEL_XEND, color);
}

void showStored(const StoredSettings& s) {
    // The file's codes were checked before anything is shown.
    view.xUnits.store(xUnitFromCode(s.xUnits));
    view.yUnits.store(yUnitFromCode(s.yUnits));
    view.xStart.store(s.xStart);
    view.xEnd.store(s.xEnd);
    view.xZero.store(s.xZero);
    view.dielK.store(s.dielK);
    // The fields must accept the window relative to the file's zero before it is shown in them.
    const double top = panelState.maxRange[index(view.xUnits.load())].load();
    panel().setRange(PANEL_XSTART, -s.xZero, top);
    panel().setRange(PANEL_XEND, -s.xZero, top);
    setXStart(s.xStart);
    setXEnd(s.xEnd);
    setDiel(s.dielK);
    setYMinMax(s.yMin, s.yMax);
    setStimulus(modeFromCode(s.mode), s.stimulus);
    setSampler(s.sampler);
    setDiff(s.diff);
    setFilter(s.filter);
    setFilterWidth(s.filterWidth);
    if (view.xZero.load() > 0) markZero(kZeroActiveColor);
    setXUnits(view.xUnits.load());
    setYUnits(view.yUnits.load());
    // The unit switch put its own default range in the fields; they show the file's.
    setYMinMax(s.yMin, s.yMax);

    if (const int stored = panelState.storedPlot.exchange(0); stored != 0)
        panel().deletePlot(stored);
    if (const int active = panelState.livePlot.exchange(0); active != 0) panel().deletePlot(active);
    panel().setXAutoscale();
    panel().setYRange(s.yMin, s.yMax);
    panelState.storedPlot.store(panel().plotXY(wfmRecallX.data(), wfmRecall.data(), 1024,
                                               kStoredTraceColor, kLiveTraceStyle, 0));
    if (domainOf(view.xUnits.load()) == Domain::Frequency) {
        view.xEnd.store(wfmRecallX[1023]);
        panel().setValue(PANEL_XEND, view.xEnd.load());
    }
    panel().setValue(PANEL_AUTOSCALE, 0);
    for (int id : kDimmedControls) panel().setDimmed(id, true);
    for (int id : kDimmedMenuItems) panel().setMenuDimmed(id, true);
    panel().setMenuDimmed(MENUBAR_FILE_CLEAR, false);
}

} // namespace

int storeWaveform() {
    const std::string folder = files::startFolder(panelState.defaultSaveWaveform, "waveforms");
    const std::string serial = serialText(31);
    if (!files::serialTextAccepted(serial)) {
        writeMessage(2176,
                     "Only alphanumeric values, dashes, parentheses, and spaces allowed in file "
                     "name.",
                     0);
        return -2;
    }
    std::string path;
    if (platform::FileSelectPopup(folder, serial + ".velt", kTypeList, "Select File to Save", true,
                                  path) == platform::VAL_NO_FILE_SELECTED)
        return -1;
    // Written beside the target: a full disk never costs the user the file that was there.
    files::ReplacingFile out(path);
    if (!out.opened()) {
        writeMessage(2172, "Could not open target save file.", 0);
        return -2;
    }
    const StoredSettings s = storedSettingsOf(readSetup());

    const std::string values = formatStoredSettings(s);
    const std::string points = formatStoredPoints(instrument.recordX, liveTrace.y);
    return files::reportWrite(
        files::writeParts(out,
                          {{kStoredLabelLine, {2173, -3, "Could not write header labels."}},
                           {values, {2174, -4, "Could not write header values."}},
                           {points, {2177, -6, "Could not write waveform points."}}},
                          {2175, -5, "Could not close file."}),
        "VELT file saved successfully.");
}

int recallWaveform() {
    const std::string folder = files::startFolder(panelState.defaultSaveWaveform, "waveforms");
    std::string path;
    if (platform::FileSelectPopup(folder, "*.velt", kTypeList, "Select File to Retrieve", false,
                                  path) == platform::VAL_NO_FILE_SELECTED)
        return -1;
    std::vector<files::Line> lines;
    switch (files::readLines(path, kStoredFileLines, lines)) {
    case files::ReadStatus::Ok:
        break;
    case files::ReadStatus::OpenFailed:
        writeMessage(2192, "Could not open stored VELT file.", 0);
        return -2;
    case files::ReadStatus::CloseFailed:
        writeMessage(2195, "Could not close stored VELT file.", 0);
        return -5;
    }
    // Parsed into locals: nothing of the program changes until the whole file has passed.
    StoredSettings s;
    Waveform x{}, y{};
    int badLine = 0;
    const StoredParse parsed = parseStoredLines(lines, s, x, y, badLine);
    if (parsed == StoredParse::BadSettings) {
        writeMessage(2196,
                     "Stored VELT file has unreadable settings in line 2. Nothing was changed.", 0);
        return -6;
    }
    const bool fileFrequency = s.xUnits == code(XUnit::GHz);
    const bool shownFrequency = domainOf(view.xUnits.load()) == Domain::Frequency;
    if (fileFrequency && !shownFrequency) {
        platform::MessagePopup("ERROR #2193",
                               "Stored waveform is in the Frequency Domain and cannot be loaded "
                               "with the current settings.\nPlease switch to the Frequency Domain "
                               "and try loading the waveform again.");
        return -3;
    }
    if (!fileFrequency && shownFrequency) {
        platform::MessagePopup("ERROR #2194",
                               "Stored waveform is in the Time Domain and cannot be loaded with "
                               "the current settings.\nPlease switch to the Time Domain and try "
                               "loading the waveform again.");
        return -4;
    }
    if (!storedSettingsValid(s)) {
        writeMessage(
            2196, "Stored VELT file has settings out of range in line 2. Nothing was changed.", 0);
        return -6;
    }
    if (parsed == StoredParse::BadPoint) {
        writeMessage(2197,
                     "Stored VELT file has a missing or unreadable point in line " +
                         std::to_string(badLine) + ". Nothing was changed.",
                     0);
        return -7;
    }
    if (!fitsInstrument(s)) {
        writeMessage(2198,
                     "Stored VELT file uses a mode or port this instrument does not have. Nothing "
                     "was changed.",
                     0);
        return -8;
    }
    wfmRecallX = x;
    wfmRecall = y;
    showStored(s);
    writeMessage(0, "VELT file retrieved successfully.", 0);
    return 1;
}

void clearWaveform() {
    if (const int stored = panelState.storedPlot.exchange(0); stored != 0)
        panel().deletePlot(stored);
    panel().setValue(PANEL_AUTOSCALE, 1);
    for (int id : kDimmedControls) panel().setDimmed(id, false);
    // Autoscale is on again, so the range fields follow it.
    panel().setDimmed(PANEL_YMAX, true);
    panel().setDimmed(PANEL_YMIN, true);
    for (int id : kDimmedMenuItems) panel().setMenuDimmed(id, false);
    panel().setMenuDimmed(MENUBAR_FILE_CLEAR, true);
    applyDomainDimming();
    markZero(view.xZero.load() > 0 ? kZeroActiveColor : kZeroClearColor);
    writeMessage(0, "Stored VELT cleared from plot.", 0);
}
