// Event routing: each callback calls one operation and leaves its request for the next tick.
#include "panel/callbacks.h"

// Not built yet: these callbacks do nothing for now.

VELT_CTRL_CB(onSetAutoAcquire) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onAcquire) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onGeneric) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetAutoscale) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetDiel) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetDiff) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetFilter) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetFilterWidth) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetWindow) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetStimulus) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onSetSampler) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onZoom) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onResetZoom) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onWaveform) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_CTRL_CB(onDebug) {
    (void)panel, (void)control, (void)event, (void)callbackData, (void)eventData1,
        (void)eventData2;
    return 0;
}

VELT_MENU_CB(onPrint) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSaveCSV) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSavePNG) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onStoreWaveform) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onRecallWaveform) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onClearWaveform) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSaveSettings) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onLoadSettings) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onResetSettings) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetDomainTime) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetDomainFreq) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetColorDark) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetColorLight) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetXUnitsM) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetXUnitsFt) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetXUnitsNS) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetXUnitsIn) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetXUnitsGHz) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetYUnitsMV) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetYUnitsNorm) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetYUnitsOhm) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetYUnitsRho) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetYUnitsRaw) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetYUnitsDB) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetZero) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onResetZero) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetCalInt) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSetCalExt) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSOLTCal) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onSaveSOLT) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onLoadSOLT) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }

VELT_MENU_CB(onRecalibrate) { (void)menuBar, (void)menuItem, (void)callbackData, (void)panel; }
