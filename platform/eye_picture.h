// The eye's hit histogram as a picture: the values the core has, drawn by the writer the
// program installs (QCustomPlot's colour map), as the certificate is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct EyePicture {
    std::vector<std::uint32_t> hits; // rows x columns, row 0 at vLow
    int columns = 0, rows = 0;
    double spanPs = 0; // the time the columns cover (two unit intervals)
    double vLow = 0, vHigh = 0;
    std::string yLabel, title, figures;
    // The mask's outline, in ps from the centre and the trace's unit; empty: none.
    std::vector<double> maskX, maskY;
};

using EyePictureWriter = bool (*)(const EyePicture& picture, const std::string& path,
                                  std::string& error);
void setEyePictureWriter(EyePictureWriter writer);
bool writeEyePicture(const EyePicture& picture, const std::string& path, std::string& error);

} // namespace platform
