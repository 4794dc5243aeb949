#include "tests/support/test_support.h"

#include "acquisition/acquire.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "platform/clock.h"
#include "platform/event_loop.h"

namespace testing_support {

void freshPanel() {
    platform::setVirtualTime(true);
    platform::setPopupHandler(nullptr);
    platform::defaultResponder().clear();
    platform::clearQuitRequest();
    platform::headlessEventLoop().discardPending();
    instrument.link.lost.store(false);
    loadInterface();
    view.xZero = 0.0;
    view.dielK = 2.25;
    setXUnits(XUnit::Metres);
    setYUnits(YUnit::Millivolts);
    setXStart(0.0);
    setXEnd(3.0);
    panelState.livePlot = panelState.storedPlot = 0;
    tick.asyncCal = -1;
    // A calibration of another test's model would be offered again instead of a new one.
    solt.calS11 = solt.calS21 = 0;
    tick.asyncAcqCount = 0;
}

int openFakeLink(platform::RecordingDevice& dev) {
    platform::setVirtualTime(true);
    platform::setSerialDevice(&dev);
    instrument.link.opened.store(0);
    dev.queueRead(std::vector<std::uint8_t>(16, 0x55)); // drained identification
    dev.queueRead('.');
    return usbftdi_open();
}

} // namespace testing_support

int sweepShown(int count) {
    const Setup s = readSetup();
    return instrument.acquire(count, s.yUnit, s.window());
}

int zeroShown() {
    double zero = 0.0;
    const int found = instrument.findZero(-1.0, 0, readSetup().window(), zero);
    view.xZero.store(zero);
    return found;
}
