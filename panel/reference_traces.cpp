// Reference traces from Touchstone files: held here, drawn by the cycle.
#include "panel/reference_traces.h"

#include "acquisition/peel.h"
#include "files/touchstone.h"
#include "instrument/driver.h"
#include "panel/export.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/zone_stats.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>

using platform::panel;

namespace {

constexpr const char* kOrders =
    "show N, hide N, remove N, zone N (the zone read-outs judge it; zone live goes back), csv N "
    "(Save CSV of it) or clear";

// One colour per trace, none of them the live trace's green or the stored waveform's violet.
constexpr std::array<int, kMaxReferenceTraces> kColors = {
    platform::makeColor(255, 170, 40),  platform::makeColor(80, 200, 255),
    platform::makeColor(255, 240, 90),  platform::makeColor(255, 90, 90),
    platform::makeColor(120, 140, 255), platform::makeColor(230, 230, 230),
    platform::makeColor(60, 220, 180),  platform::makeColor(255, 130, 200)};
constexpr int kReferenceStyle = 3;

struct Reference {
    ReferenceInfo info;
    Network network;
    StepResponse step; // for the last mode and rise time drawn
    int plot = 0;
    std::string said; // the last reason it was not drawn, said once
};

// The GUI thread adds and removes, the cycle draws: one lock for both.
std::mutex lock;
std::vector<Reference> held;

double riseTimeOf(const Setup& s) {
    return shownRiseTimePs(instrument.speed, s.filter, s.filterWidthPs);
}

// The trace's value at x (linear between its points), as a cursor in free mode reads it.
double valueAt(const Waveform& x, const Waveform& y, double at) {
    for (std::size_t i = 1; i < x.size(); ++i)
        if ((x[i - 1] <= at && at <= x[i]) || i + 1 == x.size())
            return x[i] == x[i - 1]
                       ? y[i]
                       : y[i - 1] + (y[i] - y[i - 1]) * (at - x[i - 1]) / (x[i] - x[i - 1]);
    return y[0];
}

void removePlot(Reference& r) {
    if (r.plot != 0) panel().deletePlot(r.plot);
    r.plot = 0;
}

} // namespace

std::string networkSummary(const std::string& name, const Network& n, double dielectric) {
    // The shortest step the band resolves, and the longest time before the circular transform
    // folds later echoes back, in the round-trip distance of the dielectric too.
    const double resolution = 1 / (2 * n.hz.back()), unaliased = unaliasedSeconds(n);
    char text[320];
    std::snprintf(text, sizeof text,
                  "%s: %d port%s, %zu points from %.6g to %.6g GHz, reference %.6g ohm; time "
                  "resolution %.1f ps, unaliased to %.2f ns (%.3f m at K = %.3g)",
                  name.c_str(), n.ports, n.ports == 1 ? "" : "s", n.hz.size(), n.hz.front() * 1e-9,
                  n.hz.back() * 1e-9, n.referenceOhms, resolution * 1e12, unaliased * 1e9,
                  unaliased * 3e8 / std::sqrt(dielectric), dielectric);
    return text;
}

bool networkProfile(const Network& network, StepResponse& cache, const Setup& s, Waveform& x,
                    Waveform& y, std::string& error) {
    if (s.domain() != Domain::Time) {
        error = "shown in the time domain only";
        return false;
    }
    const double rise = riseTimeOf(s);
    if (cache.values.empty() || cache.mode != s.mode || cache.riseTimePs != rise)
        if (!stepResponse(network, s.mode, rise, cache, error)) {
            cache = {};
            return false;
        }
    if (!profileOver(cache, s.window(), s.yUnit, x, y, error)) return false;
    if (s.trueProfile && trueProfileApplies(s.mode, s.yUnit)) peelProfile(y, network.referenceOhms);
    return true;
}

int addReferenceTrace(const std::string& path) {
    Network n;
    std::string error;
    if (!loadTouchstone(path, n, error)) {
        writeMessage(0, "Touchstone refused: " + error + "; nothing was added", 0);
        return -1;
    }
    const std::string name = std::filesystem::path(path).filename().string();
    const std::string summary = networkSummary(name, n, view.dielK.load());
    {
        std::lock_guard hold(lock);
        if (held.size() == kMaxReferenceTraces) {
            writeMessage(0,
                         name + " not added: " + std::to_string(kMaxReferenceTraces) +
                             " reference traces are held already (Display > Reference Traces...)",
                         0);
            return -1;
        }
        // The first colour no trace holds.
        int color = kColors[0];
        for (int c : kColors) {
            bool taken = false;
            for (const Reference& r : held) taken = taken || r.info.color == c;
            if (!taken) {
                color = c;
                break;
            }
        }
        held.push_back({{name, path, true, color}, std::move(n), {}, 0, {}});
    }
    writeMessage(0, summary, 0);
    return 1;
}

int openTouchstone() {
    std::string path;
    if (platform::FileSelectPopup("", "*.s1p;*.s2p", "Touchstone (*.s1p *.s2p *.ts)",
                                  "Open Touchstone", false, path) == platform::VAL_NO_FILE_SELECTED)
        return 0;
    return addReferenceTrace(path);
}

std::vector<ReferenceInfo> referenceTraces() {
    std::lock_guard hold(lock);
    std::vector<ReferenceInfo> out;
    for (const Reference& r : held) out.push_back(r.info);
    return out;
}

void clearReferenceTraces() {
    std::lock_guard hold(lock);
    for (Reference& r : held) removePlot(r);
    held.clear();
    panelState.zoneReference.store(0);
}

bool orderReferenceTraces(const std::string& order, std::string& error) {
    if (order == "clear") {
        clearReferenceTraces();
        return true;
    }
    if (order == "zone live") {
        panelState.zoneReference.store(0);
        return true;
    }
    char verb[16] = "";
    int n = 0;
    char rest = 0;
    std::unique_lock hold(lock);
    const std::string v =
        std::sscanf(order.c_str(), "%15s %d %c", verb, &n, &rest) == 2 ? verb : "";
    if (n < 1 || static_cast<std::size_t>(n) > held.size() ||
        (v != "show" && v != "hide" && v != "remove" && v != "zone" && v != "csv")) {
        error =
            "\"" + order + "\": " + kOrders + " (N from 1 to " + std::to_string(held.size()) + ")";
        return false;
    }
    Reference& r = held[static_cast<std::size_t>(n - 1)];
    const int judged = panelState.zoneReference.load();
    if (v == "zone") {
        panelState.zoneReference.store(n);
        panelState.zonePlot.store(r.plot);
    } else if (v == "remove") {
        removePlot(r);
        held.erase(held.begin() + (n - 1));
        // The zone read-outs keep judging the trace they judged, or go back to the live one.
        panelState.zoneReference.store(judged == n ? 0 : judged > n ? judged - 1 : judged);
    } else if (v != "csv") {
        r.info.shown = v == "show";
        if (!r.info.shown) removePlot(r);
    }
    if (v != "csv") return true;
    // The file dialog is not held under the lock the cycle draws with.
    static Waveform x, y;
    const std::string name = std::filesystem::path(r.info.name).stem().string();
    const bool drawn = networkProfile(r.network, r.step, readSetup(), x, y, error);
    hold.unlock();
    return drawn && saveTraceCSV(x, y, name) >= 0;
}

void manageReferenceTraces() {
    const std::vector<ReferenceInfo> traces = referenceTraces();
    if (traces.empty()) {
        platform::MessagePopup("Reference Traces",
                               "No reference trace is open: File > Open Touchstone... adds one.");
        return;
    }
    // Each shown trace read at the cursors, as the read-outs read the live one.
    double c1 = 0, c2 = 0, ignored = 0;
    panel().cursor(1, c1, ignored);
    panel().cursor(2, c2, ignored);
    const Setup s = readSetup();
    std::string text = "Reference traces:";
    for (std::size_t i = 0; i < traces.size(); ++i) {
        text += "\n" + std::to_string(i + 1) + ". " + traces[i].name;
        Waveform x, y;
        std::string error;
        if (!traces[i].shown || !referenceProfile(i, s, x, y, error)) {
            text += traces[i].shown ? " (not drawn)" : " (hidden)";
            continue;
        }
        char at[96];
        std::snprintf(at, sizeof at, ": C1 %.3f, C2 %.3f", valueAt(x, y, c1), valueAt(x, y, c2));
        text += at;
    }
    if (panelState.zoneReference.load() > 0)
        text +=
            "\nThe zone read-outs judge trace " + std::to_string(panelState.zoneReference.load());
    text += "\n\n" + std::string(kOrders) + ":";
    std::string order;
    if (platform::PromptPopup("Reference Traces", text, order) != 1) return;
    std::string error;
    if (!orderReferenceTraces(order, error)) platform::MessagePopup("Reference Traces", error);
}

bool referenceProfile(std::size_t i, const Setup& s, Waveform& x, Waveform& y, std::string& error) {
    std::lock_guard hold(lock);
    if (i >= held.size()) {
        error = "no reference trace " + std::to_string(i + 1);
        return false;
    }
    return networkProfile(held[i].network, held[i].step, s, x, y, error);
}

void drawReferenceTraces(const Setup& s) {
    static Waveform x, y;
    std::lock_guard hold(lock);
    for (Reference& r : held) {
        removePlot(r);
        if (!r.info.shown) continue;
        std::string error;
        if (!networkProfile(r.network, r.step, s, x, y, error)) {
            if (error != r.said) writeMessage(0, r.info.name + " not drawn: " + error, 0);
            r.said = error;
            continue;
        }
        r.said.clear();
        r.plot = panel().plotXY(x.data(), y.data(), 1024, r.info.color, kReferenceStyle, 0);
        panel().setPlotName(r.plot, r.info.name);
        if (panelState.zoneReference.load() == static_cast<int>(&r - held.data()) + 1)
            panelState.zonePlot.store(r.plot);
    }
}
