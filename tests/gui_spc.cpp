// `velt spc` on records that `velt measure` wrote, with the real chart writer, and the statistics
// window following the next record as it is stored.
#include "app/batch.h"
#include "app/options.h"
#include "app/spc.h"
#include "platform/async_timer.h"
#include "platform/qt/spc_plot.h"
#include "platform/qt/spc_window.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QSpinBox>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr const char* kRecipe = R"({
  "name": "cable",
  "instrument": { "simulate": true, "model": "QSB020", "dut": "cable.dut" },
  "measurement": {
    "mode": "TDR", "stimulus": "PORT 1, D2", "sampler": "PORT 1, D2+", "x_units": "m",
    "y_units": "Ohm", "dielectric": 2.25, "zero": "open", "window": [0, 3], "averaging": 2
  },
  "zones": [ { "name": "cable", "from": 0.3, "to": 1.7, "nominal": 50, "tolerance": 5 } ],
  "outputs": { "folder": "out", "csv": false, "png": false, "lot_cpk": true }
})";

int velt(std::vector<const char*> args, std::string* printed = nullptr) {
    args.insert(args.begin(), "velt");
    ParseResult parsed = parseOptions(static_cast<int>(args.size()), args.data());
    EXPECT_TRUE(parsed.ok) << parsed.error;
    std::FILE* out = std::tmpfile();
    int status = 0;
    if (parsed.options.command == Command::Spc) {
        status = spc::runSpc(parsed.options, out, out);
    } else {
        BatchSetup setup;
        setup.out = setup.err = out;
        setup.paced = false;
        status = runMeasure(parsed.options, setup);
    }
    std::rewind(out);
    char buf[8192] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    if (printed) printed->assign(buf, n);
    return status;
}

TEST(Spc, ChartsOfMeasuredRecordsAndAWindowThatFollowsTheNextOne) {
    char dir[] = "/tmp/velt_spc_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    std::ofstream("cable.dut") << "channel 2: line 50 1.0 2.25 0; open\n";
    std::ofstream("cable.json") << kRecipe;
    testing_support::freshPanel();
    platform::asyncTimer().resume();
    platform::setSpcChartWriter(platform::qt::writeSpcPng);

    // Ten coupons of one lot, each with noise of its own; each report has the lot's Cpk so far.
    std::vector<nlohmann::json> lotZones;
    for (int i = 1; i <= 10; ++i) {
        const std::string serial = "C-" + std::to_string(i), seed = std::to_string(i),
                          out = "run" + seed;
        ASSERT_EQ(velt({"measure", "cable.json", "--serial", serial.c_str(), "--seed", seed.c_str(),
                        "--lot", "L1", "--out", out.c_str()}),
                  0);
        for (const auto& e : fs::directory_iterator(out))
            lotZones.push_back(
                nlohmann::json::parse(std::ifstream(e.path() / "result.json"))["zones"][0]);
    }
    ASSERT_EQ(lotZones.size(), 10u);
    EXPECT_EQ(lotZones[0]["lot_records"], 1);
    EXPECT_TRUE(lotZones[0]["lot_cpk"].is_null()) << "one coupon has no spread yet";
    EXPECT_EQ(lotZones[9]["lot_records"], 10);
    std::string table;
    EXPECT_EQ(velt({"spc", "--recipe", "cable", "--subgroup", "2", "--out", "charts", "--min-cpk",
                    "1.33"},
                   &table),
              0)
        << table;
    EXPECT_NE(table.find("\ncable          10 "), std::string::npos) << table;
    std::ifstream file("charts/spc.json");
    const auto json = nlohmann::json::parse(file);
    const auto& zone = json["zones"][0];
    EXPECT_EQ(zone["records"], 10);
    EXPECT_EQ(zone["subgroups"], 5);
    EXPECT_NEAR(zone["mean"].get<double>(), 50.0, 0.5) << "the simulator's 50 Ohm line";
    EXPECT_GT(zone["sigma_overall"].get<double>(), 0) << "the seeds gave each run its noise";
    EXPECT_GE(zone["cpk"].get<double>(), 1.33);
    ASSERT_EQ(velt({"spc", "--recipe", "cable", "--lot", "L1", "--subgroup", "1", "--out", "lot"}),
              0);
    EXPECT_NEAR(
        lotZones[9]["lot_cpk"].get<double>(),
        nlohmann::json::parse(std::ifstream("lot/spc.json"))["zones"][0]["cpk"].get<double>(), 1e-9)
        << "the tenth report's Cpk is the lot's chart with it";
    const QImage png("charts/spc-cable.png");
    EXPECT_EQ(png.size(), QSize(900, 700));
    // Too few records to judge fails the gate; a recipe never recorded is an error.
    EXPECT_EQ(
        velt({"spc", "--recipe", "cable", "--last", "3", "--out", "few", "--min-cpk", "1"}, &table),
        1);
    EXPECT_NE(table.find("needs at least 10 records (3 so far)"), std::string::npos) << table;
    EXPECT_EQ(velt({"spc", "--recipe", "cabel"}, &table), 2);

    // The window shows ten, then eleven once another coupon is recorded.
    spc::RecordedStatistics statistics("results.sqlite", "cable");
    platform::qt::StatisticsWindow window(statistics);
    window.show();
    window.findChild<QSpinBox*>("subgroup")->setValue(1);
    const std::string before = window.summary()->text().toStdString();
    EXPECT_EQ(before.rfind("cable: 10 records, mean ", 0), 0u) << before;
    const long redraws = window.redraws();
    ASSERT_EQ(velt({"measure", "cable.json", "--serial", "C-11", "--seed", "11", "--lot", "L1"}),
              0);
    QElapsedTimer clock;
    clock.start();
    while (window.redraws() == redraws && clock.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    const std::string after = window.summary()->text().toStdString();
    EXPECT_EQ(after.rfind("cable: 11 records", 0), 0u) << after;

    platform::setSpcChartWriter(nullptr);
    platform::asyncTimer().discard();
    platform::asyncTimer().resume();
    fs::current_path(previous);
    fs::remove_all(dir);
}

} // namespace
