// One acquisition cycle on the panel: the set-up read once, the sweeps, the frequency-domain
// correction, the vertical range and the live trace on the graph.
#include "panel/cycle.h"

#include "acquisition/acquire.h"
#include "freqdomain/sparams.h"
#include "panel/eye_view.h"
#include "panel/panel_state.h"
#include "panel/reference_traces.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/timestamp.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

using platform::panel;

namespace {

// Vertical range of the last cycle, applied to the graph.
double yAxisMax = 500.0;
double yAxisMin = 0.0;

// An "invalid waveform" popup posted from the timer thread and not yet seen.
std::atomic<bool> gInvalidPending{false};

// The timer thread never waits for the screen: its popups are posted, and a popup still
// waiting to be seen is not queued again (a bad device would otherwise stack one per tick).
void notifyUser(std::atomic<bool>& pending, const char* title, const char* text) {
    // Work a remote client left answers its own popups (its error queue takes them).
    if (!onTimerThread() || platform::threadPopupHandler()) {
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

void plotLiveTrace(const Setup& s) {
    const bool frequencyDomain = s.domain() == Domain::Frequency;
    if (panelState.storedPlot.load() == 0) {
        if (yAxisMax > yAxisMin) {
            panel().setXAutoscale();
            panel().setYRange(yAxisMin, yAxisMax);
        } else {
            notifyUser(gInvalidPending, "Error #3031", "Invalid waveform received from device.");
        }
    }
    const int old = panelState.livePlot.exchange(0);
    if (old != 0) {
        panel().setCursorMode(1, 0);
        panel().setCursorMode(2, 0);
        panel().deletePlot(old);
    }
    // Before the live trace, which stays the newest plot: the one the cursors snap to.
    drawReferenceTraces(s);
    int handle = 0;
    if (frequencyDomain) {
        int first = 0, last = 0;
        visibleRange(instrument.recordX, getXStart(), getXEnd(), first, last);
        const auto f = static_cast<std::size_t>(first);
        handle = panel().plotXY(instrument.recordX.data() + f, liveTrace.y.data() + f, last - first,
                                kLiveTraceColor, kLiveTraceStyle, 0);
    } else {
        panel().refreshGraph();
        handle = panel().plotXY(instrument.recordX.data(), liveTrace.y.data(), 1024,
                                kLiveTraceColor, kLiveTraceStyle, 0);
    }
    panelState.livePlot.store(handle);
    platform::Delay(0.1);
    panel().setCursorMode(1, 1);
    panel().setCursorMode(2, 1);
    updateTimestamp();
    updateWaveform();
}

} // namespace

void scaleYAxis(int autoscale) {
    if (autoscale != 1) {
        yAxisMax = getYMax();
        yAxisMin = getYMin();
        return;
    }
    autoscaleRange(liveTrace.y, view.yUnits.load(), yAxisMin, yAxisMax);
    setYMinMax(yAxisMin, yAxisMax);
}

void plotTrace(const Setup& s) {
    scaleYAxis(s.autoscale ? 1 : 0);
    plotLiveTrace(s);
}

int acquire(int plot, Setup* used) {
    setLED(1);
    startTimer();
    const Setup s = readSetup();
    if (used) *used = s;
    const int status = measure(s, instrument, liveTrace);
    if (status == kSweepsStopped) {
        // Stopped for someone who needs the instrument: the trace on screen stays as it was.
        setLED(0);
        return status;
    }
    const bool fd = s.domain() == Domain::Frequency;
    if (fd) {
        solt.correct(s.mode, liveTrace.fd, liveTrace.y);
        frequencyAxis(instrument.increment.load(), instrument.timing.timebase, instrument.recordX);
        if (s.mode == Mode::TDT) keepCorrectedS21(instrument.recordX, solt.result.data());
    }
    scaleYAxis(s.autoscale ? 1 : 0);

    if (plot == 1) plotLiveTrace(s);

    if (fd)
        stopTimer("ACQ_FD", 0);
    else if (s.differential)
        stopTimer("ACQ_DIFF", 0);
    else
        stopTimer("ACQ_SE", 0);
    setLED(0);
    return status;
}
