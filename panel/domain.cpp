// The frequency domain is xUnits GHz with yUnits dB; the time-domain window, zero and units
// are kept aside while in it and come back on leaving.
#include "panel/domain.h"
#include "panel/cycle.h"

#include "acquisition/acquire.h"
#include "files/file_io.h"
#include "files/waveform_file.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/solt_guide.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "panel/waveform_io.h"
#include "panel/zero.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <vector>

using platform::panel;

namespace {

// The time-domain mode ring as it was on entering the frequency domain, so that leaving it
// gives back exactly the modes this model offers.
std::vector<platform::RingItem> gTimeModes;

void removeTraces() {
    if (const int active = panelState.livePlot.exchange(0); active != 0) panel().deletePlot(active);
    if (panelState.storedPlot.load() != 0) clearWaveform();
}

void setSoltMenu(bool frequency) {
    panel().setMenuChecked(MENUBAR_DOMAIN_TIME, !frequency);
    panel().setMenuChecked(MENUBAR_DOMAIN_FREQ, frequency);
    panel().setMenuDimmed(MENUBAR_CAL_SETZERO, frequency);
    panel().setMenuDimmed(MENUBAR_CAL_RESETZERO, frequency);
    for (int item : {MENUBAR_CAL_SOLTCAL, MENUBAR_CAL_SAVESOLT, MENUBAR_CAL_LOADSOLT})
        panel().setMenuDimmed(item, !frequency);
}

void toTimeDomain() {
    setXUnits(panelState.savedXUnits.load());
    setYUnits(panelState.savedYUnits.load());
    setZero(panelState.savedXZero.load());

    for (int id : {PANEL_FILTER, PANEL_DIEL, PANEL_VC}) panel().setDimmed(id, false);
    if (getMode() == Mode::TDR) panel().setDimmed(PANEL_DIFFERENTIAL, false);
    if (getFilter() == 1) panel().setDimmed(PANEL_FILTERWIDTH, false);

    const Mode mode = getMode();
    if (!gTimeModes.empty()) {
        panel().ringClear(PANEL_MODE);
        for (const auto& item : gTimeModes)
            panel().ringInsert(PANEL_MODE, -1, item.label, item.value);
        panel().ringSetValue(PANEL_MODE, code(mode));
    }
    // The unit restored was chosen in the mode before S11 or S21; it must suit the mode now.
    applyModeUnits(mode);
    setSoltMenu(false);

    calibrate(-1, -1, 1);
    acquire(1);
    updateWaveform();
}

void toFrequencyDomain() {
    panelState.savedYUnits.store(view.yUnits.load());
    panelState.savedXUnits.store(view.xUnits.load());
    panelState.savedXStart.store(view.xStart.load());
    panelState.savedXEnd.store(view.xEnd.load());
    panelState.savedXZero.store(view.xZero.load());

    // Crosstalk has no frequency-domain counterpart; it is measured as S11 instead.
    const Mode mode = getMode();
    const Mode m = mode == Mode::TDT ? Mode::TDT : Mode::TDR; // S21 or S11
    int r = checkSOLT(code(m));
    if (r != 1) r = performSOLT(code(m));

    if (r <= 0) {
        if (r == -1)
            platform::MessagePopup(
                "SOLT CANCELLED", "SOLT calibration has been cancelled. Reverting to time domain.");
        else
            platform::MessagePopup(
                "SOLT ERROR", "SOLT calibration could not be completed. Reverting to time domain.");
        view.xUnits.store(panelState.savedXUnits.load());
        view.yUnits.store(panelState.savedYUnits.load());
        view.xStart.store(panelState.savedXStart.load());
        view.xEnd.store(panelState.savedXEnd.load());
        view.xZero.store(panelState.savedXZero.load());
        return;
    }

    if (mode != m) setStimulus(m);
    solt.select(getSampler());
    if (const int k = solt.interleave(m); k > 1) {
        // What the finer sampling costs, before the user waits for it.
        const int sweeps = frequencyRecordSweeps(getAveraging(), k);
        std::string text = "Frequency domain: each trace interleaves " + std::to_string(k) +
                           " sweep sets, " + std::to_string(sweeps) + " sweeps at averaging " +
                           std::to_string(getAveraging()) + " (";
        files::appendFixed(text, sweeps * kSweepWireSeconds, 1);
        writeMessage(0, text + " s).", 0);
    }
    setDiff(0);
    for (int id : {PANEL_DIFFERENTIAL, PANEL_FILTER, PANEL_FILTERWIDTH, PANEL_DIEL, PANEL_VC})
        panel().setDimmed(id, true);

    gTimeModes = panel().ringItems(PANEL_MODE);
    panel().ringClear(PANEL_MODE);
    for (const auto& item : gTimeModes) {
        if (item.value == code(Mode::TDR)) panel().ringInsert(PANEL_MODE, -1, "S11", item.value);
        if (item.value == code(Mode::TDT)) panel().ringInsert(PANEL_MODE, -1, "S21", item.value);
    }
    panel().ringSetValue(PANEL_MODE, code(m));
    setSoltMenu(true);

    setZero(0.0);
    setXUnits(XUnit::GHz);
    setYUnits(YUnit::Decibels);
    // A new calibration leaves the instrument on the line of its last standard; the first
    // trace must come from the selected one.
    calibrate(-1, -1, 0);
    acquire(1);
    updateWaveform();
}

} // namespace

void applyDomainDimming() {
    const bool frequency = domainOf(view.xUnits.load()) == Domain::Frequency;
    for (int id : {PANEL_DIFFERENTIAL, PANEL_FILTER, PANEL_DIEL})
        if (frequency) panel().setDimmed(id, true);
    panel().setDimmed(PANEL_FILTERWIDTH, frequency || getFilter() != 1);
    panel().setMenuDimmed(MENUBAR_CAL_SETZERO, frequency);
    panel().setMenuDimmed(MENUBAR_CAL_RESETZERO, frequency);
}

void setDomain(Domain domain) {
    removeTraces();
    const Domain now = domainOf(view.xUnits.load());
    if (domain == Domain::Time && now == Domain::Frequency)
        toTimeDomain();
    else if (domain == Domain::Frequency && now == Domain::Time)
        toFrequencyDomain();
}
