// The SCPI command table. A command that changes the set-up or talks to the instrument runs
// guarded, like a control's callback, and through the same operation (so the panel's ranges,
// dimming and unit rules refuse what a control would); one that only reads answers at once. An
// INITiate or a new calibration is handed to the timer thread and runs there while the server
// goes on answering: IEEE 488.2's overlapped commands.
#include "app/remote.h"

#include "acquisition/acquire.h"
#include "app/recipe.h"
#include "app/scpi.h"
#include "freqdomain/eye.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "panel/cycle.h"
#include "panel/domain.h"
#include "panel/export.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "panel/solt_guide.h"
#include "panel/solt_io.h"
#include "panel/timer.h"
#include "panel/true_profile.h"
#include "panel/units.h"
#include "panel/waveform_io.h"
#include "panel/zero.h"
#include "panel/zone_stats.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/serial_device.h"
#include "setup/version.h"
#include "simulator/sim_operator.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;
using scpi::Command;
using scpi::Parameter;

namespace {

constexpr std::size_t kMaxErrors = 16;
// A line's replies are handed to the server in parts of about this size.
constexpr std::size_t kReplyPart = 64u << 10;

// STATus:OPERation and STATus:QUEStionable bits (SCPI-99).
constexpr int kOperCalibrating = 1 << 0;
constexpr int kOperMeasuring = 1 << 4;
constexpr int kQuesCalibration = 1 << 8;
constexpr double kMaxStatusEnable = 32767;

// What an INITiate whose line would not calibrate reports.
constexpr int kRecalibrationFailed = -10;

// No tick for the lifetime of a command; one in progress stops at its next sweep.
struct Guard {
    Guard() { suspendAndWait(); }
    ~Guard() { resumeTimer(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

void appendNumber(std::string& out, double v) {
    if (!std::isfinite(v)) {
        out += "9.91E+37"; // SCPI's not-a-number
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendInteger(std::string& out, double v) {
    out += std::to_string(static_cast<long long>(std::llround(v)));
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

bool near(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

// A keyword parameter against a table: its index in `index`, or the error.
template <std::size_t N>
int keyword(const Parameter& p, const std::array<const char*, N>& names, int& index) {
    if (p.quoted) return scpi::kDataTypeError;
    for (std::size_t i = 0; i < N; ++i)
        if (scpi::keywordMatches(p.text, names[i])) {
            index = static_cast<int>(i);
            return 0;
        }
    return scpi::kIllegalParameterValue;
}

// A plain number parameter.
int number(const Parameter& p, double& v) {
    if (p.quoted) return scpi::kDataTypeError;
    switch (scpi::readNumber(p.text, v)) {
    case scpi::NumberRead::Ok:
        return 0;
    case scpi::NumberRead::OutOfRange:
        return scpi::kDataOutOfRange;
    default:
        return scpi::kDataTypeError;
    }
}

struct Limits {
    double lo, hi, def;
    bool integer;
};

// MINimum, MAXimum or DEFault: the limit named; false for any other text.
bool namedLimit(const Parameter& p, const Limits& l, double& v) {
    if (p.quoted) return false;
    if (scpi::keywordMatches(p.text, "MINimum"))
        v = l.lo;
    else if (scpi::keywordMatches(p.text, "MAXimum"))
        v = l.hi;
    else if (scpi::keywordMatches(p.text, "DEFault"))
        v = l.def;
    else
        return false;
    return true;
}

// A numeric setting's parameter: a number or a named limit, an integer setting's rounded; out
// of the limits is -222 (with no conversion that could overflow).
int numeric(const Parameter& p, const Limits& l, double& v) {
    if (!namedLimit(p, l, v))
        if (const int e = number(p, v)) return e;
    if (l.integer) v = std::round(v);
    return v >= l.lo && v <= l.hi ? 0 : static_cast<int>(scpi::kDataOutOfRange);
}

void appendValue(std::string& out, double v, bool integer) {
    integer ? appendInteger(out, v) : appendNumber(out, v);
}

// "AVER?" or "AVER? MAX": the value, or the limit the parameter names.
int answer(const Command& c, const Limits& l, double value, std::string& reply) {
    if (!c.params.empty() && !namedLimit(c.params[0], l, value))
        return c.params[0].quoted ? scpi::kDataTypeError : scpi::kIllegalParameterValue;
    appendValue(reply, value, l.integer);
    return 0;
}

// A register setting (*ESE, *SRE, the STATus enables): a whole number from 0.
int registerSetting(const Command& c, std::string& reply, int& value, double max) {
    const Limits l{0, max, 0, true};
    if (c.query) return answer(c, l, value, reply);
    double v = 0;
    if (const int e = numeric(c.params[0], l, v)) return e;
    value = static_cast<int>(v);
    return 0;
}

// A ring (stimulus or sampler) by number or by the label the panel shows.
int ringChoice(const Parameter& p, int control, int& value) {
    double n = 0;
    const bool isNumber = !p.quoted && scpi::toNumber(p.text, n);
    if (!p.quoted && !isNumber) return scpi::kDataTypeError;
    for (const auto& item : panel().ringItems(control))
        if ((p.quoted && item.label == p.text) ||
            (isNumber && n == static_cast<double>(item.value))) {
            value = item.value;
            return 0;
        }
    return scpi::kIllegalParameterValue;
}

std::string ringLabel(int control, int value) {
    for (const auto& item : panel().ringItems(control))
        if (item.value == value) return item.label;
    return "";
}

void selectStimulus(int stimulus) {
    setStimulus(std::nullopt, stimulus);
}

constexpr std::array<const char*, 4> kModes = {"TDR", "TDT", "NEXT", "FEXT"};
constexpr std::array<const char*, 5> kXUnits = {"METer", "FEET", "NS", "INCH", "GHZ"};
constexpr std::array<const char*, 6> kYUnits = {"MV", "NORMalized", "OHM", "RHO", "RAW", "DB"};

// The numeric settings of the panel: the field that holds each (its range and whether it holds
// whole numbers), what *RST gives it, and the operation that sets it.
struct NumericSetting {
    int control;
    double (*get)();
    void (*set)(double);
    double (*reset)();
};
constexpr NumericSetting kNumeric[] = {
    // The window's ends as the fields show them: from the zero reference.
    {PANEL_XSTART, getXStart,
     [](double v) {
         setXStart(v + view.xZero.load());
         setWindow();
     },
     [] { return 0.0; }},
    {PANEL_XEND, getXEnd,
     [](double v) {
         setXEnd(v + view.xZero.load());
         setWindow();
     },
     [] { return 3.0; }},
    {PANEL_DIEL, getDiel, [](double v) { setDiel(v); }, [] { return 2.23; }},
    {PANEL_AVERAGING, [] { return static_cast<double>(getAveraging()); },
     [](double v) { setAveraging(static_cast<int>(v)); }, [] { return 1.0; }},
    {PANEL_FILTERWIDTH, [] { return static_cast<double>(getFilterWidth()); },
     [](double v) {
         panel().setValue(PANEL_FILTERWIDTH, static_cast<int>(v));
         setFilterWidth(-1);
     },
     [] { return instrument.speed != 0 ? 200.0 : 35.0; }},
};
enum NumericIndex { kStart, kStop, kDielectric, kAveraging, kFilterWidth };

Limits limitsOf(const NumericSetting& n) {
    Limits l{0, 0, n.reset(), false};
    panel().range(n.control, l.lo, l.hi);
    if (const ControlDef* d = panelTable().findControl(n.control)) l.integer = d->integer;
    return l;
}

// The switches: ON, OFF, 1 or 0.
struct Switch {
    bool (*get)();
    void (*set)(bool);
};
constexpr Switch kSwitches[] = {
    {[] { return getFilter() == 1; }, [](bool v) { setFilter(v ? 1 : 0); }},
    {[] { return getAutoscale() == 1; }, [](bool v) { setAutoscale(v ? 1 : 0); }},
    {getTrueProfile,
     [](bool v) {
         if (getTrueProfile() != v) toggleTrueProfile();
     }},
    {[] { return getAutoAcquire() == 1; }, [](bool v) { setAutoAcquire(v ? 1 : 0); }},
};

int saveSettingsFile() {
    return saveSettings(0);
}
int loadSettingsFile() {
    return loadSettings(0);
}

// The file commands: the data folder, the extension a bare name gets ("" for Touchstone: by
// the mode), the menu's own export or load, and whether it reads.
struct FileKind {
    const char* folder;
    const char* extension;
    int (*run)();
    bool reading;
};
constexpr FileKind kFiles[] = {
    {"datalogs", ".csv", saveCSV, false},
    {"datalogs", "", saveTouchstone, false},
    {"images", ".png", savePNG, false},
    {"waveforms", ".velt", storeWaveform, false},
    {"settings", ".ini", saveSettingsFile, false},
    {"waveforms", ".velt", recallWaveform, true},
    {"settings", ".ini", loadSettingsFile, true},
};
constexpr int kLoadSettings = 6;

// The ESR bit an error sets: command errors 5, execution errors 4, device errors (and the
// program's own positive codes) 3, query errors 2.
int esrBit(int code) {
    if (code <= -100 && code > -200) return 1 << 5;
    if (code <= -200 && code > -300) return 1 << 4;
    if ((code <= -300 && code > -400) || code > 0) return 1 << 3;
    return 1 << 2;
}

const char* failureText(int status) {
    switch (status) {
    case -1:
    case -2:
        return "the instrument link was lost";
    case kSweepsStopped:
        return "stopped at the instrument";
    case kRecalibrationFailed:
        return "the line could not be calibrated";
    default:
        return "it did not complete";
    }
}

// How a command runs. Now: at once, whatever is in progress. InTurn: after the operation in
// progress, guarded. Wait: after the operation in progress. Overlapped: after the operation in
// progress, then it starts one of its own and returns.
enum class Exec : std::uint8_t { Now, InTurn, Wait, Overlapped };
enum class Form : std::uint8_t { Both, QueryOnly, SetOnly };

} // namespace

void StatusRegister::raise(int bits) {
    event |= bits & ~condition; // rising edges only
    condition |= bits;
}

// The operation in progress, run by the timer thread (here and now without one). It reads what
// start() gave it and writes its results; the GUI thread reads them once `ended` is set.
struct RemoteInstrument::Operation : TickJob {
    Work work = Work::Acquisition;
    bool display = true;
    bool recalibrate = false;
    int soltType = 0;
    simulator::SimulatedInstrument* sim = nullptr;
    RemoteTrace* target = nullptr;
    std::unique_ptr<StandardSet> backup; // the standards before a calibration
    int calS11 = 0, calS21 = 0;
    std::weak_ptr<std::function<void()>> wake;
    // Results.
    int status = 0;
    bool calibrated = false;
    std::vector<platform::PopupRequest> popups;
    std::atomic<bool> ended{false};
    bool running = false; // GUI thread: started and not yet finished

    void run() override {
        {
            // Its popups are its own: errors for the queue, never a box waiting for a click.
            platform::ScopedThreadResponder answers;
            if (work == Work::Calibration)
                newCalibration(answers.answers);
            else
                acquireTrace();
            popups = answers.answers.shown();
        }
        // Nothing of this object is touched after `ended`: start() may reuse it at once.
        const std::weak_ptr<std::function<void()>> tell = wake;
        const bool posted = onTimerThread();
        ended.store(true);
        if (posted)
            platform::eventLoop().post([tell] {
                if (const auto f = tell.lock(); f && *f) (*f)();
            });
    }

    void acquireTrace() {
        if (instrument.link.lost.load()) {
            status = -1;
            return;
        }
        if (recalibrate) {
            const int r = calibrate(-1, -1, 0);
            calibrated = r == 1;
            if (!calibrated) {
                status = r == kSweepsStopped ? r : kRecalibrationFailed;
                return;
            }
        }
        Setup used;
        status = acquire(display ? 1 : 0, &used);
        if (status != 1) return;
        target->x = instrument.recordX;
        target->y = liveTrace.y;
        target->setup = used;
        target->valid = true;
    }

    void newCalibration(platform::ScriptedResponder& answers) {
        simulator::SoltOperator user(sim, &answers);
        user.offerAnswer = 2;
        platform::setThreadPopupHandler(&user);
        status = performSOLT(soltType);
        platform::setThreadPopupHandler(&answers);
        if (status != 1) {
            // Stopped or failed: the calibration in force before stays in force.
            solt.store = *backup;
            solt.calS11.store(calS11);
            solt.calS21.store(calS21);
        }
        solt.select(getSampler());
    }
};

RemoteInstrument::RemoteInstrument(RemoteContext context)
    : context_(context), wake_(std::make_shared<std::function<void()>>()) {}

RemoteInstrument::~RemoteInstrument() {
    if (!op_ || !op_->running || cancelTickJob(*op_)) return;
    // The job never waits for this thread, so it ends.
    while (!op_->ended.load()) {
        stopTickSweeps();
        std::this_thread::yield();
    }
}

void RemoteInstrument::setWake(std::function<void()> wake) {
    *wake_ = std::move(wake);
}

bool RemoteInstrument::busy() {
    if (op_ && op_->running && op_->ended.load()) finish();
    return op_ && op_->running;
}

void RemoteInstrument::pushError(int code, const std::string& detail) {
    esr_ |= esrBit(code);
    // The program's own codes carry their own message.
    std::string text = std::to_string(code) + ",\"";
    if (code > 0) {
        text += detail;
    } else {
        text += scpi::errorText(code);
        if (!detail.empty()) text += "; " + detail;
    }
    text += '"';
    if (errors_.size() >= kMaxErrors) {
        // The last place tells that errors were lost.
        errors_.back() = std::to_string(scpi::kQueueOverflow) + ",\"" +
                         scpi::errorText(scpi::kQueueOverflow) + '"';
        return;
    }
    errors_.push_back(std::move(text));
}

std::string RemoteInstrument::popError() {
    if (errors_.empty()) return "0,\"No error\"";
    std::string e = std::move(errors_.front());
    errors_.pop_front();
    return e;
}

void RemoteInstrument::clearStatus() {
    errors_.clear();
    esr_ = 0;
    oper_.event = ques_.event = 0;
    opcArmed_ = false;
}

int RemoteInstrument::statusByte(bool messageAvailable) const {
    int stb = 0;
    if (!errors_.empty()) stb |= 1 << 2;
    if (ques_.summary()) stb |= 1 << 3;
    if (messageAvailable) stb |= 1 << 4;
    if ((esr_ & ese_) != 0) stb |= 1 << 5;
    if (oper_.summary()) stb |= 1 << 7;
    if ((stb & sre_) != 0) stb |= 1 << 6; // MSS
    return stb;
}

void RemoteInstrument::start(Work work, bool display) {
    if (!op_) op_ = std::make_unique<Operation>();
    Operation& op = *op_;
    op.work = work;
    op.display = display;
    op.recalibrate = recalibrate_;
    op.soltType = getMode() == Mode::TDT ? 1 : 0;
    op.sim = context_.sim;
    op.target = &traces_[1 - shown_];
    op.wake = wake_;
    op.status = 0;
    op.calibrated = false;
    op.popups.clear();
    if (work == Work::Calibration) {
        op.backup = std::make_unique<StandardSet>(solt.store);
        op.calS11 = solt.calS11.load();
        op.calS21 = solt.calS21.load();
    }
    op.ended.store(false);
    op.running = true;
    abortAsked_ = false;
    oper_.raise(work == Work::Calibration ? kOperCalibrating : kOperMeasuring);
    startTickJob(op);
    busy(); // a job run here and now ends here
}

void RemoteInstrument::finish() {
    Operation& op = *op_;
    op.running = false;
    op.backup.reset();
    oper_.lower(kOperCalibrating | kOperMeasuring);
    const char* header = op.work == Work::Calibration ? "CAL:SOLT:NEW" : "INIT";
    if (op.work == Work::Acquisition) {
        // The acquisition's messages, as the window would have shown them.
        for (const platform::PopupRequest& m : op.popups) {
            if (m.kind != platform::PopupKind::Message) continue;
            int code = 0;
            const std::size_t hash = m.title.find('#');
            if (hash != std::string::npos)
                std::from_chars(m.title.data() + hash + 1, m.title.data() + m.title.size(), code);
            if (code > 0)
                pushError(code, m.text);
            else
                pushError(scpi::kExecutionError,
                          std::string(header) + ": " + m.title + ", " + m.text);
        }
        if (op.recalibrate && op.status != kSweepsStopped) {
            if (op.calibrated) {
                recalibrate_ = false;
                ques_.lower(kQuesCalibration);
            } else {
                ques_.raise(kQuesCalibration);
            }
        }
        if (op.status == 1) {
            shown_ = 1 - shown_;
            ++generation_;
        }
    }
    if (op.status != 1 && !abortAsked_) {
        const std::string why =
            op.work == Work::Calibration && op.status == -1 ? "cancelled" : failureText(op.status);
        pushError(scpi::kExecutionError, std::string(header) + ", " + why);
    }
    abortAsked_ = false;
    if (opcArmed_) {
        esr_ |= 1;
        opcArmed_ = false;
    }
}

struct RemoteCommands {
    using Handler = int (*)(RemoteSession&, const Command&, int arg, std::string& reply);
    // A header with its handler (and the argument that picks one of its behaviours), the forms
    // it takes, the parameter counts of each and how each runs.
    struct Entry {
        const char* pattern;
        Handler run;
        int arg;
        Form form;
        struct {
            int setMin, setMax, queryMin, queryMax;
        } params;
        Exec set, query;
    };
    static constexpr Entry setting(const char* pattern, Handler run, int arg = 0, int params = 1,
                                   int queryParams = 0) {
        return {pattern,      run,      arg, Form::Both, {params, params, 0, queryParams},
                Exec::InTurn, Exec::Now};
    }
    static constexpr Entry command(const char* pattern, Handler run, int arg = 0, int params = 0,
                                   Exec exec = Exec::InTurn) {
        return {pattern, run, arg, Form::SetOnly, {params, params, 0, 0}, exec, Exec::Now};
    }
    static constexpr Entry query(const char* pattern, Handler run, int arg = 0, int params = 0,
                                 Exec exec = Exec::Now) {
        return {pattern, run, arg, Form::QueryOnly, {0, 0, params, params}, Exec::Now, exec};
    }
    // A setting of the session or of the status registers: it changes nothing a sweep reads.
    static constexpr Entry status(const char* pattern, Handler run, int arg = 0, int params = 1,
                                  int queryParams = 0) {
        Entry e = setting(pattern, run, arg, params, queryParams);
        e.set = Exec::Now;
        return e;
    }

    // IEEE 488.2 common commands.
    static int idn(RemoteSession& s, const Command&, int, std::string& reply) {
        reply += std::string("VELT,") + (instrument.model[0] ? instrument.model : "NONE") + "," +
                 (s.instrument_.context_.sim ? "SIMULATED" : "0") + "," + kVersionString;
        return 0;
    }
    static int rst(RemoteSession& s, const Command&, int, std::string&) {
        platform::ScopedThreadResponder popups;
        resetSettings();
        // SCPI-99: no acquisition of the program's own after a reset; data of before are gone.
        setAutoAcquire(0);
        s.binary_ = false;
        s.display_ = true;
        RemoteInstrument& r = s.instrument_;
        r.traces_[0].valid = r.traces_[1].valid = false;
        r.recalibrate_ = true;
        return 0;
    }
    static int cls(RemoteSession& s, const Command&, int, std::string&) {
        s.instrument_.clearStatus();
        return 0;
    }
    static int esr(RemoteSession& s, const Command&, int, std::string& reply) {
        reply += std::to_string(s.instrument_.esr_);
        s.instrument_.esr_ = 0;
        return 0;
    }
    static int ese(RemoteSession& s, const Command& c, int, std::string& reply) {
        return registerSetting(c, reply, s.instrument_.ese_, 255);
    }
    static int sre(RemoteSession& s, const Command& c, int, std::string& reply) {
        const int e = registerSetting(c, reply, s.instrument_.sre_, 255);
        s.instrument_.sre_ &= ~(1 << 6); // the summary bit cannot ask for itself
        return e;
    }
    static int stb(RemoteSession& s, const Command&, int, std::string& reply) {
        reply += std::to_string(s.instrument_.statusByte(s.asked_));
        return 0;
    }
    static int opc(RemoteSession& s, const Command& c, int, std::string& reply) {
        // The query runs once nothing is in progress; the command arms bit 0 of the ESR.
        RemoteInstrument& r = s.instrument_;
        if (c.query)
            reply += "1";
        else if (r.busy())
            r.opcArmed_ = true;
        else
            r.esr_ |= 1;
        return 0;
    }
    static int nothing(RemoteSession&, const Command&, int, std::string&) { return 0; }
    static int selfTest(RemoteSession&, const Command&, int, std::string& reply) {
        reply += usbftdi_handshake() == 1 ? "0" : "1";
        return 0;
    }

    // System and status.
    static int error(RemoteSession& s, const Command&, int count, std::string& reply) {
        reply += count ? std::to_string(s.instrument_.errorCount()) : s.instrument_.popError();
        return 0;
    }
    static int version(RemoteSession&, const Command&, int, std::string& reply) {
        reply += "1999.0";
        return 0;
    }
    static int exitProgram(RemoteSession& s, const Command&, int, std::string&) {
        if (!s.instrument_.context_.serve) return scpi::kExecutionError; // the window's menu
        s.exit_ = true;
        return 0;
    }
    static StatusRegister& statusRegister(RemoteSession& s, int which) {
        return which == 0 ? s.instrument_.oper_ : s.instrument_.ques_;
    }
    static int statusEvent(RemoteSession& s, const Command&, int which, std::string& reply) {
        StatusRegister& r = statusRegister(s, which);
        reply += std::to_string(r.event);
        r.event = 0;
        return 0;
    }
    static int statusCondition(RemoteSession& s, const Command&, int which, std::string& reply) {
        reply += std::to_string(statusRegister(s, which).condition);
        return 0;
    }
    static int statusEnable(RemoteSession& s, const Command& c, int which, std::string& reply) {
        return registerSetting(c, reply, statusRegister(s, which).enable, kMaxStatusEnable);
    }
    static int statusPreset(RemoteSession& s, const Command&, int, std::string&) {
        s.instrument_.oper_.enable = s.instrument_.ques_.enable = 0;
        return 0;
    }

    // Settings.
    static int mode(RemoteSession& s, const Command& c, int, std::string& reply) {
        if (c.query) {
            reply += kModes[static_cast<std::size_t>(code(getMode()))];
            return 0;
        }
        int m = 0;
        if (const int e = keyword(c.params[0], kModes, m)) return e;
        if (getMode() == modeFromCode(m)) return 0;
        if (domainOf(view.xUnits.load()) == Domain::Frequency) return scpi::kExecutionError;
        setStimulus(modeFromCode(m));
        s.instrument_.recalibrate_ = true;
        return getMode() == modeFromCode(m) ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
    }
    static int line(RemoteSession& s, const Command& c, int, std::string& reply) {
        constexpr std::array<const char*, 2> kLines = {"SINGle", "DIFFerential"};
        if (c.query) {
            reply += getDiff() == 1 ? "DIFF" : "SING";
            return 0;
        }
        int v = 0;
        if (const int e = keyword(c.params[0], kLines, v)) return e;
        setDiff(v);
        s.instrument_.recalibrate_ = true;
        return getDiff() == v ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
    }
    // The stimulus (0) or sampler (1) ring: number and label in the query, either in the
    // command; a new line is calibrated before the next acquisition.
    static int ring(RemoteSession& s, const Command& c, int sampler, std::string& reply) {
        const int control = sampler ? PANEL_SAMPLER : PANEL_STIMULUS;
        const int current = sampler ? getSampler() : getStimulus();
        if (c.query) {
            reply += std::to_string(current) + "," + quoted(ringLabel(control, current));
            return 0;
        }
        int v = 0;
        if (const int e = ringChoice(c.params[0], control, v)) return e;
        sampler ? setSampler(v) : selectStimulus(v);
        s.instrument_.recalibrate_ = true;
        return 0;
    }
    static int unitX(RemoteSession&, const Command& c, int, std::string& reply) {
        if (c.query) {
            reply += scpi::shortForm(kXUnits[index(view.xUnits.load())]);
            return 0;
        }
        int u = 0;
        if (const int e = keyword(c.params[0], kXUnits, u)) return e;
        const XUnit unit = xUnitFromCode(u);
        // Only the domain switch moves between the domains' units.
        if (domainOf(unit) != domainOf(view.xUnits.load())) return scpi::kIllegalParameterValue;
        setXUnits(unit);
        return 0;
    }
    static int unitY(RemoteSession&, const Command& c, int, std::string& reply) {
        if (c.query) {
            reply += scpi::shortForm(kYUnits[index(view.yUnits.load())]);
            return 0;
        }
        int u = 0;
        if (const int e = keyword(c.params[0], kYUnits, u)) return e;
        const YUnit unit = yUnitFromCode(u);
        if ((unit == YUnit::Decibels) != (domainOf(view.xUnits.load()) == Domain::Frequency))
            return scpi::kIllegalParameterValue;
        setYUnits(unit);
        return view.yUnits.load() == unit ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
    }
    // A field of the panel: its range, whole numbers or not, MINimum, MAXimum and DEFault.
    static int numericSetting(RemoteSession&, const Command& c, int which, std::string& reply) {
        const NumericSetting& n = kNumeric[which];
        const Limits l = limitsOf(n);
        if (c.query) return answer(c, l, n.get(), reply);
        double v = 0;
        if (const int e = numeric(c.params[0], l, v)) return e;
        const double before = n.get();
        n.set(v);
        if (near(n.get(), v)) return 0;
        // The field kept what its rules allow (a window narrower than the least): put back.
        n.set(before);
        return scpi::kDataOutOfRange;
    }
    static int onOff(RemoteSession&, const Command& c, int which, std::string& reply) {
        const Switch& sw = kSwitches[which];
        if (c.query) {
            reply += sw.get() ? "1" : "0";
            return 0;
        }
        if (c.params[0].quoted) return scpi::kDataTypeError;
        bool v = false;
        if (!scpi::toBool(c.params[0].text, v)) return scpi::kIllegalParameterValue;
        sw.set(v);
        return sw.get() == v ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
    }
    static int display(RemoteSession& s, const Command& c, int, std::string& reply) {
        if (c.query) {
            reply += s.display_ ? "1" : "0";
            return 0;
        }
        if (c.params[0].quoted) return scpi::kDataTypeError;
        return scpi::toBool(c.params[0].text, s.display_)
                   ? 0
                   : static_cast<int>(scpi::kIllegalParameterValue);
    }
    static int range(RemoteSession&, const Command& c, int, std::string& reply) {
        if (c.query) {
            appendNumber(reply, getYMin());
            reply += ',';
            appendNumber(reply, getYMax());
            return 0;
        }
        double lo = 0, hi = 0;
        if (const int e = number(c.params[0], lo)) return e;
        if (const int e = number(c.params[1], hi)) return e;
        if (!(lo < hi)) return scpi::kDataOutOfRange;
        setYMinMax(lo, hi);
        return near(getYMin(), lo) && near(getYMax(), hi) ? 0
                                                          : static_cast<int>(scpi::kDataOutOfRange);
    }
    static int zero(RemoteSession&, const Command& c, int, std::string& reply) {
        double lo = 0, hi = 0;
        panel().range(PANEL_XEND, lo, hi);
        const Limits l{0, hi, 0, false};
        if (c.query) return answer(c, l, view.xZero.load(), reply);
        if (domainOf(view.xUnits.load()) == Domain::Frequency) return scpi::kExecutionError;
        if (!c.params[0].quoted && scpi::keywordMatches(c.params[0].text, "AUTO")) {
            // The question before the search is answered yes: the client asked for it.
            platform::ScopedThreadResponder popups;
            setZero(-1);
            return popups.answers.countTitle("Could not find instrument open") == 0
                       ? 0
                       : static_cast<int>(scpi::kExecutionError);
        }
        double x = 0;
        if (c.params[0].quoted || !scpi::keywordMatches(c.params[0].text, "RESet"))
            if (const int e = numeric(c.params[0], l, x)) return e;
        setZero(x);
        return 0;
    }
    static int domain(RemoteSession&, const Command& c, int, std::string& reply) {
        constexpr std::array<const char*, 2> kDomains = {"TIME", "FREQuency"};
        const bool frequency = domainOf(view.xUnits.load()) == Domain::Frequency;
        if (c.query) {
            reply += frequency ? "FREQ" : "TIME";
            return 0;
        }
        int d = 0;
        if (const int e = keyword(c.params[0], kDomains, d)) return e;
        if (d == 1 && !frequency) {
            // A calibration is loaded first (CALibration:SOLT:LOAD): no dialog waits for a user.
            if (checkSOLT(getMode() == Mode::TDT ? 1 : 0) != 1) return scpi::kExecutionError;
            platform::ScopedThreadResponder popups;
            setDomain(Domain::Frequency);
        } else if (d == 0 && frequency) {
            setDomain(Domain::Time);
        }
        return 0;
    }
    static int zoneLimits(RemoteSession&, const Command& c, int, std::string& reply) {
        if (c.query) {
            appendNumber(reply, panelState.zoneNominal.load());
            reply += ',';
            appendNumber(reply, panelState.zoneTolerance.load());
            return 0;
        }
        double nominal = 0, tolerance = 0;
        if (const int e = number(c.params[0], nominal)) return e;
        if (const int e = number(c.params[1], tolerance)) return e;
        if (!(nominal > 0) || !(tolerance > 0) || tolerance > 100) return scpi::kDataOutOfRange;
        panelState.zoneNominal.store(nominal);
        panelState.zoneTolerance.store(tolerance);
        return 0;
    }
    static int format(RemoteSession& s, const Command& c, int, std::string& reply) {
        constexpr std::array<const char*, 2> kFormats = {"ASCii", "REAL"};
        if (c.query) {
            reply += s.binary_ ? "REAL,32" : "ASC";
            return 0;
        }
        int f = 0;
        if (const int e = keyword(c.params[0], kFormats, f)) return e;
        if (f == 0 && c.params.size() > 1) return scpi::kParameterNotAllowed;
        if (f == 1 && c.params.size() == 2 && c.params[1].text != "32")
            return c.params[1].quoted ? scpi::kDataTypeError : scpi::kIllegalParameterValue;
        s.binary_ = f == 1;
        return 0;
    }

    // Measurements.
    static int initiate(RemoteSession& s, const Command&, int, std::string&) {
        if (instrument.link.lost.load()) return scpi::kExecutionError;
        s.instrument_.start(RemoteInstrument::Work::Acquisition, s.display_);
        return 0;
    }
    static int abortOperation(RemoteSession& s, const Command&, int, std::string&) {
        RemoteInstrument& r = s.instrument_;
        if (!r.busy()) return 0;
        r.abortAsked_ = true;
        if (cancelTickJob(*r.op_)) {
            r.op_->status = kSweepsStopped;
            r.op_->ended.store(true);
            r.busy();
        } else {
            stopTickSweeps();
        }
        return 0;
    }
    // 1024 values in the session's format: ASCII numbers, or an IEEE 488.2 definite-length block
    // of little-endian float32.
    static void appendTrace(const RemoteSession& s, const Waveform& values, std::string& reply) {
        if (!s.binary_) {
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i > 0) reply += ',';
                appendNumber(reply, values[i]);
            }
            return;
        }
        const std::string length = std::to_string(values.size() * 4);
        reply += '#' + std::to_string(length.size()) + length;
        for (double v : values) {
            const float f = static_cast<float>(v);
            std::uint32_t bits = 0;
            std::memcpy(&bits, &f, sizeof bits);
            for (int b = 0; b < 4; ++b) reply += static_cast<char>((bits >> (8 * b)) & 0xFF);
        }
    }
    static const RemoteTrace& shown(RemoteSession& s) {
        return s.instrument_.traces_[s.instrument_.shown_];
    }
    // The y (0) or x (1) values of the last INITiate.
    static int trace(RemoteSession& s, const Command&, int x, std::string& reply) {
        const RemoteTrace& t = shown(s);
        if (!t.valid) return scpi::kDataStale;
        appendTrace(s, x ? t.x : t.y, reply);
        return 0;
    }
    static int zone(RemoteSession& s, const Command& c, int, std::string& reply) {
        double from = 0, to = 0;
        if (const int e = number(c.params[0], from)) return e;
        if (const int e = number(c.params[1], to)) return e;
        const RemoteTrace& t = shown(s);
        if (!t.valid) return scpi::kDataStale;
        // Judged in ohms only, as the window judges it.
        if (t.setup.yUnit != YUnit::Ohms) return scpi::kExecutionError;
        const double minLength =
            zoneResolution(shownRiseTimePs(instrument.speed, t.setup.filter, t.setup.filterWidthPs),
                           t.setup.xUnit, t.setup.dielectric);
        const ZoneStats z = zoneStatistics(t.x, t.y, from, to, panelState.zoneNominal.load(),
                                           panelState.zoneTolerance.load(), minLength);
        record(s.instrument_, t, from, to, z);
        for (double v : {z.mean, z.min, z.max, z.stddev}) {
            appendNumber(reply, v);
            reply += ',';
        }
        reply += verdictText(z.verdict);
        return 0;
    }
    // The acquisition's record gains the zone just judged (a zone asked again replaces itself)
    // and goes to the database again under the same id: one record per INITiate.
    static void record(RemoteInstrument& in, const RemoteTrace& t, double from, double to,
                       const ZoneStats& z) {
        if (!in.context_.recorder || !in.recording_ || z.verdict == ZoneVerdict::NoData) return;
        results::Record& r = in.record_;
        if (in.recorded_ != in.generation_) {
            r = results::Record{};
            r.id = results::newRecordId();
            r.time = results::utcNow();
            r.station = in.context_.station;
            r.serial = in.serial_;
            r.lot = in.lot_;
            r.operatorName = in.operator_;
            r.recipe = "remote";
            r.model = instrument.model;
            if (platform::SerialDevice* device = platform::serialDevice())
                r.instrumentSerial = device->serialNumber();
            r.source = "remote";
            in.recorded_ = in.generation_;
        }
        std::string name;
        appendNumber(name, from);
        name += "-";
        appendNumber(name, to);
        name += std::string(" ") + kRecipeXUnits[index(t.setup.xUnit)];
        const results::ZoneRecord zone{name,
                                       panelState.zoneNominal.load(),
                                       panelState.zoneTolerance.load(),
                                       z.mean,
                                       z.min,
                                       z.max,
                                       z.stddev,
                                       verdictText(z.verdict)};
        auto same = std::find_if(r.zones.begin(), r.zones.end(),
                                 [&](const results::ZoneRecord& k) { return k.name == name; });
        if (same != r.zones.end())
            *same = zone;
        else
            r.zones.push_back(zone);
        const bool pass =
            std::all_of(r.zones.begin(), r.zones.end(),
                        [](const results::ZoneRecord& k) { return k.verdict == "PASS"; });
        r.verdict = pass ? "PASS" : "FAIL";
        r.exitStatus = pass ? 0 : 1;
        in.context_.recorder->submit(r);
    }
    // CALCulate:EYE:...: the link FETCh:EYE? looks at.
    static int eyeNumber(RemoteSession& s, const Command& c, int which, std::string& reply) {
        platform::EyeRequest& r = s.instrument_.eye_;
        double* field[] = {&r.bitrateGbps, &r.rjPs, &r.noise};
        constexpr double kHigh[] = {200, 1000, 1000};
        if (c.query) {
            appendNumber(reply, *field[which]);
            return 0;
        }
        double v = 0;
        if (const int e = number(c.params[0], v)) return e;
        if (!(v >= (which == 0 ? 0.01 : 0)) || v > kHigh[which]) return scpi::kDataOutOfRange;
        *field[which] = v;
        return 0;
    }
    static int eyePattern(RemoteSession& s, const Command& c, int, std::string& reply) {
        platform::EyeRequest& r = s.instrument_.eye_;
        if (c.query) {
            reply += r.pattern.find_first_not_of("01") == std::string::npos
                         ? "\"" + r.pattern + "\""
                         : r.pattern;
            return 0;
        }
        std::string name = c.params[0].text;
        if (!c.params[0].quoted)
            for (char& ch : name)
                ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        eye::Pattern pattern{};
        std::string bits;
        if (name.size() > 100000 || !eye::patternOf(name, pattern, bits) ||
            (pattern == eye::Pattern::User && !c.params[0].quoted))
            return scpi::kIllegalParameterValue;
        r.pattern = name;
        return 0;
    }
    static int eyeCoding(RemoteSession& s, const Command& c, int, std::string& reply) {
        platform::EyeRequest& r = s.instrument_.eye_;
        if (c.query) {
            reply += r.pam4 ? "PAM4" : "NRZ";
            return 0;
        }
        std::string v = c.params[0].text;
        for (char& ch : v) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        if (c.params[0].quoted || (v != "NRZ" && v != "PAM4")) return scpi::kIllegalParameterValue;
        r.pam4 = v == "PAM4";
        return 0;
    }
    static int eyeMask(RemoteSession& s, const Command& c, int, std::string& reply) {
        platform::EyeRequest& r = s.instrument_.eye_;
        if (c.query) {
            appendNumber(reply, r.maskWidthUi);
            reply += ',';
            appendNumber(reply, r.maskHeight);
            return 0;
        }
        double w = 0, h = 0;
        if (const int e = number(c.params[0], w)) return e;
        if (const int e = number(c.params[1], h)) return e;
        if (w < 0 || w > 1 || h < 0 || h > 2000 || ((w == 0) != (h == 0)))
            return scpi::kDataOutOfRange;
        r.maskWidthUi = w;
        r.maskHeight = h;
        return 0;
    }
    // The eye of the last INITiate's trace: height, width (ps), worst-case height, mask hits
    // (-1 without a mask), in the trace's unit.
    static int fetchEye(RemoteSession& s, const Command&, int, std::string& reply) {
        const RemoteTrace& t = shown(s);
        if (!t.valid) return scpi::kDataStale;
        if (t.setup.mode != Mode::TDT || domainOf(t.setup.xUnit) != Domain::Time ||
            (t.setup.yUnit != YUnit::Millivolts && t.setup.yUnit != YUnit::Normalized))
            return scpi::kExecutionError;
        eye::Settings e;
        eye::settingsOf(s.instrument_.eye_, e); // its pattern was checked when it was set
        const eye::Eye result = eye::compute(
            eye::stepOfTrace(t.x.data(), t.y.data(), t.x.size(), t.setup.xUnit, t.setup.dielectric),
            e);
        if (!result.ok) return scpi::kExecutionError;
        for (double v : {result.height, result.width * 1e12, result.worstHeight}) {
            appendNumber(reply, v);
            reply += ',';
        }
        reply += std::to_string(result.maskHits);
        return 0;
    }

    // RESults:SERial, :LOT, :OPERator: who and what the next records name.
    static int recordText(RemoteSession& s, const Command& c, int which, std::string& reply) {
        RemoteInstrument& in = s.instrument_;
        std::string& field = which == 0 ? in.serial_ : which == 1 ? in.lot_ : in.operator_;
        if (c.query) {
            reply += "\"" + field + "\"";
            return 0;
        }
        const std::string& v = c.params[0].text;
        if (v.size() > 200 || v.find_first_of("\r\n") != std::string::npos)
            return scpi::kIllegalParameterValue;
        field = v;
        return 0;
    }
    static int recordState(RemoteSession& s, const Command& c, int, std::string& reply) {
        RemoteInstrument& in = s.instrument_;
        if (c.query) {
            reply += in.recording_ && in.context_.recorder ? "1" : "0";
            return 0;
        }
        bool v = false;
        if (c.params[0].quoted || !scpi::toBool(c.params[0].text, v))
            return scpi::kIllegalParameterValue;
        if (v && !in.context_.recorder) return scpi::kExecutionError; // --results none
        in.recording_ = v;
        return 0;
    }

    // The numbers the cursor read-outs show: x1, y1, x2, y2 and x2 - x1.
    static int cursors(RemoteSession&, const Command&, int, std::string& reply) {
        double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        panel().cursor(1, x1, y1);
        panel().cursor(2, x2, y2);
        for (double v : {x1, y1, x2, y2}) {
            appendNumber(reply, v);
            reply += ',';
        }
        appendNumber(reply, x2 - x1);
        return 0;
    }
    // Cursor 1 or 2: placed on the trace point nearest x, as a drag leaves it.
    static int cursor(RemoteSession&, const Command& c, int which, std::string& reply) {
        double x = 0, y = 0;
        if (c.query) {
            panel().cursor(which, x, y);
            appendNumber(reply, x);
            return 0;
        }
        if (const int e = number(c.params[0], x)) return e;
        panel().setCursor(which, x, 0.0);
        updateWaveform();
        return 0;
    }

    // Calibration and files.
    static int soltLoad(RemoteSession&, const Command& c, int, std::string&) {
        DataFile file;
        const char* byMode = getMode() == Mode::TDT ? ".s21" : ".s11";
        if (const int e = file.open("calibrations", c.params[0].text, byMode, true)) return e;
        const int type = fs::path(file.leaf()).extension() == ".s21" ? 1 : 0;
        platform::ScopedThreadResponder popups;
        if (loadSOLTFile(type, file.path()) != 1) return scpi::kMassStorageError;
        (type == 1 ? solt.calS21 : solt.calS11).store(1);
        solt.select(getSampler());
        return 0;
    }
    static int soltState(RemoteSession&, const Command&, int, std::string& reply) {
        reply += std::to_string(checkSOLT(0)) + "," + std::to_string(checkSOLT(1));
        return 0;
    }
    static int soltNew(RemoteSession& s, const Command&, int, std::string&) {
        // Measured standards need a person at the connector, except for the simulator's stand-in.
        if (!s.instrument_.context_.sim) return scpi::kExecutionError;
        s.instrument_.start(RemoteInstrument::Work::Calibration, true);
        return 0;
    }
    // A file command through the menu's own export or load, its file dialog answered with the
    // name given inside the kind's data folder.
    static int file(RemoteSession& s, const Command& c, int which, std::string&) {
        const FileKind& kind = kFiles[which];
        const char* extension = kind.extension[0]        ? kind.extension
                                : getMode() == Mode::TDT ? ".s2p"
                                                         : ".s1p";
        DataFile target;
        if (const int e = target.open(kind.folder, c.params[0].text, extension, kind.reading))
            return e;
        platform::ScopedThreadResponder popups;
        popups.answers.pushFile(target.path(), kind.reading ? platform::VAL_EXISTING_FILE_SELECTED
                                                            : platform::VAL_NEW_FILE_SELECTED);
        if (kind.run() != 1) return scpi::kMassStorageError;
        if (which == kLoadSettings) s.instrument_.recalibrate_ = true;
        return 0;
    }

    static const Entry* find(const std::string& header);

    // The form and the parameter count, checked once for every command.
    static int check(const Entry& e, const Command& c) {
        if (c.query ? e.form == Form::SetOnly : e.form == Form::QueryOnly)
            return scpi::kUndefinedHeader;
        const int n = static_cast<int>(c.params.size());
        if (n < (c.query ? e.params.queryMin : e.params.setMin)) return scpi::kMissingParameter;
        if (n > (c.query ? e.params.queryMax : e.params.setMax)) return scpi::kParameterNotAllowed;
        return 0;
    }
};

namespace {
using C = RemoteCommands;
constexpr C::Entry kCommandTable[] = {
    C::query("*IDN", C::idn),
    C::command("*RST", C::rst),
    C::command("*CLS", C::cls, 0, 0, Exec::Now),
    C::query("*ESR", C::esr),
    C::status("*ESE", C::ese),
    C::status("*SRE", C::sre),
    C::query("*STB", C::stb),
    {"*OPC", C::opc, 0, Form::Both, {0, 0, 0, 0}, Exec::Now, Exec::Wait},
    C::command("*WAI", C::nothing, 0, 0, Exec::Wait),
    C::query("*TST", C::selfTest, 0, 0, Exec::InTurn),
    C::query("SYSTem:ERRor[:NEXT]", C::error, 0),
    C::query("SYSTem:ERRor:COUNt", C::error, 1),
    C::query("SYSTem:VERSion", C::version),
    C::command("SYSTem:EXIT", C::exitProgram, 0, 0, Exec::Now),
    C::query("STATus:OPERation[:EVENt]", C::statusEvent, 0),
    C::query("STATus:OPERation:CONDition", C::statusCondition, 0),
    C::status("STATus:OPERation:ENABle", C::statusEnable, 0, 1, 1),
    C::query("STATus:QUEStionable[:EVENt]", C::statusEvent, 1),
    C::query("STATus:QUEStionable:CONDition", C::statusCondition, 1),
    C::status("STATus:QUEStionable:ENABle", C::statusEnable, 1, 1, 1),
    C::command("STATus:PRESet", C::statusPreset, 0, 0, Exec::Now),
    C::setting("[SENSe]:MODE", C::mode),
    C::setting("[SENSe]:LINE", C::line),
    C::setting("[SENSe]:STIMulus", C::ring, 0),
    C::setting("[SENSe]:SAMPler", C::ring, 1),
    C::setting("UNIT:X", C::unitX),
    C::setting("UNIT:Y", C::unitY),
    C::setting("[SENSe]:WINDow:STARt", C::numericSetting, kStart, 1, 1),
    C::setting("[SENSe]:WINDow:STOP", C::numericSetting, kStop, 1, 1),
    C::setting("[SENSe]:DIELectric", C::numericSetting, kDielectric, 1, 1),
    C::setting("[SENSe]:AVERage[:COUNt]", C::numericSetting, kAveraging, 1, 1),
    C::setting("[SENSe]:FILTer[:STATe]", C::onOff, 0),
    C::setting("[SENSe]:FILTer:WIDTh", C::numericSetting, kFilterWidth, 1, 1),
    C::setting("[SENSe]:ZERO", C::zero, 0, 1, 1),
    C::setting("[SENSe]:DOMain", C::domain),
    C::setting("DISPlay:Y:AUTO", C::onOff, 1),
    C::setting("DISPlay:Y:RANGe", C::range, 0, 2),
    C::setting("DISPlay:PROFile", C::onOff, 2),
    C::status("DISPlay:ENABle", C::display),
    C::setting("CALCulate:ZONE:LIMits", C::zoneLimits, 0, 2),
    C::setting("CURSor:C1", C::cursor, 1),
    C::setting("CURSor:C2", C::cursor, 2),
    C::setting("INITiate:CONTinuous", C::onOff, 3),
    {"FORMat[:DATA]", C::format, 0, Form::Both, {1, 2, 0, 0}, Exec::Now, Exec::Now},
    C::command("INITiate[:IMMediate]", C::initiate, 0, 0, Exec::Overlapped),
    C::command("ABORt", C::abortOperation, 0, 0, Exec::Now),
    C::query("FETCh:TRACe[:Y]", C::trace, 0),
    C::query("FETCh:TRACe:X", C::trace, 1),
    C::query("FETCh:ZONE", C::zone, 0, 2),
    C::query("FETCh:CURSor", C::cursors),
    C::setting("CALCulate:EYE:BITRate", C::eyeNumber, 0),
    C::setting("CALCulate:EYE:RJ", C::eyeNumber, 1),
    C::setting("CALCulate:EYE:NOISe", C::eyeNumber, 2),
    C::setting("CALCulate:EYE:PATTern", C::eyePattern),
    C::setting("CALCulate:EYE:CODing", C::eyeCoding),
    C::setting("CALCulate:EYE:MASK", C::eyeMask, 0, 2),
    C::query("FETCh:EYE", C::fetchEye),
    C::setting("RESults:RECord[:STATe]", C::recordState),
    C::setting("RESults:SERial", C::recordText, 0),
    C::setting("RESults:LOT", C::recordText, 1),
    C::setting("RESults:OPERator", C::recordText, 2),
    C::command("CALibration:SOLT:LOAD", C::soltLoad, 0, 1),
    C::query("CALibration:SOLT:STATe", C::soltState),
    C::command("CALibration:SOLT:NEW", C::soltNew, 0, 0, Exec::Overlapped),
    C::command("MMEMory:STORe:CSV", C::file, 0, 1),
    C::command("MMEMory:STORe:TOUChstone", C::file, 1, 1),
    C::command("MMEMory:STORe:PNG", C::file, 2, 1),
    C::command("MMEMory:STORe:WAVeform", C::file, 3, 1),
    C::command("MMEMory:STORe:SETTings", C::file, 4, 1),
    C::command("MMEMory:LOAD:WAVeform", C::file, 5, 1),
    C::command("MMEMory:LOAD:SETTings", C::file, kLoadSettings, 1),
};

} // namespace

const RemoteCommands::Entry* RemoteCommands::find(const std::string& header) {
    for (const Entry& e : kCommandTable)
        if (scpi::headerMatches(header, e.pattern)) return &e;
    return nullptr;
}

RemoteSession::RemoteSession(RemoteInstrument& instrument) : instrument_(instrument) {}

RemoteSession::Step RemoteSession::start(std::string_view line, std::string& out) {
    commands_.clear();
    next_ = 0;
    asked_ = false;
    path_.clear(); // each line starts at the root
    parseError_ = scpi::parseLine(line, commands_, parseWhy_);
    return run(out);
}

RemoteSession::Step RemoteSession::resume(std::string& out) {
    return run(out);
}

RemoteSession::Step RemoteSession::run(std::string& out) {
    for (; next_ < commands_.size(); ++next_) {
        const Command& c = commands_[next_];
        // A header without a leading ':' continues the path of the one before (common commands
        // leave it alone); a full header is accepted too.
        std::string typed;
        const RemoteCommands::Entry* entry = nullptr;
        if (!c.absolute && !path_.empty()) entry = RemoteCommands::find(typed = path_ + c.header);
        if (!entry) entry = RemoteCommands::find(typed = c.header);
        const bool busy = instrument_.busy();
        if (!entry) {
            instrument_.pushError(scpi::kUndefinedHeader, c.header);
            return finishLine(out, false); // a command error ends the line
        }
        const Exec exec = c.query ? entry->query : entry->set;
        if (exec != Exec::Now && busy) return Step::Waiting;
        if (c.header.front() != '*') {
            const std::size_t colon = typed.rfind(':');
            path_ = colon == std::string::npos ? "" : typed.substr(0, colon + 1);
        }
        std::string reply;
        int e = RemoteCommands::check(*entry, c);
        if (e == 0 && exec == Exec::InTurn) {
            Guard guard;
            e = entry->run(*this, c, entry->arg, reply);
        } else if (e == 0) {
            e = entry->run(*this, c, entry->arg, reply);
        }
        if (e != 0) {
            instrument_.pushError(e, c.header);
            // A command error ends the line; after any other the rest still runs, so a client's
            // "...;*OPC?" is always answered.
            if (e <= scpi::kCommandError && e > scpi::kExecutionError) {
                ++next_;
                return finishLine(out, false);
            }
            continue;
        }
        if (c.query) {
            if (asked_) out += ';';
            out += reply;
            asked_ = true;
        }
        if (out.size() >= kReplyPart && next_ + 1 < commands_.size()) {
            ++next_;
            return Step::More;
        }
    }
    return finishLine(out, true);
}

RemoteSession::Step RemoteSession::finishLine(std::string& out, bool reportParseError) {
    if (reportParseError && parseError_ != 0) instrument_.pushError(parseError_, parseWhy_);
    if (asked_) out += '\n';
    commands_.clear();
    next_ = 0;
    asked_ = false;
    parseError_ = 0;
    return Step::Done;
}

std::string RemoteSession::execute(std::string_view line) {
    std::string out;
    for (Step step = start(line, out); step != Step::Done; step = resume(out))
        if (step == Step::Waiting) std::this_thread::yield();
    return out;
}

void RemoteSession::lineTooLong() {
    instrument_.pushError(scpi::kSyntaxError, "a line longer than " +
                                                  std::to_string(platform::kMaxRemoteLine) +
                                                  " characters was dropped");
}

void RemoteControl::connected(const std::string& peer) {
    session_.emplace(instrument_);
    peer_ = peer;
    panel().setText(PANEL_REMOTE, "REMOTE: " + peer);
    writeMessage(0, "Remote client " + peer + " connected.", 0);
}

RemoteControl::Step RemoteControl::line(std::string_view text, std::string& out) {
    if (!session_) return Step::Done;
    const Step step = session_->start(text, out);
    exit_ = exit_ || session_->exitRequested();
    return step;
}

RemoteControl::Step RemoteControl::resume(std::string& out) {
    if (!session_) return Step::Done;
    const Step step = session_->resume(out);
    exit_ = exit_ || session_->exitRequested();
    return step;
}

void RemoteControl::lineTooLong() {
    if (session_) session_->lineTooLong();
}

void RemoteControl::disconnected(const std::string& why) {
    if (!session_) return;
    // A line left waiting goes with its client; the operation it started is the instrument's.
    session_.reset();
    panel().setText(PANEL_REMOTE, idle_);
    writeMessage(0, "Remote client " + peer_ + " left" + (why.empty() ? "" : ": " + why) + ".", 0);
}

void RemoteControl::showListening(int port) {
    idle_ = "REMOTE (port " + std::to_string(port) + ")";
    panel().setText(PANEL_REMOTE, idle_);
}

void RemoteControl::showStopped() {
    idle_.clear();
    panel().setText(PANEL_REMOTE, "");
}

std::string listeningMessage(const std::string& address, int port) {
    const std::string where = address + ":" + std::to_string(port);
    if (address == "127.0.0.1" || address == "::1" || address == "localhost")
        return "Remote control (SCPI) listening on " + where + ", this machine only.";
    return "Remote control (SCPI) listening on " + where +
           ": open to the network, anyone who reaches it controls the instrument.";
}

DataFile::~DataFile() {
    if (file_ >= 0) ::close(file_);
    if (folder_ >= 0) ::close(folder_);
}

int DataFile::open(const char* folder, const std::string& name, std::string_view extension,
                   bool reading) {
    if (name.empty() || name.size() > 200) return scpi::kIllegalParameterValue;
    for (const char ch : name)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f)
            return scpi::kIllegalParameterValue;
    const fs::path p(name);
    if (p.is_absolute() || p.has_root_name() || p.has_root_directory())
        return scpi::kIllegalParameterValue;
    std::vector<std::string> parts;
    for (const auto& part : p) {
        if (part.empty() || part == ".." || part == ".") return scpi::kIllegalParameterValue;
        parts.push_back(part.string());
    }
    leaf_ = parts.back();
    parts.pop_back();
    if (fs::path(leaf_).extension().empty()) leaf_ += extension;

    // The data folder itself may be a link the user made; nothing below it may.
    folder_ = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_ < 0) return scpi::kMassStorageError;
    for (const std::string& part : parts) {
        const int next =
            ::openat(folder_, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return errno == ENOENT && reading ? static_cast<int>(scpi::kFileNameNotFound)
                                              : static_cast<int>(scpi::kIllegalParameterValue);
        ::close(folder_);
        folder_ = next;
    }
    struct stat st {};
    if (reading) {
        // Opened here, read through its descriptor: what is read is what was checked. A pipe is
        // not waited for.
        file_ = ::openat(folder_, leaf_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (file_ < 0)
            return errno == ENOENT ? static_cast<int>(scpi::kFileNameNotFound)
                                   : static_cast<int>(scpi::kIllegalParameterValue);
        if (::fstat(file_, &st) != 0 || !S_ISREG(st.st_mode)) return scpi::kIllegalParameterValue;
        path_ = "/proc/self/fd/" + std::to_string(file_);
        return 0;
    }
    // Written beside the name inside the folder held open and renamed over it, so a link put
    // there is replaced, never followed; a device or a pipe is refused.
    if (::fstatat(folder_, leaf_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
        return scpi::kIllegalParameterValue;
    path_ = "/proc/self/fd/" + std::to_string(folder_) + "/" + leaf_;
    return 0;
}
