// One acquisition cycle: driver sweeps into a processed, scaled live trace on the graph.
#include "acquisition/acquire.h"

#include "acquisition/filter.h"
#include "acquisition/peel.h"
#include "acquisition/timer.h"
#include "freqdomain/sparams.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/timestamp.h"
#include "panel/true_profile.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/shutdown.h"

#include <algorithm>
#include <cmath>

using platform::panel;

Waveform wfmDataCombined{};
std::atomic<int> WfmActive{0};
std::atomic<int> WfmStored{0};
std::atomic<bool> linkLost{false};
namespace {

// Vertical range of the last cycle, applied to the graph.
double yAxisMax = 500.0;
double yAxisMin = 0.0;

constexpr std::array<double, 6> kAutoscaleStep = {25, 0.1, 5, 0.1, 25, 5};

std::atomic<bool> gInvalidPending{false};

// The timer thread never waits for the screen: its popups are posted, and a popup still
// waiting to be seen is not queued again (a bad device would otherwise stack one per tick).
void notifyUser(std::atomic<bool>& pending, const char* title, const char* text) {
    if (!onTimerThread()) {
        platform::MessagePopup(title, text);
        return;
    }
    bool expected = false;
    if (!pending.compare_exchange_strong(expected, true)) return;
    platform::eventLoop().post([&pending, title, text] {
        platform::MessagePopup(title, text);
        pending.store(false);
    });
}

bool frequencyDomain() {
    return domainOf(xUnits.load()) == Domain::Frequency;
}

void plotLiveTrace() {
    if (WfmStored.load() == 0) {
        if (yAxisMax > yAxisMin) {
            panel().setXAutoscale();
            panel().setYRange(yAxisMin, yAxisMax);
        } else {
            notifyUser(gInvalidPending, "Error #3031", "Invalid waveform received from device.");
        }
    }
    const int old = WfmActive.exchange(0);
    if (old != 0) {
        panel().setCursorMode(1, 0);
        panel().setCursorMode(2, 0);
        panel().deletePlot(old);
    }
    int handle = 0;
    if (frequencyDomain()) {
        int first = 0, last = 0;
        visibleRange(wfmDataX, getXStart(), getXEnd(), first, last);
        const auto f = static_cast<std::size_t>(first);
        handle = panel().plotXY(wfmDataX.data() + f, wfmDataCombined.data() + f, last - first,
                                kLiveTraceColor, kLiveTraceStyle, 0);
    } else {
        panel().refreshGraph();
        handle = panel().plotXY(wfmDataX.data(), wfmDataCombined.data(), 1024, kLiveTraceColor,
                                kLiveTraceStyle, 0);
    }
    WfmActive.store(handle);
    platform::Delay(0.1);
    panel().setCursorMode(1, 1);
    panel().setCursorMode(2, 1);
    updateTimestamp();
    updateWaveform();
}

} // namespace

void visibleRange(const Waveform& x, double start, double end, int& first, int& last) {
    // The last point counts when it lies inside the window, like every other.
    first = 0;
    while (first < 1024 && !(x[static_cast<std::size_t>(first)] >= start)) ++first;
    last = first;
    while (last < 1024 && !(x[static_cast<std::size_t>(last)] > end)) ++last;
}

void autoscaleRange(const Waveform& data, YUnit unit, double& lo, double& hi) {
    double max = -500.0, min = 500.0;
    for (double v : data) {
        // Infinities come from an uncalibrated port; like NaN they say nothing about the range.
        if (!std::isfinite(v)) continue;
        if (v > max) max = v;
        if (v < min) min = v;
    }
    const double step = kAutoscaleStep[index(unit)];
    lo = std::round(min / step) * step - step;
    hi = std::round(max / step) * step + step;
}

int scaleYAxis(int autoscale) {
    if (autoscale != 1) {
        yAxisMax = getYMax();
        yAxisMin = getYMin();
        return 1;
    }
    autoscaleRange(wfmDataCombined, yUnits.load(), yAxisMin, yAxisMax);
    setYMinMax(yAxisMin, yAxisMax);
    return 1;
}

int checkWaveform(int status) {
    if (status != -1 && status != -2) return 1;
    // One message is enough: the program is on its way out.
    if (linkLost.exchange(true)) return 1;
    const char* title = status == -1 ? "ERROR #3011" : "ERROR #3012";
    const char* text = status == -1 ? "TDR device not initialized."
                                    : "VELT received bad waveform data from device.";
    // Posted from either thread: the cycle that met the fault runs to its end first, and the
    // quit waits until the user has read the box (quitting at once would close it unseen).
    platform::eventLoop().post([title, text] {
        platform::MessagePopup(title, text);
        requestShutdown(kExitLinkLost);
    });
    return 1;
}

int acquire(int plot) {
    setLED(1);
    startTimer();

    const int stimulus = getStimulus();
    const int sampler = getSampler();
    const Mode mode = getMode();
    const int differential = getDiff();
    const int filter = getFilter();
    const int width = getFilterWidth();
    const int averaging = getAveraging();
    const int autoscale = getAutoscale();
    const bool peel = getTrueProfile() && trueProfileApplies(mode, yUnits.load());
    const int positive = (sampler % 2 != 0) ? sampler - 1 : sampler;
    const int negative = positive + 1;

    const bool fd = frequencyDomain();
    if (fd) {
        // Every frequency-domain record is a reflection-coefficient sweep over the fixed window
        // of the SOLT standards. The shared units stay as they are: an unguarded callback may
        // read them meanwhile.
        checkWaveform(acquireFrequencyRecord(averaging));
        wfmDataCombined = wfmDataAvg;
    } else if (yUnits.load() == YUnit::Ohms && differential == 1 && mode == Mode::TDR) {
        VELT_SetChan(stimulus, positive);
        checkWaveform(velt_acquire(averaging));
        wfmDataPos = wfmDataAvg;
        VELT_SetChan(stimulus, negative);
        const int status = velt_acquire(averaging);
        VELT_SetChan(stimulus, positive);
        checkWaveform(status);
        wfmDataNeg = wfmDataAvg;
        // Each line is peeled against its own 50 ohms before the pair is summed.
        if (peel) {
            peelProfile(wfmDataPos);
            peelProfile(wfmDataNeg);
        }
        for (std::size_t i = 0; i < wfmDataCombined.size(); ++i)
            wfmDataCombined[i] = std::min(wfmDataPos[i] + wfmDataNeg[i], kMaxDifferentialOhms);
    } else {
        checkWaveform(velt_acquire(averaging));
        wfmDataCombined = wfmDataAvg;
        if (peel) peelProfile(wfmDataCombined);
    }
    stopTimer("ACQ_DATA", 0);

    if (fd) {
        if (mode == Mode::TDR) // S11
            performS11();
        else
            performS21();
    } else {
        applyFilter(filter == 1 ? width : 0);
    }
    scaleYAxis(autoscale);

    if (plot == 1) plotLiveTrace();

    if (fd)
        stopTimer("ACQ_FD", 0);
    else if (differential == 1)
        stopTimer("ACQ_DIFF", 0);
    else
        stopTimer("ACQ_SE", 0);
    setLED(0);
    return 1;
}
