// The operator station in the real window on the simulated instrument: a scanner types a serial
// and Enter, the banner shows the verdict with the zone's value, the day's count follows, a
// repeated serial is asked about and recorded as a retest, and the certificate is written.
#include "app/options.h"
#include "app/startup.h"
#include "app/station.h"
#include "files/results_db.h"
#include "instrument/driver.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "platform/certificate.h"
#include "platform/popups.h"
#include "platform/qt/certificate_pdf.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/station_bar.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecipe = R"({
  "name": "coupon",
  "measurement": {
    "mode": "TDR", "stimulus": "PORT 1, D2", "sampler": "PORT 1, D2+",
    "x_units": "m", "y_units": "Ohm", "dielectric": 2.25, "zero": 1.53,
    "window": [0, 3], "averaging": 2
  },
  "zones": [ { "name": "trace", "from": 0.3, "to": 1.7, "nominal": 50, "tolerance": 5 } ],
  "outputs": { "folder": "out", "csv": true, "png": false, "pdf": true }
})";

TEST(StationWindow, AScannedSerialIsTestedShownRecordedAndARepeatIsAskedAbout) {
    char dir[] = "/tmp/velt_station_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    std::ofstream("coupon.json") << kRecipe;
    testing_support::freshPanel();
    simulator::SimulatedInstrument sim;
    std::string error;
    ASSERT_TRUE(sim.loadScenarioText("channel 2: line 50 1.0 2.25 0.2; open", error));
    platform::setSerialDevice(&sim);

    const char* argv[] = {"velt",  "--simulate", "--station",  "coupon.json",
                          "--lot", "L-7",        "--operator", "ann"};
    ParseResult parsed = parseOptions(8, argv);
    ASSERT_TRUE(parsed.ok) << parsed.error;
    std::unique_ptr<platform::StationService> station = openStation(parsed.options, &sim, error);
    ASSERT_TRUE(station) << error;
    platform::setCertificateWriter(platform::qt::writeCertificatePdf);

    platform::qt::PanelWindow window{panelTable()};
    testing_support::gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    platform::ScriptedResponder popups;
    platform::setPopupHandler(&popups);
    setDisplayPanel(testing_support::showWindow);
    platform::qt::StationBar bar(&window, *station);
    EXPECT_TRUE(window.locked());
    EXPECT_FALSE(window.menuAction(MENUBAR_FILE)->isVisible()) << "the set-up menus are hidden";

    // The steps a scanner and an operator take, each once the one before has shown.
    std::vector<std::string> banners, counts;
    QElapsedTimer clock;
    clock.start();
    int step = 0;
    const auto scan = [&](const char* serial) {
        QTest::keyClicks(bar.serialField(), serial);
        QTest::keyClick(bar.serialField(), Qt::Key_Return);
        banners.push_back(bar.banner()->text().toStdString());
        counts.push_back(bar.findChild<QLabel*>("counts")->text().toStdString());
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step == 0 && instrument.isInit.load() == 1) {
            step = 1;
            bar.start();
            EXPECT_TRUE(bar.serialField()->hasFocus() || !window.isActiveWindow());
            scan("C-1");
            // The repeat: the question is answered Yes once it shows.
            QTimer answer;
            QObject::connect(&answer, &QTimer::timeout, [&answer] {
                for (QWidget* w : QApplication::topLevelWidgets())
                    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
                        answer.stop();
                        box->button(QMessageBox::Yes)->click();
                    }
            });
            answer.start(10);
            scan("C-1");
            step = 2;
        }
        const std::string status = bar.findChild<QLabel*>("recordStatus")->text().toStdString();
        if ((step == 2 && status.find("recorded in") != std::string::npos) ||
            clock.elapsed() > 60000) {
            poll.stop();
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });
    EXPECT_EQ(veltMain(), 0);

    ASSERT_EQ(banners.size(), 2u) << "the station never became ready";
    EXPECT_EQ(banners[0], "PASS  C-1");
    EXPECT_EQ(banners[1], "PASS  C-1") << "the repeat was not tested";
    EXPECT_EQ(counts,
              (std::vector<std::string>{"Today: 1 passed, 0 failed", "Today: 2 passed, 0 failed"}));
    const std::string zones = bar.findChild<QLabel*>("zones")->text().toStdString();
    EXPECT_EQ(zones.rfind("trace  ", 0), 0u) << zones;
    EXPECT_NE(zones.find(" Ohm  [47.50 to 52.50]  PASS"), std::string::npos) << zones;

    std::unique_ptr<results::Store> store = results::openStore("results.sqlite", error);
    ASSERT_TRUE(store) << error;
    std::vector<results::Record> records;
    store->select(
        {}, [&](const results::Record& r) { records.push_back(r); }, error);
    ASSERT_EQ(records.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const results::Record& r = records[i];
        EXPECT_EQ(r.serial, "C-1");
        EXPECT_EQ(r.lot, "L-7");
        EXPECT_EQ(r.operatorName, "ann");
        EXPECT_EQ(r.source, "station");
        EXPECT_EQ(r.retest, i == 1);
        ASSERT_EQ(r.zones.size(), 1u);
        const auto truth = sim.impedanceProfile(2);
        EXPECT_NEAR(r.zones[0].mean, truth.at(truth.size() - 2).ohms, 0.5); // before the open
        // The certificate, a PDF, beside the report's files.
        std::ifstream pdf(fs::path(r.reportFolder) / "certificate.pdf", std::ios::binary);
        char head[5] = {};
        pdf.read(head, 4);
        EXPECT_STREQ(head, "%PDF") << r.reportFolder;
    }

    bar.modeAction()->trigger();
    EXPECT_FALSE(window.locked()) << "the menu item leaves station mode";
    setDisplayPanel(nullptr);
    platform::setPopupHandler(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    platform::setCertificateWriter(nullptr);
    fs::current_path(previous);
    fs::remove_all(dir);
}

} // namespace
