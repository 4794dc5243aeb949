// The real window on the simulated instrument: store a waveform, change the device, recall it
// over the live trace; the PNG is the panel as shown; the printout fills the page in proportion.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "files/touchstone.h"
#include "files/waveform_file.h"
#include "panel/callbacks.h"
#include "panel/export.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/waveform_io.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/qt/panel_imager.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/qt/waveform_graph.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;

namespace {

using testing_support::gWindow;
using testing_support::showWindow;

// Pixels of (about) one colour: the traces are antialiased, their middles are exact.
int pixelsOf(const QImage& image, int rgb) {
    const QColor want(rgb >> 16, (rgb >> 8) & 255, rgb & 255);
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            n += std::abs(c.red() - want.red()) < 12 && std::abs(c.green() - want.green()) < 12 &&
                 std::abs(c.blue() - want.blue()) < 12;
        }
    return n;
}

double largestDifference(const std::vector<double>& a, const std::vector<double>& b) {
    double d = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i)
        d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

// Where the panel lands on a page: the bounding box of what is not paper.
QRect printed(const QImage& page) {
    QRect box;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (page.pixel(x, y) != qRgb(255, 255, 255)) box |= QRect(x, y, 1, 1);
    return box;
}

class FilesWindow : public testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/velt_gui_files_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_ = fs::current_path();
        fs::current_path(dir_);
        testing_support::freshPanel();
        platform::setSerialDevice(&sim_);
        gWindow = &window_;
        platform::setEventLoop(&loop_);
        platform::setPanelImager(&imager_);
        setDisplayPanel(showWindow);
    }
    void TearDown() override {
        setDisplayPanel(nullptr);
        platform::setPanelImager(nullptr);
        platform::setEventLoop(nullptr);
        platform::setSerialDevice(nullptr);
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }
    // Runs the program; step is polled every 20 ms on the GUI thread until it returns true.
    void run(std::function<bool()> step) {
        QElapsedTimer clock;
        clock.start();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (step() || clock.elapsed() > 30000) {
                poll.stop();
                onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
            }
        });
        loop_.post([&poll] { poll.start(20); });
        EXPECT_EQ(veltMain(), 0);
    }
    static bool liveTrace() {
        const int h = panelState.livePlot.load();
        return h != 0 && panel().plotCount(h) == 1024;
    }
    void menu(int id) { window_.menuAction(id)->trigger(); }

    simulator::SimulatedInstrument sim_;
    platform::qt::PanelWindow window_{panelTable()};
    platform::qt::QtEventLoop loop_;
    platform::qt::QtPanelImager imager_{&window_};
    fs::path dir_, previous_;
};

TEST_F(FilesWindow, StoredTraceLiesOverTheLiveOneThePngIsThePanelAsShownAndPrintsToScale) {
    QImage page(600, 900, QImage::Format_RGB32); // portrait: the panel is the wider one
    page.fill(Qt::white);
    imager_.setPrintTarget(&page);
    int phase = 0;
    std::uint64_t generation = 0;
    std::vector<double> x, before, stored, live;
    QImage shown, saved, afterFullDisk;
    run([&] {
        if (phase == 0 && liveTrace()) {
            panel().plotData(panelState.livePlot.load(), x, before);
            platform::defaultResponder().pushFile("reference.velt");
            menu(MENUBAR_FILE_STORE);
            // The device changes: channel 2's cable now ends in a short.
            sim_.setConnection(2, simulator::Connection::Short);
            generation = panel().snapshot().graph.plotGeneration;
            phase = 1;
        } else if (phase == 1 && liveTrace() &&
                   panel().snapshot().graph.plotGeneration > generation + 2) {
            platform::defaultResponder().pushFile("reference.velt");
            menu(MENUBAR_FILE_RECALL);
            phase = 2;
        } else if (phase == 2 && liveTrace() && panelState.storedPlot.load() != 0) {
            panel().plotData(panelState.storedPlot.load(), x, stored);
            panel().plotData(panelState.livePlot.load(), x, live);
            // What the user sees right now, and what Save PNG makes of it.
            window_.refresh();
            window_.graph()->replot(QCustomPlot::rpImmediateRefresh);
            platform::defaultResponder().pushFile("panel.png");
            menu(MENUBAR_FILE_SAVEPNG);
            shown = window_.centralWidget()->grab().toImage();
            saved.load("panel.png");
            // The same picture again onto a full disk: refused, and the first one stays.
            platform::defaultResponder().pushFile("panel.png");
            testing_support::onAFullDisk([&] {
                menu(MENUBAR_FILE_SAVEPNG);
                return 0;
            });
            afterFullDisk.load("panel.png");
            menu(MENUBAR_FILE_PRINT);
            phase = 3;
        }
        return phase == 3;
    });
    ASSERT_EQ(phase, 3);
    // The stored trace is the one stored, in its own colour, beside a live trace that shows
    // the short.
    EXPECT_LT(largestDifference(stored, before), 1e-5);
    EXPECT_GT(largestDifference(live, stored), 50.0);
    EXPECT_EQ(window_.graph()->graphsShown(), 2);

    ASSERT_FALSE(saved.isNull());
    EXPECT_NE(panel().text(PANEL_MESSAGE).find("ERROR #2132"), std::string::npos);
    EXPECT_EQ(afterFullDisk, saved);
    EXPECT_EQ(saved.size(), window_.centralWidget()->size());
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB32),
              shown.convertToFormat(QImage::Format_RGB32));
    EXPECT_GT(pixelsOf(saved, kStoredTraceColor), 200);
    EXPECT_GT(pixelsOf(saved, kLiveTraceColor), 200);

    // The whole panel on the page, as wide as the paper, in proportion, centred.
    const QRect box = printed(page);
    EXPECT_EQ(box.width(), page.width());
    EXPECT_NEAR(static_cast<double>(box.height()) / box.width(),
                static_cast<double>(saved.height()) / saved.width(), 0.01);
    EXPECT_NEAR(box.center().y(), page.height() / 2, 2);
}

// Needs the colour schemes (setColor), which printWaveform calls once they are merged.
TEST_F(FilesWindow, ThePrintoutIsLightWhileThePanelStaysDark) {
    QImage page(900, 600, QImage::Format_RGB32);
    page.fill(Qt::black);
    imager_.setPrintTarget(&page);
    QImage screen;
    run([&] {
        if (!liveTrace()) return false;
        menu(MENUBAR_FILE_PRINT);
        window_.refresh();
        window_.graph()->replot(QCustomPlot::rpImmediateRefresh);
        screen = window_.graph()->grab().toImage();
        return true;
    });
    const int dark = platform::makeColor(32, 32, 32);
    const int white = platform::makeColor(255, 255, 255);
    // Most of the plot area is background: white on paper, dark on screen again afterwards.
    EXPECT_GT(pixelsOf(page, white), page.width() * page.height() / 4);
    EXPECT_GT(pixelsOf(screen, dark), screen.width() * screen.height() / 2);
    EXPECT_TRUE(panel().menuChecked(MENUBAR_PLOT_DARK));
}

// A network analyser's file over the live trace: in the legend by its name, in the units the
// user switches to, and gone when the list is cleared.
TEST_F(FilesWindow, ATouchstoneFileIsAReferenceTraceInTheCurrentUnitsUntilCleared) {
    // A reflection of 0.2 (75 ohm) 10 ns out: 2 m of round trip at K = 2.25.
    std::vector<SParamPoint> points;
    for (int i = 1; i <= 2000; ++i) {
        const auto s11 = std::polar(0.2, -2 * M_PI * i * 0.01 * 10);
        points.push_back({i * 0.01, s11.real(), s11.imag()});
    }
    std::ofstream("board.s1p") << formatTouchstone(1, points, {});
    const auto reference = [] {
        for (const platform::PlotState& p : panel().snapshot().graph.plots)
            if (p.handle != 0 && p.name == "board.s1p") return p;
        return platform::PlotState{};
    };
    int phase = 0;
    platform::PlotState mv, ohms;
    bool legendShown = false;
    run([&] {
        if (phase == 0 && liveTrace()) {
            platform::defaultResponder().pushFile("board.s1p");
            menu(MENUBAR_FILE_OPENTOUCHSTONE);
            phase = 1;
        } else if (phase == 1 && reference().count == 1024) {
            mv = reference();
            window_.refresh();
            legendShown = window_.graph()->legend->visible();
            menu(MENUBAR_YUNITS_Y3);
            phase = 2;
        } else if (phase == 2 && reference().count == 1024 && reference().y[1000] < 100) {
            ohms = reference();
            panel().setCursor(1, 0.5, 0);
            panel().setCursor(2, 1.5, 0);
            platform::defaultResponder().push({1, "zone 1"});
            menu(MENUBAR_PLOT_REFERENCES);
            phase = 3;
        } else if (phase == 3 && panel().text(PANEL_ZONE).rfind("R1 PASS  avg 50.00", 0) == 0) {
            // Its own CSV, then gone with the list.
            for (const char* order : {"csv 1", "clear"}) {
                platform::defaultResponder().push({1, order});
                platform::defaultResponder().pushFile("ref.csv", platform::VAL_NEW_FILE_SELECTED);
                menu(MENUBAR_PLOT_REFERENCES);
            }
            phase = 4;
        } else if (phase == 4 && reference().count == 0 && liveTrace()) {
            window_.refresh();
            phase = 5;
        }
        return phase == 5;
    });
    ASSERT_EQ(phase, 5) << panel().text(PANEL_ZONE);
    const auto shown = platform::defaultResponder().shown();
    EXPECT_NE(shown.back().text.find("1. board.s1p: C1 "), std::string::npos) << shown.back().text;
    std::ifstream csv("ref.csv");
    std::string header, row;
    std::getline(csv, header);
    int rows = 0;
    while (std::getline(csv, row)) ++rows;
    EXPECT_EQ(rows, 1024);
    EXPECT_EQ(header.rfind("m,Ohm,", 0), 0u) << header;
    EXPECT_TRUE(legendShown);
    EXPECT_FALSE(window_.graph()->legend->visible());
    EXPECT_EQ(window_.graph()->graphsShown(), 1);
    EXPECT_NE(panel().text(PANEL_MESSAGE).find("board.s1p: 1 port, 2000 points"),
              std::string::npos);
    for (std::size_t i = 0; i < 1024; ++i) {
        const double x = mv.x[i];
        if (x < 1.9 || x > 2.1) {
            EXPECT_NEAR(mv.y[i], x < 2 ? 250 : 300, 0.5) << x;
            EXPECT_NEAR(ohms.y[i], x < 2 ? 50 : 75, 0.2) << x;
        }
    }
}

} // namespace
