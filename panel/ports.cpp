// Model detection and port selection: probes, ring pruning, and the sampler lines of a mode.
#include "panel/ports.h"

#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/solt_guide.h"
#include "panel/timer.h"
#include "panel/true_profile.h"
#include "panel/units.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"

#include <algorithm>
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

void fillSamplerLabels(const std::array<const char*, 10>& stimulusLabels,
                       std::array<std::array<char, 16>, 20>& out) {
    for (std::size_t s = 0; s < 10; ++s) {
        std::snprintf(out[2 * s].data(), out[2 * s].size(), "%s+", stimulusLabels[s]);
        std::snprintf(out[2 * s + 1].data(), out[2 * s + 1].size(), "%s-", stimulusLabels[s]);
    }
}

std::array<std::array<char, 16>, 20> chLabels() {
    std::array<std::array<char, 16>, 20> out{};
    fillSamplerLabels(kStimulusLabelCh, out);
    return out;
}

// Deletions from the stimulus ring (position, count, position, count) and the mode ring
// (position, count) per model size.
struct Pruning {
    int channels;
    int stimAt1, stimCount1, stimAt2, stimCount2;
    int modeAt, modeCount;
};
constexpr std::array<Pruning, 5> kPruning = {{{2, 5, 5, 1, 4, 1, 3},
                                              {4, 6, 4, 1, 4, 2, 2},
                                              {8, 7, 3, 2, 3, 0, 0},
                                              {12, 8, 2, 3, 2, 0, 0},
                                              {16, 9, 1, 4, 1, 0, 0}}};

// Sampler item labels by sampler channel; countChannels fills them from the model found.
std::array<std::array<char, 16>, 20> smplLabel = chLabels();

} // namespace

const char* samplerLabel(int sampler) {
    return sampler >= 0 && sampler < 20 ? smplLabel[static_cast<std::size_t>(sampler)].data() : "";
}

void showBusy(const std::string& text) {
    panel().setBusyText(text);
    platform::eventLoop().processEvents();
}

void countChannels() {
    instrument.channels = 0;
    instrument.speed = 0;
    instrument.model[0] = '\0';
    int probe = 0;
    for (const ModelProbe& p : kModelProbes) {
        char text[64];
        std::snprintf(text, sizeof text, "Detecting the instrument: probe %d of %d", ++probe,
                      static_cast<int>(kModelProbes.size()));
        showBusy(text);
        // A probe that measures nothing leaves vampl alone; an old value must not pass for it.
        instrument.cal.vampl[static_cast<std::size_t>(p.sampler)] = 0.0;
        instrument.measureConstants(p.stimulus, p.sampler, Mode::TDR);
        if (!(instrument.cal.vampl[static_cast<std::size_t>(p.sampler)] > 0)) break;
        instrument.channels = p.channels;
        instrument.speed = p.speed;
        std::snprintf(instrument.model, sizeof instrument.model, "%s", p.code);
    }

    if (instrument.channels != 20) {
        fillSamplerLabels(kStimulusLabelCh, smplLabel);
        return;
    }
    // The largest model names its pairs after what they usually carry.
    const auto items = panel().ringItems(PANEL_STIMULUS);
    for (std::size_t pos = 0; pos < items.size(); ++pos) {
        const int s = items[pos].value;
        if (s >= 0 && s < 10)
            panel().ringReplace(PANEL_STIMULUS, static_cast<int>(pos),
                                kStimulusLabelNamed[static_cast<std::size_t>(s)], s);
    }
    fillSamplerLabels(kStimulusLabelNamed, smplLabel);
    const auto lines = panel().ringItems(PANEL_SAMPLER);
    for (std::size_t pos = 0; pos < lines.size(); ++pos) {
        const int s = lines[pos].value;
        if (s >= 0 && s < 20)
            panel().ringReplace(PANEL_SAMPLER, static_cast<int>(pos),
                                smplLabel[static_cast<std::size_t>(s)].data(), s);
    }
}

void hideChannels() {
    for (const Pruning& p : kPruning) {
        if (p.channels != instrument.channels) continue;
        panel().ringDelete(PANEL_STIMULUS, p.stimAt1, p.stimCount1);
        panel().ringDelete(PANEL_STIMULUS, p.stimAt2, p.stimCount2);
        if (p.modeCount > 0) panel().ringDelete(PANEL_MODE, p.modeAt, p.modeCount);
    }
}

std::vector<int> samplersFor(Mode mode, int stimulus, int channels) {
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
    case Mode::TDT:
        addPair(far[static_cast<std::size_t>(number)]);
        break;
    case Mode::NEXT:
        for (int c = 0; c < pairs; ++c)
            if (c != number) addPair(own[static_cast<std::size_t>(c)]);
        break;
    case Mode::FEXT:
        for (int c = 0; c < pairs; ++c)
            if (c != number) addPair(far[static_cast<std::size_t>(c)]);
        break;
    case Mode::TDR:
        addPair(stimulus);
        break;
    }
    return out;
}

int setStimulus(std::optional<Mode> newMode, int stimulus) {
    const Mode previousMode = getMode();
    const int previousStimulus = getStimulus(), previousSampler = getSampler();
    // A value the ring does not hold (a channel this model lacks) leaves the ring as it was.
    if (newMode) panel().ringSetValue(PANEL_MODE, code(*newMode));
    if (stimulus != -1) panel().ringSetValue(PANEL_STIMULUS, stimulus);
    const Mode mode = getMode();
    stimulus = getStimulus();

    panel().ringClear(PANEL_SAMPLER);
    for (int s : samplersFor(mode, stimulus, instrument.channels))
        panel().ringInsert(PANEL_SAMPLER, -1, smplLabel[static_cast<std::size_t>(s)].data(), s);
    panel().ringSetIndex(PANEL_SAMPLER, 0);

    if (mode != Mode::TDR) instrument.measureConstants(stimulus, 2 * stimulus, Mode::TDT);

    // The frequency domain keeps its own arrangement; a new mode needs its own calibration.
    if (domainOf(view.xUnits.load()) == Domain::Frequency) {
        int r = checkSOLT(code(mode));
        if (r != 1) r = performSOLT(code(mode));
        if (r > 0) {
            solt.select(getSampler());
        } else if (mode != previousMode && checkSOLT(code(previousMode)) == 1) {
            // Without a calibration the new mode has no trace: go back to the one in force.
            writeMessage(0,
                         previousMode == Mode::TDR ? "No S21 calibration: back to S11."
                                                   : "No S11 calibration: back to S21.",
                         0);
            setStimulus(previousMode, previousStimulus);
            panel().ringSetValue(PANEL_SAMPLER, previousSampler);
            solt.select(getSampler());
        }
        return 1;
    }

    if (!(mode == Mode::TDR && view.yUnits.load() == YUnit::Ohms) && getDiff() == 1) setDiff(0);
    panel().setDimmed(PANEL_DIFFERENTIAL, false);

    applyModeUnits(mode);
    return 1;
}

void applyModeUnits(Mode mode) {
    // Impedance and reflection coefficient exist only in reflection. The range fields keep
    // what the user set; only the unit and its check mark change.
    const YUnit y = view.yUnits.load();
    const bool reflection = mode == Mode::TDR;
    if (!reflection && (y == YUnit::Ohms || y == YUnit::Rho)) {
        view.yUnits.store(YUnit::Millivolts);
        panel().setMenuChecked(MENUBAR_YUNITS_Y1, true);
        for (int item : {MENUBAR_YUNITS_Y2, MENUBAR_YUNITS_Y3, MENUBAR_YUNITS_Y4})
            panel().setMenuChecked(item, false);
    }
    panel().setMenuDimmed(MENUBAR_YUNITS_Y1, false);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y2, false);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y3, !reflection);
    panel().setMenuDimmed(MENUBAR_YUNITS_Y4, !reflection);
    updateTrueProfileItem();

    setXLabels();
    setYLabels();
}

void setSampler(int sampler) {
    if (sampler != -1) panel().ringSetValue(PANEL_SAMPLER, sampler);
    if (domainOf(view.xUnits.load()) == Domain::Frequency) {
        // The sampler callback is not guarded, but a running tick reads the working records.
        suspendAndWait();
        solt.select(getSampler());
        resumeTimer();
    }
}
