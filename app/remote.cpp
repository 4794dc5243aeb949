// The SCPI command table. Each line runs guarded, like a control's callback: no tick runs while
// a remote command changes the set-up or acquires, and settings go through the same operations
// (so the panel's ranges, dimming and unit rules refuse what a control would).
#include "app/remote.h"

#include "acquisition/acquire.h"
#include "app/scpi.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
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
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "setup/version.h"
#include "simulator/sim_operator.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using platform::panel;
using scpi::Command;

namespace {

constexpr std::size_t kMaxErrors = 16;

// While a command runs, popups are answered by a script (a file dialog by the name the command
// gave) and what they said is kept: no dialog ever waits for a user at the instrument.
class ScriptedPopups {
  public:
    ScriptedPopups() : previous_(platform::popupHandler()) { platform::setPopupHandler(&answers_); }
    ~ScriptedPopups() { platform::setPopupHandler(previous_); }
    ScriptedPopups(const ScriptedPopups&) = delete;
    ScriptedPopups& operator=(const ScriptedPopups&) = delete;
    platform::ScriptedResponder answers_;

  private:
    platform::PopupHandler* previous_;
};

// No tick for the lifetime of a line.
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

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

int arity(const Command& c, std::size_t n) {
    if (c.params.size() < n) return scpi::kMissingParameter;
    if (c.params.size() > n) return scpi::kParameterNotAllowed;
    return scpi::kNoError;
}

// A keyword parameter against a table; -1 when none matches.
template <std::size_t N> int keyword(const Command& c, const std::array<const char*, N>& names) {
    if (c.params.empty() || c.params[0].quoted) return -1;
    for (std::size_t i = 0; i < N; ++i)
        if (scpi::keywordMatches(c.params[0].text, names[i])) return static_cast<int>(i);
    return -1;
}

bool near(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

// A number parameter: the value, or the error it gets.
int number(const Command& c, std::size_t i, double& v) {
    if (i >= c.params.size()) return scpi::kMissingParameter;
    if (c.params[i].quoted || !scpi::toNumber(c.params[i].text, v))
        return scpi::kIllegalParameterValue;
    return scpi::kNoError;
}

// A setting with a number: range-checked by the operation; a value it did not take is -222.
template <typename Set, typename Get>
int setNumber(RemoteSession&, const Command& c, std::string& reply, Set set, Get get) {
    if (c.query) {
        if (const int e = arity(c, 0)) return e;
        appendNumber(reply, get());
        return 0;
    }
    double v = 0;
    if (const int e = arity(c, 1)) return e;
    if (const int e = number(c, 0, v)) return e;
    const double before = get();
    set(v);
    if (near(get(), v)) return 0;
    // The control kept what its limits allow: a refused value leaves the setting as it was.
    set(before);
    return scpi::kDataOutOfRange;
}

template <typename Set, typename Get>
int setBool(const Command& c, std::string& reply, Set set, Get get) {
    if (c.query) {
        if (const int e = arity(c, 0)) return e;
        reply += get() ? "1" : "0";
        return 0;
    }
    bool v = false;
    if (const int e = arity(c, 1)) return e;
    if (!scpi::toBool(c.params[0].text, v)) return scpi::kIllegalParameterValue;
    set(v);
    return get() == v ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
}

// A ring (stimulus or sampler) by number or by the label the panel shows.
int ringChoice(const Command& c, int control, int& value) {
    if (const int e = arity(c, 1)) return e;
    double n = 0;
    const auto items = panel().ringItems(control);
    for (const auto& item : items) {
        const bool byLabel = c.params[0].quoted && item.label == c.params[0].text;
        const bool byNumber = !c.params[0].quoted && scpi::toNumber(c.params[0].text, n) &&
                              n == static_cast<double>(item.value);
        if (byLabel || byNumber) {
            value = item.value;
            return 0;
        }
    }
    return scpi::kIllegalParameterValue;
}

std::string ringLabel(int control, int value) {
    for (const auto& item : panel().ringItems(control))
        if (item.value == value) return item.label;
    return "";
}

constexpr std::array<const char*, 4> kModes = {"TDR", "TDT", "NEXT", "FEXT"};
constexpr std::array<const char*, 5> kXUnits = {"METer", "FEET", "NS", "INCH", "GHZ"};
constexpr std::array<const char*, 6> kYUnits = {"MV", "NORMalized", "OHM", "RHO", "RAW", "DB"};

constexpr char kDatalogs[] = "datalogs";
constexpr char kImages[] = "images";
constexpr char kWaveforms[] = "waveforms";
constexpr char kSettings[] = "settings";
int saveSettingsFile() {
    return saveSettings(0);
}
int loadSettingsFile() {
    return loadSettings(0);
}

// A file command through a menu's own export or load, its file dialog answered with the name
// given inside the kind's data folder.
template <const char* Folder, int (*Run)(), bool Loading = false>
int opFile(RemoteSession&, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 1)) return e;
    std::string path;
    if (!dataFilePath(Folder, c.params[0].text, path)) return scpi::kIllegalParameterValue;
    if (Loading && !fs::is_regular_file(path)) return scpi::kFileNameNotFound;
    ScriptedPopups popups;
    popups.answers_.pushFile(path, Loading ? platform::VAL_EXISTING_FILE_SELECTED
                                           : platform::VAL_NEW_FILE_SELECTED);
    return Run() == 1 ? 0 : static_cast<int>(scpi::kMassStorageError);
}

int opIdn(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    reply += std::string("VELT,") + (instrument.model[0] ? instrument.model : "NONE") + "," +
             (s.context.sim ? "SIMULATED" : "0") + "," + kVersionString;
    return 0;
}

int opRst(RemoteSession& s, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    ScriptedPopups popups;
    resetSettings();
    s.binary = false;
    s.display = true;
    return 0;
}

int opCls(RemoteSession& s, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    while (s.errorCount() > 0) s.popError();
    s.esr = 0;
    return 0;
}

int opEsr(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    reply += std::to_string(s.esr);
    s.esr = 0;
    return 0;
}

int opEse(RemoteSession& s, const Command& c, std::string& reply) {
    return setNumber(
        s, c, reply, [&](double v) { s.ese = v >= 0 && v <= 255 ? static_cast<int>(v) : s.ese; },
        [&] { return static_cast<double>(s.ese); });
}

int opStb(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    reply += std::to_string((s.errorCount() > 0 ? 4 : 0) | ((s.esr & s.ese) != 0 ? 32 : 0));
    return 0;
}

int opOpc(RemoteSession& s, const Command& c, std::string& reply) {
    if (const int e = arity(c, 0)) return e;
    // Commands run one after the other to their end: every operation is complete here.
    if (c.query)
        reply += "1";
    else
        s.esr |= 1;
    return 0;
}

int opWai(RemoteSession&, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    return arity(c, 0);
}

int opError(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    reply += s.popError();
    return 0;
}

int opErrorCount(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    reply += std::to_string(s.errorCount());
    return 0;
}

int opExit(RemoteSession& s, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    if (!s.context.serve) return scpi::kExecutionError; // the window is closed from its menu
    s.exit_ = true;
    return 0;
}

int opMode(RemoteSession& s, const Command& c, std::string& reply) {
    if (c.query) {
        reply += kModes[static_cast<std::size_t>(code(getMode()))];
        return arity(c, 0);
    }
    if (const int e = arity(c, 1)) return e;
    const int m = keyword(c, kModes);
    if (m < 0) return scpi::kIllegalParameterValue;
    if (getMode() == modeFromCode(m)) return 0;
    if (domainOf(view.xUnits.load()) == Domain::Frequency) return scpi::kExecutionError;
    setStimulus(modeFromCode(m));
    s.recalibrate = true;
    return getMode() == modeFromCode(m) ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
}

int opLine(RemoteSession& s, const Command& c, std::string& reply) {
    constexpr std::array<const char*, 2> kLines = {"SINGle", "DIFFerential"};
    if (c.query) {
        reply += getDiff() == 1 ? "DIFF" : "SING";
        return arity(c, 0);
    }
    if (const int e = arity(c, 1)) return e;
    const int v = keyword(c, kLines);
    if (v < 0) return scpi::kIllegalParameterValue;
    setDiff(v);
    s.recalibrate = true;
    return getDiff() == v ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
}

void selectStimulus(int stimulus) {
    setStimulus(std::nullopt, stimulus);
}

// The stimulus or sampler ring: number and label in the query, either in the command; a new
// line is calibrated before the next acquisition.
template <int Control, int (*Get)(), void (*Set)(int)>
int opRing(RemoteSession& s, const Command& c, std::string& reply) {
    if (c.query) {
        reply += std::to_string(Get()) + "," + quoted(ringLabel(Control, Get()));
        return arity(c, 0);
    }
    int v = 0;
    if (const int e = ringChoice(c, Control, v)) return e;
    Set(v);
    s.recalibrate = true;
    return 0;
}

int opUnitX(RemoteSession&, const Command& c, std::string& reply) {
    if (c.query) {
        reply += scpi::shortForm(kXUnits[index(view.xUnits.load())]);
        return arity(c, 0);
    }
    if (const int e = arity(c, 1)) return e;
    const int u = keyword(c, kXUnits);
    if (u < 0) return scpi::kIllegalParameterValue;
    const XUnit unit = xUnitFromCode(u);
    // Only the domain switch moves between the domains' units.
    if (domainOf(unit) != domainOf(view.xUnits.load())) return scpi::kIllegalParameterValue;
    setXUnits(unit);
    return 0;
}

int opUnitY(RemoteSession&, const Command& c, std::string& reply) {
    if (c.query) {
        reply += scpi::shortForm(kYUnits[index(view.yUnits.load())]);
        return arity(c, 0);
    }
    if (const int e = arity(c, 1)) return e;
    const int u = keyword(c, kYUnits);
    if (u < 0) return scpi::kIllegalParameterValue;
    const YUnit unit = yUnitFromCode(u);
    if ((unit == YUnit::Decibels) != (domainOf(view.xUnits.load()) == Domain::Frequency))
        return scpi::kIllegalParameterValue;
    setYUnits(unit);
    return view.yUnits.load() == unit ? 0 : static_cast<int>(scpi::kIllegalParameterValue);
}

// The window's ends as the fields show them: from the zero reference.
int opStart(RemoteSession& s, const Command& c, std::string& reply) {
    return setNumber(
        s, c, reply,
        [](double v) {
            setXStart(v + view.xZero.load());
            setWindow();
        },
        getXStart);
}

int opStop(RemoteSession& s, const Command& c, std::string& reply) {
    return setNumber(
        s, c, reply,
        [](double v) {
            setXEnd(v + view.xZero.load());
            setWindow();
        },
        getXEnd);
}

int opDielectric(RemoteSession& s, const Command& c, std::string& reply) {
    return setNumber(
        s, c, reply, [](double v) { setDiel(v); }, getDiel);
}

int opAverage(RemoteSession& s, const Command& c, std::string& reply) {
    return setNumber(
        s, c, reply, [](double v) { setAveraging(static_cast<int>(v)); },
        [] { return static_cast<double>(getAveraging()); });
}

int opFilter(RemoteSession&, const Command& c, std::string& reply) {
    return setBool(
        c, reply, [](bool v) { setFilter(v ? 1 : 0); }, [] { return getFilter() == 1; });
}

int opFilterWidth(RemoteSession& s, const Command& c, std::string& reply) {
    return setNumber(
        s, c, reply,
        [](double v) {
            panel().setValue(PANEL_FILTERWIDTH, static_cast<int>(v));
            setFilterWidth(-1);
        },
        [] { return static_cast<double>(getFilterWidth()); });
}

int opAutoscale(RemoteSession&, const Command& c, std::string& reply) {
    return setBool(
        c, reply, [](bool v) { setAutoscale(v ? 1 : 0); }, [] { return getAutoscale() == 1; });
}

int opRange(RemoteSession&, const Command& c, std::string& reply) {
    if (c.query) {
        appendNumber(reply, getYMin());
        reply += ',';
        appendNumber(reply, getYMax());
        return arity(c, 0);
    }
    double lo = 0, hi = 0;
    if (const int e = arity(c, 2)) return e;
    if (const int e = number(c, 0, lo)) return e;
    if (const int e = number(c, 1, hi)) return e;
    if (!(lo < hi)) return scpi::kDataOutOfRange;
    setYMinMax(lo, hi);
    return near(getYMin(), lo) && near(getYMax(), hi) ? 0 : static_cast<int>(scpi::kDataOutOfRange);
}

int opZero(RemoteSession&, const Command& c, std::string& reply) {
    constexpr std::array<const char*, 2> kZero = {"AUTO", "RESet"};
    if (c.query) {
        appendNumber(reply, view.xZero.load());
        return arity(c, 0);
    }
    if (const int e = arity(c, 1)) return e;
    if (domainOf(view.xUnits.load()) == Domain::Frequency) return scpi::kExecutionError;
    double x = 0;
    if (const int k = keyword(c, kZero); k == 0) {
        // The question before the search is answered yes: the client asked for it.
        ScriptedPopups popups;
        setZero(-1);
        return popups.answers_.countTitle("Could not find instrument open") == 0
                   ? 0
                   : static_cast<int>(scpi::kExecutionError);
    } else if (k == 1) {
        x = 0;
    } else if (const int e = number(c, 0, x)) {
        return e;
    }
    if (x < 0) return scpi::kDataOutOfRange;
    setZero(x);
    return 0;
}

int opDomain(RemoteSession&, const Command& c, std::string& reply) {
    constexpr std::array<const char*, 2> kDomains = {"TIME", "FREQuency"};
    const bool frequency = domainOf(view.xUnits.load()) == Domain::Frequency;
    if (c.query) {
        reply += frequency ? "FREQ" : "TIME";
        return arity(c, 0);
    }
    if (const int e = arity(c, 1)) return e;
    const int d = keyword(c, kDomains);
    if (d < 0) return scpi::kIllegalParameterValue;
    if (d == 1 && !frequency) {
        // A calibration is loaded first (CALibration:SOLT:LOAD): no dialog waits for a user.
        if (checkSOLT(getMode() == Mode::TDT ? 1 : 0) != 1) return scpi::kExecutionError;
        ScriptedPopups popups;
        setDomain(Domain::Frequency);
    } else if (d == 0 && frequency) {
        setDomain(Domain::Time);
    }
    return 0;
}

int opProfile(RemoteSession&, const Command& c, std::string& reply) {
    return setBool(
        c, reply,
        [](bool v) {
            if (getTrueProfile() != v) toggleTrueProfile();
        },
        getTrueProfile);
}

int opZoneLimits(RemoteSession&, const Command& c, std::string& reply) {
    if (c.query) {
        appendNumber(reply, panelState.zoneNominal.load());
        reply += ',';
        appendNumber(reply, panelState.zoneTolerance.load());
        return arity(c, 0);
    }
    double nominal = 0, tolerance = 0;
    if (const int e = arity(c, 2)) return e;
    if (const int e = number(c, 0, nominal)) return e;
    if (const int e = number(c, 1, tolerance)) return e;
    if (!(nominal > 0) || !(tolerance > 0) || tolerance > 100) return scpi::kDataOutOfRange;
    panelState.zoneNominal.store(nominal);
    panelState.zoneTolerance.store(tolerance);
    return 0;
}

int opSoltLoad(RemoteSession&, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 1)) return e;
    std::string path;
    if (!dataFilePath("calibrations", c.params[0].text, path)) return scpi::kIllegalParameterValue;
    const int type = fs::path(path).extension() == ".s21" ? 1 : 0;
    if (!fs::is_regular_file(path)) return scpi::kFileNameNotFound;
    ScriptedPopups popups;
    if (loadSOLTFile(type, path) != 1) return scpi::kMassStorageError;
    (type == 1 ? solt.calS21 : solt.calS11).store(1);
    solt.select(getSampler());
    return 0;
}

int opSoltState(RemoteSession&, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    reply += std::to_string(checkSOLT(0)) + "," + std::to_string(checkSOLT(1));
    return arity(c, 0);
}

int opSoltNew(RemoteSession& s, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    // Measured standards need a person at the connector, except for the simulator's stand-in.
    if (!s.context.sim) return scpi::kExecutionError;
    ScriptedPopups popups;
    simulator::SoltOperator user(s.context.sim, &popups.answers_);
    user.offerAnswer = 2;
    platform::setPopupHandler(&user);
    const int type = getMode() == Mode::TDT ? 1 : 0;
    const bool ok = performSOLT(type) == 1;
    platform::setPopupHandler(&popups.answers_);
    solt.select(getSampler());
    return ok ? 0 : static_cast<int>(scpi::kExecutionError);
}

int opInit(RemoteSession& s, const Command& c, std::string&) {
    if (c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    if (instrument.link.lost.load()) return scpi::kExecutionError;
    if (s.recalibrate) {
        if (calibrate(-1, -1, 0) != 1) return scpi::kExecutionError;
        s.recalibrate = false;
    }
    acquire(s.display ? 1 : 0);
    if (s.display) updateWaveform();
    return instrument.link.lost.load() ? static_cast<int>(scpi::kExecutionError) : 0;
}

int opContinuous(RemoteSession&, const Command& c, std::string& reply) {
    return setBool(
        c, reply, [](bool v) { setAutoAcquire(v ? 1 : 0); }, [] { return getAutoAcquire() == 1; });
}

int opDisplay(RemoteSession& s, const Command& c, std::string& reply) {
    return setBool(
        c, reply, [&](bool v) { s.display = v; }, [&] { return s.display; });
}

int opFormat(RemoteSession& s, const Command& c, std::string& reply) {
    constexpr std::array<const char*, 2> kFormats = {"ASCii", "REAL"};
    if (c.query) {
        reply += s.binary ? "REAL,32" : "ASC";
        return arity(c, 0);
    }
    const int f = keyword(c, kFormats);
    if (f < 0) return c.params.empty() ? scpi::kMissingParameter : scpi::kIllegalParameterValue;
    if (f == 0 && c.params.size() > 1) return scpi::kParameterNotAllowed;
    if (f == 1 && c.params.size() > 2) return scpi::kParameterNotAllowed;
    if (f == 1 && c.params.size() == 2 && c.params[1].text != "32")
        return scpi::kIllegalParameterValue;
    s.binary = f == 1;
    return 0;
}

// 1024 values in the session's format: ASCII numbers, or an IEEE 488.2 definite-length block
// of little-endian float32.
void appendTrace(const RemoteSession& s, const Waveform& values, std::string& reply) {
    if (!s.binary) {
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

int opTrace(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    appendTrace(s, liveTrace.y, reply);
    return 0;
}

int opTraceX(RemoteSession& s, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    if (const int e = arity(c, 0)) return e;
    appendTrace(s, instrument.recordX, reply);
    return 0;
}

int opZone(RemoteSession&, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    double from = 0, to = 0;
    if (const int e = arity(c, 2)) return e;
    if (const int e = number(c, 0, from)) return e;
    if (const int e = number(c, 1, to)) return e;
    // Judged in ohms only, as the window judges it.
    if (view.yUnits.load() != YUnit::Ohms) return scpi::kExecutionError;
    const double minLength =
        zoneResolution(shownRiseTimePs(instrument.speed, getFilter() == 1, getFilterWidth()),
                       view.xUnits.load(), view.dielK.load());
    const ZoneStats z =
        zoneStatistics(instrument.recordX, liveTrace.y, from, to, panelState.zoneNominal.load(),
                       panelState.zoneTolerance.load(), minLength);
    for (double v : {z.mean, z.min, z.max, z.stddev}) {
        appendNumber(reply, v);
        reply += ',';
    }
    reply += verdictText(z.verdict);
    return 0;
}

int opCursors(RemoteSession&, const Command& c, std::string& reply) {
    if (!c.query) return scpi::kUndefinedHeader;
    reply += quoted(panel().text(PANEL_C1)) + "," + quoted(panel().text(PANEL_C2)) + "," +
             quoted(panel().text(PANEL_C3));
    return arity(c, 0);
}

using Handler = int (*)(RemoteSession&, const Command&, std::string&);
struct Entry {
    const char* pattern;
    Handler run;
};

constexpr Entry kCommands[] = {
    {"*IDN", opIdn},
    {"*RST", opRst},
    {"*CLS", opCls},
    {"*ESR", opEsr},
    {"*ESE", opEse},
    {"*STB", opStb},
    {"*OPC", opOpc},
    {"*WAI", opWai},
    {"SYSTem:ERRor[:NEXT]", opError},
    {"SYSTem:ERRor:COUNt", opErrorCount},
    {"SYSTem:EXIT", opExit},
    {"[SENSe]:MODE", opMode},
    {"[SENSe]:LINE", opLine},
    {"[SENSe]:STIMulus", opRing<PANEL_STIMULUS, getStimulus, selectStimulus>},
    {"[SENSe]:SAMPler", opRing<PANEL_SAMPLER, getSampler, setSampler>},
    {"UNIT:X", opUnitX},
    {"UNIT:Y", opUnitY},
    {"[SENSe]:WINDow:STARt", opStart},
    {"[SENSe]:WINDow:STOP", opStop},
    {"[SENSe]:DIELectric", opDielectric},
    {"[SENSe]:AVERage[:COUNt]", opAverage},
    {"[SENSe]:FILTer[:STATe]", opFilter},
    {"[SENSe]:FILTer:WIDTh", opFilterWidth},
    {"[SENSe]:ZERO", opZero},
    {"[SENSe]:DOMain", opDomain},
    {"DISPlay:Y:AUTO", opAutoscale},
    {"DISPlay:Y:RANGe", opRange},
    {"DISPlay:PROFile", opProfile},
    {"DISPlay:ENABle", opDisplay},
    {"CALCulate:ZONE:LIMits", opZoneLimits},
    {"CALibration:SOLT:LOAD", opSoltLoad},
    {"CALibration:SOLT:STATe", opSoltState},
    {"CALibration:SOLT:NEW", opSoltNew},
    {"INITiate[:IMMediate]", opInit},
    {"INITiate:CONTinuous", opContinuous},
    {"FORMat[:DATA]", opFormat},
    {"FETCh:TRACe[:Y]", opTrace},
    {"FETCh:TRACe:X", opTraceX},
    {"FETCh:ZONE", opZone},
    {"FETCh:CURSor", opCursors},
    {"MMEMory:STORe:CSV", opFile<kDatalogs, saveCSV>},
    {"MMEMory:STORe:TOUChstone", opFile<kDatalogs, saveTouchstone>},
    {"MMEMory:STORe:PNG", opFile<kImages, savePNG>},
    {"MMEMory:STORe:WAVeform", opFile<kWaveforms, storeWaveform>},
    {"MMEMory:STORe:SETTings", opFile<kSettings, saveSettingsFile>},
    {"MMEMory:LOAD:WAVeform", opFile<kWaveforms, recallWaveform, true>},
    {"MMEMory:LOAD:SETTings", opFile<kSettings, loadSettingsFile, true>},
};

const Entry* find(const std::string& header) {
    for (const Entry& e : kCommands)
        if (scpi::headerMatches(header, e.pattern)) return &e;
    return nullptr;
}

// The ESR bit an error sets: command errors 5, execution errors 4, device errors 3, query 2.
int esrBit(int code) {
    if (code <= -100 && code > -200) return 1 << 5;
    if (code <= -200 && code > -300) return 1 << 4;
    if (code <= -300 && code > -400) return 1 << 3;
    return 1 << 2;
}

} // namespace

RemoteSession::RemoteSession(RemoteContext c) : context(c) {}

void RemoteSession::pushError(int code, const std::string& detail) {
    esr |= esrBit(code);
    std::string text = std::to_string(code) + ",\"" + scpi::errorText(code);
    if (!detail.empty()) text += "; " + detail;
    text += '"';
    if (errors_.size() >= kMaxErrors) {
        // The last place tells that errors were lost.
        errors_.back() = std::to_string(scpi::kQueueOverflow) + ",\"" +
                         scpi::errorText(scpi::kQueueOverflow) + '"';
        return;
    }
    errors_.push_back(std::move(text));
}

std::string RemoteSession::popError() {
    if (errors_.empty()) return "0,\"No error\"";
    std::string e = std::move(errors_.front());
    errors_.pop_front();
    return e;
}

void RemoteSession::lineTooLong() {
    pushError(scpi::kSyntaxError, "a line longer than " + std::to_string(platform::kMaxRemoteLine) +
                                      " characters was dropped");
}

std::string RemoteSession::execute(std::string_view line) {
    std::vector<Command> commands;
    std::string why;
    if (const int e = scpi::parseLine(line, commands, why)) {
        pushError(e, why);
        return "";
    }
    if (commands.empty()) return "";
    Guard guard;
    std::string replies;
    bool asked = false;
    std::string path; // the header path a relative header continues from
    for (const Command& c : commands) {
        // A header after ';' without a leading ':' continues the previous one's path; a full
        // header is accepted too.
        const Entry* entry = nullptr;
        if (!c.absolute && !path.empty()) entry = find(path + c.header);
        if (!entry) entry = find(c.header);
        if (!entry) {
            pushError(scpi::kUndefinedHeader, c.header);
            break; // a command error ends the line
        }
        const std::string full = c.absolute || path.empty() ? c.header : path + c.header;
        const std::size_t colon = full.rfind(':');
        path = colon == std::string::npos || full.front() == '*' ? "" : full.substr(0, colon + 1);
        std::string reply;
        if (const int e = entry->run(*this, c, reply)) {
            pushError(e, c.header);
            // A command error ends the line; after an execution error the rest still runs, so
            // a client's "...;*OPC?" is always answered.
            if (e <= scpi::kCommandError && e > scpi::kExecutionError) break;
            continue;
        }
        if (c.query) {
            if (asked) replies += ';';
            replies += reply;
            asked = true;
        }
    }
    return asked ? replies + '\n' : "";
}

bool dataFilePath(const std::string& folder, const std::string& name, std::string& path) {
    if (name.empty() || name.size() > 200) return false;
    const fs::path p(name);
    if (p.is_absolute() || p.has_root_name() || p.has_root_directory()) return false;
    for (const auto& part : p)
        if (part == ".." || part == ".") return false;
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) return false;
    const fs::path target = fs::weakly_canonical(base / p, ec);
    if (ec) return false;
    // A link in the way may lead out of the folder: what counts is where the name resolves.
    const auto rel = target.lexically_relative(base);
    if (rel.empty() || *rel.begin() == "..") return false;
    path = target.string();
    return true;
}

void RemoteControl::connected(const std::string& peer) {
    session_.emplace(context_);
    peer_ = peer;
    panel().setText(PANEL_REMOTE, "REMOTE: " + peer);
    writeMessage(0, "Remote client " + peer + " connected.", 0);
}

std::string RemoteControl::line(std::string_view text) {
    if (!session_) return "";
    std::string reply = session_->execute(text);
    exit_ = exit_ || session_->exitRequested();
    return reply;
}

void RemoteControl::lineTooLong() {
    if (session_) session_->lineTooLong();
}

void RemoteControl::disconnected(const std::string& why) {
    if (!session_) return;
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
