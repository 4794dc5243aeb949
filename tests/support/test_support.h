// Shared test set-up: virtual time, a fresh panel, the scripted responder.
#pragma once

#include "panel/panel_state.h"
#include "platform/popups.h"
#include "platform/recording_device.h"
#include "setup/vocabulary.h"

#include <csignal>
#include <sys/resource.h>

namespace testing_support {

// Virtual clock on, panel loaded with its design values, responder cleared; the window shown in
// metres from 0 to 3 m in millivolts (K 2.25, no zero), no plots, no requests for the tick.
void freshPanel();

// Opens the link on a recording fake (virtual clock on); returns what the open returned.
int openFakeLink(platform::RecordingDevice& dev);

// Runs f with room for only 64 more bytes in any file, as on a full disk; returns what f did.
template <typename F> auto onAFullDisk(F f) {
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit tight = old;
    tight.rlim_cur = 64;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tight);
    auto result = f();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    return result;
}

} // namespace testing_support

// The driver over the window the panel shows, as a cycle asks for it, and the zero search over
// it with its result stored as the panel stores it.
int sweepShown(int count);
int zeroShown();
