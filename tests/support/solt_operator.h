// A user going through the SOLT prompts with the simulated instrument: each prompt's standard
// is connected in the simulator before it is confirmed, as in its control window.
#pragma once

#include "platform/popups.h"
#include "simulator/sim_device.h"

#include <array>
#include <string>
#include <vector>

namespace testing_support {

class SoltOperator : public platform::PopupHandler {
  public:
    explicit SoltOperator(simulator::SimulatedInstrument* sim) : sim_(sim) {}

    int offerAnswer = 2;     // 1 Load File, 2 New Calibration, 3 Cancel
    int cancelAtPrompt = -1; // 0-based index of the standard prompt answered with Cancel
    std::string filePath;    // answer to file dialogs; empty cancels them
    std::vector<platform::PopupRequest> seen;
    std::vector<std::string> prompts; // titles and texts of the standard prompts, in order

    platform::PopupAnswer show(const platform::PopupRequest& r) override {
        seen.push_back(r);
        using platform::PopupKind;
        if (r.kind == PopupKind::FileSelect)
            return {filePath.empty() ? platform::VAL_NO_FILE_SELECTED
                                     : platform::VAL_EXISTING_FILE_SELECTED,
                    filePath};
        if (r.kind != PopupKind::Choice) return {1, {}};
        if (r.title.rfind("CALIBRATE ", 0) != 0) return {offerAnswer, {}};
        const int index = static_cast<int>(prompts.size());
        prompts.push_back(r.title + " | " + r.text);
        if (index == cancelAtPrompt) return {2, {}};
        connect(r.text);
        return {1, {}};
    }

    // Stimulus channel of a label such as "PORT 2, CH 1+".
    static int channelOf(const std::string& label) {
        constexpr std::array<int, 5> port1 = {2, 1, 0, 3, 4};
        const int port = label.at(5) - '0';
        const int ch = label.at(11) - '0';
        return port1[static_cast<std::size_t>(ch - 1)] + (port == 2 ? 5 : 0);
    }

  private:
    void connect(const std::string& text) {
        if (!sim_) return;
        using simulator::Connection;
        if (text.rfind("Connect ", 0) == 0) {
            sim_->setConnection(channelOf(text.substr(8)), Connection::Through);
            return;
        }
        const std::string label = text.substr(4);
        const int ch = channelOf(label);
        const Connection c = text.find("to SHORT") != std::string::npos  ? Connection::Short
                             : text.find("to OPEN") != std::string::npos ? Connection::Open
                                                                         : Connection::Load;
        sim_->setConnection(ch, c);
    }

    simulator::SimulatedInstrument* sim_;
};

} // namespace testing_support
