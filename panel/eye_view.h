// The eye of the live trace for the eye window (Display > Eye Diagram...).
#pragma once

#include "platform/eye_service.h"

class LiveEye : public platform::EyeService {
  public:
    platform::EyeView compute(const platform::EyeRequest& request) override;
    std::uint64_t traceGeneration() const override;
    std::vector<std::string> sources() const override;
};

// What Display > Eye Diagram... calls: installed by the program, which owns the window.
using EyeWindowOpener = void (*)();
void setEyeWindowOpener(EyeWindowOpener opener);
void openEyeWindow();
