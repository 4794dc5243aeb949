// The trace is read from the panel model, as the graph draws it: the cycle that made it has
// finished with it, and the window never waits for the timer thread.
#include "panel/eye_view.h"

#include "freqdomain/eye.h"
#include "panel/domain.h"
#include "panel/panel_state.h"
#include "panel/reference_traces.h"
#include "panel/settings.h"
#include "platform/panel_model.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<EyeWindowOpener> gOpener{nullptr};
} // namespace

void setEyeWindowOpener(EyeWindowOpener opener) {
    gOpener.store(opener);
}

void openEyeWindow() {
    if (const EyeWindowOpener open = gOpener.load()) open();
}

std::uint64_t LiveEye::traceGeneration() const {
    return platform::panel().snapshot().graph.plotGeneration;
}

std::vector<std::string> LiveEye::sources() const {
    std::vector<std::string> out = {"Live trace"};
    for (const ReferenceInfo& info : referenceTraces()) out.push_back(info.name);
    return out;
}

platform::EyeView LiveEye::compute(const platform::EyeRequest& r) {
    platform::EyeView v;
    const XUnit xu = view.xUnits.load();
    const YUnit yu = view.yUnits.load();
    if (getMode() != Mode::TDT || domainOf(xu) != Domain::Time ||
        (yu != YUnit::Millivolts && yu != YUnit::Normalized)) {
        v.error = "The eye needs a transmission trace: TDT in mV or Norm.";
        return v;
    }
    std::vector<double> x, y;
    if (r.source == 0) {
        platform::panel().plotData(panelState.livePlot.load(), x, y);
    } else {
        // A reference trace (the S21 of an .s2p in TDT) over the shown window, as it is drawn.
        Waveform rx{}, ry{};
        std::string error;
        if (!referenceProfile(static_cast<std::size_t>(r.source - 1), readSetup(), rx, ry, error)) {
            v.error = error;
            return v;
        }
        x.assign(rx.begin(), rx.end());
        y.assign(ry.begin(), ry.end());
    }
    if (x.size() < 16) {
        v.error = "No trace yet.";
        return v;
    }
    eye::Settings s;
    if (!eye::settingsOf(r, s)) {
        v.error = "The pattern is PRBS7 to PRBS31 or a string of 0 and 1.";
        return v;
    }
    const eye::Eye e =
        eye::compute(eye::stepOfTrace(x.data(), y.data(), x.size(), xu, view.dielK.load()), s);
    if (!e.ok) {
        v.error = e.error;
        return v;
    }
    const std::string unit = yu == YUnit::Millivolts ? "mV" : "Norm";
    v.picture = eye::pictureOf(e, s, unit);
    if (!e.settled)
        v.picture.title = "the pulse response has not settled within the window: widen it";
    v.ok = true;
    // Hits by time (ps from the centre) and level, one row per level bin.
    std::string& csv = v.csv;
    csv = "# eye hit histogram: rows are levels (" + unit + ", bin centres), columns ps\nlevel";
    char buf[48];
    for (int c = 0; c < e.columns; ++c) {
        std::snprintf(buf, sizeof buf, ",%.3f",
                      (c + 0.5) * 2 * e.ui * 1e12 / e.columns - e.ui * 1e12);
        csv += buf;
    }
    csv += "\n";
    const double dv = (e.vHigh - e.vLow) / e.rows;
    for (int r2 = 0; r2 < e.rows; ++r2) {
        std::snprintf(buf, sizeof buf, "%.5g", e.vLow + (r2 + 0.5) * dv);
        csv += buf;
        for (int c = 0; c < e.columns; ++c)
            csv += "," + std::to_string(e.hits[static_cast<std::size_t>(r2) * e.columns + c]);
        csv += "\n";
    }
    return v;
}
