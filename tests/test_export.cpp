// CSV and PNG export without a window, the serial text that names every exported file, failed
// writes, and every file writer and reader under a comma-decimal user locale.
#include "acquisition/acquire.h"
#include "files/settings_file.h"
#include "files/waveform_file.h"
#include "panel/export.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "panel/waveform_io.h"
#include "tests/support/file_test.h"

#include <clocale>

namespace {

using platform::panel;
using testing_support::FileTest;

class Export : public FileTest {
  protected:
    void SetUp() override {
        FileTest::SetUp();
        panelState.defaultSaveCSV = panelState.defaultSavePNG = panelState.defaultSaveWaveform = 1;
        for (std::size_t i = 0; i < 1024; ++i) {
            instrument.recordX[i] = 0.01 * static_cast<double>(i);
            liveTrace.y[i] = 50.0 + 0.5 * static_cast<double>(i);
        }
        liveTrace.y[1] = -0.0004;
    }
};

TEST_F(Export, CsvCarriesUnitsSerialQuotedNotesAndAllPoints) {
    view.xUnits.store(XUnit::Nanoseconds);
    view.yUnits.store(YUnit::Ohms);
    panel().setText(PANEL_NOTES, "TDR, \"as built\" board");
    popups().pushFile("out.csv");
    markLog();
    EXPECT_EQ(saveCSV(), 1);
    EXPECT_EQ(newLog(), "> CSV file saved successfully.\n");
    EXPECT_EQ(popups().shown().at(0).typeList, "CSV (*.csv)");
    const auto l = lines(slurp("out.csv"));
    ASSERT_EQ(l.size(), 1025u);
    EXPECT_EQ(l[0], "ns,Ohm,,\"TDR, \"as built\" board\"");
    EXPECT_EQ(l[1], "0.000,50.000");
    EXPECT_EQ(l[2], "0.010,-0.000");
    EXPECT_EQ(l[1024], "10.230,561.500");
}

struct Serial {
    const char* text;
    bool accepted;
};

void PrintTo(const Serial& s, std::ostream* os) {
    *os << '"' << s.text << '"';
}

class SerialText : public Export, public testing::WithParamInterface<Serial> {};

TEST_P(SerialText, NamesTheFilesOrStopsEveryExportBeforeItsDialog) {
    const std::string serial = GetParam().text;
    const bool ok = GetParam().accepted;
    panel().setText(PANEL_SERIAL, serial);
    markLog();
    EXPECT_EQ(storeWaveform(), ok ? -1 : -2); // every dialog is cancelled
    EXPECT_EQ(saveCSV(), ok ? 0 : -5);
    EXPECT_EQ(savePNG(), ok ? -1 : -2);
    const std::string rule =
        ": Only alphanumeric values, dashes, parentheses, and spaces allowed in file name.\n";
    EXPECT_EQ(newLog(),
              ok ? "" : "> ERROR #2176" + rule + "> ERROR #2155" + rule + "> ERROR #2132" + rule);
    const auto shown = popups().shown();
    ASSERT_EQ(shown.size(), ok ? 3u : 0u);
    const char* folders[] = {"waveforms", "datalogs", "images"};
    const char* types[] = {".velt", ".csv", ".png"};
    for (std::size_t i = 0; i < shown.size(); ++i)
        EXPECT_EQ(shown[i].folder + "|" + shown[i].defaultName + "|" + shown[i].title,
                  std::string(folders[i]) + "|" + serial + types[i] + "|Select File to Save");
    // The one-shot folders are spent either way.
    EXPECT_EQ(
        panelState.defaultSaveWaveform + panelState.defaultSaveCSV + panelState.defaultSavePNG, 0);
}

INSTANTIATE_TEST_SUITE_P(Texts, SerialText,
                         testing::Values(Serial{"", true}, Serial{"Cable 7 (A)-x", true},
                                         Serial{"K\xc3\xa4"
                                                "bel",
                                                true},
                                         Serial{"A_B", false}, Serial{"A.B", false},
                                         Serial{"a/b", false}, Serial{"#1", false}));

TEST_F(Export, FailedWritesAreReportedNeverCalledASuccess) {
    markLog();
    for (const char* path : {"/dev/full", "/no/such/folder/x"}) {
        popups().pushFile(path);
        storeWaveform();
        popups().pushFile(path);
        saveCSV();
    }
    // Without a window there is no picture to save.
    popups().pushFile("p.png");
    EXPECT_EQ(savePNG(), -2);
    EXPECT_EQ(newLog(), "> ERROR #2173: Could not write header labels.\n"
                        "> ERROR #2152: Could not write header information.\n"
                        "> ERROR #2172: Could not open target save file.\n"
                        "> ERROR #2151: Could not create log file.\n"
                        "> ERROR #2132: Could not save PNG file to disk.\n");
    EXPECT_FALSE(std::filesystem::exists("p.png"));
}

// A full disk while a file is replaced: the failure is named and the earlier file is whole.
TEST_F(Export, AFullDiskKeepsTheFileThatWasThere) {
    struct Writer {
        const char* path;
        int (*save)();
        const char* error;
    };
    for (const Writer& w : {Writer{"w.velt", storeWaveform, "ERROR #2173"},
                            Writer{"w.csv", saveCSV, "ERROR #2153"}}) {
        popups().pushFile(w.path);
        ASSERT_EQ(w.save(), 1) << w.path;
        const std::string before = slurp(w.path);
        markLog();
        popups().pushFile(w.path);
        EXPECT_LT(testing_support::onAFullDisk(w.save), 0) << w.path;
        EXPECT_NE(newLog().find(w.error), std::string::npos) << newLog();
        EXPECT_EQ(slurp(w.path), before) << w.path;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2) << "no leftovers";
}

// Builds a German locale into a private folder, so the test needs no system locales.
bool useCommaLocale() {
    char tmpl[] = "/tmp/velt_locale_XXXXXX";
    if (!mkdtemp(tmpl)) return false;
    const std::string dir = tmpl;
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(dir + "/de_DE.UTF-8"))
        return false;
    setenv("LOCPATH", dir.c_str(), 1);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) return false;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.1f", 2.5);
    return std::string(buf) == "2,5";
}

TEST_F(Export, EveryFileIsWrittenAndReadInTheCLocaleWhateverTheUserLocale) {
    if (!useCommaLocale()) GTEST_SKIP() << "no comma-decimal locale could be built";
    setXEnd(2.5);
    setDiel(3.5);
    setYMinMax(-12.5, 250.25);
    ASSERT_EQ(saveSettings(1), 1);
    popups().pushFile("w.velt");
    ASSERT_EQ(storeWaveform(), 1);
    popups().pushFile("w.csv");
    ASSERT_EQ(saveCSV(), 1);
    setXEnd(1.0);
    setDiel(2.0);
    const int loaded = loadSettings(1);
    popups().pushFile("w.velt");
    const int recalled = recallWaveform();
    std::setlocale(LC_ALL, "C");
    std::filesystem::remove_all(std::getenv("LOCPATH"));

    EXPECT_NE(slurp("user.ini")
                  .find("USER_XEND\t\t\t2.50000;\nUSER_XZERO\t\t\t0.00000;\n"
                        "USER_DIELK\t\t\t3.50000;\n"),
              std::string::npos);
    EXPECT_EQ(lines(slurp("w.velt"))[1],
              "0,0,0.00000,2.50000,0.00000,3.50000,-12.50000,250.25000,0,0,2,4,0,200");
    EXPECT_EQ(lines(slurp("w.csv"))[2], "0.010,-0.000");
    EXPECT_EQ(loaded + recalled, 2);
    EXPECT_DOUBLE_EQ(view.xEnd.load(), 2.5);
    EXPECT_DOUBLE_EQ(view.dielK.load(), 3.5);
    double lo = 0, hi = 0;
    panel().yRange(lo, hi);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(-12.5, 250.25));
}

} // namespace
