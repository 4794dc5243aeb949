// The "True Impedance Profile" item of the Y Units menu and the display option behind it.
#pragma once

#include "setup/setup.h"

// The option lives in the item's check mark, like every display setting in the panel model: off
// at start, never written into the settings file. On, the acquisition shows the layer-peeled
// impedance profile where the rule applies.
bool getTrueProfile();
// Dims the item where the rule says no; the mark stays, so the choice is back with the unit.
void updateTrueProfileItem();
// What the menu item does: switches the option where it applies.
void toggleTrueProfile();
