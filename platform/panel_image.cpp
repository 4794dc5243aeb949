// Dispatch to the installed panel imager.
#include "platform/panel_image.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<PanelImager*> gImager{nullptr};
bool gCaptured = false; // GUI thread only
} // namespace

void setPanelImager(PanelImager* imager) {
    gImager.store(imager);
}

bool CapturePanel() {
    PanelImager* i = gImager.load();
    gCaptured = i && i->capture();
    return gCaptured;
}

bool EncodeCapturedPng(std::string& png) {
    PanelImager* i = gImager.load();
    return i && gCaptured && i->encodeCapture(png);
}

void PrintPanel() {
    if (PanelImager* i = gImager.load()) i->print();
}

} // namespace platform
