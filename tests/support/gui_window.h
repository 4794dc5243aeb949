// The window start-up shows: a test points gWindow at its window and installs showWindow as the
// display hook before it runs the program.
#pragma once

#include "platform/qt/view.h"

namespace testing_support {

inline platform::qt::PanelWindow* gWindow = nullptr;
inline void showWindow() {
    gWindow->show();
}

} // namespace testing_support
