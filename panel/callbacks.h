// Every callback of the panel and the menu bar. Control callbacks act on the commit event only.
// onExit and onPanel are the shutdown path and live in app/startup.cpp.
#pragma once

// A callback reads what it needs of its arguments; the rest are there for the table's signature.
#define VELT_CTRL_CB(name)                                                                         \
    int name([[maybe_unused]] int panel, [[maybe_unused]] int control, [[maybe_unused]] int event, \
             [[maybe_unused]] void* callbackData, [[maybe_unused]] int eventData1,                 \
             [[maybe_unused]] int eventData2)
#define VELT_MENU_CB(name)                                                                         \
    void name([[maybe_unused]] int menuBar, [[maybe_unused]] int menuItem,                         \
              [[maybe_unused]] void* callbackData, [[maybe_unused]] int panel)

VELT_CTRL_CB(onSetAutoAcquire);
VELT_CTRL_CB(onAcquire);
VELT_CTRL_CB(onGeneric);
VELT_CTRL_CB(onSetAutoscale);
VELT_CTRL_CB(onSetDiel);
VELT_CTRL_CB(onSetDiff);
VELT_CTRL_CB(onSetFilter);
VELT_CTRL_CB(onSetFilterWidth);
VELT_CTRL_CB(onSetWindow);
VELT_CTRL_CB(onSetStimulus);
VELT_CTRL_CB(onSetSampler);
VELT_CTRL_CB(onZoom);
VELT_CTRL_CB(onResetZoom);
VELT_CTRL_CB(onWaveform);
VELT_CTRL_CB(onDebug);

VELT_MENU_CB(onPrint);
VELT_MENU_CB(onSaveCSV);
VELT_MENU_CB(onSaveTouchstone);
VELT_MENU_CB(onOpenTouchstone);
VELT_MENU_CB(onReferenceTraces);
VELT_MENU_CB(onSavePNG);
VELT_MENU_CB(onStoreWaveform);
VELT_MENU_CB(onRecallWaveform);
VELT_MENU_CB(onClearWaveform);
VELT_MENU_CB(onSaveSettings);
VELT_MENU_CB(onLoadSettings);
VELT_MENU_CB(onResetSettings);
VELT_MENU_CB(onRemoteControl);
VELT_MENU_CB(onEyeDiagram); // opens the eye window the program installs (panel/eye_view.h)
VELT_MENU_CB(onStatistics); // opens the statistics window the program installs
// What starts (true) or stops (false) the remote-control server, installed by the program: it
// returns whether the server listens afterwards. Without one the menu item does nothing.
using RemoteSwitch = bool (*)(bool on);
void setRemoteSwitch(RemoteSwitch sw);
VELT_MENU_CB(onExit);
VELT_MENU_CB(onSetDomainTime);
VELT_MENU_CB(onSetDomainFreq);
VELT_MENU_CB(onSetColorDark);
VELT_MENU_CB(onSetColorLight);
VELT_MENU_CB(onSetXUnits); // the item chosen says which unit
VELT_MENU_CB(onSetYUnits);
VELT_MENU_CB(onSetTrueProfile);
VELT_MENU_CB(onSetZoneLimits);
VELT_MENU_CB(onSetZero);
VELT_MENU_CB(onResetZero);
VELT_MENU_CB(onSetCalInt);
VELT_MENU_CB(onSetCalExt);
VELT_MENU_CB(onSOLTCal);
VELT_MENU_CB(onSaveSOLT);
VELT_MENU_CB(onLoadSOLT);
VELT_MENU_CB(onRecalibrate);

int onPanel(int panel, int event, void* callbackData, int eventData1, int eventData2);
