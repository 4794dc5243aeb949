// Shared test set-up: virtual time, a fresh panel, the scripted responder.
#pragma once

#include "platform/popups.h"
#include "platform/recording_device.h"

namespace testing_support {

// Virtual clock on, panel loaded with its design values, responder cleared.
void freshPanel();

// Driver window and units back at their start values: metres, millivolts, 0 to 3 m, K 2.25.
void resetEnvironment();

// Opens the link on a recording fake (virtual clock on); returns what the open returned.
int openFakeLink(platform::RecordingDevice& dev);

} // namespace testing_support
