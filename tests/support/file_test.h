// Shared set-up of the file tests: a private working folder, a fresh panel and the simulated
// instrument on the link, as at the end of start-up.
#pragma once

#include "app/startup.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/interface.h"
#include "platform/panel_model.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace testing_support {

class FileTest : public testing::Test {
  protected:
    void SetUp() override {
        freshPanel();
        std::strcpy(instrument.model, "QSB020");
        instrument.speed = 0;
        instrument.channels = 0;
        platform::setSerialDevice(&sim_);
        ASSERT_EQ(instrument.open(), 1);
        char tmpl[] = "/tmp/velt_files_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        usbftdi_close();
        platform::setSerialDevice(nullptr);
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
        instrument.model[0] = '\0';
    }
    static std::string slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void spit(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string log() { return platform::panel().text(PANEL_MESSAGE); }
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> out;
        std::stringstream in(text);
        for (std::string l; std::getline(in, l);) out.push_back(l);
        return out;
    }
    // The log from here on.
    std::string newLog() const { return log().substr(mark_); }
    void markLog() { mark_ = log().size(); }
    static platform::ScriptedResponder& popups() { return platform::defaultResponder(); }

    simulator::SimulatedInstrument sim_;
    std::filesystem::path dir_, previous_;
    std::size_t mark_ = 0;
};

} // namespace testing_support
