// The "True Impedance Profile" menu item: its dimming follows the mode and the vertical unit.
#include "panel/true_profile.h"

#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "platform/panel_model.h"

bool getTrueProfile() {
    return platform::panel().menuChecked(MENUBAR_YUNITS_TRUEPROFILE);
}

void updateTrueProfileItem() {
    platform::panel().setMenuDimmed(MENUBAR_YUNITS_TRUEPROFILE,
                                    !trueProfileApplies(getMode(), view.yUnits.load()));
}

void toggleTrueProfile() {
    if (trueProfileApplies(getMode(), view.yUnits.load()))
        platform::panel().setMenuChecked(MENUBAR_YUNITS_TRUEPROFILE, !getTrueProfile());
    updateTrueProfileItem();
}
