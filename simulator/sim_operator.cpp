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
    if (r.title == "SOLT STANDARD CHECK") {
        warnings.push_back(r.text);
        if (checkAnswers.empty()) return {checkAnswer, {}};
        const int answer = checkAnswers.front();
        checkAnswers.pop_front();
        return {answer, {}};
    }
    if (!prompt) return {offerAnswer, {}};
    const int index = static_cast<int>(prompts.size());
    prompts.push_back(r.title + " | " + r.text);
    if (index == cancelAtPrompt) return {2, {}};
    const auto mistake = mistakes.find(index);
    if (mistake == mistakes.end()) {
        connect(r.text);
    } else if (mistake->second && sim_) {
        const int ch = channelOf(r.text.substr(r.text.rfind("Set ", 0) == 0 ? 4 : 8));
        if (ch >= 0) {
            sim_->setConnection(ch, *mistake->second);
            touched_.push_back(ch);
        }
    }
    return {1, {}};
}

int SoltOperator::channelOf(const std::string& label) {
    // "PORT p, CH c" with the CH 1..CH 5 order of the stimulus channels, or the 20-channel
    // model's names for the same places ("PORT p, D2" is CH 1).
    constexpr std::array<int, 5> port1 = {2, 1, 0, 3, 4};
    constexpr std::array<const char*, 5> names = {"D2", "D1", "D0", "CLK", "ETH"};
    if (label.size() < 10 || label.compare(0, 5, "PORT ") != 0 || label.compare(6, 2, ", ") != 0)
        return -1;
    const int port = label[5] - '0';
    if (port < 1 || port > 2) return -1;
    const std::string where = label.substr(8);
    int ch = 0;
    if (where.size() >= 4 && where.compare(0, 3, "CH ") == 0) {
        ch = where[3] - '0';
    } else {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (where.compare(0, std::char_traits<char>::length(names[i]), names[i]) == 0)
                ch = static_cast<int>(i) + 1;
    }
    if (ch < 1 || ch > 5) return -1;
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
