// Reads the SOLT prompt texts back into channels and standards.
#include "simulator/sim_operator.h"

#include <array>

namespace simulator {

platform::PopupAnswer SoltOperator::show(const platform::PopupRequest& r) {
    using platform::PopupKind;
    const bool prompt = r.kind == PopupKind::Choice && r.title.rfind("CALIBRATE ", 0) == 0;
    const bool solt = prompt || r.title.find("SOLT") != std::string::npos ||
                      r.typeList.find("SOLT") != std::string::npos;
    if (others_ && !solt) return others_->show(r);
    seen.push_back(r);
    if (r.kind == PopupKind::FileSelect)
        return {filePath.empty() ? platform::VAL_NO_FILE_SELECTED
                                 : platform::VAL_EXISTING_FILE_SELECTED,
                filePath};
    if (r.kind != PopupKind::Choice) {
        // "Reconnect DUT to active channel and click OK to continue."
        if (r.title.rfind("SOLT ", 0) == 0) reconnectDevices();
        return {1, {}};
    }
    if (!prompt) return {offerAnswer, {}};
    const int index = static_cast<int>(prompts.size());
    prompts.push_back(r.title + " | " + r.text);
    if (index == cancelAtPrompt) return {2, {}};
    connect(r.text);
    return {1, {}};
}

int SoltOperator::channelOf(const std::string& label) {
    // "PORT p, CH c" with the CH 1..CH 5 order of the stimulus channels.
    constexpr std::array<int, 5> port1 = {2, 1, 0, 3, 4};
    if (label.size() < 12 || label.compare(0, 5, "PORT ") != 0) return -1;
    const int port = label[5] - '0';
    const int ch = label[11] - '0';
    if (port < 1 || port > 2 || ch < 1 || ch > 5) return -1;
    return port1[static_cast<std::size_t>(ch - 1)] + (port == 2 ? 5 : 0);
}

void SoltOperator::reconnectDevices() {
    if (!sim_) return;
    for (int ch : touched_) sim_->setConnection(ch, Connection::Device);
    touched_.clear();
}

void SoltOperator::connect(const std::string& text) {
    if (!sim_) return;
    if (text.rfind("Connect ", 0) == 0) {
        const int ch = channelOf(text.substr(8));
        if (ch < 0) return;
        sim_->setConnection(ch, Connection::Through);
        touched_.push_back(ch);
        return;
    }
    if (text.rfind("Set ", 0) != 0) return;
    const int ch = channelOf(text.substr(4));
    if (ch < 0) return;
    const Connection c = text.find(" to SHORT") != std::string::npos  ? Connection::Short
                         : text.find(" to OPEN") != std::string::npos ? Connection::Open
                                                                      : Connection::Load;
    sim_->setConnection(ch, c);
    touched_.push_back(ch);
}

} // namespace simulator
