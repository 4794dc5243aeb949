#include "platform/event_loop.h"

namespace platform {
namespace {
std::atomic<EventLoop*> gLoop{nullptr};
std::atomic<bool> gQuitRequested{false};
} // namespace

HeadlessEventLoop& headlessEventLoop() {
    static HeadlessEventLoop loop;
    return loop;
}

void setEventLoop(EventLoop* loop) {
    gLoop.store(loop);
}

EventLoop& eventLoop() {
    EventLoop* l = gLoop.load();
    return l ? *l : headlessEventLoop();
}

int HeadlessEventLoop::run() {
    quit_.store(false);
    for (;;) {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            if (quit_.load() || actions_.empty()) break;
            fn = std::move(actions_.front());
            actions_.pop_front();
        }
        fn();
    }
    return code_.load();
}

void HeadlessEventLoop::quit(int code) {
    code_.store(code);
    quit_.store(true);
}

void HeadlessEventLoop::discardPending() {
    std::lock_guard lock(mutex_);
    actions_.clear();
}

void HeadlessEventLoop::post(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    actions_.push_back(std::move(fn));
}

int RunUserInterface() {
    return eventLoop().run();
}

void QuitUserInterface(int code) {
    gQuitRequested.store(true);
    eventLoop().quit(code);
}

bool quitRequested() {
    return gQuitRequested.load();
}
void clearQuitRequest() {
    gQuitRequested.store(false);
}

} // namespace platform
