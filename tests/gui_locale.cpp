// Numbers stay in the C locale under a comma-decimal user locale once the view has started.
#include "panel/interface.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QDoubleSpinBox>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

bool gCommaLocale = false; // the environment really used a decimal comma before Qt started

std::string formatted(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%3.3f", v);
    return buf;
}

// Builds a German locale into a private folder, so the test needs no system locales.
void useCommaLocale() {
    char tmpl[] = "/tmp/velt_locale_XXXXXX";
    if (!mkdtemp(tmpl)) return;
    const std::string dir = tmpl;
    const std::string cmd = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(dir + "/de_DE.UTF-8")) return;
    setenv("LOCPATH", dir.c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    if (std::setlocale(LC_ALL, "")) gCommaLocale = formatted(2.5) == "2,500";
    std::setlocale(LC_ALL, "C");
}

TEST(Locale, NumbersUseAPointAfterTheViewStarted) {
    if (!gCommaLocale)
        std::fprintf(stderr, "note: no comma-decimal locale could be built; checking C only\n");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_EQ(formatted(2.5), "2.500");
    EXPECT_DOUBLE_EQ(std::strtod("2.25", nullptr), 2.25);

    testing_support::freshPanel();
    startTimer();
    platform::Delay(1.5);
    stopTimer("INIT", 1);
    EXPECT_NE(platform::panel().text(PANEL_MESSAGE).find("INIT: 1.500\n"), std::string::npos);

    platform::qt::PanelWindow window{panelTable()};
    auto* diel = window.findChild<QDoubleSpinBox*>("PANEL_DIEL");
    ASSERT_NE(diel, nullptr);
    EXPECT_EQ(diel->text(), "2.230");
}

TEST(Locale, TheEnvironmentReallyAskedForADecimalComma) {
    if (!gCommaLocale) GTEST_SKIP() << "localedef could not build de_DE.UTF-8 here";
    // Qt took the user's locale for everything but numbers.
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_NE(std::string(std::setlocale(LC_CTYPE, nullptr)).find("de_DE"), std::string::npos);
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Test discovery only lists the tests: no locale to build then.
    bool listing = false;
    for (int i = 1; i < argc; ++i) listing |= std::string(argv[i]) == "--gtest_list_tests";
    if (!listing) useCommaLocale();
    QApplication app(argc, argv); // sets the process locale from the environment
    platform::qt::initApplicationLocale();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
