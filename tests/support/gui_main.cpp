// The entry of the GUI test programs: the real QApplication on the offscreen platform, in the
// C locale and the program's own look, as the program starts it.
#include "platform/qt/qt_platform.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    // Test discovery runs the programs at build time, without CTest's environment.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    platform::qt::initApplicationLocale();
    platform::qt::applyTheme(app);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
