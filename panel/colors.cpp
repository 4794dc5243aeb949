// Display colours: one table per scheme, applied to the graph, cursors and read-out frame.
#include "panel/colors.h"

#include "panel/interface.h"

using platform::panel;

void setColor(int scheme) {
    if (scheme != 0 && scheme != 1) return;
    const ColorScheme& c = kColorSchemes[static_cast<std::size_t>(scheme)];
    panel().setGraphColors(c.background, c.grid, c.axisText);
    panel().setCursorColor(1, c.cursor1);
    panel().setCursorColor(2, c.cursor2);
    panel().setTextBgColor(PANEL_PANELCURSOR, c.cursorFrame);
    panel().setTextColor(PANEL_TIMESTAMP, c.timestamp);
    panel().setMenuChecked(MENUBAR_PLOT_DARK, scheme == 1);
    panel().setMenuChecked(MENUBAR_PLOT_LIGHT, scheme == 0);
}
