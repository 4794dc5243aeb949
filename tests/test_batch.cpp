// `velt measure` end to end on the simulated instrument: the verdicts and exit statuses a
// production line relies on, the report folder, and every bad recipe named by its field.
#include "app/batch.h"
#include "app/options.h"
#include "app/results.h"
#include "files/settings_file.h"
#include "files/sha256.h"
#include "files/touchstone.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "simulator/sim_operator.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <tuple>
#include <unistd.h>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kCable50 = "channel 2: line 50 1.0 2.25 0.2; open\n";
constexpr const char* kCable60 = "channel 2: line 60 1.0 2.25 0.2; open\n";

// The example recipe's measurement, with the zone of the cable judged against 50 ohm +- 5 %.
const char* const kRecipe = R"({
  "name": "cable",
  "instrument": { "simulate": true, "dut": "cable.dut" },
  "measurement": {
    "mode": "TDR", "stimulus": "PORT 1, D2", "sampler": "PORT 1, D2+",
    "x_units": "m", "y_units": "Ohm", "dielectric": 2.25, "zero": "open",
    "window": [0, 3], "averaging": 4, "filter": true, "filter_width": 200
  },
  "zones": [ { "name": "cable", "from": 0.3, "to": 1.7, "nominal": 50, "tolerance": 5 } ],
  "outputs": { "folder": "out", "csv": false, "png": false }
})";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

class Batch : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        platform::asyncTimer().resume();
        char tmpl[] = "/tmp/velt_batch_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_ = fs::current_path();
        fs::current_path(dir_);
        std::ofstream("cable.dut") << kCable50;
        std::ofstream("cable60.dut") << kCable60;
    }
    void TearDown() override {
        platform::asyncTimer().discard();
        platform::asyncTimer().resume();
        fs::current_path(previous_);
        fs::remove_all(dir_);
    }

    // Runs `velt measure recipe.json EXTRA...`; out and err collect what it printed.
    int run(const std::string& recipe, std::vector<const char*> extra = {}) {
        std::ofstream("recipe.json") << recipe;
        std::vector<const char*> args = {"velt", "measure", "recipe.json"};
        args.insert(args.end(), extra.begin(), extra.end());
        ParseResult parsed = parseOptions(static_cast<int>(args.size()), args.data());
        EXPECT_TRUE(parsed.ok) << parsed.error;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        BatchSetup setup;
        setup.out = out;
        setup.err = err;
        setup.paced = false;
        const int status = runMeasure(parsed.options, setup);
        // Left held, the next run's hold would not hold and its tick would sweep meanwhile.
        EXPECT_FALSE(platform::asyncTimer().suspended()) << "the run kept the timer held";
        out_ = readBack(out);
        err_ = readBack(err);
        return status;
    }

    static std::string readBack(std::FILE* f) {
        std::rewind(f);
        std::string s;
        char buf[4096];
        std::size_t n = 0;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        std::fclose(f);
        return s;
    }

    // The one run folder under out/.
    fs::path runFolder() {
        std::vector<fs::path> found;
        if (fs::exists("out"))
            for (const auto& e : fs::directory_iterator("out")) found.push_back(e.path());
        EXPECT_EQ(found.size(), 1u);
        return found.empty() ? fs::path() : found.front();
    }

    fs::path dir_, previous_;
    std::string out_, err_;
};

struct CableCase {
    const char* name;
    const char* dut;
    int status;
    const char* verdict;
    double mean;
};

class BatchCable : public Batch, public testing::WithParamInterface<CableCase> {};

TEST_P(BatchCable, JudgesTheCableAndKeepsTheEvidence) {
    const CableCase& c = GetParam();
    EXPECT_EQ(run(kRecipe, {"--dut", c.dut}), c.status) << err_;
    // One line per zone, then the closing line.
    EXPECT_EQ(out_.rfind(std::string("cable        ") + c.verdict, 0), 0u) << out_;
    EXPECT_NE(out_.find(std::string("\n") + c.verdict + ": 1 zone, report in out/cable-"),
              std::string::npos)
        << out_;

    const fs::path folder = runFolder();
    const json result = json::parse(slurp(folder / "result.json"));
    EXPECT_EQ(result["verdict"], c.verdict);
    EXPECT_EQ(result["exit_status"], c.status);
    EXPECT_EQ(result["version"], "2.8.0.1");
    const json& zone = result["zones"][0];
    EXPECT_EQ(zone["verdict"], c.verdict);
    EXPECT_NEAR(zone["mean"].get<double>(), c.mean, 0.5);
    EXPECT_GT(zone["points"].get<int>(), 100);
    EXPECT_DOUBLE_EQ(zone["low"].get<double>(), 47.5);
    EXPECT_DOUBLE_EQ(zone["high"].get<double>(), 52.5);
    // What was applied, read back from the panel rather than copied from the recipe.
    const json& applied = result["settings"];
    EXPECT_EQ(applied["mode"], "TDR");
    EXPECT_EQ(applied["sampler"], "PORT 1, D2+");
    EXPECT_EQ(applied["y_units"], "Ohm");
    EXPECT_EQ(applied["averaging"], 4);
    EXPECT_EQ(applied["filter_width"], 200);
    // The open front connector of the simulator lies a little over 1.5 m in.
    EXPECT_NEAR(applied["zero"].get<double>(), 1.53, 0.05);

    // The report: the recipe as given, the counts of the one sweep set, and checksums.
    EXPECT_EQ(slurp(folder / "recipe.json"), kRecipe);
    const std::string counts = slurp(folder / "counts.csv");
    EXPECT_NE(counts.find("# set 1: stimulus 2, sampler 4, start "), std::string::npos);
    EXPECT_NE(counts.find(", passes 4, offset "), std::string::npos);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), '\n'), 3 + 1024);
    std::istringstream sums(slurp(folder / "SHA256SUMS"));
    std::string hash, name;
    int checked = 0;
    while (sums >> hash >> name) {
        EXPECT_EQ(hash, sha256File((folder / name).string())) << name;
        ++checked;
    }
    EXPECT_EQ(checked, 4); // recipe.json, counts.csv, settings.ini, result.json
    // The settings file is one the program loads again as it stands.
    const SettingsRecord settings = parseSettings(slurp(folder / "settings.ini"));
    EXPECT_EQ(checkSettings(settings, "QSB020"), 0);
    EXPECT_EQ(settings.yUnits, 2);
    EXPECT_EQ(settings.filterWidth, 200);
}

INSTANTIATE_TEST_SUITE_P(Cables, BatchCable,
                         testing::Values(CableCase{"Fifty", "cable.dut", 0, "PASS", 50.0},
                                         CableCase{"Sixty", "cable60.dut", 1, "FAIL", 60.0}),
                         [](const testing::TestParamInfo<CableCase>& info) {
                             return info.param.name;
                         });

// Three runs of a recipe, as a new user makes them: each recorded with who measured what, one of
// them while the database named is out of reach; the spool delivered; the list read back.
TEST_F(Batch, EveryJudgedRunIsRecordedAndListedBackWithItsZones) {
    EXPECT_EQ(run(kRecipe, {"--serial", "C-1", "--lot", "4711", "--operator", "ann"}), 0) << err_;
    EXPECT_EQ(run(kRecipe, {"--serial", "C-2", "--lot", "4711", "--dut", "cable60.dut"}), 1);
    // A server that is not there: the verdict stands, the record waits in the spool.
    EXPECT_EQ(run(kRecipe, {"--serial", "C-3", "--results", "postgresql://velt@%2Fnowhere:1/x"}),
              0);
    EXPECT_NE(err_.find("records are kept in results-spool.sqlite"), std::string::npos) << err_;
    EXPECT_EQ(run(kRecipe, {"--serial", "C-4", "--results", "none"}), 0);

    const auto list = [this](std::vector<const char*> args) {
        args.insert(args.begin(), {"velt", "results"});
        ParseResult parsed = parseOptions(static_cast<int>(args.size()), args.data());
        EXPECT_TRUE(parsed.ok) << parsed.error;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = results::runResults(parsed.options, out, err);
        out_ = readBack(out);
        err_ = readBack(err);
        return status;
    };
    ASSERT_EQ(list({"--flush", "--format", "csv"}), 0) << err_;
    EXPECT_NE(err_.find("1 spooled record sent to results.sqlite"), std::string::npos) << err_;
    std::istringstream csv(out_);
    std::string header, line;
    std::getline(csv, header);
    EXPECT_NE(header.find(",report_folder,cable nominal,cable tolerance,cable mean,cable min,"
                          "cable max,cable sd,cable verdict"),
              std::string::npos)
        << header;
    std::vector<std::string> rows;
    while (std::getline(csv, line)) rows.push_back(line);
    ASSERT_EQ(rows.size(), 3u) << out_;
    const std::string recipeHash = sha256File("recipe.json");
    for (const auto& [row, serial, verdict] : {std::tuple{0, ",4711,C-1,", ",0,PASS,measure,0,"},
                                               std::tuple{1, ",4711,C-2,", ",1,FAIL,measure,0,"},
                                               std::tuple{2, ",,C-3,", ",0,PASS,measure,0,"}}) {
        const std::string& r = rows[static_cast<std::size_t>(row)];
        EXPECT_NE(r.find(serial), std::string::npos) << r;
        EXPECT_NE(r.find(verdict), std::string::npos) << r;
        EXPECT_NE(r.find(",cable," + recipeHash + ",QSB020,SIM-QSB020,"), std::string::npos) << r;
        EXPECT_NE(r.find((dir_ / "out").string()), std::string::npos) << r;
    }
    EXPECT_NE(rows[0].find(",ann,"), std::string::npos);

    ASSERT_EQ(list({"--lot", "4711", "--format", "json"}), 0) << err_;
    const json records = json::parse(out_);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["zones"][0]["verdict"], "FAIL");
    EXPECT_NEAR(records[1]["zones"][0]["mean"].get<double>(), 60.0, 0.5);
    ASSERT_EQ(list({"--serial", "C-3"}), 0);
    EXPECT_NE(out_.find("1 record\n"), std::string::npos) << out_;
    EXPECT_EQ(list({"--results", "nothing-here.sqlite"}), 2);
    EXPECT_NE(err_.find("no database nothing-here.sqlite"), std::string::npos) << err_;
}

// The eye through a lossy through: open at 1 Gb/s, closed past its mask at 10 Gb/s, which
// fails the run; eye.json holds what the line reads.
TEST_F(Batch, AnEyeMaskJudgesTheChannelAtItsBitRate) {
    std::ofstream("lossy.dut") << "channel 3: line 50 1.0 2.25 3.0; through\n";
    const std::string recipe = R"({
  "instrument": { "simulate": true, "dut": "lossy.dut" },
  "measurement": { "mode": "TDT", "stimulus": "PORT 1, CLK", "x_units": "ns", "y_units": "mV",
                   "window": [0, 30], "averaging": 2 },
  "eye": { "bitrate_gbps": RATE, "pattern": "PRBS7", "mask": { "width_ui": 0.3, "height_mv": 60 } },
  "outputs": { "folder": "out", "csv": false, "png": false }
})";
    for (const auto& [rate, status] : {std::pair{"1", 0}, std::pair{"10", 1}}) {
        fs::remove_all("out");
        EXPECT_EQ(run(replaced(recipe, "RATE", rate), {"--results", "none"}), status) << err_;
        EXPECT_NE(out_.find(std::string("eye          ") + (status ? "FAIL" : "PASS")),
                  std::string::npos)
            << out_;
        const json e = json::parse(slurp(runFolder() / "eye.json"));
        EXPECT_EQ(e["unit"], "mV");
        EXPECT_DOUBLE_EQ(e["ui_ps"].get<double>(), 1000.0 / std::stod(rate));
        EXPECT_EQ(e["mask_hits"].get<long>() > 0, status == 1) << e.dump();
        // The pattern's eye is never below the worst case peak distortion predicts.
        EXPECT_GE(e["height"].get<double>(), std::max(0.0, e["worst_height"].get<double>()) - 1e-9);
    }
    EXPECT_EQ(
        run(replaced(replaced(recipe, "RATE", "5"), R"("y_units": "mV")", R"("y_units": "Norm")")),
        2);
    EXPECT_NE(err_.find("eye: needs a transmission trace"), std::string::npos) << err_;
}

// An output asked for and not written (no picture without a window) leaves the run incomplete.
TEST_F(Batch, AnOutputNotWrittenMakesTheRunIncomplete) {
    EXPECT_EQ(run(replaced(kRecipe, R"("png": false)", R"("png": true)")), 2);
    EXPECT_EQ(json::parse(slurp(runFolder() / "result.json"))["verdict"], "INCOMPLETE");
}

TEST_F(Batch, AZoneTooShortForTheRiseTimeIsWarnedNotPassed) {
    const std::string recipe =
        replaced(kRecipe, R"("from": 0.3, "to": 1.7)", R"("from": 0.5, "to": 0.6)");
    EXPECT_EQ(run(recipe), 1);
    EXPECT_NE(out_.find("TOO SHORT"), std::string::npos) << out_;
    EXPECT_NE(out_.find("shorter than the 0.160 m the rise time resolves"), std::string::npos)
        << out_;
}

struct BadRecipe {
    const char* name;
    std::string from; // replaced in the good recipe
    std::string to;
    const char* message; // part of what the run says
};
// The good recipe's measurement moved to the frequency domain, for the refusals there.
const std::string kTimeDomain =
    R"("mode": "TDR", "stimulus": "PORT 1, D2", "sampler": "PORT 1, D2+",
    "x_units": "m", "y_units": "Ohm", "dielectric": 2.25, "zero": "open",)";
const std::string kFrequencyDomain =
    R"("mode": "S11", "stimulus": "PORT 1, D2", "sampler": "PORT 1, D2+",
    "domain": "frequency", "x_units": "GHz", "y_units": "dB", )";

class BatchBadRecipe : public Batch, public testing::WithParamInterface<BadRecipe> {};

TEST_P(BatchBadRecipe, ExitsTwoNamingTheFieldAndWritesNothing) {
    const BadRecipe& c = GetParam();
    EXPECT_EQ(run(replaced(kRecipe, c.from, c.to)), 2);
    EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
    EXPECT_EQ(out_, "");
    EXPECT_FALSE(fs::exists("out"));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BatchBadRecipe,
    testing::Values(
        BadRecipe{"Typo", "\"averaging\"", "\"averagng\"",
                  "recipe.json: measurement.averagng: unknown field (known here: domain"},
        BadRecipe{"AveragingZero", "\"averaging\": 4", "\"averaging\": 0",
                  "measurement.averaging: must be a whole number from 1 to 1000, got 0"},
        BadRecipe{"NominalText", "\"nominal\": 50", "\"nominal\": \"fifty\"",
                  "zones[0].nominal: must be a number, got \"fifty\""},
        BadRecipe{"ZoneMissingTo", ", \"to\": 1.7", "", "zones[0].to: is missing"},
        BadRecipe{"XUnits", "\"x_units\": \"m\"", "\"x_units\": \"yd\"",
                  "measurement.x_units: must be one of m, ft, ns, in, GHz, got \"yd\""},
        BadRecipe{"ZonesNeedOhm", "\"y_units\": \"Ohm\"", "\"y_units\": \"mV\"",
                  "zones: judge impedance"},
        BadRecipe{"NotJson", "\"zones\": [", "\"zones\": [[", "not valid JSON: "},
        BadRecipe{"NoSuchStimulus", "PORT 1, D2\"", "PORT 3, D2\"",
                  "measurement.stimulus: no \"PORT 3, D2\" on this instrument"},
        BadRecipe{"SamplerOfAnotherPair", "PORT 1, D2+", "PORT 2, D0+",
                  "measurement.sampler: \"PORT 2, D0+\" is not offered"},
        BadRecipe{"WindowOutsideTheField", "[0, 3]", "[0, 300]", "measurement.window: "},
        BadRecipe{"MissingDut", "cable.dut", "nothing.dut", "instrument.dut: "},
        BadRecipe{"SeedText", "\"simulate\": true,", "\"simulate\": true, \"seed\": \"later\",",
                  "instrument.seed: must be a whole number from 0 or \"random\", got \"later\""},
        BadRecipe{"FrequencyZero", kTimeDomain,
                  kFrequencyDomain + "\"zero\": 0.5, \"calibration\": \"c.s11\",",
                  "measurement.zero: the frequency domain has no zero reference"},
        BadRecipe{"FrequencyPair", kTimeDomain,
                  kFrequencyDomain + "\"differential\": true, \"calibration\": \"c.s11\",",
                  "measurement.differential: the frequency domain measures single lines"},
        BadRecipe{"FrequencyUncalibrated", kTimeDomain, kFrequencyDomain,
                  "measurement.calibration: the frequency domain needs a .s11 or .s21 file"}),
    [](const testing::TestParamInfo<BadRecipe>& info) { return info.param.name; });

TEST_F(Batch, TheInstrumentMustBeTheModelTheRecipeNames) {
    const std::string recipe =
        replaced(kRecipe, R"("simulate": true,)", R"("simulate": true, "model": "QSB020",)");
    EXPECT_EQ(run(recipe, {"--model", "QSA004"}), 2);
    EXPECT_NE(err_.find("instrument.model: the recipe expects QSB020, the instrument is QSA004"),
              std::string::npos)
        << err_;
    EXPECT_FALSE(fs::exists("out"));
}

// S11 of a connector: a SOLT calibration made by the simulated operator, kept in the report and
// used again by a second run; the Touchstone file holds what the CSV shows in dB.
TEST_F(Batch, ConnectorReturnLossInTouchstoneAndAReusableCalibration) {
    std::ofstream("connector.dut")
        << "channel 2: line 50 0.05 2.25 0; line 42 0.012 3.0 0; line 50 0.3 2.25 0; load 50\n";
    const std::string recipe = R"({
      "name": "conn",
      "instrument": { "simulate": true, "dut": "connector.dut", "noise": false },
      "measurement": { "domain": "frequency", "mode": "S11", "stimulus": "PORT 1, D2",
                       "sampler": "PORT 1, D2+", "window": [0, 2.4], "averaging": 4,
                       "calibration": "CAL" },
      "outputs": { "folder": "FOLDER", "png": false, "touchstone": true }
    })";
    ASSERT_EQ(run(replaced(replaced(recipe, "CAL", "new"), "FOLDER", "first")), 0) << err_;
    fs::path first;
    for (const auto& e : fs::directory_iterator("first")) first = e.path();
    std::vector<SParamPoint> s11;
    std::string error;
    ASSERT_TRUE(parseTouchstone(slurp(first / "conn.s1p"), 1, s11, error)) << error;
    ASSERT_GT(s11.size(), 300u);
    EXPECT_NEAR(s11.back().ghz, 2.4, 0.01);

    // Every Touchstone point is a CSV row: the same frequency and, in dB, the same value.
    std::map<std::string, std::string> csv;
    std::istringstream rows(slurp(first / "conn.csv"));
    std::string row;
    std::getline(rows, row);
    EXPECT_EQ(row.rfind("GHz,dB,", 0), 0u) << row;
    while (std::getline(rows, row))
        csv[row.substr(0, row.find(','))] = row.substr(row.find(',') + 1);
    for (const SParamPoint& p : s11) {
        char f[32], db[32];
        std::snprintf(f, sizeof f, "%.3f", p.ghz);
        std::snprintf(db, sizeof db, "%.3f", 20 * std::log10(std::hypot(p.re, p.im)));
        EXPECT_EQ(csv[f], db) << p.ghz << " GHz";
    }

    // The calibration made is in the report, with its checksum in the result.
    const json result = json::parse(slurp(first / "result.json"));
    ASSERT_EQ(result["calibration"]["solt_files"].size(), 1u);
    EXPECT_EQ(result["calibration"]["solt_files"][0]["sha256"],
              sha256File((first / "conn.s11").string()));
    EXPECT_EQ(result["settings"]["mode"], "S11");
    EXPECT_EQ(result["settings"]["x_units"], "GHz");

    // A second run loads that file and measures the same S11.
    const std::string again = replaced(recipe, "CAL", (first / "conn.s11").string());
    ASSERT_EQ(run(replaced(again, "FOLDER", "second")), 0) << err_;
    fs::path second;
    for (const auto& e : fs::directory_iterator("second")) second = e.path();
    std::vector<SParamPoint> repeat;
    ASSERT_TRUE(parseTouchstone(slurp(second / "conn.s1p"), 1, repeat, error)) << error;
    ASSERT_EQ(repeat.size(), s11.size());
    // Noise aside: the root-mean-square difference over the band a connector is judged in.
    double sum = 0;
    int n = 0;
    for (std::size_t i = 0; i < s11.size(); ++i)
        if (s11[i].ghz >= 0.2) {
            sum += std::pow(repeat[i].re - s11[i].re, 2) + std::pow(repeat[i].im - s11[i].im, 2);
            ++n;
        }
    EXPECT_LT(std::sqrt(sum / n), 0.03);
    // A near match: a calibration that missed its standards reads |S11| far above 1 here.
    for (const SParamPoint& p : s11) {
        if (p.ghz >= 0.2) {
            EXPECT_LT(std::hypot(p.re, p.im), 0.3) << p.ghz << " GHz";
        }
    }
    EXPECT_TRUE(fs::exists(second / "conn.s11")) << "the file used is kept with the run";

    // A file that is not a calibration is named, and nothing is measured.
    std::ofstream("bad.s11") << "not a calibration\n";
    EXPECT_EQ(run(replaced(replaced(recipe, "CAL", "bad.s11"), "FOLDER", "third")), 2);
    EXPECT_NE(err_.find("measurement.calibration: bad.s11: not a .s11 calibration file"),
              std::string::npos)
        << err_;
    EXPECT_FALSE(fs::exists("third"));
}

// The simulator's truth: its device measured by the guided calibration and exported as a .s1p,
// then that file measured in place of the instrument, judges the zones as the live trace does.
TEST_F(Batch, ATouchstoneExportMeasuredInPlaceOfTheInstrumentShowsTheLiveProfile) {
    std::ofstream("board.dut") << "channel 2: line 50 0.3 2.25 0; line 65 0.3 2.25 0; load 50\n";
    const std::string measurement = R"("mode": "TDR", "stimulus": "PORT 1, CH 1",
        "x_units": "m", "y_units": "Ohm", "dielectric": 2.25, "window": [0, 2], "averaging": 4)";
    const std::string rest = R"(,
      "zones": [ { "name": "a", "from": 0.1, "to": 0.5, "nominal": 50, "tolerance": 2 },
                 { "name": "b", "from": 0.75, "to": 1.1, "nominal": 65, "tolerance": 2 },
                 { "name": "load", "from": 1.4, "to": 1.9, "nominal": 50, "tolerance": 5 } ],
      "outputs": { "folder": "out", "png": false } })";
    const std::string sim = R"({ "name": "b",
      "instrument": { "simulate": true, "model": "QSA004", "dut": "board.dut", "noise": false },)";
    ASSERT_EQ(run(sim + R"("measurement": { "domain": "frequency", "mode": "S11",
        "stimulus": "PORT 1, CH 1", "window": [0, 7.2], "averaging": 4, "calibration": "new" },
        "outputs": { "folder": "fd", "png": false, "touchstone": true } })"),
              0)
        << err_;
    fs::path file;
    for (const auto& e : fs::directory_iterator("fd")) file = e.path() / "b.s1p";
    ASSERT_EQ(run(sim + R"("measurement": { "zero": "open", )" + measurement + "}" + rest), 0)
        << err_;
    const json live = json::parse(slurp(runFolder() / "result.json"));
    fs::remove_all("out");
    ASSERT_EQ(run(R"({ "name": "b", "instrument": { "touchstone": ")" + file.string() +
                  R"(", "model": "QSA004" }, "measurement": { )" + measurement + "}" + rest),
              0)
        << err_;
    const json fromFile = json::parse(slurp(runFolder() / "result.json"));
    for (int z = 0; z < 3; ++z)
        EXPECT_NEAR(fromFile["zones"][z]["mean"].get<double>(),
                    live["zones"][z]["mean"].get<double>(), 0.5)
            << live["zones"][z]["name"];
    EXPECT_EQ(fromFile["instrument"]["touchstone"]["sha256"], sha256File(file.string()));
}

TEST_F(Batch, AMissingRecipeFileIsAnError) {
    std::vector<const char*> args = {"velt", "measure", "absent.json", "--simulate"};
    ParseResult parsed = parseOptions(static_cast<int>(args.size()), args.data());
    ASSERT_TRUE(parsed.ok);
    std::FILE* err = std::tmpfile();
    BatchSetup setup;
    setup.err = err;
    setup.paced = false;
    EXPECT_EQ(runMeasure(parsed.options, setup), 2);
    EXPECT_NE(readBack(err).find("absent.json: cannot read the recipe file"), std::string::npos);
}

// The simulated operator finds the channel in either naming the prompts use.
TEST(SimulatedOperator, ReadsTheChannelFromBothKindsOfLabel) {
    using simulator::SoltOperator;
    EXPECT_EQ(SoltOperator::channelOf("PORT 1, CH 1+"), 2);
    EXPECT_EQ(SoltOperator::channelOf("PORT 2, CH 4-"), 8);
    EXPECT_EQ(SoltOperator::channelOf("PORT 1, D2+"), 2);
    EXPECT_EQ(SoltOperator::channelOf("PORT 1, D0-"), 0);
    EXPECT_EQ(SoltOperator::channelOf("PORT 2, CLK+"), 8);
    EXPECT_EQ(SoltOperator::channelOf("PORT 2, ETH-"), 9);
    EXPECT_EQ(SoltOperator::channelOf("PORT 3, D2+"), -1);
    EXPECT_EQ(SoltOperator::channelOf("PORT 1, XY+"), -1);
}

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Two blocks, the padding spilling into the second.
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(sha256File("/nonexistent/file"), "");
}

} // namespace
