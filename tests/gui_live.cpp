// The real window on the simulated instrument: a live trace after start-up, and the unit menu
// turning the next trace into ohms.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
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

using testing_support::gWindow;
using testing_support::showWindow;

int countNear(const std::vector<double>& v, double target, double tolerance) {
    int n = 0;
    for (double y : v) n += std::abs(y - target) < tolerance;
    return n;
}

TEST(LiveWindow, ShowsALiveTraceAndTheImpedanceMenuTurnsItIntoOhms) {
    char tmpl[] = "/tmp/velt_live_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(tmpl);

    testing_support::freshPanel();
    simulator::SimulatedInstrument sim; // default scenario, unpaced
    platform::setSerialDevice(&sim);
    platform::qt::PanelWindow window{panelTable()};
    gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    setDisplayPanel(showWindow);

    // Ground truth of stimulus channel 2: a 50 ohm line, then 75 ohm.
    std::vector<double> sections;
    for (const simulator::ImpedancePoint& p : sim.impedanceProfile(2))
        if (p.ohms < 1000 && (sections.empty() || std::abs(sections.back() - p.ohms) > 1))
            sections.push_back(p.ohms);
    ASSERT_GE(sections.size(), 2u);

    int phase = 0;
    int firstPoints = 0;
    std::uint64_t generationAtSwitch = 0;
    std::vector<double> x, ohms;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const int handle = panelState.livePlot.load();
        if (phase == 0 && handle != 0 && panel().plotCount(handle) == 1024) {
            firstPoints = 1024;
            generationAtSwitch = panel().snapshot().graph.plotGeneration;
            window.menuAction(MENUBAR_YUNITS_Y3)->trigger(); // what the user clicks
            phase = 1;
        } else if (phase == 1 && handle != 0 &&
                   panel().snapshot().graph.plotGeneration > generationAtSwitch &&
                   panel().plotCount(handle) == 1024) {
            panel().plotData(handle, x, ohms);
            phase = 2;
        }
        if (phase == 2 || clock.elapsed() > 20000) {
            poll.stop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });

    EXPECT_EQ(veltMain(), 0);

    EXPECT_EQ(firstPoints, 1024) << "no live trace after start-up";
    ASSERT_EQ(phase, 2) << "no trace after switching to ohms";
    EXPECT_TRUE(panel().menuChecked(MENUBAR_YUNITS_Y3));
    EXPECT_EQ(panel().yAxisName(), "IMPEDANCE (Ohm)");
    // Most of the line is the 50 ohm section; the 75 ohm step shows as a plateau of its own.
    EXPECT_GT(countNear(ohms, sections[0], 4.0), 150) << sections[0];
    EXPECT_GT(countNear(ohms, sections[1], 5.0), 30) << sections[1];
    // The window shows the same trace: the graph has it, with the new axis name.
    EXPECT_EQ(window.windowTitle(), "VELT");

    setDisplayPanel(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    fs::current_path(previous);
    fs::remove_all(tmpl);
}

} // namespace
