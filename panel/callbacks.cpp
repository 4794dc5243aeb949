// Event routing: each callback calls one operation and leaves its request for the next tick.
#include "panel/callbacks.h"

#include "files/settings_file.h"
#include "files/solt_file.h"
#include "files/touchstone.h"
#include "files/waveform_file.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/colors.h"
#include "panel/domain.h"
#include "panel/export.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "panel/solt_guide.h"
#include "panel/solt_io.h"
#include "panel/timer.h"
#include "panel/true_profile.h"
#include "panel/units.h"
#include "panel/waveform_io.h"
#include "panel/zero.h"
#include "panel/zone_stats.h"
#include "panel/zoom.h"

namespace {

// The guarded pattern: no tick runs and the instrument is idle for the guard's lifetime.
struct Guarded {
    Guarded() { suspendAndWait(); }
    ~Guarded() { resumeTimer(); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
};

bool committed(int event) {
    return event == EVENT_COMMIT;
}

// The frequency-domain units come only with the frequency domain, and the time-domain ones
// only with the time domain; the domain switch moves both together.
bool fitsDomain(bool frequencyUnit) {
    return frequencyUnit == (domainOf(view.xUnits.load()) == Domain::Frequency);
}

void guardedXUnits(XUnit unit) {
    if (!fitsDomain(domainOf(unit) == Domain::Frequency)) return;
    Guarded g;
    setXUnits(unit);
    requestAcquire();
}

void guardedYUnits(YUnit unit) {
    if (!fitsDomain(unit == YUnit::Decibels)) return;
    Guarded g;
    setYUnits(unit);
    requestAcquire();
}

} // namespace

#define VELT_UNUSED_CTRL_ARGS                                                                      \
    (void)panel, (void)control, (void)callbackData, (void)eventData1, (void)eventData2
#define VELT_UNUSED_MENU_ARGS (void)menuBar, (void)menuItem, (void)callbackData, (void)panel

VELT_CTRL_CB(onSetAutoAcquire) {
    VELT_UNUSED_CTRL_ARGS;
    // The tick follows the toggle by itself.
    if (committed(event)) setAutoAcquire(-1);
    return 0;
}

VELT_CTRL_CB(onAcquire) {
    VELT_UNUSED_CTRL_ARGS;
    if (committed(event)) requestAcquire();
    return 0;
}

VELT_CTRL_CB(onGeneric) {
    VELT_UNUSED_CTRL_ARGS;
    // Averaging and the y range are read from their controls by the next acquisition.
    if (committed(event)) requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetAutoscale) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    setAutoscale(-1);
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetDiel) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    setDiel(-1.0);
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetDiff) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    {
        // Switching differential changes the vertical unit that a running tick converts in.
        Guarded g;
        setDiff(-1);
    }
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetFilter) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    setFilter(-1);
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetFilterWidth) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    setFilterWidth(-1);
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetWindow) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    setWindow();
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetStimulus) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    Guarded g;
    setStimulus(std::nullopt);
    requestRecal();
    return 0;
}

VELT_CTRL_CB(onSetSampler) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    setSampler(-1);
    requestRecal();
    return 0;
}

VELT_CTRL_CB(onZoom) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    zoom();
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onResetZoom) {
    VELT_UNUSED_CTRL_ARGS;
    if (!committed(event)) return 0;
    resetZoom();
    requestAcquire();
    return 0;
}

VELT_CTRL_CB(onWaveform) {
    VELT_UNUSED_CTRL_ARGS;
    if (committed(event)) updateWaveform();
    return 0;
}

VELT_CTRL_CB(onDebug) {
    VELT_UNUSED_CTRL_ARGS;
    (void)event;
    return 0;
}

VELT_MENU_CB(onPrint) {
    VELT_UNUSED_MENU_ARGS;
    Guarded g;
    printWaveform();
}
VELT_MENU_CB(onSaveCSV) {
    VELT_UNUSED_MENU_ARGS;
    Guarded g;
    saveCSV();
}
VELT_MENU_CB(onSaveTouchstone) {
    VELT_UNUSED_MENU_ARGS;
    Guarded g;
    saveTouchstone();
}
VELT_MENU_CB(onSavePNG) {
    VELT_UNUSED_MENU_ARGS;
    Guarded g;
    savePNG();
}

VELT_MENU_CB(onStoreWaveform) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        storeWaveform();
    }
    // Storing takes no new trace; only the periodic recalibration is looked at.
    requestCheck();
}

VELT_MENU_CB(onRecallWaveform) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        recallWaveform();
    }
    requestAcquire();
}
VELT_MENU_CB(onClearWaveform) {
    VELT_UNUSED_MENU_ARGS;
    clearWaveform();
    requestAcquire();
}
VELT_MENU_CB(onSaveSettings) {
    VELT_UNUSED_MENU_ARGS;
    Guarded g;
    saveSettings(0);
}
VELT_MENU_CB(onLoadSettings) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        loadSettings(0);
    }
    requestRecal();
}
VELT_MENU_CB(onResetSettings) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        resetSettings();
    }
    requestRecal();
}
VELT_MENU_CB(onSetDomainTime) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        setDomain(Domain::Time);
    }
    requestRecal();
}
VELT_MENU_CB(onSetDomainFreq) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        setDomain(Domain::Frequency);
    }
    requestRecal();
}
VELT_MENU_CB(onSetColorDark) {
    VELT_UNUSED_MENU_ARGS;
    setColor(1);
}
VELT_MENU_CB(onSetColorLight) {
    VELT_UNUSED_MENU_ARGS;
    setColor(0);
}

VELT_MENU_CB(onSetXUnitsM) {
    VELT_UNUSED_MENU_ARGS;
    guardedXUnits(XUnit::Metres);
}
VELT_MENU_CB(onSetXUnitsFt) {
    VELT_UNUSED_MENU_ARGS;
    guardedXUnits(XUnit::Feet);
}
VELT_MENU_CB(onSetXUnitsNS) {
    VELT_UNUSED_MENU_ARGS;
    guardedXUnits(XUnit::Nanoseconds);
}
VELT_MENU_CB(onSetXUnitsIn) {
    VELT_UNUSED_MENU_ARGS;
    guardedXUnits(XUnit::Inches);
}
VELT_MENU_CB(onSetXUnitsGHz) {
    VELT_UNUSED_MENU_ARGS;
    guardedXUnits(XUnit::GHz);
}

VELT_MENU_CB(onSetYUnitsMV) {
    VELT_UNUSED_MENU_ARGS;
    guardedYUnits(YUnit::Millivolts);
}
VELT_MENU_CB(onSetYUnitsNorm) {
    VELT_UNUSED_MENU_ARGS;
    guardedYUnits(YUnit::Normalized);
}
VELT_MENU_CB(onSetYUnitsOhm) {
    VELT_UNUSED_MENU_ARGS;
    guardedYUnits(YUnit::Ohms);
}
VELT_MENU_CB(onSetYUnitsRho) {
    VELT_UNUSED_MENU_ARGS;
    guardedYUnits(YUnit::Rho);
}
VELT_MENU_CB(onSetYUnitsRaw) {
    VELT_UNUSED_MENU_ARGS;
    guardedYUnits(YUnit::Raw);
}
VELT_MENU_CB(onSetYUnitsDB) {
    VELT_UNUSED_MENU_ARGS;
    guardedYUnits(YUnit::Decibels);
}
VELT_MENU_CB(onSetTrueProfile) {
    VELT_UNUSED_MENU_ARGS;
    // Read by the next acquisition; nothing the tick uses is rebuilt, so no guard.
    toggleTrueProfile();
    requestAcquire();
}
VELT_MENU_CB(onSetZoneLimits) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        askZoneLimits();
    }
    updateWaveform();
}

VELT_MENU_CB(onSetZero) {
    VELT_UNUSED_MENU_ARGS;
    {
        // Asks the user, then sweeps the instrument itself.
        Guarded g;
        setZero(-1.0);
    }
    requestAcquire();
}
VELT_MENU_CB(onResetZero) {
    VELT_UNUSED_MENU_ARGS;
    setZero(0.0);
    requestAcquire();
}

VELT_MENU_CB(onSetCalInt) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        setCalMode(0);
    }
    requestRecal();
}

VELT_MENU_CB(onSetCalExt) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        setCalMode(1);
    }
    requestRecal();
}

VELT_MENU_CB(onSOLTCal) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        if (performSOLT(-1) > 0) populateSOLT(getSampler());
    }
    // A new calibration leaves the instrument on the line of its last standard: select the
    // chosen one again before the next trace.
    requestRecal();
}
VELT_MENU_CB(onSaveSOLT) {
    VELT_UNUSED_MENU_ARGS;
    Guarded g;
    saveSOLT(-1);
}
VELT_MENU_CB(onLoadSOLT) {
    VELT_UNUSED_MENU_ARGS;
    {
        Guarded g;
        if (loadSOLT(-1) == 1) populateSOLT(getSampler());
    }
    requestAcquire();
}

VELT_MENU_CB(onRecalibrate) {
    VELT_UNUSED_MENU_ARGS;
    requestForced();
}
