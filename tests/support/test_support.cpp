#include "tests/support/test_support.h"

#include "panel/interface.h"
#include "platform/clock.h"
#include "platform/event_loop.h"

namespace testing_support {

void freshPanel() {
    platform::setVirtualTime(true);
    platform::setPopupHandler(nullptr);
    platform::defaultResponder().clear();
    platform::clearQuitRequest();
    loadInterface();
}

} // namespace testing_support
