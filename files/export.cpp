// CSV export of the shown waveform, PNG export and printing of the panel.
#include "files/export.h"

#include "acquisition/acquire.h"
#include "files/file_io.h"
#include "instrument/driver.h"
#include "panel/colors.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/units.h"
#include "platform/log.h"
#include "platform/panel_image.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <cstdio>

std::atomic<int> defaultSaveCSV{1};
std::atomic<int> defaultSavePNG{1};

namespace {

constexpr const char* kSerialRejected =
    "Only alphanumeric values, dashes, parentheses, and spaces allowed in file name.";

} // namespace

int saveCSV() {
    const std::string folder = files::startFolder(defaultSaveCSV, "datalogs");
    const std::string serial = files::serialText(63);
    if (!files::serialTextAccepted(serial)) {
        writeMessage(2155, kSerialRejected, 0);
        return -5;
    }
    std::string notes = platform::panel().text(PANEL_NOTES);
    if (notes.size() > 511) notes.resize(511);

    std::string path;
    if (platform::FileSelectPopup(folder, serial + ".csv", "CSV (*.csv)", "Select File to Save",
                                  true, path) == platform::VAL_NO_FILE_SELECTED)
        return 0;
    // Written beside the target: a full disk never costs the user the file that was there.
    files::ReplacingFile out(path);
    std::FILE* f = out.stream();
    if (!f) {
        writeMessage(2151, "Could not create log file.", 0);
        return -1;
    }
    std::string header = labelX[index(xUnits.load())];
    header += ',';
    header += labelY[index(yUnits.load())];
    header += ',' + serial + ",\"" + notes + "\"\n";

    std::string data;
    data.reserve(1024 * 20);
    for (std::size_t i = 0; i < wfmDataX.size(); ++i) {
        files::appendFixed(data, wfmDataX[i], 3);
        data += ',';
        files::appendFixed(data, wfmDataCombined[i], 3);
        data += '\n';
    }
    int code = 0, result = 1;
    const char* text = nullptr;
    if (!files::writeAll(f, header)) {
        code = 2152, result = -2, text = "Could not write header information.";
    } else if (!files::writeAll(f, data)) {
        code = 2153, result = -3, text = "Could not write data points to log.";
    }
    if (code == 0 && out.commit() != files::ReplaceStatus::Ok)
        code = 2154, result = -4, text = "Could not close log file.";
    if (code != 0) {
        writeMessage(code, text, 0);
        return result;
    }
    writeMessage(0, "CSV file saved successfully.", 0);
    return 1;
}

int savePNG() {
    // Before any dialog or check: the picture is the panel as it was when the user asked.
    platform::CapturePanel();
    const std::string folder = files::startFolder(defaultSavePNG, "images");
    const std::string serial = files::serialText(63);
    if (!files::serialTextAccepted(serial)) {
        writeMessage(2132, kSerialRejected, 0);
        return -2;
    }
    std::string path;
    if (platform::FileSelectPopup(folder, serial + ".png", "PNG (*.png)", "Select File to Save",
                                  true, path) == platform::VAL_NO_FILE_SELECTED)
        return -1;
    if (platform::SaveCapturedPng(path) < 0) {
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
