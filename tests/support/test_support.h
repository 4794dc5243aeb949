// Shared test set-up: virtual time, a fresh panel, the scripted responder.
#pragma once

#include "platform/popups.h"

namespace testing_support {

// Virtual clock on, panel loaded with its design values, responder cleared.
void freshPanel();

} // namespace testing_support
