// Each record's zone mean is one measurement of the process; subgroups are consecutive records
// in time, as the line made them, which is what an X-bar chart of a production line assumes.
#include "app/spc.h"

#include "app/options.h"
#include "app/results.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

namespace fs = std::filesystem;

namespace spc {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string fixed(double v, int digits) {
    if (std::isinf(v)) return "inf";
    if (!std::isfinite(v)) return "-";
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", digits, v);
    return buf;
}

// The Western Electric rules on the X chart, zones a sigma of the means wide; rule 1 also on
// the range chart, whose points above its upper limit say the spread itself changed.
void findViolations(ZoneStats& z) {
    const double sigma = (z.x.upper - z.x.centre) / 3;
    const std::size_t n = z.xbar.size();
    auto add = [&z](int rule, char chart, std::size_t i) {
        z.violations.push_back({rule, chart, i + 1, z.serials[i]});
    };
    // Of the last `span` points up to i, how many lie beyond k sigma on i's side.
    auto beyond = [&](std::size_t i, std::size_t span, double k, int side) {
        int count = 0;
        for (std::size_t j = i + 1 - span; j <= i; ++j)
            count += side * (z.xbar[j] - z.x.centre) > k * sigma;
        return count;
    };
    // Equal values (a simulator without noise, a resolution step) have no spread to judge by:
    // their means differ from the centre by rounding alone.
    const double rounding = 1e-9 * std::max(1.0, std::abs(z.x.centre));
    if (!(sigma > rounding)) return;
    for (std::size_t i = 0; i < n; ++i) {
        const double d = z.xbar[i] - z.x.centre;
        const int side = d > rounding ? 1 : d < -rounding ? -1 : 0;
        if (z.xbar[i] > z.x.upper || z.xbar[i] < z.x.lower) add(1, 'X', i);
        if (side == 0) continue;
        if (i >= 2 && side * d > 2 * sigma && beyond(i, 3, 2, side) >= 2) add(2, 'X', i);
        if (i >= 4 && side * d > sigma && beyond(i, 5, 1, side) >= 4) add(3, 'X', i);
        if (i >= 7 && beyond(i, 8, rounding / sigma, side) == 8) add(4, 'X', i);
    }
    for (std::size_t i = 0; i < z.range.size(); ++i)
        if (std::isfinite(z.range[i]) &&
            (z.range[i] > z.r.upper || (z.r.lower > 0 && z.range[i] < z.r.lower)))
            add(1, 'R', i);
}

const char* kRuleText[] = {"", "beyond 3 sigma", "2 of 3 beyond 2 sigma on one side",
                           "4 of 5 beyond 1 sigma on one side", "8 in a row on one side"};

nlohmann::ordered_json number(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json chartJson(const Limits& l, const std::vector<double>& points) {
    nlohmann::ordered_json p = nlohmann::ordered_json::array();
    for (double v : points) p.push_back(number(v));
    return {{"centre", l.centre}, {"lower", l.lower}, {"upper", l.upper}, {"points", p}};
}

nlohmann::ordered_json toJson(const ZoneStats& z) {
    nlohmann::ordered_json j = {{"zone", z.zone},
                                {"nominal", z.nominal},
                                {"tolerance_percent", z.tolerance},
                                {"lsl", z.lsl},
                                {"usl", z.usl},
                                {"records", z.count},
                                {"records_used", z.used},
                                {"subgroup_size", z.subgroupSize}};
    if (!z.ok()) {
        j["error"] = z.error;
        return j;
    }
    const Constants& c = constantsFor(z.subgroupSize);
    j["subgroups"] = z.xbar.size();
    j["mean"] = z.mean;
    j["sigma_within"] = z.sigmaWithin;
    j["sigma_overall"] = z.sigmaOverall;
    j["cp"] = number(z.cp);
    j["cpk"] = number(z.cpk);
    j["pp"] = number(z.pp);
    j["ppk"] = number(z.ppk);
    j["constants"] = {{"A2", c.a2}, {"D3", c.d3}, {"D4", c.d4}, {"d2", c.d2}};
    j[z.subgroupSize == 1 ? "individuals" : "xbar"] = chartJson(z.x, z.xbar);
    j[z.subgroupSize == 1 ? "moving_range" : "range"] = chartJson(z.r, z.range);
    nlohmann::ordered_json v = nlohmann::ordered_json::array();
    for (const Violation& w : z.violations)
        v.push_back({{"rule", w.rule},
                     {"chart", w.chart == 'X' ? (z.subgroupSize == 1 ? "individuals" : "xbar")
                                              : (z.subgroupSize == 1 ? "moving_range" : "range")},
                     {"subgroup", w.subgroup},
                     {"what", kRuleText[w.rule]},
                     {"serials", w.serials}});
    j["violations"] = v;
    return j;
}

std::string padded(std::string s, std::size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    return s + " ";
}

// A zone's name as a file name: letters, digits, '-' and '_' kept.
std::string fileStem(const std::string& zone) {
    std::string out;
    for (char ch : zone)
        out += std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_' ? ch : '_';
    return out.empty() ? "zone" : out;
}

} // namespace

void limitsOf(double grandMean, double meanRange, int n, Limits& x, Limits& r) {
    const Constants& c = constantsFor(n);
    x = {grandMean, grandMean - c.a2 * meanRange, grandMean + c.a2 * meanRange};
    r = {meanRange, c.d3 * meanRange, c.d4 * meanRange};
}

void capabilityOf(double mean, double sigma, double lsl, double usl, double& cp, double& cpk) {
    if (!(usl > lsl)) {
        cp = cpk = NAN;
        return;
    }
    if (sigma <= 0) {
        cp = kInf;
        cpk = mean >= lsl && mean <= usl ? kInf : -kInf;
        return;
    }
    cp = (usl - lsl) / (6 * sigma);
    cpk = std::min(usl - mean, mean - lsl) / (3 * sigma);
}

ZoneStats analyse(const std::string& zone, const std::vector<Sample>& samples, double nominal,
                  double tolerance, int n) {
    ZoneStats z;
    z.zone = zone;
    z.nominal = nominal;
    z.tolerance = tolerance;
    z.lsl = nominal * (1 - tolerance / 100);
    z.usl = nominal * (1 + tolerance / 100);
    z.subgroupSize = n;
    z.count = samples.size();
    if (n < 1 || n > static_cast<int>(kConstants.size())) {
        z.error = "the subgroup size is 1 to 10";
        return z;
    }
    const auto size = static_cast<std::size_t>(n);
    const std::size_t groups = samples.size() / size;
    if (groups < 2) {
        z.error = "needs at least " + std::to_string(2 * size) + " records (" +
                  std::to_string(samples.size()) + " so far)";
        return z;
    }
    z.used = groups * size;
    double sumRange = 0, sum = 0;
    std::size_t ranges = 0;
    for (std::size_t g = 0; g < groups; ++g) {
        double lo = kInf, hi = -kInf, s = 0;
        std::vector<std::string> serials;
        for (std::size_t k = g * size; k < (g + 1) * size; ++k) {
            lo = std::min(lo, samples[k].value);
            hi = std::max(hi, samples[k].value);
            s += samples[k].value;
            serials.push_back(samples[k].serial);
        }
        z.xbar.push_back(s / static_cast<double>(size));
        sum += s;
        // Individuals: the moving range of each value and the one before it.
        const double range =
            n == 1 ? (g ? std::abs(samples[g].value - samples[g - 1].value) : NAN) : hi - lo;
        z.range.push_back(range);
        if (std::isfinite(range)) {
            sumRange += range;
            ++ranges;
        }
        z.serials.push_back(std::move(serials));
    }
    z.mean = sum / static_cast<double>(z.used);
    const double meanRange = sumRange / static_cast<double>(ranges);
    limitsOf(z.mean, meanRange, n, z.x, z.r);
    z.sigmaWithin = meanRange / constantsFor(n).d2;
    double squares = 0;
    for (std::size_t k = 0; k < z.used; ++k)
        squares += (samples[k].value - z.mean) * (samples[k].value - z.mean);
    z.sigmaOverall = std::sqrt(squares / static_cast<double>(z.used - 1));
    capabilityOf(z.mean, z.sigmaWithin, z.lsl, z.usl, z.cp, z.cpk);
    capabilityOf(z.mean, z.sigmaOverall, z.lsl, z.usl, z.pp, z.ppk);
    findViolations(z);
    return z;
}

namespace {
struct ZoneSamples {
    std::string name;
    std::vector<Sample> samples;
    double nominal = 0, tolerance = 0;
};

bool readZones(results::Store& store, const results::Query& query, const std::string& zone,
               std::vector<ZoneSamples>& zones, std::string& error) {
    ZoneSamples* at = nullptr;
    return store.selectZoneValues(
        query, zone,
        [&](const results::ZoneValue& v) {
            if (!std::isfinite(v.mean)) return;
            if (!at || v.zone != at->name) {
                at = nullptr;
                for (ZoneSamples& z : zones)
                    if (z.name == v.zone) at = &z;
                if (!at) at = &zones.emplace_back(ZoneSamples{std::string(v.zone), {}, 0, 0});
            }
            at->samples.push_back({v.mean, std::string(v.serial)});
            at->nominal = v.nominal;
            at->tolerance = v.tolerance;
        },
        error);
}
} // namespace

bool analyseStore(results::Store& store, const results::Query& query, const std::string& zone,
                  int n, std::vector<ZoneStats>& out, std::string& error) {
    std::vector<ZoneSamples> zones;
    if (!readZones(store, query, zone, zones, error)) return false;
    out.clear();
    for (const ZoneSamples& z : zones)
        out.push_back(analyse(z.name, z.samples, z.nominal, z.tolerance, n));
    return true;
}

std::vector<ZoneStats> lotCapability(results::Store& store, const std::string& recipe,
                                     const std::string& lot,
                                     const std::vector<results::ZoneRecord>& coupon,
                                     std::string& error) {
    results::Query q;
    q.recipe = recipe;
    q.lot = lot;
    std::vector<ZoneSamples> zones;
    std::vector<ZoneStats> out;
    if (!readZones(store, q, "", zones, error)) return out;
    for (const results::ZoneRecord& c : coupon) {
        ZoneSamples* at = nullptr;
        for (ZoneSamples& z : zones)
            if (z.name == c.name) at = &z;
        if (!at) at = &zones.emplace_back(ZoneSamples{c.name, {}, 0, 0});
        if (std::isfinite(c.mean)) at->samples.push_back({c.mean, "this coupon"});
        at->nominal = c.nominal;
        at->tolerance = c.tolerance;
        out.push_back(analyse(c.name, at->samples, c.nominal, c.tolerance, 1));
    }
    return out;
}

std::string describe(const Violation& v) {
    std::string serials;
    for (const std::string& s : v.serials) serials += (serials.empty() ? "" : " ") + s;
    return "rule " + std::to_string(v.rule) + " (" + kRuleText[v.rule] + ") on the " +
           (v.chart == 'X' ? "mean" : "range") + " chart at subgroup " +
           std::to_string(v.subgroup) + (serials.empty() ? "" : ": " + serials);
}

platform::SpcChart chartOf(const ZoneStats& z, const std::string& recipe) {
    platform::SpcChart c;
    const bool individuals = z.subgroupSize == 1;
    c.title =
        recipe + ": " + z.zone +
        (individuals ? " (individuals)" : " (subgroups of " + std::to_string(z.subgroupSize) + ")");
    c.figures = "n " + std::to_string(z.used) + "   mean " + fixed(z.mean, 3) + "   Cp " +
                fixed(z.cp, 2) + "   Cpk " + fixed(z.cpk, 2) + "   Pp " + fixed(z.pp, 2) +
                "   Ppk " + fixed(z.ppk, 2) + "   spec " + fixed(z.lsl, 3) + " to " +
                fixed(z.usl, 3) + " Ohm";
    c.x = {individuals ? "value (Ohm)" : "X-bar (Ohm)",
           z.xbar,
           z.x.centre,
           z.x.lower,
           z.x.upper,
           {z.lsl, z.usl},
           {}};
    c.r = {individuals ? "moving range (Ohm)" : "R (Ohm)",
           z.range,
           z.r.centre,
           z.r.lower,
           z.r.upper,
           {},
           {}};
    for (const Violation& v : z.violations)
        (v.chart == 'X' ? c.x : c.r).flagged.push_back(static_cast<int>(v.subgroup - 1));
    return c;
}

std::uint64_t RecordedStatistics::generation() const {
    return results::recordsStored();
}

platform::SpcView RecordedStatistics::compute(const platform::SpcRequest& request) {
    platform::SpcView v;
    if (target_ == "none") {
        v.error = "No results database: this session records nothing (--results none).";
        return v;
    }
    if (!results::isServerTarget(target_) && !fs::exists(target_)) {
        v.error = "Nothing recorded yet in " + target_ + ".";
        return v;
    }
    std::string error;
    // One connection for the window's life: opening a file checks its schema under the write
    // lock, which a refresh after every record need not take again.
    if (!store_ && !(store_ = results::openStore(target_, error))) {
        v.error = error;
        return v;
    }
    results::Store* store = store_.get();
    // The recipes to choose from: the station's, then those of the newest records.
    if (!recipe_.empty()) v.recipes.push_back(recipe_);
    results::Query recent;
    recent.last = 500;
    if (!store->select(
            recent,
            [&v](const results::Record& r) {
                if (std::find(v.recipes.begin(), v.recipes.end(), r.recipe) == v.recipes.end())
                    v.recipes.push_back(r.recipe);
            },
            error)) {
        v.error = error;
        store_.reset(); // opened again next time: a server may have come back
        return v;
    }
    v.recipe = !request.recipe.empty() ? request.recipe
               : v.recipes.empty()     ? std::string()
                                       : v.recipes.front();
    if (v.recipe.empty()) {
        v.error = "Nothing recorded yet in " + store->name() + ".";
        return v;
    }
    results::Query q;
    q.recipe = v.recipe;
    q.last = request.last;
    std::vector<ZoneStats> zones;
    if (!analyseStore(*store, q, "", request.subgroup, zones, error)) {
        v.error = error;
        return v;
    }
    if (zones.empty()) {
        v.error = "No records of " + v.recipe + " yet.";
        return v;
    }
    const ZoneStats* shown = &zones.front();
    for (const ZoneStats& z : zones) {
        v.zones.push_back(z.zone);
        if (z.zone == request.zone) shown = &z;
    }
    v.zone = shown->zone;
    for (const ZoneStats& z : zones) {
        v.summary +=
            z.zone + ": " +
            (z.ok() ? std::to_string(z.used) + " records, mean " + fixed(z.mean, 3) + ", Cp " +
                          fixed(z.cp, 2) + ", Cpk " + fixed(z.cpk, 2) + ", Pp " + fixed(z.pp, 2) +
                          ", Ppk " + fixed(z.ppk, 2) + ", " + std::to_string(z.violations.size()) +
                          " violation" + (z.violations.size() == 1 ? "" : "s")
                    : z.error) +
            "\n";
        for (const Violation& w : z.violations) v.summary += "  " + describe(w) + "\n";
    }
    if (!shown->ok()) {
        v.error = shown->zone + " " + shown->error;
        return v;
    }
    v.chart = chartOf(*shown, v.recipe);
    v.ok = true;
    return v;
}

std::string stationWarning(results::Store& store, const std::string& recipe) {
    // The recipe's whole chart, cut into subgroups as `velt spc` cuts it.
    results::Query q;
    q.recipe = recipe;
    std::vector<ZoneStats> zones;
    std::string error;
    if (!analyseStore(store, q, "", 5, zones, error)) return "";
    std::string warning;
    for (const ZoneStats& z : zones)
        for (const Violation& v : z.violations)
            // Said once, by the coupon that completes the subgroup.
            if (v.subgroup == z.xbar.size() && z.used == z.count)
                warning += (warning.empty() ? "SPC: " : "; ") + z.zone + " " + describe(v);
    return warning;
}

int runSpc(const Options& o, std::FILE* out, std::FILE* err) {
    std::string error;
    if (!results::isServerTarget(o.results) && !fs::exists(o.results)) {
        std::fprintf(err, "velt: spc: no database %s (nothing recorded yet?)\n", o.results.c_str());
        return 2;
    }
    std::unique_ptr<results::Store> store = results::openStore(o.results, error);
    if (!store) {
        std::fprintf(err, "velt: spc: %s\n", error.c_str());
        return 2;
    }
    results::Query q;
    q.recipe = o.queryRecipe;
    q.lot = o.lot;
    q.station = o.queryStation;
    q.since = o.since;
    q.until = o.until;
    q.last = o.last;
    std::vector<ZoneStats> zones;
    if (!analyseStore(*store, q, o.zone, o.subgroup, zones, error)) {
        std::fprintf(err, "velt: spc: %s\n", error.c_str());
        return 2;
    }
    if (zones.empty()) {
        std::fprintf(err, "velt: spc: no records of %s%s%s\n", o.queryRecipe.c_str(),
                     o.zone.empty() ? "" : " with a zone ", o.zone.c_str());
        return 2;
    }
    const std::string dir = o.outFolder.empty() ? "spc" : o.outFolder;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::fprintf(err, "velt: spc: cannot make %s: %s\n", dir.c_str(), ec.message().c_str());
        return 2;
    }

    std::fprintf(out, "%s\n",
                 (padded("zone", 14) + padded("n", 6) + padded("mean", 9) +
                  padded("sd within", 10) + padded("sd overall", 10) + padded("Cp", 7) +
                  padded("Cpk", 7) + padded("Pp", 7) + padded("Ppk", 7) + "violations")
                     .c_str());
    bool gateFails = false;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ZoneStats& z : zones) {
        list.push_back(toJson(z));
        if (!z.ok()) {
            std::fprintf(out, "%s%s\n",
                         (padded(z.zone, 14) + padded(std::to_string(z.count), 6)).c_str(),
                         z.error.c_str());
            gateFails = true;
            continue;
        }
        std::fprintf(out, "%s%zu\n",
                     (padded(z.zone, 14) + padded(std::to_string(z.used), 6) +
                      padded(fixed(z.mean, 3), 9) + padded(fixed(z.sigmaWithin, 4), 10) +
                      padded(fixed(z.sigmaOverall, 4), 10) + padded(fixed(z.cp, 2), 7) +
                      padded(fixed(z.cpk, 2), 7) + padded(fixed(z.pp, 2), 7) +
                      padded(fixed(z.ppk, 2), 7))
                         .c_str(),
                     z.violations.size());
        for (const Violation& v : z.violations)
            std::fprintf(out, "  %s: %s\n", z.zone.c_str(), describe(v).c_str());
        gateFails = gateFails || !z.violations.empty() || !(z.cpk >= o.minCpk);
        const std::string png = (fs::path(dir) / ("spc-" + fileStem(z.zone) + ".png")).string();
        if (!platform::writeSpcChart(chartOf(z, o.queryRecipe), png, error))
            std::fprintf(err, "velt: spc: %s\n", error.c_str());
    }
    const nlohmann::ordered_json doc = {{"recipe", o.queryRecipe},
                                        {"database", results::displayTarget(o.results)},
                                        {"selection",
                                         {{"lot", o.lot},
                                          {"station", o.queryStation},
                                          {"since", o.since},
                                          {"until", o.until},
                                          {"last", o.last}}},
                                        {"zones", list}};
    const std::string json = (fs::path(dir) / "spc.json").string();
    if (std::FILE* f = std::fopen(json.c_str(), "w")) {
        std::fputs((doc.dump(2) + "\n").c_str(), f);
        std::fclose(f);
    } else {
        std::fprintf(err, "velt: spc: cannot write %s\n", json.c_str());
        return 2;
    }
    return o.minCpkGiven && gateFails ? 1 : 0;
}

} // namespace spc
