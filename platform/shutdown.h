// The process-wide way out: the shutdown flag and the hook that a lost link calls. Start-up
// installs the program's own shutdown (suspend the timer, autosave, quit); until then a
// request only quits the event loop.
#pragma once

#include <atomic>

// Set by the first shutdown request; a second close while quitting does nothing.
extern std::atomic<bool> shuttingDown;

// Exit status after the instrument link was lost while running.
constexpr int kExitLinkLost = 2;

void setShutdownHook(void (*hook)(int status));
void requestShutdown(int status);
