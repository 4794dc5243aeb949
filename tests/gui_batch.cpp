// A batch run with the window the program gives it (never shown, offscreen): the CSV and the
// PNG are the File menu's own exports, and the picture is the measured panel.
#include "app/batch.h"
#include "app/options.h"
#include "panel/interface.h"
#include "platform/async_timer.h"
#include "platform/panel_image.h"
#include "platform/qt/panel_imager.h"
#include "platform/qt/view.h"
#include "tests/support/test_support.h"

#include <QImage>
#include <QMenuBar>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecipe = R"({
  "name": "cable",
  "instrument": { "simulate": true, "model": "QSB020", "dut": "cable.dut" },
  "measurement": {
    "mode": "TDR", "stimulus": "PORT 1, D2", "sampler": "PORT 1, D2+", "x_units": "m",
    "y_units": "Ohm", "zero": "open", "window": [0, 3], "averaging": 2
  },
  "zones": [ { "name": "cable", "from": 0.3, "to": 1.7, "nominal": 50, "tolerance": 5 } ],
  "outputs": { "folder": "out", "csv": true, "png": true }
})";

TEST(BatchWindow, WritesTheMenusCsvAndAPictureOfTheMeasuredPanel) {
    char tmpl[] = "/tmp/velt_gbatch_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(tmpl);
    testing_support::freshPanel();
    platform::asyncTimer().resume();
    std::ofstream("cable.dut") << "channel 2: line 50 1.0 2.25 0; open\n";
    std::ofstream("cable.json") << kRecipe;

    int status = -1;
    {
        platform::qt::PanelWindow window{panelTable()};
        window.resize(1280, 720 + window.menuBar()->sizeHint().height());
        platform::qt::QtPanelImager imager(&window);
        imager.setRefreshBeforeCapture(true);
        platform::setPanelImager(&imager);
        const char* args[] = {"velt", "measure", "cable.json"};
        ParseResult parsed = parseOptions(3, args);
        ASSERT_TRUE(parsed.ok);
        BatchSetup setup;
        setup.paced = false;
        status = runMeasure(parsed.options, setup);
        platform::setPanelImager(nullptr);
    }
    platform::asyncTimer().discard();
    platform::asyncTimer().resume();

    EXPECT_EQ(status, 0);
    fs::path folder;
    for (const auto& e : fs::directory_iterator("out")) folder = e.path();
    ASSERT_FALSE(folder.empty());

    // The picture: the panel at its design size, the live trace's green drawn on it.
    QImage png(QString::fromStdString((folder / "cable.png").string()));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.width(), 1280);
    EXPECT_EQ(png.height(), 720);
    int traceGreen = 0;
    for (int y = 62; y < 628; ++y)
        for (int x = 0; x < 1000; x += 4)
            traceGreen += png.pixelColor(x, y) == QColor(113, 233, 70);
    EXPECT_GT(traceGreen, 100);

    // The CSV: the unit header, then 1024 points; the zone's mean from it matches the result.
    std::ifstream csv(folder / "cable.csv");
    std::string line;
    std::getline(csv, line);
    EXPECT_EQ(line.rfind("m,Ohm,", 0), 0u) << line;
    int rows = 0, inZone = 0;
    double sum = 0;
    while (std::getline(csv, line)) {
        ++rows;
        std::istringstream in(line);
        in.imbue(std::locale::classic());
        double x = 0, y = 0;
        char comma = 0;
        in >> x >> comma >> y;
        if (x >= 0.3 && x <= 1.7) sum += y, ++inZone;
    }
    EXPECT_EQ(rows, 1024);
    std::ifstream resultFile(folder / "result.json");
    const auto result = nlohmann::json::parse(resultFile);
    ASSERT_GT(inZone, 100);
    EXPECT_NEAR(sum / inZone, result["zones"][0]["mean"].get<double>(), 0.002);
    EXPECT_EQ(result["zones"][0]["points"].get<int>(), inZone);

    fs::current_path(previous);
    fs::remove_all(tmpl);
}

} // namespace
