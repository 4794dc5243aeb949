// The panel and menu bar as one declarative table: identifiers, kinds, design texts, geometry
// at 1280 x 720 and callbacks. The Qt view builds the window from it; loadInterface fills the
// panel model with it.
#pragma once

#include "platform/panel_table.h"

#include <array>
#include <span>

// Panel and control identifiers.
constexpr int PANEL = 1;
constexpr int PANEL_AUTOACQUIRE = 2;
constexpr int PANEL_ACQUIRE = 3;
constexpr int PANEL_NOTES = 4;
constexpr int PANEL_SERIAL = 5;
constexpr int PANEL_MODE = 6;
constexpr int PANEL_DIFFERENTIAL = 7;
constexpr int PANEL_STIMULUS = 8;
constexpr int PANEL_SAMPLER = 9;
constexpr int PANEL_AUTOSCALE = 10;
constexpr int PANEL_YMIN = 11;
constexpr int PANEL_YMAX = 12;
constexpr int PANEL_AVERAGING = 13;
constexpr int PANEL_XSTART = 14;
constexpr int PANEL_XEND = 15;
constexpr int PANEL_FILTER = 16;
constexpr int PANEL_FILTERWIDTH = 17;
constexpr int PANEL_PANELBOTTOM = 18;
constexpr int PANEL_DIEL = 19;
constexpr int PANEL_ZOOM = 20;
constexpr int PANEL_RESETZOOM = 21;
constexpr int PANEL_VC = 22;
constexpr int PANEL_MESSAGE = 23;
constexpr int PANEL_TIMESTAMP = 24;
constexpr int PANEL_VERSION = 25;
constexpr int PANEL_CURSOR1 = 26;
constexpr int PANEL_CURSOR2 = 27;
constexpr int PANEL_DISTANCE = 28;
constexpr int PANEL_PANELTOP = 29;
constexpr int PANEL_PANELCURSOR = 30;
constexpr int PANEL_C1 = 31;
constexpr int PANEL_C2 = 32;
constexpr int PANEL_C3 = 33;
constexpr int PANEL_WAVEFORM = 34;
constexpr int PANEL_DEBUG = 35;
constexpr int PANEL_LED = 36;
constexpr int PANEL_C4 = 37;
constexpr int PANEL_ZONE = 38;
constexpr int PANEL_ZONESTATS = 39;
constexpr int PANEL_REMOTE = 40;

// Menu bar identifiers.
constexpr int MENUBAR = 1;
constexpr int MENUBAR_FILE = 2;
constexpr int MENUBAR_FILE_PRINT = 3;
constexpr int MENUBAR_FILE_SEPARATOR = 4;
constexpr int MENUBAR_FILE_SAVECSV = 5;
constexpr int MENUBAR_FILE_SAVEPNG = 6;
constexpr int MENUBAR_FILE_SEPARATOR_2 = 7;
constexpr int MENUBAR_FILE_STORE = 8;
constexpr int MENUBAR_FILE_RECALL = 9;
constexpr int MENUBAR_FILE_CLEAR = 10;
constexpr int MENUBAR_FILE_SEPARATOR_8 = 11;
constexpr int MENUBAR_FILE_SAVESETTINGS = 12;
constexpr int MENUBAR_FILE_LOADSETTINGS = 13;
constexpr int MENUBAR_FILE_RESETSETTINGS = 14;
constexpr int MENUBAR_FILE_SEPARATOR_5 = 15;
constexpr int MENUBAR_FILE_EXIT = 16;
constexpr int MENUBAR_DOMAIN = 17;
constexpr int MENUBAR_DOMAIN_TIME = 18;
constexpr int MENUBAR_DOMAIN_FREQ = 19;
constexpr int MENUBAR_PLOT = 20;
constexpr int MENUBAR_PLOT_DARK = 21;
constexpr int MENUBAR_PLOT_LIGHT = 22;
constexpr int MENUBAR_XUNITS = 23;
constexpr int MENUBAR_XUNITS_X1 = 24;
constexpr int MENUBAR_XUNITS_X2 = 25;
constexpr int MENUBAR_XUNITS_X3 = 26;
constexpr int MENUBAR_XUNITS_SEPARATOR_9 = 27;
constexpr int MENUBAR_XUNITS_X5 = 28;
constexpr int MENUBAR_YUNITS = 29;
constexpr int MENUBAR_YUNITS_Y1 = 30;
constexpr int MENUBAR_YUNITS_Y2 = 31;
constexpr int MENUBAR_YUNITS_Y3 = 32;
constexpr int MENUBAR_YUNITS_Y4 = 33;
constexpr int MENUBAR_YUNITS_SEPARATOR_7 = 34;
constexpr int MENUBAR_YUNITS_Y6 = 35;
constexpr int MENUBAR_CAL = 36;
constexpr int MENUBAR_CAL_SETZERO = 37;
constexpr int MENUBAR_CAL_RESETZERO = 38;
constexpr int MENUBAR_CAL_SEPARATOR_3 = 39;
constexpr int MENUBAR_CAL_INTCAL = 40;
constexpr int MENUBAR_CAL_EXTCAL = 41;
constexpr int MENUBAR_CAL_SEPARATOR_6 = 42;
constexpr int MENUBAR_CAL_SOLTCAL = 43;
constexpr int MENUBAR_CAL_SAVESOLT = 44;
constexpr int MENUBAR_CAL_LOADSOLT = 45;
constexpr int MENUBAR_CAL_SEPARATOR_4 = 46;
constexpr int MENUBAR_CAL_RECALIBRATE = 47;
constexpr int MENUBAR_YUNITS_SEPARATOR_10 = 48;
constexpr int MENUBAR_YUNITS_TRUEPROFILE = 49;
constexpr int MENUBAR_YUNITS_ZONELIMITS = 50;
constexpr int MENUBAR_FILE_SAVETOUCHSTONE = 51;
constexpr int MENUBAR_FILE_REMOTE = 52;
constexpr int MENUBAR_FILE_OPENTOUCHSTONE = 53;
constexpr int MENUBAR_PLOT_SEPARATOR_11 = 54;
constexpr int MENUBAR_PLOT_REFERENCES = 55;
constexpr int MENUBAR_PLOT_EYE = 56;
constexpr int MENUBAR_PLOT_STATISTICS = 57;

// Control arrays.
constexpr int BOTTOM = 1;
constexpr int RIGHT = 2;
constexpr int TOP = 3;

constexpr const char* kPanelTitle = "VELT";
constexpr int kPanelWidth = 1280;
constexpr int kPanelHeight = 720;
constexpr int kPanelMinWidth = 1024;
constexpr int kPanelMinHeight = 576;

std::span<const int> controlArrayMembers(int arrayId);

// The table as the view builds the window from it.
const PanelTable& panelTable();

// Loads the panel and menu bar with their design values into the panel model.
void loadInterface();
