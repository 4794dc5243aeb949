// Port selection: which sampler lines a mode offers for a stimulus, and the rings that show them.
#include "panel/ports.h"

#include "app/settings.h"
#include "app/startup.h"
#include "instrument/calibration.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/true_profile.h"
#include "panel/units.h"
#include "platform/panel_model.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

using platform::panel;

namespace {

// Stimulus channels of each port in the order CH 1 .. CH 5.
constexpr std::array<std::array<int, 5>, 2> kPortChannels = {{{2, 1, 0, 3, 4}, {7, 6, 5, 8, 9}}};

int portOf(int stimulus) {
    return stimulus >= 5 ? 1 : 0;
}

int channelNumber(int stimulus) {
    const auto& list = kPortChannels[static_cast<std::size_t>(portOf(stimulus))];
    return static_cast<int>(std::find(list.begin(), list.end(), stimulus) - list.begin());
}

// Channel pairs per port that the model has; modes 2 and 3 list no more than these.
int pairsPerPort(int channels) {
    return channels <= 0 ? 5 : std::clamp(channels / 4, 1, 5);
}

std::string samplerLabel(int sampler) {
    const int stimulus = sampler / 2;
    const char sign = sampler % 2 == 0 ? '+' : '-';
    for (const auto& item : panel().ringItems(PANEL_STIMULUS))
        if (item.value == stimulus) return item.label + sign;
    char buf[64];
    std::snprintf(buf, sizeof buf, "PORT %d, CH %d%c", portOf(stimulus) + 1,
                  channelNumber(stimulus) + 1, sign);
    return buf;
}

} // namespace

std::vector<int> samplersFor(int mode, int stimulus, int channels) {
    std::vector<int> out;
    if (stimulus < 0 || stimulus > 9) return out;
    const int port = portOf(stimulus);
    const int other = 1 - port;
    const int number = channelNumber(stimulus);
    auto addPair = [&](int s) {
        out.push_back(2 * s);
        out.push_back(2 * s + 1);
    };
    const int pairs = pairsPerPort(channels);
    const auto& own = kPortChannels[static_cast<std::size_t>(port)];
    const auto& far = kPortChannels[static_cast<std::size_t>(other)];
    switch (mode) {
    case 1:
        addPair(far[static_cast<std::size_t>(number)]);
        break;
    case 2:
        for (int c = 0; c < pairs; ++c)
            if (c != number) addPair(own[static_cast<std::size_t>(c)]);
        break;
    case 3:
        for (int c = 0; c < pairs; ++c)
            if (c != number) addPair(far[static_cast<std::size_t>(c)]);
        break;
    default:
        addPair(stimulus);
        break;
    }
    return out;
}

int setStimulus(int mode, int stimulus, int third) {
    (void)third;
    // A value the ring does not hold (a channel this model lacks) leaves the ring as it was.
    if (mode != -1) panel().ringSetValue(PANEL_MODE, mode);
    if (stimulus != -1) panel().ringSetValue(PANEL_STIMULUS, stimulus);
    mode = getMode();
    stimulus = getStimulus();

    panel().ringClear(PANEL_SAMPLER);
    for (int s : samplersFor(mode, stimulus, channels))
        panel().ringInsert(PANEL_SAMPLER, -1, samplerLabel(s), s);
    panel().ringSetIndex(PANEL_SAMPLER, 0);

    if (mode != 0) velt_cal(stimulus, 2 * stimulus, 1);

    // The frequency domain keeps its own arrangement; its calibration check is not built here.
    if (yUnits.load() == 5) return 1;

    if (!(mode == 0 && yUnits.load() == 2) && getDiff() == 1) setDiff(0);
    panel().setDimmed(PANEL_DIFFERENTIAL, false);

    // Impedance and reflection coefficient exist only in reflection.
    const int y = yUnits.load();
    if (mode != 0 && (y == 2 || y == 3)) setYUnits(0);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y1, false);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y2, false);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y3, mode != 0);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y4, mode != 0);
    updateTrueProfileItem();

    setXLabels();
    setYLabels();
    return 1;
}

int setSampler(int sampler) {
    if (sampler != -1) panel().ringSetValue(PANEL_SAMPLER, sampler);
    return 1;
}
