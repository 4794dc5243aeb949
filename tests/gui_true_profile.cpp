// The real window on the simulated instrument: "True Impedance Profile" from the Y Units menu
// makes a 75-ohm section behind 30 ohms read 75 ohms on screen.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "platform/panel_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_physics.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;
namespace physics = simulator::physics;
using platform::panel;

namespace {

platform::qt::PanelWindow* gWindow = nullptr;

TEST(TrueProfileWindow, SeventyFiveOhmsBehindThirtyReadSeventyFive) {
    char dir[] = "/tmp/velt_peel_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    testing_support::freshPanel();
    simulator::SimulatedInstrument sim;
    std::string err;
    ASSERT_TRUE(
        sim.loadScenarioText("channel 2: line 30 0.3 2.25 0; line 75 0.3 2.25 0; open", err));
    platform::setSerialDevice(&sim);
    platform::qt::PanelWindow window{panelTable()};
    gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    setDisplayPanel([] { gWindow->show(); });
    QAction* item = window.menuAction(MENUBAR_YUNITS_TRUEPROFILE);
    ASSERT_NE(item, nullptr);

    // Each step waits for a new whole trace, looks at the window and clicks the next item.
    std::vector<bool> enabled;
    std::vector<double> x, plain, peeled;
    std::uint64_t generation = 0;
    std::size_t step = 0;
    const std::vector<std::function<void()>> steps = {
        [&] { window.menuAction(MENUBAR_YUNITS_Y3)->trigger(); }, // what the user clicks
        [&] {
            panel().plotData(panelState.livePlot.load(), x, plain);
            item->trigger();
        },
        [&] { panel().plotData(panelState.livePlot.load(), x, peeled); }};
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const int handle = panelState.livePlot.load();
        if (step < steps.size() && handle != 0 && panel().plotCount(handle) == 1024 &&
            panel().snapshot().graph.plotGeneration > generation) {
            enabled.push_back(item->isEnabled());
            generation = panel().snapshot().graph.plotGeneration;
            steps[step++]();
        }
        if (step == steps.size() || clock.elapsed() > 20000) {
            poll.stop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });
    EXPECT_EQ(veltMain(), 0);

    ASSERT_EQ(step, steps.size()) << "no peeled trace";
    EXPECT_EQ(enabled, (std::vector<bool>{false, true, true})) << "dimmed in mV, not in ohms";
    EXPECT_TRUE(item->isChecked());
    // The 75-ohm section starts 0.6 m of round trip behind the front connector, which lies one
    // internal round trip after the incident edge. Keep off both its edges.
    const double connector =
        (2 * (physics::internalDelay(2) + physics::kConnectorDelay) +
         instrument.timing.edgeIdx * instrument.timing.calIncrement * physics::kFineStep) *
        physics::kLightSpeed / 1.5;
    const double truth = sim.impedanceProfile(2).at(2).ohms;
    int n = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i] < connector + 0.68 || x[i] > connector + 1.12) continue;
        EXPECT_NEAR(peeled[i], truth, 0.5) << "x " << x[i];
        EXPECT_LT(plain[i], truth - 5) << "x " << x[i];
        ++n;
    }
    EXPECT_GT(n, 100);

    setDisplayPanel(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    fs::current_path(previous);
    fs::remove_all(dir);
}

} // namespace
