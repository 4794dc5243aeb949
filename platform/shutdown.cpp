#include "platform/shutdown.h"

#include "platform/event_loop.h"

std::atomic<bool> shuttingDown{false};

namespace {
std::atomic<void (*)(int)> gHook{nullptr};
} // namespace

void setShutdownHook(void (*hook)(int status)) {
    gHook.store(hook);
}

void requestShutdown(int status) {
    if (auto hook = gHook.load()) {
        hook(status);
        return;
    }
    if (shuttingDown.exchange(true)) return;
    platform::QuitUserInterface(status);
}
