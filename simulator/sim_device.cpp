// The simulated instrument's wire side: framing, command execution, the sweep lookup, pacing and
// fault injection, over the physics of sim_physics.
#include "simulator/sim_device.h"

#include "setup/port_codes.h"
#include "simulator/sim_models.h"
#include "simulator/sim_physics.h"
#include "simulator/sim_scenario.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace simulator {
namespace {

// Status codes of the vendor driver the serial interface mirrors.
constexpr int kOk = 0;
constexpr int kInvalidHandle = 1;
constexpr int kDeviceNotFound = 2;
constexpr int kIoError = 4;

constexpr std::uint8_t kAck = '.';
constexpr std::uint8_t kBadAck = '!';
constexpr std::size_t kSweepBytes = 2048;
constexpr std::size_t kShortSweepBytes = 1000;

// Port code -> channel, the inverse of the driver's tables.
constexpr std::array<int, 256> invert(const auto& table) {
    std::array<int, 256> inv{};
    inv.fill(-1);
    for (int ch = 0; ch < static_cast<int>(table.size()); ++ch) inv[table[ch]] = ch;
    return inv;
}
constexpr std::array<int, 256> kStimulusOfCode = invert(stimulusPortCode);
constexpr std::array<int, 256> kSamplerOfCode = invert(samplerPortCode);

// The noise generator's state for a seed: seed 0 is the one every run had before seeds.
std::uint64_t noiseState(std::uint64_t seed) {
    const std::uint64_t s = 0x9E3779B97F4A7C15ull ^ (seed * 0xBF58476D1CE4E5B9ull);
    return s != 0 ? s : 1; // xorshift never leaves 0
}

int argumentCount(std::uint8_t command) {
    switch (command) {
    case 'i':
    case 'r':
        return 0;
    case 'p':
        return 2;
    case 'a':
        return 4;
    default:
        return -1;
    }
}

} // namespace

struct SimulatedInstrument::Impl {
    // Configuration: short critical sections only, so the GUI thread never waits for a sweep.
    mutable std::mutex configMutex;
    physics::Config config;
    std::uint64_t generation = 1; // bumped on every change, under configMutex
    std::atomic<std::uint64_t> generationSeen{1};

    // Wire state, under wireMutex.
    std::mutex wireMutex;
    bool opened = false;
    bool identified = false;
    std::uint8_t command = 0; // command whose arguments are being collected, 0 for none
    int argsNeeded = 0;
    std::array<std::uint8_t, 4> args{};
    int argCount = 0;
    std::vector<std::uint8_t> reply;
    std::size_t replyPos = 0;
    int stimulus = 2; // channels selected by "p", -1 for an unknown code
    int sampler = 4;
    std::uint16_t firstWord = 0, lastWord = 0;
    std::uint64_t rng = noiseState(0);
    struct CacheEntry {
        std::uint64_t generation = 0;
        std::vector<float> trace;
    };
    std::array<CacheEntry, 100> cache; // [stimulus * 10 + pair]
    physics::Workspace workspace;

    std::atomic<int> baud{435000};
    std::atomic<int> readTimeoutMs{200};
    std::atomic<bool> paced{false};
    std::atomic<bool> noise{true};
    std::array<std::atomic<bool>, 5> faults{};
    std::atomic<int> violations{0};
    std::atomic<long> sweeps{0};

    bool fault(Fault f) const { return faults[static_cast<int>(f)].load(); }

    void changed() { // configMutex held
        ++generation;
        generationSeen.store(generation);
    }

    physics::Config snapshot(std::uint64_t& gen) const {
        std::lock_guard lock(configMutex);
        gen = generation;
        return config;
    }

    void resetWire() {
        identified = false;
        command = 0;
        argsNeeded = argCount = 0;
        reply.clear();
        replyPos = 0;
    }

    void queue(std::uint8_t b) { reply.push_back(b); }
    void ack() {
        if (!fault(Fault::LostAck)) queue(kAck);
    }

    double gaussianNoise() {
        // Sum of four uniforms: close enough to Gaussian, cheap and deterministic.
        double s = 0.0;
        for (int i = 0; i < 4; ++i) {
            rng ^= rng >> 12;
            rng ^= rng << 25;
            rng ^= rng >> 27;
            s += static_cast<double>((rng * 0x2545F4914F6CDD1Dull) >> 11) * 0x1.0p-53;
        }
        return (s - 2.0) * std::sqrt(3.0);
    }

    // Noise-free response of the selected pair, or nullptr when nothing reaches the sampler.
    const float* trace(int stim, int pair) {
        if (stim < 0 || pair < 0) return nullptr;
        CacheEntry& e = cache[stim * 10 + pair];
        if (e.generation != generationSeen.load() || e.trace.empty()) {
            std::uint64_t gen = 0;
            const physics::Config cfg = snapshot(gen);
            const ModelInfo& m = kModels[cfg.model];
            if (!m.stimulus[stim] || !m.stimulus[pair]) {
                e.trace.clear();
                e.generation = gen;
                return nullptr;
            }
            e.trace.resize(physics::kGridPoints);
            physics::computeResponse(cfg, stim, pair, e.trace.data(), workspace);
            e.generation = gen;
        }
        return e.trace.empty() ? nullptr : e.trace.data();
    }

    void sweep() {
        const float* t = trace(stimulus, sampler < 0 ? -1 : sampler / 2);
        const double sign = (sampler % 2) ? -1.0 : 1.0;
        const double offset = sampler >= 0 ? physics::adcOffset(sampler) : physics::adcOffset(0);
        // Window words are delay positions in units of two fine steps.
        const int increment = ((lastWord - firstWord) & 0x7FFF) * 2 / 1024;
        const int start = firstWord * 2;
        const bool noisy = noise.load();
        const std::size_t bytes = fault(Fault::ShortRead) ? kShortSweepBytes : kSweepBytes;
        for (std::size_t i = 0; i < bytes / 2; ++i) {
            const int pos = (start + increment * static_cast<int>(i)) & 0xFFFF;
            double v = offset + (t ? sign * t[pos] : 0.0);
            if (noisy) v += physics::kNoiseCounts * gaussianNoise();
            const auto counts = static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L));
            queue(static_cast<std::uint8_t>(counts >> 8));
            queue(static_cast<std::uint8_t>(counts & 0xFF));
        }
        if (bytes == kSweepBytes) {
            ack();
            sweeps.fetch_add(1);
        }
    }

    void execute(std::uint8_t cmd) {
        switch (cmd) {
        case 'i':
            if (!identified) {
                std::string id = "VELT-SIM ";
                {
                    std::lock_guard lock(configMutex);
                    id += kModels[config.model].code;
                }
                id.resize(16, '\n');
                for (char c : id) queue(static_cast<std::uint8_t>(c));
                identified = true;
            } else if (!fault(Fault::LostAck)) {
                queue(fault(Fault::WrongHandshake) ? kBadAck : kAck);
            }
            break;
        case 'p':
            stimulus = kStimulusOfCode[args[0]];
            sampler = kSamplerOfCode[args[1]];
            ack();
            break;
        case 'a':
            firstWord = static_cast<std::uint16_t>(args[0] << 8 | args[1]);
            lastWord = static_cast<std::uint16_t>(args[2] << 8 | args[3]);
            ack();
            break;
        case 'r':
            sweep();
            break;
        default:
            break;
        }
    }

    void receive(const std::uint8_t* data, std::size_t count) {
        // Command letters are written on their own; one arriving while arguments are still
        // owed means two exchanges got mixed up.
        if (command != 0 && count == 1 && argumentCount(data[0]) >= 0) {
            violations.fetch_add(1);
            command = 0;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = data[i];
            if (command != 0) {
                args[argCount++] = b;
                if (argCount == argsNeeded) {
                    const std::uint8_t cmd = command;
                    command = 0;
                    execute(cmd);
                }
                continue;
            }
            const int n = argumentCount(b);
            if (n < 0) {
                violations.fetch_add(1);
                continue;
            }
            // A new command before the last reply was read: another exchange is in between.
            if (replyPos < reply.size()) violations.fetch_add(1);
            if (n == 0) {
                execute(b);
            } else {
                command = b;
                argsNeeded = n;
                argCount = 0;
            }
        }
    }

    void pace(std::size_t bytes) const {
        if (!paced.load() || bytes == 0) return;
        const double seconds = static_cast<double>(bytes) * 10.0 / std::max(1, baud.load());
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
};

SimulatedInstrument::SimulatedInstrument(const std::string& modelCode)
    : impl_(std::make_unique<Impl>()) {
    const int m = findModel(modelCode);
    impl_->config.model = m >= 0 ? m : findModel("QSB020");
    impl_->config.scenario = defaultScenario();
    impl_->config.connections.fill(Connection::Device);
    impl_->reply.reserve(4 * kSweepBytes);
}

SimulatedInstrument::~SimulatedInstrument() = default;

bool SimulatedInstrument::setModel(const std::string& modelCode) {
    const int m = findModel(modelCode);
    if (m < 0) return false;
    std::lock_guard lock(impl_->configMutex);
    impl_->config.model = m;
    impl_->changed();
    return true;
}

std::string SimulatedInstrument::modelCode() const {
    std::lock_guard lock(impl_->configMutex);
    return std::string(kModels[impl_->config.model].code);
}

int SimulatedInstrument::speedClass() const {
    std::lock_guard lock(impl_->configMutex);
    return kModels[impl_->config.model].speedClass;
}

bool SimulatedInstrument::hasChannel(int stimulusChannel) const {
    if (stimulusChannel < 0 || stimulusChannel > 9) return false;
    std::lock_guard lock(impl_->configMutex);
    return kModels[impl_->config.model].stimulus[stimulusChannel];
}

void SimulatedInstrument::useDefaultScenario() {
    std::lock_guard lock(impl_->configMutex);
    impl_->config.scenario = defaultScenario();
    impl_->changed();
}

bool SimulatedInstrument::loadScenarioText(const std::string& text, std::string& error) {
    auto parsed = parseScenario(text, error);
    if (!parsed) return false;
    std::lock_guard lock(impl_->configMutex);
    impl_->config.scenario = std::move(*parsed);
    impl_->changed();
    return true;
}

bool SimulatedInstrument::loadScenarioFile(const std::string& path, std::string& error) {
    constexpr std::streamoff kMaxBytes = 1 << 20;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the file";
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size < 0 || size > kMaxBytes) {
        error = path + ": not a device description (larger than 1 MiB)";
        return false;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), size);
    if (!in) {
        error = path + ": cannot read the file";
        return false;
    }
    if (text.find('\0') != std::string::npos) {
        error = path + ": not a text file";
        return false;
    }
    if (!loadScenarioText(text, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

std::string SimulatedInstrument::deviceDescription(int stimulusChannel) const {
    std::lock_guard lock(impl_->configMutex);
    return describeChannel(impl_->config.scenario, stimulusChannel);
}

void SimulatedInstrument::setConnection(int stimulusChannel, Connection c) {
    if (stimulusChannel < 0 || stimulusChannel > 9) return;
    const int partner = throughPartner(stimulusChannel);
    std::lock_guard lock(impl_->configMutex);
    auto& conn = impl_->config.connections;
    // A through joins two connectors: both ends follow, and undoing one end frees the other.
    if (c == Connection::Through)
        conn[partner] = Connection::Through;
    else if (conn[stimulusChannel] == Connection::Through && conn[partner] == Connection::Through)
        conn[partner] = Connection::Device;
    conn[stimulusChannel] = c;
    impl_->changed();
}

Connection SimulatedInstrument::connection(int stimulusChannel) const {
    if (stimulusChannel < 0 || stimulusChannel > 9) return Connection::Device;
    std::lock_guard lock(impl_->configMutex);
    return impl_->config.connections[stimulusChannel];
}

bool SimulatedInstrument::applyConnectionOption(const std::string& option, std::string& error) {
    const auto eq = option.find('=');
    if (eq == std::string::npos) {
        error = "'" + option + "' is not of the form CH=WHAT (e.g. 2=OPEN)";
        return false;
    }
    const std::string chText = option.substr(0, eq);
    // One digit, as the channels are written everywhere else: not "-0", "+2" or "02".
    if (chText.size() != 1 || chText[0] < '0' || chText[0] > '9') {
        error = "'" + chText + "' is not a channel number 0 to 9";
        return false;
    }
    const int ch = chText[0] - '0';
    const auto what = parseConnection(option.substr(eq + 1));
    if (!what) {
        error = "'" + option.substr(eq + 1) + "' is not DEVICE, SHORT, OPEN, LOAD or THROUGH";
        return false;
    }
    if (!hasChannel(ch)) {
        error = "a " + modelCode() + " has no channel " + std::to_string(ch);
        return false;
    }
    if (*what == Connection::Through && !hasChannel(throughPartner(ch))) {
        error = "a " + modelCode() + " has no channel " + std::to_string(throughPartner(ch)) +
                " to connect it through to";
        return false;
    }
    setConnection(ch, *what);
    error.clear();
    return true;
}

void SimulatedInstrument::setPaced(bool paced) {
    impl_->paced.store(paced);
}

bool SimulatedInstrument::faultActive(Fault fault) const {
    return impl_->fault(fault);
}

void SimulatedInstrument::setFault(Fault fault, bool on) {
    impl_->faults[static_cast<int>(fault)].store(on);
}

void SimulatedInstrument::setSeed(std::uint64_t seed) {
    std::lock_guard lock(impl_->wireMutex);
    impl_->rng = noiseState(seed);
}

void SimulatedInstrument::setNoise(bool on) {
    impl_->noise.store(on);
}

bool SimulatedInstrument::noise() const {
    return impl_->noise.load();
}

std::vector<ImpedancePoint> SimulatedInstrument::impedanceProfile(int stimulusChannel) const {
    std::uint64_t gen = 0;
    return physics::impedanceProfile(impl_->snapshot(gen), stimulusChannel);
}

void SimulatedInstrument::sParameters(int stimulusChannel, std::vector<double>& frequencyGHz,
                                      std::vector<std::complex<double>>& s11,
                                      std::vector<std::complex<double>>& s21) const {
    std::uint64_t gen = 0;
    physics::sParameters(impl_->snapshot(gen), stimulusChannel, frequencyGHz, s11, s21);
}

void SimulatedInstrument::sParametersAt(int stimulusChannel,
                                        const std::vector<double>& frequencyGHz,
                                        std::vector<std::complex<double>>& s11,
                                        std::vector<std::complex<double>>& s21) const {
    std::uint64_t gen = 0;
    physics::sParametersAt(impl_->snapshot(gen), stimulusChannel, frequencyGHz, s11, s21);
}

int SimulatedInstrument::protocolViolations() const {
    return impl_->violations.load();
}
long SimulatedInstrument::sweepsServed() const {
    return impl_->sweeps.load();
}

int SimulatedInstrument::open(int deviceIndex) {
    if (impl_->fault(Fault::NoDevice) || impl_->fault(Fault::Unplugged) || deviceIndex != 0)
        return kDeviceNotFound;
    std::lock_guard lock(impl_->wireMutex);
    impl_->opened = true;
    impl_->resetWire();
    return kOk;
}

int SimulatedInstrument::setBaudRate(int baud) {
    if (impl_->fault(Fault::Unplugged)) return kIoError;
    std::lock_guard lock(impl_->wireMutex);
    if (!impl_->opened) return kInvalidHandle;
    impl_->baud.store(baud);
    return kOk;
}

int SimulatedInstrument::setDataCharacteristics(int, int, int) {
    if (impl_->fault(Fault::Unplugged)) return kIoError;
    std::lock_guard lock(impl_->wireMutex);
    return impl_->opened ? kOk : kInvalidHandle;
}

int SimulatedInstrument::setFlowControl(int, std::uint8_t, std::uint8_t) {
    if (impl_->fault(Fault::Unplugged)) return kIoError;
    std::lock_guard lock(impl_->wireMutex);
    return impl_->opened ? kOk : kInvalidHandle;
}

int SimulatedInstrument::setTimeouts(int readMs, int) {
    if (impl_->fault(Fault::Unplugged)) return kIoError;
    std::lock_guard lock(impl_->wireMutex);
    if (!impl_->opened) return kInvalidHandle;
    impl_->readTimeoutMs.store(std::max(0, readMs));
    return kOk;
}

int SimulatedInstrument::write(const std::uint8_t* data, std::size_t count, std::size_t* written) {
    if (written) *written = 0;
    if (impl_->fault(Fault::Unplugged)) return kIoError;
    {
        std::lock_guard lock(impl_->wireMutex);
        if (!impl_->opened) return kInvalidHandle;
        if (count > 0 && data) impl_->receive(data, count);
    }
    if (written) *written = count;
    impl_->pace(count);
    return kOk;
}

int SimulatedInstrument::read(std::uint8_t* data, std::size_t count, std::size_t* received) {
    if (received) *received = 0;
    if (impl_->fault(Fault::Unplugged)) return kIoError;
    std::size_t n = 0;
    {
        std::lock_guard lock(impl_->wireMutex);
        if (!impl_->opened) return kInvalidHandle;
        Impl& s = *impl_;
        n = std::min(count, s.reply.size() - s.replyPos);
        if (n > 0 && data) std::memcpy(data, s.reply.data() + s.replyPos, n);
        s.replyPos += n;
        if (s.replyPos == s.reply.size()) {
            s.reply.clear();
            s.replyPos = 0;
        }
    }
    if (received) *received = n;
    impl_->pace(n);
    // Paced like the real link, a read that cannot be satisfied costs its whole time-out.
    if (impl_->paced.load() && n < count)
        std::this_thread::sleep_for(std::chrono::milliseconds(impl_->readTimeoutMs.load()));
    return kOk;
}

int SimulatedInstrument::close() {
    std::lock_guard lock(impl_->wireMutex);
    if (!impl_->opened) return kInvalidHandle;
    impl_->opened = false;
    impl_->resetWire();
    return kOk;
}

} // namespace simulator
