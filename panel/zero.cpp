// Horizontal zero reference: the window stays absolute; only what is shown moves.
#include "panel/zero.h"

#include "acquisition/acquire.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "platform/panel_model.h"
#include "platform/popups.h"

#include <cmath>

using platform::panel;

int setZero(double x) {
    if (std::isnan(x)) return 1;
    const int differential = getDiff();
    if (x < 0) {
        if (platform::ConfirmPopup("Set New Horizontal Reference Point",
                                   "Please ensure the TDR is in open before setting a new "
                                   "horizontal reference point.\n\nDo you want to continue?") != 1)
            return 0;
        // The search measures from the instrument's origin; when it finds no open the user
        // keeps the reference they had.
        int sweep = 1;
        double zero = 0.0;
        if (instrument.findZero(-1.0, differential, readSetup().window(), zero, &sweep) == 1) {
            view.xZero.store(zero);
        } else {
            if (sweep == -1 || sweep == -2)
                checkWaveform(sweep); // the link is gone, as any acquisition reports it
            else
                platform::MessagePopup("Could not find instrument open",
                                       "Cannot set zero reference because the active TDR channel "
                                       "is not in open.\n\nPlease set to open and try again.");
        }
    } else if (double zero = 0.0; instrument.findZero(x, differential, {}, zero) == 2) {
        view.xZero.store(zero);
    }

    const double z = view.xZero.load();
    for (int id : {PANEL_XSTART, PANEL_XEND}) {
        double lo = 0, hi = 0;
        panel().range(id, lo, hi);
        panel().setRange(id, -z, hi);
    }
    setXStart(view.xStart.load());
    setXEnd(view.xEnd.load());
    const int color = z > 0 ? kZeroActiveColor : kZeroClearColor;
    panel().setTextBgColor(PANEL_XSTART, color);
    panel().setTextBgColor(PANEL_XEND, color);
    return 1;
}
