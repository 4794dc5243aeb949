// Event routing: each callback calls one operation and leaves its request for the next tick.
#include "panel/callbacks.h"

#include "panel/eye_view.h"

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
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/reference_traces.h"
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
#include "platform/panel_model.h"

#include <atomic>
#include <utility>

namespace {

// The guarded pattern: no tick runs and the instrument is idle for the guard's lifetime.
struct Guarded {
    Guarded() { suspendAndWait(); }
    ~Guarded() { resumeTimer(); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;
};

// The guarded pattern: the change runs while no tick runs and the instrument is idle; what it
// asks of the next tick is asked after the guard.
template <typename Change> void guarded(Change change, void (*request)() = nullptr) {
    {
        Guarded g;
        change();
    }
    if (request) request();
}

bool committed(int event) {
    return event == EVENT_COMMIT;
}

// A control's change on its commit, then its request; unguarded changes touch nothing a
// running tick uses.
template <typename Change> int onCommit(int event, Change change, void (*request)()) {
    if (committed(event)) {
        change();
        request();
    }
    return 0;
}

// The frequency-domain units come only with the frequency domain, and the time-domain ones
// only with the time domain; the domain switch moves both together.
bool fitsDomain(bool frequencyUnit) {
    return frequencyUnit == (domainOf(view.xUnits.load()) == Domain::Frequency);
}

void guardedXUnits(XUnit unit) {
    if (fitsDomain(domainOf(unit) == Domain::Frequency))
        guarded([unit] { setXUnits(unit); }, requestAcquire);
}

// The unit menus' items and the unit each chooses.
constexpr std::pair<int, XUnit> kXUnitItems[] = {{MENUBAR_XUNITS_X1, XUnit::Metres},
                                                 {MENUBAR_XUNITS_X2, XUnit::Feet},
                                                 {MENUBAR_XUNITS_X3, XUnit::Nanoseconds},
                                                 {MENUBAR_XUNITS_X5, XUnit::GHz}};
constexpr std::pair<int, YUnit> kYUnitItems[] = {{MENUBAR_YUNITS_Y1, YUnit::Millivolts},
                                                 {MENUBAR_YUNITS_Y2, YUnit::Normalized},
                                                 {MENUBAR_YUNITS_Y3, YUnit::Ohms},
                                                 {MENUBAR_YUNITS_Y4, YUnit::Rho},
                                                 {MENUBAR_YUNITS_Y6, YUnit::Decibels}};

void guardedYUnits(YUnit unit) {
    if (fitsDomain(unit == YUnit::Decibels)) guarded([unit] { setYUnits(unit); }, requestAcquire);
}

} // namespace

VELT_CTRL_CB(onSetAutoAcquire) {
    // The tick follows the toggle by itself.
    if (committed(event)) setAutoAcquire(-1);
    return 0;
}

VELT_CTRL_CB(onAcquire) {
    if (committed(event)) requestAcquire();
    return 0;
}

VELT_CTRL_CB(onGeneric) {
    // Averaging and the y range are read from their controls by the next acquisition.
    if (committed(event)) requestAcquire();
    return 0;
}

VELT_CTRL_CB(onSetAutoscale) {
    return onCommit(
        event, [] { setAutoscale(-1); }, requestAcquire);
}

VELT_CTRL_CB(onSetDiel) {
    return onCommit(
        event, [] { setDiel(-1.0); }, requestAcquire);
}

VELT_CTRL_CB(onSetDiff) {
    // Switching differential changes the vertical unit that a running tick converts in.
    if (committed(event)) guarded([] { setDiff(-1); }, requestAcquire);
    return 0;
}

VELT_CTRL_CB(onSetFilter) {
    return onCommit(
        event, [] { setFilter(-1); }, requestAcquire);
}

VELT_CTRL_CB(onSetFilterWidth) {
    return onCommit(
        event, [] { setFilterWidth(-1); }, requestAcquire);
}

VELT_CTRL_CB(onSetWindow) {
    return onCommit(
        event, [] { setWindow(); }, requestAcquire);
}

VELT_CTRL_CB(onSetStimulus) {
    if (committed(event)) guarded([] { setStimulus(std::nullopt); }, requestRecal);
    return 0;
}

VELT_CTRL_CB(onSetSampler) {
    return onCommit(
        event, [] { setSampler(-1); }, requestRecal);
}

VELT_CTRL_CB(onZoom) {
    return onCommit(
        event, [] { zoom(); }, requestAcquire);
}

VELT_CTRL_CB(onResetZoom) {
    return onCommit(
        event, [] { resetZoom(); }, requestAcquire);
}

VELT_CTRL_CB(onWaveform) {
    if (committed(event)) updateWaveform();
    return 0;
}

VELT_CTRL_CB(onDebug) {
    return 0;
}

VELT_MENU_CB(onPrint) {
    guarded([] { printWaveform(); });
}
VELT_MENU_CB(onSaveCSV) {
    guarded([] { saveCSV(); });
}
VELT_MENU_CB(onSaveTouchstone) {
    guarded([] { saveTouchstone(); });
}
VELT_MENU_CB(onOpenTouchstone) {
    guarded([] { openTouchstone(); }, requestAcquire);
}
VELT_MENU_CB(onReferenceTraces) {
    guarded([] { manageReferenceTraces(); }, requestAcquire);
}
VELT_MENU_CB(onEyeDiagram) {
    openEyeWindow();
}
VELT_MENU_CB(onStatistics) {
    openStatisticsWindow();
}
VELT_MENU_CB(onSavePNG) {
    guarded([] { savePNG(); });
}

VELT_MENU_CB(onStoreWaveform) {
    // Storing takes no new trace; only the periodic recalibration is looked at.
    guarded([] { storeWaveform(); }, requestCheck);
}

VELT_MENU_CB(onRecallWaveform) {
    guarded([] { recallWaveform(); }, requestAcquire);
}
VELT_MENU_CB(onClearWaveform) {
    clearWaveform();
    requestAcquire();
}
VELT_MENU_CB(onSaveSettings) {
    guarded([] { saveSettings(0); });
}
VELT_MENU_CB(onLoadSettings) {
    guarded([] { loadSettings(0); }, requestRecal);
}
VELT_MENU_CB(onResetSettings) {
    guarded([] { resetSettings(); }, requestRecal);
}

namespace {
std::atomic<RemoteSwitch> gRemoteSwitch{nullptr};
} // namespace

void setRemoteSwitch(RemoteSwitch sw) {
    gRemoteSwitch.store(sw);
}

VELT_MENU_CB(onRemoteControl) {
    if (const RemoteSwitch sw = gRemoteSwitch.load())
        platform::panel().setMenuChecked(MENUBAR_FILE_REMOTE,
                                         sw(!platform::panel().menuChecked(MENUBAR_FILE_REMOTE)));
}
VELT_MENU_CB(onSetDomainTime) {
    guarded([] { setDomain(Domain::Time); }, requestRecal);
}
VELT_MENU_CB(onSetDomainFreq) {
    guarded([] { setDomain(Domain::Frequency); }, requestRecal);
}
VELT_MENU_CB(onSetColorDark) {
    setColor(1);
}
VELT_MENU_CB(onSetColorLight) {
    setColor(0);
}

VELT_MENU_CB(onSetXUnits) {
    for (const auto& [item, unit] : kXUnitItems)
        if (item == menuItem) guardedXUnits(unit);
}
VELT_MENU_CB(onSetYUnits) {
    for (const auto& [item, unit] : kYUnitItems)
        if (item == menuItem) guardedYUnits(unit);
}
VELT_MENU_CB(onSetTrueProfile) {
    // Read by the next acquisition; nothing the tick uses is rebuilt, so no guard.
    toggleTrueProfile();
    requestAcquire();
}
VELT_MENU_CB(onSetZoneLimits) {
    guarded([] { askZoneLimits(); }, [] { updateWaveform(); });
}

VELT_MENU_CB(onSetZero) {
    // Asks the user, then sweeps the instrument itself.
    guarded([] { setZero(-1.0); }, requestAcquire);
}
VELT_MENU_CB(onResetZero) {
    setZero(0.0);
    requestAcquire();
}

VELT_MENU_CB(onSetCalInt) {
    guarded([] { setCalMode(0); }, requestRecal);
}

VELT_MENU_CB(onSetCalExt) {
    guarded([] { setCalMode(1); }, requestRecal);
}

VELT_MENU_CB(onSOLTCal) {
    // A new calibration leaves the instrument on the line of its last standard: select the
    // chosen one again before the next trace.
    guarded(
        [] {
            if (performSOLT(-1) > 0) solt.select(getSampler());
        },
        requestRecal);
}
VELT_MENU_CB(onSaveSOLT) {
    guarded([] { saveSOLT(-1); });
}
VELT_MENU_CB(onLoadSOLT) {
    guarded(
        [] {
            if (loadSOLT(-1) == 1) solt.select(getSampler());
        },
        requestAcquire);
}

VELT_MENU_CB(onRecalibrate) {
    requestForced();
}
