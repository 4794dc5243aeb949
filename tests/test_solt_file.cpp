// SOLT calibration files on disk: exact formats, round trips, and files that must be refused
// without touching the calibration in memory.
#include "files/solt_file.h"
#include "freqdomain/store.h"
#include "panel/interface.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using platform::defaultResponder;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
}

// The last line written to the program log (the design text before it has no newline).
std::string lastLog() {
    const std::string log = platform::panel().text(PANEL_MESSAGE);
    const auto end = log.find_last_not_of('\n');
    const auto start = log.rfind("> ", end);
    return log.substr(start == std::string::npos ? 0 : start, end + 1 - start);
}

class SoltFile : public ::testing::TestWithParam<int> {
  protected:
    fs::path dir = fs::temp_directory_path() / ("velt_solt_" + std::to_string(::getpid()));
    void SetUp() override {
        testing_support::freshPanel();
        fs::create_directories(dir);
        soltStore = StandardSet{};
        // Distinct values in every slot of every standard, some negative, some needing rounding.
        for (int s = 0; s < kStandards; ++s)
            for (int slot = 0; slot < kSlotsPerStandard; ++slot)
                for (int i = 0; i < 1024; ++i)
                    soltStore[std::size_t(s)][std::size_t(slot)][std::size_t(i)] =
                        std::sin(0.01 * i + slot + 7 * s) * (1.0 + 1e-7 * i);
    }
    void TearDown() override { fs::remove_all(dir); }
    int type() const { return GetParam(); }
    // The standards a file of this type holds.
    std::vector<int> standards() const {
        return type() == 0 ? std::vector<int>{kShort, kOpen, kLoad} : std::vector<int>{kThrough};
    }
    int saveTo(const fs::path& p) {
        defaultResponder().pushFile(p.string(), platform::VAL_NEW_FILE_SELECTED);
        return saveSOLT(type());
    }
    int loadFrom(const fs::path& p) {
        defaultResponder().pushFile(p.string());
        return loadSOLT(type());
    }
};

TEST_P(SoltFile, RoundTripWithinFiveDecimalsAndOtherKindUntouched) {
    const StandardSet saved = soltStore;
    const fs::path p = dir / (type() == 0 ? "a.s11" : "a.s21");
    ASSERT_EQ(saveTo(p), 1);
    EXPECT_EQ(lastLog(), "> SOLT calibration completed and saved to disk.");
    soltStore = StandardSet{};
    ASSERT_EQ(loadFrom(p), 1);
    EXPECT_EQ(lastLog(), "> SOLT calibration loaded from disk.");
    for (int s = 0; s < kStandards; ++s) {
        const bool inFile = (type() == 0) == (s != kThrough);
        for (int slot = 0; slot < kSlotsPerStandard; ++slot)
            for (int i = 0; i < 1024; ++i) {
                const double got = soltStore[std::size_t(s)][std::size_t(slot)][std::size_t(i)];
                if (inFile)
                    ASSERT_NEAR(got, saved[std::size_t(s)][std::size_t(slot)][std::size_t(i)],
                                5.0000001e-6);
                else
                    ASSERT_EQ(got, 0.0) << "loading one kind wrote the other";
            }
    }
}

TEST_P(SoltFile, FreshStoreIsHeaderAndRowsOfZeros) {
    soltStore = StandardSet{};
    const fs::path p = dir / "zero";
    ASSERT_EQ(saveTo(p), 1);
    const int n = type() == 0 ? 60 : 20;
    std::string row;
    for (int k = 0; k < n; ++k) row += k + 1 < n ? "0.00000," : "0.00000\n";
    std::string expected(soltHeader(type()));
    for (int r = 0; r < 1024; ++r) expected += row;
    EXPECT_EQ(readFile(p), expected);
    // The exact headers: 60 names without a trailing comma, 20 names with one.
    const std::string header(soltHeader(type()));
    if (type() == 0) {
        EXPECT_EQ(header.size(), 840u);
        EXPECT_EQ(header.substr(0, 28), "P1_CH1_Pos_Sh,P1_CH1_Pos_Op,");
        EXPECT_EQ(header.substr(header.size() - 15), ",P2_CH5_Neg_Ld\n");
    } else {
        EXPECT_EQ(header.substr(0, 28), "P1_CH1_Pos_Th,P1_CH1_Neg_Th,");
        EXPECT_EQ(header.substr(header.size() - 16), ",P2_CH5_Neg_Th,\n");
    }
}

TEST_P(SoltFile, ColumnsFollowPortChannelPolarityStandard) {
    soltStore = StandardSet{};
    // Sampler 13 is port 2 CH 2 negative: column 13 of S21, columns 39..41 of S11.
    storedStandard(type() == 0 ? kOpen : kThrough, 13)[0] = -0.5;
    const fs::path p = dir / "col";
    ASSERT_EQ(saveTo(p), 1);
    const std::string text = readFile(p);
    const std::string row1 = text.substr(text.find('\n') + 1, text.find('\n', text.find('\n') + 1) -
                                                                  text.find('\n') - 1);
    std::vector<std::string> fields;
    std::stringstream ss(row1);
    for (std::string f; std::getline(ss, f, ',');) fields.push_back(f);
    const std::size_t col = type() == 0 ? 40 : 13;
    ASSERT_GT(fields.size(), col);
    EXPECT_EQ(fields[col], "-0.50000");
}

TEST_P(SoltFile, EditedHeaderAndCrLfStillLoad) {
    const fs::path p = dir / "e";
    ASSERT_EQ(saveTo(p), 1);
    std::string text = readFile(p);
    text = "my own notes, whatever\n" + text.substr(text.find('\n') + 1);
    std::string crlf;
    for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    writeFile(p, crlf);
    const StandardSet saved = soltStore;
    soltStore = StandardSet{};
    ASSERT_EQ(loadFrom(p), 1);
    const int s = standards().front();
    EXPECT_NEAR(soltStore[std::size_t(s)][7][1023], saved[std::size_t(s)][7][1023], 5.1e-6);
}

struct Damage {
    const char* name;
    std::string (*apply)(std::string);
};

class SoltFileRefused : public SoltFile {
  protected:
    void expectRefused(const std::string& text) {
        const fs::path p = dir / "bad";
        writeFile(p, text);
        const StandardSet before = soltStore;
        EXPECT_EQ(loadFrom(p), -5);
        EXPECT_TRUE(soltStore == before) << "a refused file changed the store";
        EXPECT_NE(lastLog().find(type() == 0 ? "ERROR #2095" : "ERROR #2096"), std::string::npos)
            << lastLog();
        EXPECT_NE(lastLog().find("unchanged"), std::string::npos) << lastLog();
    }
};

TEST_P(SoltFileRefused, ShortOrMalformedFilesChangeNothing) {
    const fs::path good = dir / "good";
    ASSERT_EQ(saveTo(good), 1);
    const std::string text = readFile(good);
    soltStore[kShort][0][0] = 42;
    soltStore[kThrough][0][0] = 42;
    const auto rowStart = [&](int r) {
        std::size_t pos = 0;
        for (int i = 0; i < r; ++i) pos = text.find('\n', pos) + 1;
        return pos;
    };
    SCOPED_TRACE("truncated after 500 rows");
    expectRefused(text.substr(0, rowStart(501)));
    SCOPED_TRACE("cut in the middle of the last row");
    expectRefused(text.substr(0, text.size() - 30));
    SCOPED_TRACE("a value that is no number");
    std::string bad = text;
    bad.replace(rowStart(300), 3, "abc");
    expectRefused(bad);
    SCOPED_TRACE("a row one value short");
    bad = text;
    bad.erase(rowStart(10), bad.find(',', rowStart(10)) + 1 - rowStart(10));
    expectRefused(bad);
    SCOPED_TRACE("only the header");
    expectRefused(text.substr(0, rowStart(1)));
    SCOPED_TRACE("an empty file");
    expectRefused("");
    SCOPED_TRACE("an over-long line");
    bad = text;
    bad.insert(rowStart(5), std::string(100000, ' '));
    bad.insert(rowStart(5), "1x");
    expectRefused(bad);
}

TEST_P(SoltFileRefused, FileOfTheOtherKindIsRefused) {
    // An S11 file has 60 values a row and an S21 file 20: neither loads as the other.
    const int other = 1 - type();
    const fs::path p = dir / "other";
    defaultResponder().pushFile(p.string(), platform::VAL_NEW_FILE_SELECTED);
    ASSERT_EQ(saveSOLT(other), 1);
    expectRefused(readFile(p));
}

TEST_P(SoltFile, OpenFailuresAndCancelledDialogs) {
    const StandardSet before = soltStore;
    EXPECT_EQ(loadFrom(dir / "missing"), type() == 0 ? -2 : -3);
    EXPECT_NE(lastLog().find(type() == 0 ? "ERROR #2092" : "ERROR #2093"), std::string::npos);
    EXPECT_EQ(saveTo(dir / "no" / "such" / "folder"), type() == 0 ? -2 : -4);
    EXPECT_NE(lastLog().find(type() == 0 ? "ERROR #2072" : "ERROR #2074"), std::string::npos);
    EXPECT_TRUE(soltStore == before);
    // Cancelled: nothing logged, nothing changed.
    const std::string log = platform::panel().text(PANEL_MESSAGE);
    EXPECT_EQ(loadSOLT(type()), -1);
    EXPECT_EQ(saveSOLT(type()), -1);
    EXPECT_EQ(platform::panel().text(PANEL_MESSAGE), log);
}

TEST(SoltFileDialogs, OnlyTheFirstDialogOfEitherKindStartsInCalibrations) {
    testing_support::freshPanel();
    defaultSaveCAL.store(1);
    EXPECT_EQ(loadSOLT(0), -1); // cancelled, and still the flag is used up
    EXPECT_EQ(saveSOLT(1), -1);
    const auto shown = defaultResponder().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].folder, "calibrations");
    EXPECT_EQ(shown[0].title, "Select File to Retrieve");
    EXPECT_EQ(shown[0].defaultName, "*.s11");
    EXPECT_EQ(shown[0].typeList, "S11 SOLT Calibration (*.s11)");
    EXPECT_EQ(shown[1].folder, "");
    EXPECT_EQ(shown[1].title, "Select File to Save");
    EXPECT_EQ(shown[1].defaultName, ".s21");
    EXPECT_EQ(shown[1].typeList, "S21 SOLT Calibration (*.s21)");
}

INSTANTIATE_TEST_SUITE_P(Kinds, SoltFile, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "S11" : "S21"; });
INSTANTIATE_TEST_SUITE_P(Kinds, SoltFileRefused, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "S11" : "S21"; });

} // namespace
