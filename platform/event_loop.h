// The user-interface event loop behind one interface: Qt's, or a headless one for tests that
// runs posted actions in order on the calling thread.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>

namespace platform {

class EventLoop {
  public:
    virtual ~EventLoop() = default;
    virtual int run() = 0;           // returns the exit code passed to quit
    virtual void quit(int code) = 0; // thread-safe; posted when called off the GUI thread
    // Runs fn on the GUI thread, later (thread-safe, never waits).
    virtual void post(std::function<void()> fn) = 0;
    // Brings the screen up to date during long work on the GUI thread; runs no timer, takes no
    // user input.
    virtual void processEvents() {}
};

// Runs posted actions in order until one asks to quit or none are left.
class HeadlessEventLoop : public EventLoop {
  public:
    int run() override;
    void quit(int code) override;
    void post(std::function<void()> fn) override;
    bool quitRequested() const { return quit_.load(); }
    // Drops what was posted and not yet run (tests start each case on an empty loop).
    void discardPending();

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> actions_;
    std::atomic<bool> quit_{false};
    std::atomic<int> code_{0};
};

// nullptr restores the built-in headless loop.
void setEventLoop(EventLoop* loop);
EventLoop& eventLoop();
HeadlessEventLoop& headlessEventLoop();

int RunUserInterface();
void QuitUserInterface(int code);
// True once QuitUserInterface was called during this run.
bool quitRequested();
void clearQuitRequest();

} // namespace platform
