// Start-up, event loop and shutdown.
#include "app/startup.h"

#include "acquisition/acquire.h"
#include "acquisition/filter.h"
#include "files/settings_file.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/callbacks.h"
#include "panel/cycle.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/zoom.h"
#include "platform/async_timer.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <algorithm>
#include <cstdio>
#include <thread>

namespace {
std::atomic<void (*)()> gDisplayPanel{nullptr};
} // namespace

void setDisplayPanel(void (*display)()) {
    gDisplayPanel.store(display);
}

std::string versionLabel(const char* version, const char* modelCode) {
    // Both texts live in 64-byte buffers: at most 63 characters each.
    constexpr std::size_t kMax = 63;
    std::string head = std::string("VELT v") + version;
    head.resize(std::min(head.size(), kMax));
    // Drop the build number ("2.8.0.1" shows as v2.8.0).
    head.resize(head.size() >= 2 ? head.size() - 2 : 0);
    std::string label = head + " / " + modelCode;
    label.resize(std::min(label.size(), kMax));
    return label;
}

int veltMain() {
    shuttingDown.store(false);
    setShutdownHook(shutdown);
    instrument.link.lost.store(false);
    instrument.isInit.store(0);
    startTimer();

    loadInterface();
    // The distances use the dielectric constant the field shows.
    setDiel(-1.0);
    // The log's first line is completed below; a terminal sees it whole.
    std::fputs(platform::panel().text(PANEL_MESSAGE).c_str(), stderr);
    // A resize while the panel is first shown lays out from the design size.
    forgetLayout();
    if (auto display = gDisplayPanel.load()) display();
    rememberLayout();

    for (const char* folder : kDataFolders) createDir(folder, 0);

    if (instrument.open() == -1) {
        platform::MessagePopup("Error #1001", "Could not initialize the TDR device.");
        return 1;
    }
    platform::Delay(1.0);

    countChannels();
    hideChannels();
    setTimebase(0, 1);
    setRisetime(instrument.speed);
    platform::panel().setText(PANEL_VERSION, versionLabel(kVersionString, instrument.model));

    showBusy(std::string("Calibrating ") + samplerLabel(4));
    int calPos = instrument.measureConstants(2, 4, Mode::TDR, kLevelSweeps);
    showBusy(std::string("Calibrating ") + samplerLabel(5));
    int calNeg = instrument.measureConstants(2, 5, Mode::TDR, kLevelSweeps);
    instrument.stimulusPort = stimulusPortCode[2];
    instrument.samplerPort = samplerPortCode[4];
    instrument.sendChannelSetup(instrument.stimulusPort, instrument.samplerPort);
    // The negative line was calibrated last; the first sweeps come from the positive one and
    // must be converted with its own constants.
    instrument.samplActive = 4;
    instrument.polarity = 1;
    // Completes the design-time "> Initializing..." line.
    appendLog(calPos == 1 && calNeg == 1 ? "DONE!\n" : "FAILED!\n");
    stopTimer("INIT", 0);

    showBusy("Restoring the last settings");
    acquire(0);
    loadSettings(1);
    setCalTime();
    showBusy("");
    acquire(1);
    updateWaveform();
    instrument.isInit.store(1);

    platform::asyncTimer().start(0.5, onAsyncTimer);
    int status = platform::RunUserInterface();
    platform::asyncTimer().discard();
    usbftdi_close();
    return status;
}

void shutdown(int status) {
    if (shuttingDown.exchange(true)) return;
    platform::SuspendAsyncTimerCallbacks();
    // The tick never waits for this thread, so waiting for it here cannot deadlock. inTick
    // also covers a tick that has passed the suspension test but not yet set timerLock.
    // Whatever the tick sweeps, a remote client's work included, stops at its next sweep.
    while (getLED() != 0 || tick.timerLock.load() != 0 || platform::asyncTimer().inTick()) {
        stopTickSweeps();
        std::this_thread::yield();
    }
    saveSettings(1);
    platform::QuitUserInterface(status);
}

VELT_MENU_CB(onExit) {
    shutdown();
}

int onPanel(int panel, int event, void* callbackData, int eventData1, int eventData2) {
    (void)panel, (void)callbackData, (void)eventData1, (void)eventData2;
    if (event == EVENT_CLOSE) shutdown();
    if (event == EVENT_PANEL_SIZE) resizeWindow();
    return 0;
}
