// The SOLT procedure. Runs guarded on the GUI thread: the tick is suspended, so overriding the
// shared window for the duration is safe.
#include "panel/solt_guide.h"

#include "acquisition/acquire.h"
#include "freqdomain/solt.h"
#include "freqdomain/solt_check.h"
#include "freqdomain/sparams.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/solt_io.h"
#include "panel/timer.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <array>
#include <cstdio>

using platform::panel;

namespace {

constexpr int kStandardSweeps = 32;

// Progress of the run: which standard of how many, and the sweeps of the current one.
int gStandardNo = 0;
int gStandardTotal = 0;
char gProgress[160] = "";

void showProgress(const char* what) {
    char text[256];
    std::snprintf(text, sizeof text, "SOLT calibration: standard %d of %d, %s", gStandardNo,
                  gStandardTotal, what);
    panel().setBusyText(text);
    platform::eventLoop().processEvents();
}

void onSweep(int done, int total) {
    char what[224];
    std::snprintf(what, sizeof what, "%s, sweep %d of %d", gProgress, done, total);
    showProgress(what);
}

// The busy indication over one standard's instrument work.
struct BusySpan {
    BusySpan(const char* standard, const char* label) {
        ++gStandardNo;
        std::snprintf(gProgress, sizeof gProgress, "%s on %s", standard, label);
        char what[224];
        std::snprintf(what, sizeof what, "%s, recalibrating", gProgress);
        showProgress(what);
        instrument.sweepProgress.store(&onSweep);
    }
    ~BusySpan() {
        instrument.sweepProgress.store(nullptr);
        panel().setBusyText("");
    }
    BusySpan(const BusySpan&) = delete;
    BusySpan& operator=(const BusySpan&) = delete;
};

bool prompt(const char* title, const char* text) {
    return platform::GenericMessagePopup(title, text, "OK", "Cancel", "", 1, 2) != 2;
}

// A standard that did not come back must never be stored as if it had: the calibration stops
// and a lost link is handled as in any acquisition.
// A new calibration samples as finely as the model's edge needs.
int acquireStandard(FdRecord& into) {
    const int status =
        acquireFrequencyRecord(instrument, kStandardSweeps, interleaveFor(instrument.speed), into);
    checkWaveform(status);
    return status == 1 ? 1 : -2;
}

int getReflection(Standard standard, int stimulus, int sampler, const char* label, FdRecord& into) {
    char title[64], text[256];
    std::snprintf(title, sizeof title, "CALIBRATE %s", label);
    std::snprintf(text, sizeof text,
                  "Set %s to %s and click OK.\nCalibration may take up to 15 seconds.", label,
                  kStandardNames[index(standard)]);
    if (!prompt(title, text)) return -1;
    {
        BusySpan busy(kStandardNames[index(standard)], label);
        calibrateLine(stimulus, sampler, Mode::TDR, 0, 0);
        if (acquireStandard(into) != 1) return -2;
    }
    return 1;
}

// The five shared display settings a new calibration overrides, restored whatever happens.
struct WindowOverride {
    YUnit yu = view.yUnits.load();
    XUnit xu = view.xUnits.load();
    double xs = view.xStart.load(), xe = view.xEnd.load(), xz = view.xZero.load();
    WindowOverride() {
        view.yUnits.store(kFdYUnit);
        view.xUnits.store(kFdXUnit);
        view.xStart.store(kFdStart);
        view.xEnd.store(kFdEnd);
        view.xZero.store(0.0);
    }
    ~WindowOverride() {
        view.yUnits.store(yu);
        view.xUnits.store(xu);
        view.xStart.store(xs);
        view.xEnd.store(xe);
        view.xZero.store(xz);
    }
    WindowOverride(const WindowOverride&) = delete;
    WindowOverride& operator=(const WindowOverride&) = delete;
};

} // namespace

std::string soltSamplerLabel(int sampler) {
    if (sampler < 0 || sampler > 19) return "";
    // Model detection fills these; before it has run, the stimulus ring has the names.
    const char* detected = samplerLabel(sampler);
    if (detected[0] != '\0') return std::string(detected);
    const int stimulus = sampler / 2;
    const char sign = sampler % 2 == 0 ? '+' : '-';
    for (const auto& item : panel().ringItems(PANEL_STIMULUS))
        if (item.value == stimulus) return item.label + sign;
    // A channel the ring no longer lists (the model lacks it).
    constexpr std::array<int, 5> channelOf = {3, 2, 1, 4, 5};
    char buf[32];
    std::snprintf(buf, sizeof buf, "PORT %d, CH %d%c", stimulus < 5 ? 1 : 2,
                  channelOf[static_cast<std::size_t>(stimulus % 5)], sign);
    return buf;
}

namespace {

// One prompted THROUGH into wfmThrough: 1 acquired, -1 cancelled, -2 its sweep did not come
// back (nothing stored).
int getWfmThrough(int stimulus, int sampler, const char* fromLabel, const char* toLabel) {
    char title[64], text[256];
    std::snprintf(title, sizeof title, "CALIBRATE %s", toLabel);
    std::snprintf(text, sizeof text,
                  "Connect %s in THROUGH to %s and click OK.\nCalibration may take up to 15 "
                  "seconds.",
                  fromLabel, toLabel);
    if (!prompt(title, text)) return -1;
    {
        BusySpan busy("THROUGH", toLabel);
        instrument.measureConstants(stimulus, 2 * stimulus, Mode::TDT);
        platform::Delay(0.5);
        calibrateLine(stimulus, sampler, Mode::TDT, 0, 0);
        if (acquireStandard(solt.wfmThrough) != 1) return -2;
    }
    return 1;
}

enum CheckAnswer { kMeasureAgain = 1, kKeep = 2 };

// After the prompt and the sweeps: what looks wrong and the choice to measure again, keep, or
// cancel the calibration.
int askAboutStandard(const SoltFinding& f, const std::string& label) {
    std::string text = describeFinding(f, label);
    text += f.problem == SoltProblem::Swapped
                ? "\n\nMeasure the SHORT and the OPEN again, or keep them?"
                : "\n\nMeasure it again, or keep it?";
    return platform::GenericMessagePopup("SOLT STANDARD CHECK", text, "Measure Again", "Keep",
                                         "Cancel", 1, 3);
}

// Short, open and load of one line, each checked and copied into its slot as soon as it is
// measured. A swap found at the OPEN takes the line back to its SHORT.
int reflectionLine(int stimulus, int sampler) {
    const std::array<FdRecord*, 3> measured = {&solt.wfmShort, &solt.wfmOpen, &solt.wfmLoad};
    const std::string label = soltSamplerLabel(sampler);
    for (std::size_t i = 0; i < measured.size();) {
        const auto s = static_cast<Standard>(i);
        if (const int r = getReflection(s, stimulus, sampler, label.c_str(), *measured[i]); r != 1)
            return r;
        const SoltFinding f = checkStandard(s, sampler, *measured[i], solt.store);
        if (f.problem != SoltProblem::None) {
            const int answer = askAboutStandard(f, label);
            if (answer != kMeasureAgain && answer != kKeep) return -1;
            if (answer == kMeasureAgain) {
                const std::size_t from = f.problem == SoltProblem::Swapped ? 0 : i;
                gStandardNo -= static_cast<int>(i - from) + 1; // each standard counts once
                i = from;
                continue;
            }
        }
        solt.standard(s, sampler) = *measured[i];
        ++i;
    }
    return 1;
}

int throughLine(int stimulus, int from, int to) {
    const std::string fromLabel = soltSamplerLabel(from);
    const std::string toLabel = soltSamplerLabel(to);
    for (;;) {
        if (const int r = getWfmThrough(stimulus, to, fromLabel.c_str(), toLabel.c_str()); r != 1)
            return r;
        const SoltFinding f = checkStandard(Standard::Through, to, solt.wfmThrough, solt.store);
        if (f.problem == SoltProblem::None) break;
        const int answer = askAboutStandard(f, toLabel);
        if (answer == kKeep) break;
        if (answer != kMeasureAgain) return -1;
        --gStandardNo;
    }
    solt.standard(Standard::Through, to) = solt.wfmThrough;
    return 1;
}

} // namespace

// The prompted sequences: 1 complete, -1 cancelled at a prompt, -2 a sweep did not come back.
static int newS11() {
    gStandardNo = 0;
    gStandardTotal = soltStandardCount(0, instrument.channels);
    for (int port = 0; port < 2; ++port) {
        for (const SoltBlock& b : kBlocks) {
            if (instrument.channels < (port == 0 ? b.minChannels : port2MinChannels(b))) continue;
            const int s = b.stimulus + 5 * port;
            if (const int r = reflectionLine(s, 2 * s); r != 1) return r;
            if (const int r = reflectionLine(s, 2 * s + 1); r != 1) return r;
        }
    }
    return 1;
}

static int newS21() {
    gStandardNo = 0;
    gStandardTotal = soltStandardCount(1, instrument.channels);
    for (const SoltBlock& b : kBlocks) {
        if (instrument.channels < port2MinChannels(b)) continue;
        const int p1 = b.stimulus, p2 = b.stimulus + 5;
        for (int pol = 0; pol < 2; ++pol) {
            if (const int r = throughLine(p1, 2 * p1 + pol, 2 * p2 + pol); r != 1) return r;
            if (const int r = throughLine(p2, 2 * p2 + pol, 2 * p1 + pol); r != 1) return r;
        }
    }
    return 1;
}

int performSOLT(int type) {
    const char* title = nullptr;
    const char* text = nullptr;
    int active = 1; // "Load File"; "Cancel" when a calibration is in force already
    if (type == 0) {
        title = "S11 SOLT CALIBRATION REQUIRED";
        text = "VELT is not currently calibrated for Return Loss (S11) measurements.\n\nDo you "
               "want to load a saved calibration file or perform a new calibration?";
    } else if (type == 1) {
        title = "S21 SOLT CALIBRATION REQUIRED";
        text = "VELT is not currently calibrated for Insertion Loss (S21) measurements.\n\nDo "
               "you want to load a saved calibration file or perform a new calibration?";
    } else {
        type = code(getMode());
        active = 3;
        title = "SOLT CALIBRATION";
        text = "SOLT calibration file already loaded.\n\nDo you want to execute a new SOLT "
               "calibration?";
    }
    const int choice = platform::GenericMessagePopup(title, text, "Load File", "New Calibration",
                                                     "Cancel", active, 3);
    std::atomic<int>& flag = type == 1 ? solt.calS21 : solt.calS11;
    if (choice == 1) {
        const int r = loadSOLT(type);
        if (r == 1) flag.store(1);
        return r;
    }
    if (choice != 2) return -1;

    int r = 0;
    {
        WindowOverride keep;
        r = type == 1 ? newS21() : newS11();
    }
    // The standards were measured through the working records: whatever way the run ended,
    // they must again be the selected line's stored ones.
    solt.select(getSampler());
    if (r != 1) return r;
    flag.store(1);
    if (saveSOLT(type) == -1)
        writeMessage(0,
                     "SOLT completed successfully. Please manually save file to disk if you "
                     "want to use this calibration again.",
                     0);
    platform::MessagePopup("SOLT COMPLETE", "SOLT calibration has been completed. Reconnect DUT "
                                            "to active channel and click OK to continue.");
    return 1;
}
