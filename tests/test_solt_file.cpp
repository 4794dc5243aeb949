// SOLT calibration files on disk: the exact formats, round trips, and files that must be refused
// without touching the calibration in memory.
#include "files/solt_file.h"
#include "freqdomain/store.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/solt_io.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;
using platform::defaultResponder;

namespace {

std::string readFile(const fs::path& p) {
    std::stringstream ss;
    ss << std::ifstream(p, std::ios::binary).rdbuf();
    return ss.str();
}

// The last line written to the program log.
std::string lastLog() {
    const std::string log = platform::panel().text(PANEL_MESSAGE);
    const auto end = log.find_last_not_of('\n');
    const auto start = log.rfind("> ", end);
    return log.substr(start, end + 1 - start);
}

class SoltFile : public ::testing::TestWithParam<int> {
  protected:
    // One folder per process: ctest runs these cases side by side.
    fs::path dir = fs::path(::testing::TempDir()) / ("velt_solt_file_" + std::to_string(getpid()));
    void SetUp() override {
        testing_support::freshPanel();
        fs::create_directories(dir);
        // Distinct values in every slot of every standard, some needing rounding.
        for (std::size_t s = 0; s < 4; ++s)
            for (std::size_t slot = 0; slot < 20; ++slot)
                for (std::size_t i = 0; i < 1024; ++i)
                    solt.store[s][slot][i] = std::sin(0.01 * double(i) + double(slot + 7 * s));
    }
    void TearDown() override { fs::remove_all(dir); }
    int save(const fs::path& p, int type) {
        defaultResponder().pushFile(p.string(), platform::VAL_NEW_FILE_SELECTED);
        return saveSOLT(type);
    }
    int load(const fs::path& p) {
        defaultResponder().pushFile(p.string());
        return loadSOLT(GetParam());
    }
    bool inFile(std::size_t standard) const {
        return (GetParam() == 0) == (standard != index(Standard::Through));
    }
};

TEST_P(SoltFile, RoundTripWithinFiveDecimalsAndTheOtherKindUntouched) {
    const StandardSet saved = solt.store;
    ASSERT_EQ(save(dir / "a", GetParam()), 1);
    EXPECT_EQ(lastLog(), "> SOLT calibration completed and saved to disk.");
    solt.store = StandardSet{};
    ASSERT_EQ(load(dir / "a"), 1);
    EXPECT_EQ(lastLog(), "> SOLT calibration loaded from disk.");
    for (std::size_t s = 0; s < 4; ++s)
        for (std::size_t slot = 0; slot < 20; ++slot)
            for (std::size_t i = 0; i < 1024; ++i)
                ASSERT_NEAR(solt.store[s][slot][i], inFile(s) ? saved[s][slot][i] : 0.0, 5.0001e-6);
}

TEST_P(SoltFile, FreshFileIsItsHeaderAndRowsOfZerosInColumnOrder) {
    solt.store = StandardSet{};
    // Sampler 13 is port 2 CH 2 negative: column 13 of S21, 39..41 (Sh, Op, Ld) of S11.
    solt.standard(GetParam() == 0 ? Standard::Open : Standard::Through, 13)[0] = -0.5;
    ASSERT_EQ(save(dir / "z", GetParam()), 1);
    const int n = GetParam() == 0 ? 60 : 20, marked = GetParam() == 0 ? 40 : 13;
    std::string first, row;
    for (int k = 0; k < n; ++k) {
        first += (k == marked ? "-0.50000" : "0.00000") + std::string(k + 1 < n ? "," : "\n");
        row += k + 1 < n ? "0.00000," : "0.00000\n";
    }
    // Columns by port, channel, polarity and standard; the S21 header keeps its last comma.
    std::string expected;
    for (const char* port : {"P1", "P2"})
        for (const char* ch : {"1", "2", "3", "4", "5"})
            for (const char* pol : {"Pos", "Neg"})
                for (const char* st : GetParam() == 0 ? std::vector<const char*>{"Sh", "Op", "Ld"}
                                                      : std::vector<const char*>{"Th"})
                    expected += std::string(port) + "_CH" + ch + "_" + pol + "_" + st + ",";
    if (GetParam() == 0) expected.pop_back();
    expected += "\n" + first;
    for (int r = 1; r < 1024; ++r) expected += row;
    EXPECT_EQ(readFile(dir / "z"), expected);
}

// Edits a saved file; `accepted` says whether it must still load.
struct Edit {
    const char* what;
    bool accepted;
    std::string (*apply)(const std::string&);
};

std::size_t rowStart(const std::string& t, int r) {
    std::size_t pos = 0;
    for (int i = 0; i < r; ++i) pos = t.find('\n', pos) + 1;
    return pos;
}

const Edit kEdits[] = {
    {"edited header", true,
     [](const std::string& t) { return "my notes\n" + t.substr(rowStart(t, 1)); }},
    {"CR LF line ends", true,
     [](const std::string& t) {
         std::string out;
         for (char c : t) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
         return out;
     }},
    {"500 rows", false, [](const std::string& t) { return t.substr(0, rowStart(t, 501)); }},
    {"last row cut short", false, [](const std::string& t) { return t.substr(0, t.size() - 30); }},
    {"a value that is no number", false,
     [](const std::string& t) { return std::string(t).replace(rowStart(t, 300), 3, "abc"); }},
    {"a value that is not finite", false,
     [](const std::string& t) {
         const auto p = rowStart(t, 7);
         return std::string(t).replace(p, t.find(',', p) - p, "inf");
     }},
    {"a row one value short", false,
     [](const std::string& t) {
         const auto p = rowStart(t, 10);
         return std::string(t).erase(p, t.find(',', p) + 1 - p);
     }},
    {"a row of a megabyte", false,
     [](const std::string& t) { return std::string(t).insert(rowStart(t, 5), 1 << 20, '7'); }},
    {"one row too many", false,
     [](const std::string& t) { return t + t.substr(rowStart(t, 1), 40) + "\n"; }},
    {"empty", false, [](const std::string&) { return std::string(); }},
};

TEST_P(SoltFile, EditedFilesLoadOrAreRefusedWithTheStoreUnchanged) {
    ASSERT_EQ(save(dir / "good", GetParam()), 1);
    const std::string good = readFile(dir / "good");
    for (const Edit& e : kEdits) {
        std::ofstream(dir / "bad", std::ios::binary) << e.apply(good);
        solt.store[index(Standard::Short)][0][0] = solt.store[index(Standard::Through)][0][0] = 42;
        const StandardSet before = solt.store;
        const int r = load(dir / "bad");
        if (e.accepted) {
            EXPECT_EQ(r, 1) << e.what;
            EXPECT_NE(
                solt.store[index(GetParam() == 0 ? Standard::Short : Standard::Through)][0][0], 42)
                << e.what;
            continue;
        }
        EXPECT_EQ(r, -5) << e.what;
        EXPECT_TRUE(solt.store == before) << e.what << " changed the store";
        EXPECT_NE(lastLog().find(GetParam() == 0 ? "ERROR #2095: Could not read S11"
                                                 : "ERROR #2096: Could not read S21"),
                  std::string::npos)
            << lastLog();
    }
    // A file of the other kind has 60 or 20 values a row: refused too.
    ASSERT_EQ(save(dir / "other", 1 - GetParam()), 1);
    EXPECT_EQ(load(dir / "other"), -5);
}

TEST_P(SoltFile, AFullDiskIsReportedAndThePreviousFileStaysWhole) {
    ASSERT_EQ(save(dir / "cal", GetParam()), 1);
    const std::string before = readFile(dir / "cal");
    solt.store[index(Standard::Short)][0][0] = solt.store[index(Standard::Through)][0][0] =
        42; // a calibration worth saving
    const int failed = GetParam() == 0 ? -3 : -5;
    EXPECT_EQ(testing_support::onAFullDisk([&] { return save(dir / "cal", GetParam()); }), failed);
    EXPECT_EQ(readFile(dir / "cal"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 1) << "no temporary file left";
    EXPECT_EQ(save("/dev/full", GetParam()), failed);
    EXPECT_NE(lastLog().find(GetParam() == 0 ? "#2073" : "#2075"), std::string::npos);
}

TEST_P(SoltFile, OpenFailuresAndCancelledDialogsChangeNothing) {
    const StandardSet before = solt.store;
    EXPECT_EQ(load(dir / "missing"), GetParam() == 0 ? -2 : -3);
    EXPECT_NE(lastLog().find(GetParam() == 0 ? "#2092" : "#2093"), std::string::npos);
    EXPECT_EQ(save(dir / "no" / "folder", GetParam()), GetParam() == 0 ? -2 : -4);
    EXPECT_NE(lastLog().find(GetParam() == 0 ? "#2072" : "#2074"), std::string::npos);
    const std::string log = platform::panel().text(PANEL_MESSAGE);
    EXPECT_EQ(loadSOLT(GetParam()), -1);
    EXPECT_EQ(saveSOLT(GetParam()), -1);
    EXPECT_EQ(platform::panel().text(PANEL_MESSAGE), log) << "a cancel is not logged";
    EXPECT_TRUE(solt.store == before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SoltFile, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "S11" : "S21"; });

TEST(SoltFileDialogs, OnlyTheFirstDialogOfEitherKindStartsInCalibrations) {
    testing_support::freshPanel();
    panelState.defaultSaveCAL.store(1);
    EXPECT_EQ(loadSOLT(0), -1); // cancelled, and still the flag is used up
    EXPECT_EQ(saveSOLT(1), -1);
    const auto shown = defaultResponder().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].folder, "calibrations");
    EXPECT_EQ(shown[0].title + shown[0].defaultName + shown[0].typeList,
              "Select File to Retrieve*.s11S11 SOLT Calibration (*.s11)");
    EXPECT_EQ(shown[1].folder, "");
    EXPECT_EQ(shown[1].title + shown[1].defaultName + shown[1].typeList,
              "Select File to Save.s21S21 SOLT Calibration (*.s21)");
}

} // namespace
