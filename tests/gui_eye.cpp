// Display > Eye Diagram... in the real window on the simulated instrument: TDT through a lossy
// through, the eye window opens from the menu, shows a graded eye with its height and width, and
// draws again after the next acquisition.
#include "app/startup.h"
#include "instrument/driver.h"
#include "panel/callbacks.h"
#include "panel/eye_view.h"
#include "panel/interface.h"
#include "panel/ports.h"
#include "panel/reference_traces.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/panel_model.h"
#include "platform/qt/eye_window.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <qcustomplot.h>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;

namespace {

platform::qt::EyeWindow* gEye = nullptr;
LiveEye gService;
void openEye() {
    if (!gEye) gEye = new platform::qt::EyeWindow(gService, testing_support::gWindow);
    gEye->show();
    gEye->redraw();
}

TEST(EyeWindow, OpensFromTheMenuShowsTheEyeAndFollowsTheAcquisitions) {
    char dir[] = "/tmp/velt_eye_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    testing_support::freshPanel();
    simulator::SimulatedInstrument sim;
    std::string error;
    ASSERT_TRUE(sim.loadScenarioText("channel 3: line 50 1.0 2.25 3.0; through", error));
    platform::setSerialDevice(&sim);
    platform::qt::PanelWindow window{panelTable()};
    testing_support::gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    setDisplayPanel(testing_support::showWindow);
    setEyeWindowOpener(openEye);

    int step = 0;
    std::uint64_t generation = 0;
    long redraws = 0;
    std::string figures, reference;
    QComboBox* source = nullptr;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const std::uint64_t now = panel().snapshot().graph.plotGeneration;
        if (step == 0 && instrument.isInit.load() == 1) {
            // What a user sets: TDT from PORT 1, CLK, in mV over 30 ns.
            suspendAndWait();
            for (const auto& item : panel().ringItems(PANEL_STIMULUS))
                if (item.label == "PORT 1, CLK") setStimulus(Mode::TDT, item.value);
            setXUnits(XUnit::Nanoseconds);
            setYUnits(YUnit::Millivolts);
            setXStart(0);
            setXEnd(30);
            setWindow();
            resumeTimer();
            requestAcquire();
            generation = now;
            step = 1;
        } else if (step == 1 && now > generation + 1) {
            window.menuAction(MENUBAR_PLOT_EYE)->trigger();
            ASSERT_NE(gEye, nullptr);
            source = gEye->findChild<QComboBox*>("source");
            figures = gEye->status()->text().toStdString();
            redraws = gEye->redraws();
            generation = now;
            step = 2;
        } else if (step == 2 && gEye->redraws() > redraws) {
            figures = gEye->status()->text().toStdString();
            // An ideal through from a file: 1 ns of delay to 20 GHz.
            std::ofstream f("through.s2p");
            f << "# GHz S MA R 50\n";
            for (int k = 1; k <= 2000; ++k)
                f << k * 0.01 << " 0 0 " << 1 << " " << std::fmod(-360.0 * k * 0.01, 360.0)
                  << " 1 0 0 0\n";
            f.close();
            ASSERT_EQ(addReferenceTrace("through.s2p"), 1);
            step = 3;
        } else if (step == 3 && source->count() == 3) {
            redraws = gEye->redraws();
            source->setCurrentIndex(2);
            step = 4;
        } else if (step == 4 && gEye->redraws() > redraws) {
            reference = gEye->status()->text().toStdString();
            step = 5;
        }
        if (step == 5 || clock.elapsed() > 60000) {
            poll.stop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });
    EXPECT_EQ(veltMain(), 0);

    ASSERT_EQ(step, 5) << "no eye, not drawn again, or no reference: " << figures << reference;
    EXPECT_TRUE(gEye->isVisible());
    EXPECT_EQ(figures.rfind("height ", 0), 0u) << figures;
    EXPECT_NE(figures.find(" mV   width "), std::string::npos) << figures;
    // A graded eye: a colour map of 64 columns (two unit intervals of 32) by 256 levels.
    auto* map = qobject_cast<QCPColorMap*>(gEye->plot()->plottable(0));
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->data()->keySize(), 64);
    EXPECT_EQ(map->data()->valueSize(), 256);
    const double height = std::stod(figures.substr(7));
    EXPECT_GT(height, 10.0) << "an open eye at 5 Gb/s through a metre of cable";
    // The file's ideal through, drawn with the panel's rise time: an open eye whose only ISI is
    // its edge's, so the pattern's eye is the peak-distortion worst case.
    ASSERT_EQ(reference.rfind("height ", 0), 0u) << reference;
    const double through = std::stod(reference.substr(7));
    const double worst = std::stod(reference.substr(reference.find("worst case ") + 11));
    EXPECT_GT(through, 150.0) << reference;
    EXPECT_NEAR(through, worst, 0.5) << reference;
    clearReferenceTraces();

    setEyeWindowOpener(nullptr);
    delete gEye;
    gEye = nullptr;
    setDisplayPanel(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    fs::current_path(previous);
    fs::remove_all(dir);
}

} // namespace
