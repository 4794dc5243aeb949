// Pictures of the panel: a capture saved as PNG, and printing. The Qt view installs the real
// imager; without a window (tests, batch runs) nothing is captured and nothing printed.
#pragma once

#include <string>

namespace platform {

class PanelImager {
  public:
    virtual ~PanelImager() = default;
    // Keeps an image of the whole panel as it is on screen now; false when there is none.
    virtual bool capture() = 0;
    // The kept image encoded as PNG; false when there is none or it cannot be encoded.
    virtual bool encodeCapture(std::string& png) = 0;
    // The print dialog, then the panel scaled to the page with its aspect ratio kept.
    virtual void print() = 0;
};

// nullptr: no imager.
void setPanelImager(PanelImager* imager);

bool CapturePanel();
// The captured panel as PNG bytes (the caller writes them where the user chose).
bool EncodeCapturedPng(std::string& png);
void PrintPanel();

} // namespace platform
