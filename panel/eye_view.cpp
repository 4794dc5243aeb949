// The trace is read from the panel model, as the graph draws it: the cycle that made it has
// finished with it, and the window never waits for the timer thread.
#include "panel/eye_view.h"

#include "freqdomain/eye.h"
#include "freqdomain/network.h"
#include "instrument/driver.h"
#include "panel/domain.h"
#include "panel/panel_state.h"
#include "panel/reference_traces.h"
#include "panel/settings.h"
#include "panel/zone_stats.h"
#include "platform/panel_model.h"

#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace {
std::atomic<EyeWindowOpener> gOpener{nullptr}, gStatisticsOpener{nullptr};

// The last corrected S21, in fixed buffers: keeping it allocates nothing on the cycle.
struct KeptS21 {
    std::mutex lock;
    bool held = false;
    Waveform ghz{};
    std::array<std::complex<double>, 1024> s21{};
};
KeptS21 kept;

constexpr int kS21Source = 1;

// The kept S21 as a step over the window the user chose for the time domain (the one saved
// on entering the frequency domain while it is shown), in mV of the live step or normalized.
bool s21Profile(double diel, XUnit& xu, YUnit& yu, Waveform& x, Waveform& y, std::string& error) {
    Network n;
    n.ports = 2;
    {
        std::lock_guard hold(kept.lock);
        if (!kept.held) {
            error = "No corrected S21 yet: calibrate a THROUGH (Calibration > SOLT) and show "
                    "TDT in the frequency domain.";
            return false;
        }
        // Bin 0 is DC, which the step response continues to from the band.
        for (std::size_t i = 1; i < kept.ghz.size(); ++i) {
            if (!std::isfinite(kept.s21[i].real()) || !std::isfinite(kept.s21[i].imag())) {
                error = "The corrected S21 has no value at every frequency: calibrate the "
                        "THROUGH on the line in use.";
                return false;
            }
            n.hz.push_back(kept.ghz[i] * 1e9);
            n.s21.push_back(kept.s21[i]);
        }
    }
    n.s11.assign(n.hz.size(), {0.0, 0.0});
    const Setup s = readSetup();
    SweepWindow w = s.window();
    yu = s.yUnit;
    if (s.domain() == Domain::Frequency) {
        w = {panelState.savedXUnits.load(),
             panelState.savedXStart.load(),
             panelState.savedXEnd.load(),
             panelState.savedXZero.load(),
             diel,
             0};
        yu = panelState.savedYUnits.load();
    }
    if (yu != YUnit::Millivolts) yu = YUnit::Normalized;
    xu = w.xUnit;
    StepResponse step;
    return stepResponse(n, Mode::TDT, shownRiseTimePs(instrument.speed, s.filter, s.filterWidthPs),
                        step, error) &&
           profileOver(step, w, yu, x, y, error);
}
} // namespace

void keepCorrectedS21(const Waveform& ghz, const std::complex<double>* s21) {
    std::unique_lock hold(kept.lock, std::try_to_lock);
    if (!hold.owns_lock()) return;
    kept.ghz = ghz;
    std::copy(s21, s21 + kept.s21.size(), kept.s21.begin());
    kept.held = true;
}

void setEyeWindowOpener(EyeWindowOpener opener) {
    gOpener.store(opener);
}

void openEyeWindow() {
    if (const EyeWindowOpener open = gOpener.load()) open();
}

void setStatisticsWindowOpener(EyeWindowOpener opener) {
    gStatisticsOpener.store(opener);
}

void openStatisticsWindow() {
    if (const EyeWindowOpener open = gStatisticsOpener.load()) open();
}

std::uint64_t LiveEye::traceGeneration() const {
    return platform::panel().snapshot().graph.plotGeneration;
}

std::vector<std::string> LiveEye::sources() const {
    std::vector<std::string> out = {"Live trace", "Corrected S21"};
    for (const ReferenceInfo& info : referenceTraces()) out.push_back(info.name);
    return out;
}

platform::EyeView LiveEye::compute(const platform::EyeRequest& r) {
    platform::EyeView v;
    XUnit xu = view.xUnits.load();
    YUnit yu = view.yUnits.load();
    std::vector<double> x, y;
    if (r.source == kS21Source) {
        Waveform sx{}, sy{};
        if (!s21Profile(view.dielK.load(), xu, yu, sx, sy, v.error)) return v;
        x.assign(sx.begin(), sx.end());
        y.assign(sy.begin(), sy.end());
    } else if (getMode() != Mode::TDT || domainOf(xu) != Domain::Time ||
               (yu != YUnit::Millivolts && yu != YUnit::Normalized)) {
        v.error = "The eye needs a transmission trace: TDT in mV or Norm.";
        return v;
    } else if (r.source == 0) {
        platform::panel().plotData(panelState.livePlot.load(), x, y);
    } else {
        // A reference trace (the S21 of an .s2p in TDT) over the shown window, as it is drawn.
        Waveform rx{}, ry{};
        std::string error;
        if (!referenceProfile(static_cast<std::size_t>(r.source - 2), readSetup(), rx, ry, error)) {
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
