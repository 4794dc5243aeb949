// The whole program on the headless loop, each run in a folder of its own: start-up creates
// folders and the shutdown writes user.ini.
#pragma once

#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/serial_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace testing_support {

class ProgramTest : public testing::Test {
  protected:
    void SetUp() override {
        freshPanel();
        platform::setEventLoop(nullptr);
        platform::asyncTimer().resume();
        char tmpl[] = "/tmp/velt_program_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        platform::setSerialDevice(nullptr);
        platform::headlessEventLoop().discardPending();
        platform::asyncTimer().discard();
        platform::asyncTimer().resume();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_, previous_;
};

} // namespace testing_support
