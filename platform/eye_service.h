// What the eye window asks of the program: the eye of the shown trace for its settings, and a
// count that moves with every new trace so that it knows when to draw again.
#pragma once

#include "platform/eye_picture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct EyeRequest {
    int source = 0; // 0: the live trace, 1: the corrected S21, n: the nth of sources()
    double bitrateGbps = 5;
    std::string pattern = "PRBS7";
    bool pam4 = false;
    double rjPs = 0, noise = 0;             // noise in the trace's unit
    double maskWidthUi = 0, maskHeight = 0; // no mask when 0
    bool hexagon = false;
};

struct EyeView {
    bool ok = false;
    std::string error; // why there is no eye (not a transmission trace, say)
    EyePicture picture;
    std::string csv; // the histogram, for File > export
};

class EyeService {
  public:
    virtual ~EyeService() = default;
    virtual EyeView compute(const EyeRequest& request) = 0;
    virtual std::uint64_t traceGeneration() const = 0;
    // What an eye can be taken from: the live trace, the corrected S21, the reference traces.
    virtual std::vector<std::string> sources() const = 0;
};

} // namespace platform
