// The real window on the simulated instrument: "True Impedance Profile" from the Y Units menu
// makes a 75-ohm section behind 30 ohms read 75 ohms on screen.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "platform/event_loop.h"
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
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;

namespace {

platform::qt::PanelWindow* gWindow = nullptr;
void showWindow() {
    gWindow->show();
}

TEST(TrueProfileWindow, SeventyFiveOhmsBehindThirtyReadSeventyFive) {
    char tmpl[] = "/tmp/velt_peel_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(tmpl);

    testing_support::freshPanel();
    simulator::SimulatedInstrument sim;
    std::string err;
    ASSERT_TRUE(
        sim.loadScenarioText("channel 2: line 30 0.3 2.25 0; line 75 0.3 2.25 0; open\n", err));
    const double truth = sim.impedanceProfile(2).at(2).ohms;
    platform::setSerialDevice(&sim);
    platform::qt::PanelWindow window;
    gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    setDisplayPanel(showWindow);
    QAction* item = window.menuAction(MENUBAR_YUNITS_TRUEPROFILE);
    ASSERT_NE(item, nullptr);

    int phase = 0;
    bool enabledInMv = true, enabledInOhm = false;
    std::uint64_t generation = 0;
    std::vector<double> x, plain, peeled;
    auto newTrace = [&] {
        const int handle = WfmActive.load();
        return handle != 0 && panel().snapshot().graph.plotGeneration > generation &&
               panel().plotCount(handle) == 1024;
    };
    auto next = [&](QAction* action) {
        generation = panel().snapshot().graph.plotGeneration;
        action->trigger(); // what the user clicks
        ++phase;
    };
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (phase == 0 && newTrace()) {
            enabledInMv = item->isEnabled();
            next(window.menuAction(MENUBAR_YUNITS_Y3));
        } else if (phase == 1 && newTrace()) {
            enabledInOhm = item->isEnabled();
            panel().plotData(WfmActive.load(), x, plain);
            next(item);
        } else if (phase == 2 && newTrace()) {
            panel().plotData(WfmActive.load(), x, peeled);
            phase = 3;
        }
        if (phase == 3 || clock.elapsed() > 20000) {
            poll.stop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });

    EXPECT_EQ(veltMain(), 0);

    ASSERT_EQ(phase, 3) << "no peeled trace";
    EXPECT_FALSE(enabledInMv);
    EXPECT_TRUE(enabledInOhm);
    EXPECT_TRUE(item->isChecked());
    // The front connector lies one internal round trip after the incident edge; the 75-ohm
    // section starts 0.6 m of round trip behind it. Keep off both its edges.
    namespace physics = simulator::physics;
    const double t = 2 * (physics::internalDelay(2) + physics::kConnectorDelay) +
                     edgeIdx * calIncrement * physics::kFineStep;
    const double connector = t * physics::kLightSpeed / 1.5;
    int n = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (x[i] < connector + 0.68 || x[i] > connector + 1.12) continue;
        EXPECT_NEAR(peeled[i], truth, 0.5) << "x " << x[i];
        EXPECT_LT(plain[i], truth - 5) << "x " << x[i]; // what the plain conversion shows
        ++n;
    }
    EXPECT_GT(n, 100);

    setDisplayPanel(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    fs::current_path(previous);
    fs::remove_all(tmpl);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::qt::initApplicationLocale();
    platform::qt::applyTheme(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
