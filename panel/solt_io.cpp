// Saving and loading SOLT calibrations: the dialogs, the all-or-nothing load into the store and
// the health report of what was loaded.
#include "panel/solt_io.h"

#include "files/file_io.h"
#include "files/solt_file.h"
#include "freqdomain/solt.h"
#include "freqdomain/solt_check.h"
#include "instrument/driver.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/solt_guide.h"
#include "platform/log.h"
#include "platform/popups.h"

#include <memory>

namespace {

// A calibration file is about 1.3 MB; anything far larger is not one.
constexpr std::size_t kMaxFileBytes = 16u << 20;

int resolveType(int type) {
    if (type == 0 || type == 1) return type;
    return getMode() == Mode::TDT ? 1 : 0;
}

bool chooseFile(int type, bool save, std::string& path) {
    const std::string folder = panelState.defaultSaveCAL.exchange(0) == 1 ? "calibrations" : "";
    const char* spec = type == 0 ? (save ? ".s11" : "*.s11") : (save ? ".s21" : "*.s21");
    const char* list = type == 0 ? "S11 SOLT Calibration (*.s11)" : "S21 SOLT Calibration (*.s21)";
    const char* title = save ? "Select File to Save" : "Select File to Retrieve";
    return platform::FileSelectPopup(folder, spec, list, title, save, path) !=
           platform::VAL_NO_FILE_SELECTED;
}

// A loaded calibration is kept whatever it holds; what looks wrong is only reported, a few
// lines at most so that a file of another model does not flood the log.
void reportHealth(int type) {
    constexpr std::size_t kMaxReported = 6;
    const std::vector<SoltFinding> findings =
        checkCalibration(type, solt.store, instrument.channels);
    for (std::size_t i = 0; i < findings.size() && i < kMaxReported; ++i)
        writeMessage(0,
                     "Calibration check: " +
                         describeFinding(findings[i], soltSamplerLabel(findings[i].sampler)),
                     0);
    if (findings.size() > kMaxReported)
        writeMessage(0,
                     "Calibration check: " + std::to_string(findings.size() - kMaxReported) +
                         " more standards look wrong.",
                     0);
}

} // namespace

int loadSOLTFile(int type, const std::string& path) {
    type = resolveType(type);
    std::string text;
    std::string error;
    switch (files::readWhole(path, kMaxFileBytes, text)) {
    case files::ReadResult::OpenFailed:
        if (type == 0)
            writeMessage(2092, "Could not open S11 calibration file.", 0);
        else
            writeMessage(2093, "Could not open S21 calibration file.", 0);
        return type == 0 ? -2 : -3;
    case files::ReadResult::CloseFailed:
        writeMessage(2094, "Could not close calibration file.", 0);
        return -4;
    case files::ReadResult::TooLarge:
        error = "it is far larger than any calibration file";
        break;
    case files::ReadResult::ReadFailed:
        error = "it could not be read to its end";
        break;
    case files::ReadResult::Ok:
        parseSOLT(type, text, solt.store, error);
        break;
    }
    if (!error.empty()) {
        const char* kind = type == 0 ? "S11" : "S21";
        writeMessage(type == 0 ? 2095 : 2096,
                     std::string("Could not read ") + kind + " calibration file: " + error +
                         ". The calibration in memory is unchanged.",
                     0);
        return -5;
    }
    writeMessage(0, "SOLT calibration loaded from disk.", 0);
    // The file's records say how they were sampled; the device is then swept the same way.
    const int interleave =
        solt.standard(type == 0 ? Standard::Short : Standard::Through, 0).interleave;
    if (instrument.model[0] != '\0' && interleave < interleaveFor(instrument.speed))
        writeMessage(0,
                     std::string("The ") + (type == 0 ? "S11" : "S21") +
                         " calibration was made with plain sampling: frequency-domain records "
                         "are swept without interleaving, and alias above 3 GHz, until a new "
                         "calibration is made.",
                     0);
    reportHealth(type);
    return 1;
}

int saveSOLTFile(int type, const std::string& path) {
    type = resolveType(type);
    // Written beside the target and renamed over it: a full disk never costs the user the
    // calibration file that was there before.
    switch (files::replaceFile(path, formatSOLT(type, solt.store))) {
    case files::ReplaceStatus::OpenFailed:
        if (type == 0)
            writeMessage(2072, "Could not open S11 calibration file.", 0);
        else
            writeMessage(2074, "Could not open S21 calibration file.", 0);
        return type == 0 ? -2 : -4;
    case files::ReplaceStatus::WriteFailed:
        if (type == 0)
            writeMessage(2073, "Could not write S11 calibration file to disk.", 0);
        else
            writeMessage(2075, "Could not write S21 calibration file to disk.", 0);
        return type == 0 ? -3 : -5;
    case files::ReplaceStatus::CloseFailed:
        writeMessage(2076, "Could not close calibration file.", 0);
        return -6;
    case files::ReplaceStatus::Ok:
        break;
    }
    writeMessage(0, "SOLT calibration completed and saved to disk.", 0);
    return 1;
}

int saveSOLT(int type) {
    type = resolveType(type);
    std::string path;
    if (!chooseFile(type, true, path)) return -1;
    return saveSOLTFile(type, path);
}

int loadSOLT(int type) {
    type = resolveType(type);
    std::string path;
    if (!chooseFile(type, false, path)) return -1;
    return loadSOLTFile(type, path);
}
