// The panel and menu-bar definition: every control, menu item and control array in one table.
#include "panel/interface.h"

#include "panel/callbacks.h"
#include "platform/log.h"

using platform::CtrlKind;

namespace {

constexpr RingItemDef kModeItems[] = {{"TDR", 0}, {"TDT", 1}, {"NEXT", 2}, {"FEXT", 3}};
constexpr RingItemDef kDiffItems[] = {{"SINGLE ENDED", 0}, {"DIFFERENTIAL", 1}};
constexpr RingItemDef kStimulusItems[] = {
    {"PORT 1, CH 1", 2}, {"PORT 1, CH 2", 1}, {"PORT 1, CH 3", 0}, {"PORT 1, CH 4", 3},
    {"PORT 1, CH 5", 4}, {"PORT 2, CH 1", 7}, {"PORT 2, CH 2", 6}, {"PORT 2, CH 3", 5},
    {"PORT 2, CH 4", 8}, {"PORT 2, CH 5", 9}};
// The sampler ring is rebuilt from the stimulus at run time; its design items are the default
// pair's two lines.
constexpr RingItemDef kSamplerItems[] = {{"PORT 1, CH 1+", 4}, {"PORT 1, CH 1-", 5}};

constexpr double kBig = 1e300;

// clang-format off
constexpr ControlDef kControls[] = {
 // id, name, kind, label, text, value, precision, integer, min, max, items, callback, geometry
 {PANEL_PANELTOP, "PANEL_PANELTOP", CtrlKind::Decoration, "", "", 0, 0, false, -kBig, kBig, {}, nullptr, 0, 0, 1280, 62},
 {PANEL_MODE, "PANEL_MODE", CtrlKind::Ring, "Mode", "", 0, 0, true, -kBig, kBig, kModeItems, onSetStimulus, 12, 26, 110, 26},
 {PANEL_DIFFERENTIAL, "PANEL_DIFFERENTIAL", CtrlKind::Ring, "Line", "", 0, 0, true, -kBig, kBig, kDiffItems, onSetDiff, 134, 26, 160, 26},
 {PANEL_STIMULUS, "PANEL_STIMULUS", CtrlKind::Ring, "Stimulus / Transmitter", "", 0, 0, true, -kBig, kBig, kStimulusItems, onSetStimulus, 306, 26, 180, 26},
 {PANEL_SAMPLER, "PANEL_SAMPLER", CtrlKind::Ring, "Sampler / Receiver", "", 0, 0, true, -kBig, kBig, kSamplerItems, onSetSampler, 498, 26, 180, 26},
 {PANEL_LED, "PANEL_LED", CtrlKind::Led, "", "", 0, 0, true, 0, 1, {}, nullptr, 696, 31, 18, 18},
 {PANEL_REMOTE, "PANEL_REMOTE", CtrlKind::TextMessage, "", "", 0, 0, false, -kBig, kBig, {}, nullptr, 1030, 6, 240, 20},
 {PANEL_VERSION, "PANEL_VERSION", CtrlKind::TextMessage, "", "VELT vX.x.x / QSxxxx", 0, 0, false, -kBig, kBig, {}, nullptr, 1030, 28, 240, 22},
 {PANEL_WAVEFORM, "PANEL_WAVEFORM", CtrlKind::Graph, "", "", 0, 0, false, -kBig, kBig, {}, onWaveform, 0, 62, 1000, 566},
 {PANEL_AUTOACQUIRE, "PANEL_AUTOACQUIRE", CtrlKind::Toggle, "Auto Acquire", "", 0, 0, true, 0, 1, {}, onSetAutoAcquire, 1010, 72, 125, 30},
 {PANEL_ACQUIRE, "PANEL_ACQUIRE", CtrlKind::Command, "", " ACQUIRE ", 0, 0, false, -kBig, kBig, {}, onAcquire, 1145, 72, 125, 30},
 {PANEL_AVERAGING, "PANEL_AVERAGING", CtrlKind::Numeric, "Waveform Averaging", "", 1, 0, true, 1, 1000, {}, onGeneric, 1010, 128, 125, 24},
 {PANEL_DEBUG, "PANEL_DEBUG", CtrlKind::Command, "", "DEBUG", 0, 0, false, -kBig, kBig, {}, onDebug, 1145, 128, 125, 24},
 {PANEL_AUTOSCALE, "PANEL_AUTOSCALE", CtrlKind::Toggle, "AUTOSCALE Y AXIS", "", 0, 0, true, 0, 1, {}, onSetAutoscale, 1010, 162, 260, 26},
 {PANEL_YMIN, "PANEL_YMIN", CtrlKind::Numeric, "", "", 0.0, 2, false, -1e6, 1e6, {}, onGeneric, 1010, 194, 115, 24},
 {PANEL_YMAX, "PANEL_YMAX", CtrlKind::Numeric, "to", "", 500.0, 2, false, -1e6, 1e6, {}, onGeneric, 1155, 194, 115, 24},
 {PANEL_SERIAL, "PANEL_SERIAL", CtrlKind::String, "Serial:", "", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 240, 260, 24},
 {PANEL_NOTES, "PANEL_NOTES", CtrlKind::TextBox, "Notes:", "", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 286, 260, 52},
 {PANEL_PANELCURSOR, "PANEL_PANELCURSOR", CtrlKind::Decoration, "", "", 0, 0, false, -kBig, kBig, {}, nullptr, 1005, 346, 270, 148},
 {PANEL_C1, "PANEL_C1", CtrlKind::TextMessage, "", " C1 ", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 352, 70, 24},
 {PANEL_CURSOR1, "PANEL_CURSOR1", CtrlKind::String, "", " 0.000 m  |  0.000 mV", 0, 0, false, -kBig, kBig, {}, nullptr, 1082, 352, 188, 24},
 {PANEL_C2, "PANEL_C2", CtrlKind::TextMessage, "", " C2 ", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 380, 70, 24},
 {PANEL_CURSOR2, "PANEL_CURSOR2", CtrlKind::String, "", " 0.000 m  |  0.000 mV", 0, 0, false, -kBig, kBig, {}, nullptr, 1082, 380, 188, 24},
 {PANEL_C3, "PANEL_C3", CtrlKind::TextMessage, "", " X2 - X1 ", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 408, 70, 24},
 {PANEL_DISTANCE, "PANEL_DISTANCE", CtrlKind::String, "", " 0.000 m (roundtrip)", 0, 0, false, -kBig, kBig, {}, nullptr, 1082, 408, 188, 24},
 {PANEL_C4, "PANEL_C4", CtrlKind::TextMessage, "", "", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 436, 70, 24},
 {PANEL_ZONE, "PANEL_ZONE", CtrlKind::String, "", " ", 0, 0, false, -kBig, kBig, {}, nullptr, 1082, 436, 188, 24},
 {PANEL_ZONESTATS, "PANEL_ZONESTATS", CtrlKind::String, "", " ", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 464, 260, 24},
 {PANEL_MESSAGE, "PANEL_MESSAGE", CtrlKind::TextBox, "Program Log:", "> Initializing...", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 518, 260, 158},
 {PANEL_TIMESTAMP, "PANEL_TIMESTAMP", CtrlKind::TextMessage, "", "", 0, 0, false, -kBig, kBig, {}, nullptr, 1010, 686, 260, 22},
 {PANEL_PANELBOTTOM, "PANEL_PANELBOTTOM", CtrlKind::Decoration, "", "", 0, 0, false, -kBig, kBig, {}, nullptr, 0, 628, 1000, 92},
 {PANEL_XSTART, "PANEL_XSTART", CtrlKind::Slide, " Start (m)", "", 0.0, 3, false, 0, 15, {}, onSetWindow, 12, 656, 300, 26},
 {PANEL_XEND, "PANEL_XEND", CtrlKind::Slide, " End (m) ", "", 3.0, 3, false, 0, 15, {}, onSetWindow, 324, 656, 440, 26},
 {PANEL_FILTER, "PANEL_FILTER", CtrlKind::Toggle, "Filter Rise Time (ps)", "", 0, 0, true, 0, 1, {}, onSetFilter, 247, 690, 180, 24},
 {PANEL_FILTERWIDTH, "PANEL_FILTERWIDTH", CtrlKind::Numeric, "", "", 200, 0, true, 1, 100000, {}, onSetFilterWidth, 433, 690, 80, 24},
 {PANEL_ZOOM, "PANEL_ZOOM", CtrlKind::Command, "", " ZOOM ", 0, 0, false, -kBig, kBig, {}, onZoom, 537, 690, 90, 24},
 {PANEL_RESETZOOM, "PANEL_RESETZOOM", CtrlKind::Command, "", " RESET ZOOM ", 0, 0, false, -kBig, kBig, {}, onResetZoom, 633, 690, 120, 24},
 {PANEL_DIEL, "PANEL_DIEL", CtrlKind::Numeric, "Dielectric (K)", "", 2.230, 3, false, 1.0, 100.0, {}, onSetDiel, 784, 656, 90, 26},
 {PANEL_VC, "PANEL_VC", CtrlKind::Numeric, " V/C ", "", 0.6696, 4, false, 0, 1, {}, nullptr, 886, 656, 102, 26},
};

constexpr MenuItemDef kMenu[] = {
 {MENUBAR_FILE, 0, "MENUBAR_FILE", "File", false, nullptr},
 {MENUBAR_FILE_PRINT, MENUBAR_FILE, "MENUBAR_FILE_PRINT", "Print", false, onPrint},
 {MENUBAR_FILE_SEPARATOR, MENUBAR_FILE, "MENUBAR_FILE_SEPARATOR", nullptr, false, nullptr},
 {MENUBAR_FILE_SAVECSV, MENUBAR_FILE, "MENUBAR_FILE_SAVECSV", "Save CSV", false, onSaveCSV},
 {MENUBAR_FILE_SAVETOUCHSTONE, MENUBAR_FILE, "MENUBAR_FILE_SAVETOUCHSTONE", "Save Touchstone", false, onSaveTouchstone},
 {MENUBAR_FILE_OPENTOUCHSTONE, MENUBAR_FILE, "MENUBAR_FILE_OPENTOUCHSTONE", "Open Touchstone...", false, onOpenTouchstone},
 {MENUBAR_FILE_SAVEPNG, MENUBAR_FILE, "MENUBAR_FILE_SAVEPNG", "Save PNG", false, onSavePNG},
 {MENUBAR_FILE_SEPARATOR_2, MENUBAR_FILE, "MENUBAR_FILE_SEPARATOR_2", nullptr, false, nullptr},
 {MENUBAR_FILE_STORE, MENUBAR_FILE, "MENUBAR_FILE_STORE", "Store Waveform", false, onStoreWaveform},
 {MENUBAR_FILE_RECALL, MENUBAR_FILE, "MENUBAR_FILE_RECALL", "Recall Waveform", false, onRecallWaveform},
 {MENUBAR_FILE_CLEAR, MENUBAR_FILE, "MENUBAR_FILE_CLEAR", "Clear Waveform", false, onClearWaveform},
 {MENUBAR_FILE_SEPARATOR_8, MENUBAR_FILE, "MENUBAR_FILE_SEPARATOR_8", nullptr, false, nullptr},
 {MENUBAR_FILE_SAVESETTINGS, MENUBAR_FILE, "MENUBAR_FILE_SAVESETTINGS", "Save Settings", false, onSaveSettings},
 {MENUBAR_FILE_LOADSETTINGS, MENUBAR_FILE, "MENUBAR_FILE_LOADSETTINGS", "Load Settings", false, onLoadSettings},
 {MENUBAR_FILE_RESETSETTINGS, MENUBAR_FILE, "MENUBAR_FILE_RESETSETTINGS", "Reset Defaults", false, onResetSettings},
 {MENUBAR_FILE_REMOTE, MENUBAR_FILE, "MENUBAR_FILE_REMOTE", "Remote Control (SCPI)", false, onRemoteControl},
 {MENUBAR_FILE_SEPARATOR_5, MENUBAR_FILE, "MENUBAR_FILE_SEPARATOR_5", nullptr, false, nullptr},
 {MENUBAR_FILE_EXIT, MENUBAR_FILE, "MENUBAR_FILE_EXIT", "Exit Program", false, onExit},
 {MENUBAR_DOMAIN, 0, "MENUBAR_DOMAIN", "Domain", false, nullptr},
 {MENUBAR_DOMAIN_TIME, MENUBAR_DOMAIN, "MENUBAR_DOMAIN_TIME", "Time Domain", true, onSetDomainTime},
 {MENUBAR_DOMAIN_FREQ, MENUBAR_DOMAIN, "MENUBAR_DOMAIN_FREQ", "Frequency Domain", false, onSetDomainFreq},
 {MENUBAR_PLOT, 0, "MENUBAR_PLOT", "Display", false, nullptr},
 {MENUBAR_PLOT_DARK, MENUBAR_PLOT, "MENUBAR_PLOT_DARK", "Dark Background", true, onSetColorDark},
 {MENUBAR_PLOT_LIGHT, MENUBAR_PLOT, "MENUBAR_PLOT_LIGHT", "Light Background", false, onSetColorLight},
 {MENUBAR_PLOT_SEPARATOR_11, MENUBAR_PLOT, "MENUBAR_PLOT_SEPARATOR_11", nullptr, false, nullptr},
 {MENUBAR_PLOT_REFERENCES, MENUBAR_PLOT, "MENUBAR_PLOT_REFERENCES", "Reference Traces...", false, onReferenceTraces},
 {MENUBAR_PLOT_EYE, MENUBAR_PLOT, "MENUBAR_PLOT_EYE", "Eye Diagram...", false, onEyeDiagram},
 {MENUBAR_PLOT_STATISTICS, MENUBAR_PLOT, "MENUBAR_PLOT_STATISTICS", "Statistics...", false, onStatistics},
 {MENUBAR_XUNITS, 0, "MENUBAR_XUNITS", "X Units", false, nullptr},
 {MENUBAR_XUNITS_X1, MENUBAR_XUNITS, "MENUBAR_XUNITS_X1", "Distance (m)", true, onSetXUnits},
 {MENUBAR_XUNITS_X2, MENUBAR_XUNITS, "MENUBAR_XUNITS_X2", "Distance (ft)", false, onSetXUnits},
 {MENUBAR_XUNITS_X3, MENUBAR_XUNITS, "MENUBAR_XUNITS_X3", "Time (ns)", false, onSetXUnits},
 {MENUBAR_XUNITS_SEPARATOR_9, MENUBAR_XUNITS, "MENUBAR_XUNITS_SEPARATOR_9", nullptr, false, nullptr},
 {MENUBAR_XUNITS_X5, MENUBAR_XUNITS, "MENUBAR_XUNITS_X5", "Frequency (GHz)", false, onSetXUnits},
 {MENUBAR_YUNITS, 0, "MENUBAR_YUNITS", "Y Units", false, nullptr},
 {MENUBAR_YUNITS_Y1, MENUBAR_YUNITS, "MENUBAR_YUNITS_Y1", "Voltage (mV)", true, onSetYUnits},
 {MENUBAR_YUNITS_Y2, MENUBAR_YUNITS, "MENUBAR_YUNITS_Y2", "Normalized", false, onSetYUnits},
 {MENUBAR_YUNITS_Y3, MENUBAR_YUNITS, "MENUBAR_YUNITS_Y3", "Impedance (Ohm)", false, onSetYUnits},
 {MENUBAR_YUNITS_Y4, MENUBAR_YUNITS, "MENUBAR_YUNITS_Y4", "Reflect Coeff (Rho)", false, onSetYUnits},
 {MENUBAR_YUNITS_SEPARATOR_7, MENUBAR_YUNITS, "MENUBAR_YUNITS_SEPARATOR_7", nullptr, false, nullptr},
 {MENUBAR_YUNITS_Y6, MENUBAR_YUNITS, "MENUBAR_YUNITS_Y6", "Amplitude (dB)", false, onSetYUnits},
 {MENUBAR_YUNITS_SEPARATOR_10, MENUBAR_YUNITS, "MENUBAR_YUNITS_SEPARATOR_10", nullptr, false, nullptr},
 {MENUBAR_YUNITS_TRUEPROFILE, MENUBAR_YUNITS, "MENUBAR_YUNITS_TRUEPROFILE", "True Impedance Profile", false, onSetTrueProfile},
 {MENUBAR_YUNITS_ZONELIMITS, MENUBAR_YUNITS, "MENUBAR_YUNITS_ZONELIMITS", "Zone Limits...", false, onSetZoneLimits},
 {MENUBAR_CAL, 0, "MENUBAR_CAL", "Calibration", false, nullptr},
 {MENUBAR_CAL_SETZERO, MENUBAR_CAL, "MENUBAR_CAL_SETZERO", "Set Zero", false, onSetZero},
 {MENUBAR_CAL_RESETZERO, MENUBAR_CAL, "MENUBAR_CAL_RESETZERO", "Reset Zero", false, onResetZero},
 {MENUBAR_CAL_SEPARATOR_3, MENUBAR_CAL, "MENUBAR_CAL_SEPARATOR_3", nullptr, false, nullptr},
 {MENUBAR_CAL_INTCAL, MENUBAR_CAL, "MENUBAR_CAL_INTCAL", "Internal Calibration", true, onSetCalInt},
 {MENUBAR_CAL_EXTCAL, MENUBAR_CAL, "MENUBAR_CAL_EXTCAL", "External Calibration", false, onSetCalExt},
 {MENUBAR_CAL_SEPARATOR_6, MENUBAR_CAL, "MENUBAR_CAL_SEPARATOR_6", nullptr, false, nullptr},
 {MENUBAR_CAL_SOLTCAL, MENUBAR_CAL, "MENUBAR_CAL_SOLTCAL", "SOLT Cal", false, onSOLTCal},
 {MENUBAR_CAL_SAVESOLT, MENUBAR_CAL, "MENUBAR_CAL_SAVESOLT", "Save SOLT Cal", false, onSaveSOLT},
 {MENUBAR_CAL_LOADSOLT, MENUBAR_CAL, "MENUBAR_CAL_LOADSOLT", "Load SOLT Cal", false, onLoadSOLT},
 {MENUBAR_CAL_SEPARATOR_4, MENUBAR_CAL, "MENUBAR_CAL_SEPARATOR_4", nullptr, false, nullptr},
 {MENUBAR_CAL_RECALIBRATE, MENUBAR_CAL, "MENUBAR_CAL_RECALIBRATE", "Recalibrate", false, onRecalibrate},
};
// clang-format on

constexpr int kBottomMembers[] = {PANEL_XSTART, PANEL_PANELBOTTOM, PANEL_XEND,   PANEL_TIMESTAMP,
                                  PANEL_DIEL,   PANEL_VC,          PANEL_FILTER, PANEL_FILTERWIDTH,
                                  PANEL_ZOOM,   PANEL_RESETZOOM};
constexpr int kRightMembers[] = {
    PANEL_AVERAGING, PANEL_DEBUG,   PANEL_ACQUIRE,  PANEL_AUTOACQUIRE, PANEL_AUTOSCALE,
    PANEL_YMIN,      PANEL_YMAX,    PANEL_NOTES,    PANEL_SERIAL,      PANEL_TIMESTAMP,
    PANEL_CURSOR1,   PANEL_CURSOR2, PANEL_DISTANCE, PANEL_PANELCURSOR, PANEL_C1,
    PANEL_C2,        PANEL_C3,      PANEL_MESSAGE,  PANEL_C4,          PANEL_ZONE,
    PANEL_ZONESTATS};
constexpr int kTopMembers[] = {PANEL_STIMULUS, PANEL_DIFFERENTIAL, PANEL_MODE,
                               PANEL_PANELTOP, PANEL_VERSION,      PANEL_SAMPLER};
constexpr ControlArrayDef kArrays[] = {
    {BOTTOM, "BOTTOM", kBottomMembers}, {RIGHT, "RIGHT", kRightMembers}, {TOP, "TOP", kTopMembers}};

} // namespace

const PanelTable& panelTable() {
    static constexpr PanelTable table{kPanelTitle,     kPanelWidth, kPanelHeight, kPanelMinWidth,
                                      kPanelMinHeight, PANEL,       MENUBAR,      kControls,
                                      kMenu,           onPanel};
    return table;
}

std::span<const int> controlArrayMembers(int arrayId) {
    for (const auto& a : kArrays)
        if (a.id == arrayId) return a.members;
    return {};
}

void loadInterface() {
    platform::PanelModel& p = platform::panel();
    p.reset();
    p.setPanel(kPanelTitle, kPanelWidth, kPanelHeight, kPanelMinWidth, kPanelMinHeight);
    setLogSink([](const std::string& text) { platform::panel().appendText(PANEL_MESSAGE, text); });
    for (const auto& d : kControls) {
        platform::ControlState c;
        c.id = d.id;
        c.kind = d.kind;
        c.name = d.name;
        c.label = d.label;
        c.text = d.text;
        c.value = d.value;
        c.precision = d.precision;
        c.integer = d.integer;
        c.minValue = d.minValue;
        c.maxValue = d.maxValue;
        for (const auto& item : d.items) c.items.push_back({item.label, item.value});
        c.left = d.left;
        c.top = d.top;
        c.width = d.width;
        c.height = d.height;
        c.labelLeft = d.left;
        c.displayLeft = d.left;
        if (d.id == PANEL_XSTART || d.id == PANEL_XEND)
            c.textBgColor = platform::makeColor(255, 255, 255);
        if (d.id == PANEL_TIMESTAMP) c.textColor = platform::makeColor(76, 157, 47);
        if (d.id == PANEL_PANELCURSOR) c.textBgColor = platform::makeColor(32, 32, 32);
        // The rise-time width means something only with the filter on, which it starts off.
        if (d.id == PANEL_FILTERWIDTH) c.dimmed = true;
        p.addControl(c);
    }
    for (const auto& d : kMenu) {
        platform::MenuItemState m;
        m.id = d.id;
        m.parent = d.parent;
        m.name = d.name;
        m.label = d.label ? d.label : "";
        m.separator = d.label == nullptr;
        m.checked = d.checked;
        // The time-domain arrangement: the frequency-domain units and the SOLT items come
        // with the frequency domain; the true profile waits for ohms (the panel starts in mV).
        for (int dimmed : {MENUBAR_XUNITS_X5, MENUBAR_YUNITS_Y6, MENUBAR_CAL_SOLTCAL,
                           MENUBAR_CAL_SAVESOLT, MENUBAR_CAL_LOADSOLT, MENUBAR_YUNITS_TRUEPROFILE})
            if (d.id == dimmed) m.dimmed = true;
        p.addMenuItem(m);
    }
    // Dark scheme at start: the graph's design colours.
    p.setGraphColors(platform::makeColor(32, 32, 32), platform::makeColor(80, 80, 80),
                     platform::makeColor(255, 255, 255));
    p.setCursorColor(1, platform::makeColor(83, 200, 233));
    p.setCursorColor(2, platform::makeColor(233, 83, 83));
    p.setAxisNames("ROUNDTRIP (m)", "VOLTS (mV)");
    p.setCursorMode(1, 0);
    p.setCursorMode(2, 0);
}
