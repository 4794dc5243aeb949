// Program log lines, stopwatch laps and folder creation.
#include "panel/interface.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using platform::panel;

namespace {

const std::string kDesignLog = "> Initializing...";

// What the log box gained since the design text.
std::string logTail() {
    return panel().text(PANEL_MESSAGE).substr(kDesignLog.size());
}

struct MessageCase {
    int code;
    const char* text;
    int mode;
    const char* shown;
};

class WriteMessage : public testing::TestWithParam<MessageCase> {
  protected:
    void SetUp() override { testing_support::freshPanel(); }
};

TEST_P(WriteMessage, FormatsTheLineAndShowsItOnlyInMode0) {
    const MessageCase& c = GetParam();
    writeMessage(c.code, c.text, c.mode);
    EXPECT_EQ(logTail(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, WriteMessage,
    testing::Values(MessageCase{0, "PNG image saved successfully.", 0,
                                "> PNG image saved successfully.\n"},
                    MessageCase{2132, "Could not save PNG file to disk.", 0,
                                "> ERROR #2132: Could not save PNG file to disk.\n"},
                    MessageCase{0, "PNG image saved successfully.", -1, ""},
                    MessageCase{2132, "Could not save PNG file to disk.", -1, ""},
                    MessageCase{-5, "negative codes are errors too", 0,
                                "> ERROR #-5: negative codes are errors too\n"},
                    MessageCase{0, "any other mode is quiet", 3, ""}));

TEST(WriteMessageLimits, OverlongTextIsCutButTheLineStillEnds) {
    testing_support::freshPanel();
    writeMessage(0, std::string(1000, 'x'), 0);
    writeMessage(0, "next", 0);
    const std::string tail = logTail();
    const std::size_t firstEnd = tail.find('\n');
    ASSERT_NE(firstEnd, std::string::npos);
    EXPECT_EQ(firstEnd + 1, static_cast<std::size_t>(kLogLineSize - 1));
    EXPECT_EQ(tail.substr(firstEnd + 1), "> next\n");
}

TEST(Stopwatch, LapIsRecordedAndShownOnlyOnRequest) {
    testing_support::freshPanel();
    startTimer();
    platform::Delay(1.25);
    stopTimer("INIT", 0);
    EXPECT_NEAR(lastLapSeconds(), 1.25, 1e-6);
    EXPECT_EQ(logTail(), "");

    startTimer();
    platform::Delay(0.5);
    stopTimer("ACQ_SE", 1);
    EXPECT_NEAR(lastLapSeconds(), 0.5, 1e-6);
    EXPECT_EQ(logTail(), "ACQ_SE: 0.500\n");
}

TEST(Stopwatch, LapAcrossTheTickCounterWrapStaysPositive) {
    testing_support::freshPanel();
    // Started 1 s before the 32-bit millisecond counter wraps, stopped 1.5 s after it.
    platform::advanceVirtualTime(4294967.296 - platform::clockMs() / 1000.0 - 1.0);
    startTimer();
    platform::Delay(2.5);
    stopTimer("CAL", 0);
    EXPECT_NEAR(lastLapSeconds(), 2.5, 1e-6);
}

enum class Place { Fresh, ExistingDir, UnderAFile, IsAFile };

struct DirCase {
    const char* name;
    Place place;
    int verbose;
    int result;
    const char* shown;
};

class CreateDir : public testing::TestWithParam<DirCase> {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        char tmpl[] = "/tmp/velt_log_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_P(CreateDir, ReportsWhatHappened) {
    const DirCase& c = GetParam();
    fs::path target = root_ / "waveforms";
    switch (c.place) {
    case Place::Fresh:
        break;
    case Place::ExistingDir:
        fs::create_directory(target);
        break;
    case Place::UnderAFile:
        std::ofstream(root_ / "plain") << "x";
        target = root_ / "plain" / "waveforms";
        break;
    case Place::IsAFile:
        std::ofstream(target) << "x";
        break;
    }
    EXPECT_EQ(createDir(target.string(), c.verbose), c.result);
    EXPECT_EQ(logTail(), c.shown);
    EXPECT_EQ(fs::is_directory(target), c.place != Place::UnderAFile && c.place != Place::IsAFile);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CreateDir,
    testing::Values(DirCase{"Created", Place::Fresh, 0, 1, ""},
                    DirCase{"ExistingQuiet", Place::ExistingDir, 0, -1, ""},
                    DirCase{"ExistingVerbose", Place::ExistingDir, 1, -1,
                            "> ERROR #2011: Directory already exists.\n"},
                    DirCase{"UnderARegularFile", Place::UnderAFile, 0, -2,
                            "> ERROR #2012: Log directory could not be created.\n"},
                    DirCase{"RegularFileOfThatName", Place::IsAFile, 0, -2,
                            "> ERROR #2012: Log directory could not be created.\n"}),
    [](const testing::TestParamInfo<DirCase>& info) { return info.param.name; });

} // namespace
