// CSV export of the shown waveform, PNG export and printing of the panel.
#include "panel/export.h"

#include "acquisition/acquire.h"
#include "files/file_io.h"
#include "files/touchstone.h"
#include "freqdomain/sparams.h"
#include "instrument/driver.h"
#include "panel/colors.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/units.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/panel_image.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "setup/version.h"

#include <cstdio>

namespace {

constexpr const char* kSerialRejected =
    "Only alphanumeric values, dashes, parentheses, and spaces allowed in file name.";

} // namespace

int saveCSV() {
    return saveTraceCSV(instrument.recordX, liveTrace.y, "");
}

int saveTraceCSV(const Waveform& x, const Waveform& y, const std::string& name) {
    const std::string folder = files::startFolder(panelState.defaultSaveCSV, "datalogs");
    const std::string serial = serialText(63);
    if (!files::serialTextAccepted(serial)) {
        writeMessage(2155, kSerialRejected, 0);
        return -5;
    }
    std::string notes = platform::panel().text(PANEL_NOTES);
    if (notes.size() > 511) notes.resize(511);

    std::string path;
    if (platform::FileSelectPopup(folder, (name.empty() ? serial : name) + ".csv", "CSV (*.csv)",
                                  "Select File to Save", true,
                                  path) == platform::VAL_NO_FILE_SELECTED)
        return 0;
    // Written beside the target: a full disk never costs the user the file that was there.
    files::ReplacingFile out(path);
    if (!out.opened()) {
        writeMessage(2151, "Could not create log file.", 0);
        return -1;
    }
    std::string header = labelX[index(view.xUnits.load())];
    header += ',';
    header += labelY[index(view.yUnits.load())];
    header += ',' + serial + ",\"" + notes + "\"\n";

    std::string data;
    data.reserve(1024 * 20);
    for (std::size_t i = 0; i < x.size(); ++i) {
        files::appendFixed(data, x[i], 3);
        data += ',';
        files::appendFixed(data, y[i], 3);
        data += '\n';
    }
    return files::reportWrite(
        files::writeParts(out,
                          {{header, {2152, -2, "Could not write header information."}},
                           {data, {2153, -3, "Could not write data points to log."}}},
                          {2154, -4, "Could not close log file."}),
        "CSV file saved successfully.");
}

int savePNG() {
    // Before any dialog or check: the picture is the panel as it was when the user asked.
    platform::CapturePanel();
    const std::string folder = files::startFolder(panelState.defaultSavePNG, "images");
    const std::string serial = serialText(63);
    if (!files::serialTextAccepted(serial)) {
        writeMessage(2132, kSerialRejected, 0);
        return -2;
    }
    std::string path;
    if (platform::FileSelectPopup(folder, serial + ".png", "PNG (*.png)", "Select File to Save",
                                  true, path) == platform::VAL_NO_FILE_SELECTED)
        return -1;
    // Written beside the target and renamed over it, like every file: a full disk keeps the
    // picture that was there.
    std::string png;
    if (!platform::EncodeCapturedPng(png) ||
        files::replaceFile(path, png) != files::ReplaceStatus::Ok) {
        writeMessage(2132, "Could not save PNG file to disk.", 0);
        return -2;
    }
    writeMessage(0, "PNG image saved successfully.", 0);
    return 1;
}

int printWaveform() {
    const bool dark = getColor() == 1;
    // Paper is white: print the light scheme, then give the screen its own back.
    if (dark) setColor(0);
    platform::PrintPanel();
    if (dark) setColor(1);
    return 1;
}

// The first Touchstone dialog after start-up opens in "datalogs".
namespace {

std::string shownRingLabel(int control) {
    const auto items = platform::panel().ringItems(control);
    const int i = platform::panel().ringIndex(control);
    return i >= 0 && i < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(i)].label
                                                        : std::string("?");
}

} // namespace

int saveTouchstone() {
    // Only the frequency domain has S-parameters.
    if (domainOf(view.xUnits.load()) != Domain::Frequency) {
        platform::MessagePopup("Save Touchstone", "Touchstone files hold S-parameters: switch to "
                                                  "the frequency domain first.");
        return -1;
    }
    const bool s21 = getMode() == Mode::TDT;
    const std::string folder = files::startFolder(panelState.defaultSaveTouchstone, "datalogs");
    const std::string serial = serialText(63);
    if (!files::serialTextAccepted(serial)) {
        writeMessage(2161, "Serial text is not valid for a file name.", 0);
        return -2;
    }
    std::string path;
    if (platform::FileSelectPopup(folder, serial + (s21 ? ".s2p" : ".s1p"),
                                  s21 ? "Touchstone (*.s2p)" : "Touchstone (*.s1p)",
                                  "Select File to Save", true,
                                  path) == platform::VAL_NO_FILE_SELECTED)
        return 0;

    int first = 0, last = 0;
    visibleRange(instrument.recordX, getXStart(), getXEnd(), first, last);
    std::vector<SParamPoint> points;
    for (int i = std::max(first, 0); i < std::min(last, 1024); ++i) {
        const auto k = static_cast<std::size_t>(i);
        points.push_back({instrument.recordX[k], solt.result[k].real(), solt.result[k].imag()});
    }
    const platform::DateTime t = platform::currentDateTime();
    char when[32];
    std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    std::vector<std::string> comment = {
        std::string("VELT ") + kVersionString + ", " +
            (s21 ? "insertion loss S21" : "return loss S11") + " corrected by SOLT calibration",
        std::string("model ") + instrument.model + ", stimulus " + shownRingLabel(PANEL_STIMULUS) +
            ", sampler " + shownRingLabel(PANEL_SAMPLER) + ", measured " + when};
    if (s21) comment.push_back("S11, S12 and S22 were not measured: their columns hold 0");
    if (files::replaceFile(path, formatTouchstone(s21 ? 2 : 1, points, comment)) !=
        files::ReplaceStatus::Ok) {
        writeMessage(2162, "Could not write Touchstone file.", 0);
        return -3;
    }
    writeMessage(0, "Touchstone file saved successfully.", 0);
    return 1;
}
