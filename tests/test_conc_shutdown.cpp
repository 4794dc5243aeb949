// Shutdown against a running tick: it waits for the tick, then saves and quits exactly once.
#include "app/startup.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<bool> tickStarted{false};
std::atomic<bool> releaseTick{false};
std::atomic<bool> tickFinished{false};
std::atomic<int> ticksAfterShutdown{0};

// Stands in for onAsyncTimer: busy flags up while it "talks to the instrument".
int slowTick() {
    if (shuttingDown.load() && tickFinished.load()) ++ticksAfterShutdown;
    tick.timerLock.store(1);
    setLED(1);
    tickStarted.store(true);
    while (!releaseTick.load()) std::this_thread::yield();
    setLED(0);
    tickFinished.store(true);
    tick.timerLock.store(0);
    return 1;
}

TEST(ShutdownConcurrency, WaitsForTheRunningTickAndStopsFurtherTicks) {
    testing_support::freshPanel();
    platform::setEventLoop(nullptr);
    shuttingDown.store(false);
    platform::asyncTimer().resume();
    platform::asyncTimer().start(0.001, slowTick);
    while (!tickStarted.load()) std::this_thread::yield();

    std::atomic<bool> shutdownDone{false};
    std::thread gui([&] {
        onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        shutdownDone.store(true);
    });
    // Shutdown must not get past the wait while the tick holds the instrument.
    while (!platform::asyncTimer().suspended()) std::this_thread::yield();
    for (int i = 0; i < 1000; ++i) std::this_thread::yield();
    EXPECT_FALSE(shutdownDone.load());
    EXPECT_FALSE(platform::quitRequested());

    releaseTick.store(true);
    gui.join();
    EXPECT_TRUE(tickFinished.load());
    EXPECT_TRUE(platform::quitRequested());
    EXPECT_EQ(getLED(), 0);

    // A second close while quitting returns at once and changes nothing.
    onPanel(PANEL, EVENT_CLOSE, nullptr, 0, 0);
    platform::asyncTimer().discard();
    EXPECT_EQ(ticksAfterShutdown.load(), 0);
    platform::asyncTimer().resume();
}

} // namespace
