// Recipe reading: nlohmann-json for the syntax, then every field checked by name, so a typo
// is reported rather than silently measured with a default.
#include "app/recipe.h"

#include "simulator/sim_models.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Thrown with the field's full name; caught once in parseRecipe.
struct FieldError {
    std::string field, message;
};

[[noreturn]] void fail(const std::string& field, const std::string& message) {
    throw FieldError{field, message};
}

std::string describe(const json& v) {
    std::string s = v.dump();
    return s.size() > 40 ? s.substr(0, 37) + "..." : s;
}

void onlyKnown(const json& object, const std::string& where,
               std::initializer_list<const char*> known) {
    if (!object.is_object()) fail(where, "must be an object { ... }");
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool found = false;
        for (const char* k : known) found = found || it.key() == k;
        if (found) continue;
        std::string list;
        for (const char* k : known) list += std::string(list.empty() ? "" : ", ") + k;
        fail(where.empty() ? it.key() : where + "." + it.key(),
             "unknown field (known here: " + list + ")");
    }
}

const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

double number(const json& v, const std::string& field, double lo, double hi) {
    if (!v.is_number()) fail(field, "must be a number, got " + describe(v));
    const double d = v.get<double>();
    if (!std::isfinite(d) || d < lo || d > hi) {
        std::ostringstream range;
        range.imbue(std::locale::classic());
        range << "must lie from " << lo << " to " << hi << ", got " << describe(v);
        fail(field, range.str());
    }
    return d;
}

int whole(const json& v, const std::string& field, int lo, int hi) {
    if (!v.is_number_integer())
        fail(field, "must be a whole number from " + std::to_string(lo) + " to " +
                        std::to_string(hi) + ", got " + describe(v));
    const auto i = v.get<long long>();
    if (i < lo || i > hi)
        fail(field, "must be a whole number from " + std::to_string(lo) + " to " +
                        std::to_string(hi) + ", got " + describe(v));
    return static_cast<int>(i);
}

bool boolean(const json& v, const std::string& field) {
    if (!v.is_boolean()) fail(field, "must be true or false, got " + describe(v));
    return v.get<bool>();
}

std::string text(const json& v, const std::string& field) {
    if (!v.is_string() || v.get<std::string>().empty())
        fail(field, "must be a non-empty text, got " + describe(v));
    return v.get<std::string>();
}

template <std::size_t N>
int oneOf(const json& v, const std::string& field, const char* const (&names)[N]) {
    std::string list;
    for (std::size_t i = 0; i < N; ++i) {
        if (v.is_string() && v.get<std::string>() == names[i]) return static_cast<int>(i);
        list += std::string(i ? ", " : "") + names[i];
    }
    fail(field, "must be one of " + list + ", got " + describe(v));
}

void readInstrument(const json& j, Recipe& r) {
    onlyKnown(j, "instrument",
              {"simulate", "model", "dut", "connect", "noise", "seed", "touchstone"});
    if (auto v = member(j, "touchstone")) {
        r.touchstoneFile = text(*v, "instrument.touchstone");
        if (member(j, "simulate") || member(j, "dut") || member(j, "connect"))
            fail("instrument.touchstone",
                 "takes the place of the instrument: no simulate, dut or connect beside it");
        if (auto m = member(j, "model");
            m && simulator::findModel(text(*m, "instrument.model")) < 0)
            fail("instrument.model", "no model " + m->dump() + " to take the rise time from");
    }
    if (auto v = member(j, "simulate")) r.simulate = boolean(*v, "instrument.simulate");
    if (auto v = member(j, "model")) r.model = text(*v, "instrument.model");
    if (auto v = member(j, "dut")) r.dut = text(*v, "instrument.dut");
    if (auto v = member(j, "noise")) r.noise = boolean(*v, "instrument.noise");
    if (auto v = member(j, "seed")) {
        if (v->is_string() && v->get<std::string>() == "random")
            r.randomSeed = true;
        else if (v->is_number_unsigned())
            r.seed = v->get<std::uint64_t>();
        else
            fail("instrument.seed",
                 "must be a whole number from 0 or \"random\", got " + describe(*v));
    }
    if (auto v = member(j, "connect")) {
        if (!v->is_array()) fail("instrument.connect", "must be a list like [\"2=OPEN\"]");
        for (std::size_t i = 0; i < v->size(); ++i) {
            const std::string field = "instrument.connect[" + std::to_string(i) + "]";
            std::string c = text((*v)[i], field);
            if (c.find('=') == std::string::npos) fail(field, "must be CH=WHAT, got " + c);
            r.connect.push_back(c);
        }
    }
}

// What a measurement on a Touchstone file can be: the time-domain view of one of its terms.
void checkForFile(const Recipe& r) {
    if (r.frequencyDomain)
        fail("measurement.domain", "a Touchstone file is measured in the time domain (its "
                                   "S-parameters are what the frequency domain would show)");
    if (r.mode != Mode::TDR && r.mode != Mode::TDT)
        fail("measurement.mode", "TDR (from S11) or TDT (from S21) for a Touchstone file");
    if (r.mode == Mode::TDT && (r.yUnits == YUnit::Ohms || r.yUnits == YUnit::Rho))
        fail("measurement.y_units", "TDT shows mV or Norm");
    if (r.differential) fail("measurement.differential", "a Touchstone file is single-ended");
    if (r.zeroAtOpen)
        fail("measurement.zero", "\"open\" needs an instrument: the file's reference plane is 0");
}

void readMeasurement(const json& j, Recipe& r) {
    onlyKnown(j, "measurement",
              {"domain", "mode", "stimulus", "sampler", "differential", "x_units", "y_units",
               "window", "dielectric", "averaging", "filter", "filter_width", "zero",
               "calibration"});
    constexpr const char* kDomains[] = {"time", "frequency"};
    if (auto v = member(j, "domain")) r.frequencyDomain = oneOf(*v, "measurement.domain", kDomains);
    r.xUnits = r.frequencyDomain ? XUnit::GHz : XUnit::Metres;
    r.yUnits = r.frequencyDomain ? YUnit::Decibels : YUnit::Ohms;
    if (auto v = member(j, "mode"))
        r.mode = modeFromCode(r.frequencyDomain ? oneOf(*v, "measurement.mode", kRecipeFreqModes)
                                                : oneOf(*v, "measurement.mode", kRecipeTimeModes));
    if (auto v = member(j, "stimulus")) r.stimulus = text(*v, "measurement.stimulus");
    if (auto v = member(j, "sampler")) r.sampler = text(*v, "measurement.sampler");
    if (auto v = member(j, "differential"))
        r.differential = boolean(*v, "measurement.differential");
    if (auto v = member(j, "x_units")) {
        r.xUnits = xUnitFromCode(oneOf(*v, "measurement.x_units", kRecipeXUnits));
        if ((domainOf(r.xUnits) == Domain::Frequency) != r.frequencyDomain)
            fail("measurement.x_units", r.frequencyDomain ? "must be GHz in the frequency domain"
                                                          : "GHz needs \"domain\": \"frequency\"");
    }
    if (auto v = member(j, "y_units")) {
        r.yUnits = yUnitFromCode(oneOf(*v, "measurement.y_units", kRecipeYUnits));
        if ((r.yUnits == YUnit::Decibels) != r.frequencyDomain)
            fail("measurement.y_units", r.frequencyDomain ? "must be dB in the frequency domain"
                                                          : "dB needs \"domain\": \"frequency\"");
    }
    if (auto v = member(j, "window")) {
        if (!v->is_array() || v->size() != 2)
            fail("measurement.window", "must be [start, end], got " + describe(*v));
        r.windowStart = number((*v)[0], "measurement.window[0]", -1e6, 1e6);
        r.windowEnd = number((*v)[1], "measurement.window[1]", -1e6, 1e6);
        if (!(*r.windowEnd > *r.windowStart))
            fail("measurement.window", "the end must lie after the start");
    }
    if (auto v = member(j, "dielectric"))
        r.dielectric = number(*v, "measurement.dielectric", 1.0, 100.0);
    if (auto v = member(j, "averaging")) r.averaging = whole(*v, "measurement.averaging", 1, 1000);
    if (auto v = member(j, "filter")) r.filter = boolean(*v, "measurement.filter");
    if (auto v = member(j, "filter_width"))
        r.filterWidth = whole(*v, "measurement.filter_width", 1, 100000);
    if (auto v = member(j, "zero")) {
        if (v->is_string() && v->get<std::string>() == "open")
            r.zeroAtOpen = true;
        else if (v->is_number())
            r.zero = number(*v, "measurement.zero", 0.0, 1e6);
        else
            fail("measurement.zero",
                 "must be \"open\" or a number in the x unit, got " + describe(*v));
    }
    if (auto v = member(j, "calibration")) r.calibration = text(*v, "measurement.calibration");
    if (r.frequencyDomain && r.calibration.empty())
        fail("measurement.calibration",
             "the frequency domain needs a .s11 or .s21 file, or \"new\" on the simulator");
    if (r.frequencyDomain && (r.zero || r.zeroAtOpen))
        fail("measurement.zero", "the frequency domain has no zero reference");
    if (r.frequencyDomain && r.differential)
        fail("measurement.differential", "the frequency domain measures single lines");
    if (!r.frequencyDomain && !r.calibration.empty())
        fail("measurement.calibration", "a SOLT calibration file is for the frequency domain");
}

void readZones(const json& j, Recipe& r) {
    if (!j.is_array()) fail("zones", "must be a list of zones");
    for (std::size_t i = 0; i < j.size(); ++i) {
        const std::string at = "zones[" + std::to_string(i) + "]";
        const json& z = j[i];
        onlyKnown(z, at, {"name", "from", "to", "nominal", "tolerance"});
        RecipeZone zone;
        zone.name =
            member(z, "name") ? text(z["name"], at + ".name") : "zone " + std::to_string(i + 1);
        for (const char* key : {"from", "to", "nominal", "tolerance"})
            if (!member(z, key)) fail(at + "." + key, "is missing");
        zone.from = number(z["from"], at + ".from", -1e6, 1e6);
        zone.to = number(z["to"], at + ".to", -1e6, 1e6);
        if (!(zone.to > zone.from)) fail(at + ".to", "must lie after \"from\"");
        zone.nominal = number(z["nominal"], at + ".nominal", 1e-3, 1000.0);
        zone.tolerance = number(z["tolerance"], at + ".tolerance", 1e-3, 99.0);
        r.zones.push_back(zone);
    }
    if (!r.zones.empty() && r.yUnits != YUnit::Ohms)
        fail("zones", "judge impedance: they need \"y_units\": \"Ohm\"");
}

void readEye(const json& j, Recipe& r) {
    onlyKnown(j, "eye", {"bitrate_gbps", "pattern", "coding", "rj_ps", "noise_mv", "mask"});
    platform::EyeRequest e;
    if (auto v = member(j, "bitrate_gbps"))
        e.bitrateGbps = number(*v, "eye.bitrate_gbps", 0.01, 200);
    if (auto v = member(j, "pattern")) {
        e.pattern = text(*v, "eye.pattern");
        const bool prbs = e.pattern == "PRBS7" || e.pattern == "PRBS9" || e.pattern == "PRBS11" ||
                          e.pattern == "PRBS15" || e.pattern == "PRBS23" || e.pattern == "PRBS31";
        if (!prbs && (e.pattern.size() < 2 || e.pattern.size() > 100000 ||
                      e.pattern.find_first_not_of("01") != std::string::npos))
            fail("eye.pattern", "is PRBS7, PRBS9, PRBS11, PRBS15, PRBS23, PRBS31 or a string of 0 "
                                "and 1 (2 to 100000 bits)");
    }
    if (auto v = member(j, "coding")) {
        const std::string c = text(*v, "eye.coding");
        if (c != "NRZ" && c != "PAM4") fail("eye.coding", "is \"NRZ\" or \"PAM4\"");
        e.pam4 = c == "PAM4";
    }
    if (auto v = member(j, "rj_ps")) e.rjPs = number(*v, "eye.rj_ps", 0, 1000);
    if (auto v = member(j, "noise_mv")) e.noise = number(*v, "eye.noise_mv", 0, 1000);
    if (auto m = member(j, "mask")) {
        onlyKnown(*m, "eye.mask", {"width_ui", "height_mv", "shape"});
        if (!member(*m, "width_ui") || !member(*m, "height_mv"))
            fail("eye.mask", "needs width_ui and height_mv");
        e.maskWidthUi = number((*m)["width_ui"], "eye.mask.width_ui", 0.01, 1);
        e.maskHeight = number((*m)["height_mv"], "eye.mask.height_mv", 0.01, 2000);
        if (auto v = member(*m, "shape")) {
            const std::string shape = text(*v, "eye.mask.shape");
            if (shape != "rectangle" && shape != "hexagon")
                fail("eye.mask.shape", "is \"rectangle\" or \"hexagon\"");
            e.hexagon = shape == "hexagon";
        }
    }
    if (r.frequencyDomain || r.mode != Mode::TDT || r.yUnits != YUnit::Millivolts)
        fail("eye", "needs a transmission trace: \"mode\": \"TDT\" in \"y_units\": \"mV\"");
    r.eye = e;
}

void readOutputs(const json& j, Recipe& r) {
    onlyKnown(j, "outputs",
              {"folder", "csv", "png", "touchstone", "report", "pdf", "paper", "lot_cpk"});
    if (auto v = member(j, "folder")) r.outFolder = text(*v, "outputs.folder");
    if (auto v = member(j, "csv")) r.csv = boolean(*v, "outputs.csv");
    if (auto v = member(j, "png")) r.png = boolean(*v, "outputs.png");
    if (auto v = member(j, "touchstone")) r.touchstone = boolean(*v, "outputs.touchstone");
    if (auto v = member(j, "report")) r.report = boolean(*v, "outputs.report");
    if (auto v = member(j, "pdf")) r.pdf = boolean(*v, "outputs.pdf");
    if (auto v = member(j, "lot_cpk")) r.lotCpk = boolean(*v, "outputs.lot_cpk");
    if (auto v = member(j, "paper")) {
        r.paper = text(*v, "outputs.paper");
        if (r.paper != "A4" && r.paper != "Letter")
            fail("outputs.paper", "is \"A4\" or \"Letter\"");
    }
    if (r.touchstone && !r.frequencyDomain)
        fail("outputs.touchstone", "S-parameters need \"domain\": \"frequency\"");
}

} // namespace

// The same from text (path only names it in messages and anchors relative file names).
static bool parseRecipe(const std::string& textIn, const std::string& path, Recipe& out,
                        std::string& error) {
    Recipe r;
    r.path = path;
    r.folder = fs::path(path).parent_path().string();
    r.name = fs::path(path).stem().string();
    json j;
    try {
        j = json::parse(textIn);
    } catch (const json::parse_error& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: ..." without the tag.
        std::string what = e.what();
        if (auto at = what.find("] "); at != std::string::npos) what = what.substr(at + 2);
        error = "not valid JSON: " + what;
        return false;
    }
    try {
        onlyKnown(j, "",
                  {"name", "instrument", "measurement", "zones", "outputs", "serial", "lot",
                   "operator", "eye"});
        if (auto v = member(j, "name")) r.name = text(*v, "name");
        if (auto v = member(j, "serial")) r.serial = text(*v, "serial");
        if (auto v = member(j, "lot")) r.lot = text(*v, "lot");
        if (auto v = member(j, "operator")) r.operatorName = text(*v, "operator");
        if (r.name.find_first_of("/\\") != std::string::npos || r.name == "." || r.name == "..")
            fail("name", "names a folder: no slashes");
        if (auto v = member(j, "instrument")) readInstrument(*v, r);
        if (!member(j, "measurement")) fail("measurement", "is missing");
        readMeasurement(j["measurement"], r);
        if (!r.touchstoneFile.empty()) checkForFile(r);
        if (auto v = member(j, "zones")) readZones(*v, r);
        if (auto v = member(j, "eye")) readEye(*v, r);
        if (auto v = member(j, "outputs")) readOutputs(*v, r);
    } catch (const FieldError& e) {
        error = e.field + ": " + e.message;
        return false;
    }
    out = std::move(r);
    return true;
}

bool loadRecipe(const std::string& path, Recipe& recipe, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the recipe file";
        return false;
    }
    std::string textIn((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read the recipe file";
        return false;
    }
    return parseRecipe(textIn, path, recipe, error);
}

std::string recipeFile(const Recipe& recipe, const std::string& name) {
    if (name.empty() || fs::path(name).is_absolute()) return name;
    return (fs::path(recipe.folder) / name).lexically_normal().string();
}
