// A stand-in user for the SOLT prompts on the simulated instrument: each standard asked for is
// connected in the simulator before the prompt is confirmed, as a user would do in its control
// window; when the run ends ("SOLT COMPLETE" and the like) it reconnects the devices under test.
// Tests use it, and `velt --simulate --auto-solt` for demonstrations. Popups that are
// not about SOLT go to the handler it wraps (without one they get the default answer 1).
#pragma once

#include "platform/popups.h"
#include "simulator/sim_device.h"

#include <string>
#include <vector>

namespace simulator {

class SoltOperator : public platform::PopupHandler {
  public:
    explicit SoltOperator(SimulatedInstrument* sim, platform::PopupHandler* others = nullptr)
        : sim_(sim), others_(others) {}

    int offerAnswer = 2;     // 1 Load File, 2 New Calibration, 3 Cancel
    int cancelAtPrompt = -1; // 0-based index of the standard prompt answered with Cancel
    std::string filePath;    // answer to file dialogs; empty cancels them
    std::vector<platform::PopupRequest> seen;
    std::vector<std::string> prompts; // "title | text" of the standard prompts, in order

    platform::PopupAnswer show(const platform::PopupRequest& r) override;

    // Stimulus channel of a sampler label such as "PORT 2, CH 1+"; -1 when it names none.
    static int channelOf(const std::string& label);

  private:
    void connect(const std::string& text);
    void reconnectDevices();

    SimulatedInstrument* sim_;
    platform::PopupHandler* others_;
    std::vector<int> touched_; // channels with a standard connected by this operator
};

} // namespace simulator
