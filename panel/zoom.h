// Zoom to the cursors and back, and the layout rule that follows the window's size.
#pragma once

void zoom();
void resetZoom();
void resizeWindow();
// The size the layout was last fitted to: forgotten (the design size) before the panel is
// first shown, taken from the panel once it is.
void forgetLayout();
void rememberLayout();
