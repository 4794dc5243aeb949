// The eye as a colour-graded hit map (QCustomPlot's colour map), for the eye window and eye.png.
#pragma once

#include "platform/eye_picture.h"

class QCustomPlot;

namespace platform::qt {

// Replaces what the plot shows with the eye: time in ps from the centre, the trace's unit up.
void drawEye(QCustomPlot* plot, const platform::EyePicture& picture);
bool writeEyePng(const platform::EyePicture& picture, const std::string& path, std::string& error);

} // namespace platform::qt
