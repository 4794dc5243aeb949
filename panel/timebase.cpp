// Timebase row selection and the window tables.
#include "panel/timebase.h"

#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "platform/panel_model.h"

void setTimebase(int calMode, int fast) {
    (void)fast; // every caller asks for the fast row set
    const bool external = calMode == 1;
    instrument.selectTiming(external ? 3 : 2);
    platform::panel().setMenuChecked(MENUBAR_CAL_EXTCAL, external);
    platform::panel().setMenuChecked(MENUBAR_CAL_INTCAL, !external);
}

void setRisetime(int speed) {
    // The fast step reaches higher frequencies and needs a shorter filter.
    const double ghzEnd = speed == 0 ? 7.2 : 2.4;
    panelState.maxRange[4].store(ghzEnd);
    panelState.defaultEnd[4].store(ghzEnd);
    if (speed == 0) platform::panel().setValue(PANEL_FILTERWIDTH, 35);
}
