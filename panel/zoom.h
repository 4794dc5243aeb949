// Zoom to the cursors and back, and the layout rule that follows the window's size.
#pragma once

int zoom();
int resetZoom();
int resizeWindow();
