// The eye of the live trace for the eye window (Display > Eye Diagram...).
#pragma once

#include "instrument/driver.h"
#include "platform/eye_service.h"

#include <complex>

class LiveEye : public platform::EyeService {
  public:
    platform::EyeView compute(const platform::EyeRequest& request) override;
    std::uint64_t traceGeneration() const override;
    std::vector<std::string> sources() const override;
};

// The cycle keeps the corrected S21 of each frequency-domain TDT acquisition here (GHz per
// shown bin), for the eye's second source. It never waits: a copy the window is reading is
// skipped, and the next acquisition is kept instead.
void keepCorrectedS21(const Waveform& ghz, const std::complex<double>* s21);

// What Display > Eye Diagram... calls: installed by the program, which owns the window.
using EyeWindowOpener = void (*)();
void setEyeWindowOpener(EyeWindowOpener opener);
void openEyeWindow();
// Display > Statistics...: the control charts of the recorded results, likewise installed.
void setStatisticsWindowOpener(EyeWindowOpener opener);
void openStatisticsWindow();
