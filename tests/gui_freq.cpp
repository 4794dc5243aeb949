// The real window on the simulated instrument: "Frequency Domain" from the real menu, a guided
// SOLT calibration whose progress the window shows, and the corrected S11 against the truth.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "freqdomain/solt.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/qt/sim_control_window.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;

namespace {

using testing_support::gWindow;
using testing_support::showWindow;

// The user at the prompts, who also looks at the box over the graph before each answer.
class WatchingUser : public platform::PopupHandler {
  public:
    explicit WatchingUser(simulator::SimulatedInstrument* sim) : hands_(sim) {}
    std::vector<std::string> boxes; // the busy box's text when each prompt came up
    platform::PopupAnswer show(const platform::PopupRequest& r) override {
        if (r.title.rfind("CALIBRATE ", 0) == 0) {
            const auto* box = gWindow->findChild<QLabel*>("busy");
            boxes.push_back(box ? box->text().toStdString() : "");
        }
        return hands_.show(r);
    }

  private:
    simulator::SoltOperator hands_;
};

// The program in a real window on a QSB008 (default scenario, unpaced), in a folder of its own.
class FrequencyWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(tmpl_), nullptr);
        previous_ = fs::current_path();
        fs::current_path(tmpl_);
        testing_support::freshPanel();
        solt.calS11.store(0);
        platform::setSerialDevice(&sim);
        gWindow = &window;
        platform::setEventLoop(&loop);
        setDisplayPanel(showWindow);
    }
    void TearDown() override {
        platform::setPopupHandler(nullptr);
        setDisplayPanel(nullptr);
        platform::setEventLoop(nullptr);
        platform::setSerialDevice(nullptr);
        instrument.channels = 0;
        fs::current_path(previous_);
        fs::remove_all(tmpl_);
    }
    simulator::SimulatedInstrument sim{"QSB008"};
    platform::qt::PanelWindow window{panelTable()};
    platform::qt::QtEventLoop loop;

  private:
    char tmpl_[32] = "/tmp/velt_freq_XXXXXX";
    fs::path previous_;
};

TEST_F(FrequencyWindow, CalibrationFromTheMenuShowsProgressThenCorrectedS11) {
    sim.setNoise(false);
    WatchingUser user(&sim);
    platform::setPopupHandler(&user);

    int phase = 0;
    std::vector<double> x, db;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (phase == 0 && panelState.livePlot.load() != 0) {
            if (instrument.channels == 0)
                instrument.channels = 8; // until model detection fills it in
            // Port 2 CH 2: a 35-ohm dip between two 0.3 m cables into a matched load.
            panel().ringSetValue(PANEL_STIMULUS, 6);
            onSetStimulus(PANEL, PANEL_STIMULUS, EVENT_COMMIT, nullptr, 0, 0);
            window.menuAction(MENUBAR_DOMAIN_FREQ)->trigger(); // what the user clicks
            phase = 1;
        } else if (phase == 1 && panelState.livePlot.load() != 0 &&
                   panel().plotCount(panelState.livePlot) > 300) {
            panel().plotData(panelState.livePlot.load(), x, db);
            phase = 2;
        }
        if (phase == 2 || clock.elapsed() > 60000) {
            poll.stop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });

    EXPECT_EQ(veltMain(), 0);

    ASSERT_EQ(phase, 2) << "no frequency-domain trace";
    // 8 channels: short, open and load on both lines of CH 1 and CH 2 of both ports.
    ASSERT_EQ(user.boxes.size(), 24u);
    EXPECT_EQ(user.boxes[0], "") << "a box before anything was measured";
    // When the eighth prompt comes up, the box still says how the seventh standard ended.
    EXPECT_EQ(user.boxes[7],
              "SOLT calibration: standard 7 of 24, SHORT on PORT 1, CH 2+, sweep 32 of 32");
    EXPECT_FALSE(window.findChild<QLabel*>("busy")->isVisible());
    EXPECT_EQ(panel().xAxisName(), "FREQUENCY (GHz)");
    EXPECT_EQ(panel().yAxisName(), "AMPLITUDE (dB)");
    EXPECT_TRUE(window.menuAction(MENUBAR_DOMAIN_FREQ)->isChecked());

    // The trace against the truth over the shown window (0 to 2.4 GHz on this model).
    std::vector<double> f;
    std::vector<double> shown;
    for (std::size_t i = 1; i < x.size(); ++i)
        if (x[i] <= 3.0) {
            f.push_back(x[i]);
            shown.push_back(db[i]);
        }
    std::vector<std::complex<double>> s11, s21;
    sim.sParametersAt(6, f, s11, s21);
    ASSERT_GT(f.size(), 300u);
    double worst = 0;
    for (std::size_t i = 0; i < f.size(); ++i)
        worst = std::max(worst, std::abs(std::pow(10.0, shown[i] / 20) - std::abs(s11[i])));
    std::printf("[ figure ] worst ||S11| - true| over the trace: %.4f\n", worst);
    EXPECT_LT(worst, 0.01);
}

// A user's whole S11 calibration of a QSB008 by hand: Escape declines the first offer; then at
// each prompt the standard is picked by keyboard in the simulator's own window, then OK.
TEST_F(FrequencyWindow, CalibrationByHandInTheSimulatorsWindow) {
    platform::qt::QtPopupHandler popups;
    popups.setParent(&window);
    platform::setPopupHandler(&popups);
    std::unique_ptr<QWidget> control(createSimulatorControlWindow(sim, &window));
    control->show();
    int offers = 0, standards = 0, ticks = 0, fileDialogs = 0, cancels = 0;
    // Clicked from a timer of its own: a timer does not fire again while its slot runs.
    auto chooseFrequencyDomain = [&] {
        QTimer::singleShot(0, [&] { window.menuAction(MENUBAR_DOMAIN_FREQ)->trigger(); });
    };
    auto press = [](QMessageBox* box, const char* label) {
        for (QAbstractButton* b : box->buttons())
            if (b->text() == label) return b->click();
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (auto* files = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
            return ++fileDialogs, files->reject();
        if (++ticks > 3000) return onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL); // stuck
        if (panelState.livePlot.load() != 0 && offers == 0 && !box) {
            offers = 1;
            return chooseFrequencyDomain();
        }
        if (!box) return;
        const std::string title = box->windowTitle().toStdString(),
                          text = box->text().toStdString();
        if (title == "S11 SOLT CALIBRATION REQUIRED" && offers++ == 1)
            return QTest::keyClick(box, Qt::Key_Escape);
        if (title == "S11 SOLT CALIBRATION REQUIRED") return press(box, "New Calibration");
        if (title == "SOLT CANCELLED" && offers == 2) {
            ++cancels;
            box->accept();
            return chooseFrequencyDomain(); // the user changes their mind
        }
        if (title.rfind("CALIBRATE ", 0) == 0) {
            const int ch = simulator::SoltOperator::channelOf(text.substr(4));
            const int n = text.find("SHORT") != std::string::npos  ? 1
                          : text.find("OPEN") != std::string::npos ? 2
                                                                   : 3; // the choice's index
            auto* combo = control->findChild<QComboBox*>(QStringLiteral("connection%1").arg(ch));
            combo->setFocus();
            QTest::keyClick(control->windowHandle(), Qt::Key_Home);
            for (int i = 0; i < n; ++i) QTest::keyClick(control->windowHandle(), Qt::Key_Down);
            if (combo->currentIndex() != n) return press(box, "Cancel");
            ++standards;
        }
        if (title.rfind("CALIBRATE ", 0) == 0) return press(box, "OK");
        poll.stop();
        box->accept(); // SOLT COMPLETE, or anything unforeseen
        onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
    });
    loop.post([&poll] { poll.start(20); });
    EXPECT_EQ(veltMain(), 0);
    EXPECT_EQ(cancels, 1) << "Escape cancels the offer";
    EXPECT_EQ(fileDialogs, 1) << "Escape is not Load File; the one dialog offers to save";
    EXPECT_EQ(standards, 24) << "each standard picked in the control window, none refused";
    EXPECT_EQ(checkSOLT(0), 1);
}

} // namespace
