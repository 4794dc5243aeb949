// Result file and report folder of a batch run. Numbers are written with to_chars and the JSON
// library's own formatting: the C locale's decimal point whatever the user's locale says.
#include "app/report.h"

#include "app/startup.h"
#include "files/settings_file.h"
#include "files/sha256.h"
#include "instrument/driver.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "panel/settings_io.h"
#include "platform/clock.h"
#include "platform/panel_model.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;
using nlohmann::ordered_json;
using platform::panel;

namespace {

std::string fixed(double v, int decimals) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return ec == std::errc() ? std::string(buf, end) : std::string("nan");
}

std::string ringLabel(int control) {
    const auto items = panel().ringItems(control);
    const int i = panel().ringIndex(control);
    return i >= 0 && i < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(i)].label
                                                        : std::string();
}

// A JSON number, or null for a value that is not one (JSON has no NaN).
ordered_json num(double v) {
    return std::isfinite(v) ? ordered_json(v) : ordered_json(nullptr);
}

std::string stamp() {
    const platform::DateTime t = platform::currentDateTime();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string isoTime() {
    const platform::DateTime t = platform::currentDateTime();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

bool writeText(const fs::path& path, const std::string& text, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

// Counts of every sweep set, one column each, one row per sample.
std::string countsCsv(const std::vector<SweepSetRecord>& sets) {
    std::string out = "# averaged counts as read, before the offset is taken off\n";
    for (std::size_t k = 0; k < sets.size(); ++k) {
        const SweepSetRecord& s = sets[k];
        out += "# set " + std::to_string(k + 1) + ": stimulus " + std::to_string(s.stimulus) +
               ", sampler " + std::to_string(s.sampler) + ", start " + std::to_string(s.start) +
               ", increment " + std::to_string(s.increment) + ", passes " +
               std::to_string(s.passes) + ", offset " + std::to_string(s.offset) + "\n";
    }
    out += "index";
    for (std::size_t k = 0; k < sets.size(); ++k) out += ",set" + std::to_string(k + 1);
    out += "\n";
    for (std::size_t i = 0; i < std::tuple_size_v<Waveform>; ++i) {
        out += std::to_string(i);
        for (const SweepSetRecord& s : sets) out += "," + fixed(s.counts[i], 3);
        out += "\n";
    }
    return out;
}

ordered_json settingsApplied(const Recipe& r) {
    ordered_json s;
    s["domain"] = r.frequencyDomain ? "frequency" : "time";
    s["mode"] = ringLabel(PANEL_MODE);
    s["stimulus"] = ringLabel(PANEL_STIMULUS);
    s["sampler"] = ringLabel(PANEL_SAMPLER);
    s["differential"] = getDiff() == 1;
    s["x_units"] = kRecipeXUnits[index(view.xUnits.load())];
    s["y_units"] = kRecipeYUnits[index(view.yUnits.load())];
    s["window"] = {num(getXStart()), num(getXEnd())};
    s["zero"] = num(view.xZero.load());
    s["dielectric"] = num(view.dielK.load());
    s["averaging"] = getAveraging();
    s["filter"] = getFilter() == 1;
    s["filter_width"] = getFilterWidth();
    return s;
}

ordered_json calibrationUsed() {
    ordered_json c;
    const int stim = getStimulus();
    c["stimulus_delay"] =
        stim >= 0 && stim < 10 ? instrument.cal.calDelay[static_cast<std::size_t>(stim)] : 0;
    ordered_json lines = ordered_json::array();
    const int sampler = getSampler();
    const int first = sampler - sampler % 2;
    for (int s = first; s <= first + 1 && s >= 0 && s < 20; ++s) {
        const auto i = static_cast<std::size_t>(s);
        lines.push_back({{"sampler", s},
                         {"vstart", num(instrument.cal.vstart[i])},
                         {"vend", num(instrument.cal.vend[i])},
                         {"vampl", num(instrument.cal.vampl[i])}});
    }
    c["lines"] = lines;
    return c;
}

} // namespace

bool createRunFolder(const Recipe& r, std::string& folderOut, std::string& error) {
    fs::path folder;
    std::error_code ec;
    fs::create_directories(r.outFolder, ec);
    if (ec) {
        error = "cannot create " + r.outFolder + ": " + ec.message();
        return false;
    }
    const std::string base = r.name + "-" + stamp();
    for (int n = 1; n < 1000; ++n) {
        folder = fs::path(r.outFolder) / (n == 1 ? base : base + "-" + std::to_string(n));
        if (fs::create_directory(folder, ec)) {
            folderOut = folder.string();
            return true;
        }
        if (ec) {
            error = "cannot create " + folder.string() + ": " + ec.message();
            return false;
        }
    }
    error = "too many runs named " + base + " in " + r.outFolder;
    return false;
}

std::string zoneLine(const RecipeZone& zone, const ZoneStats& s, double minLength,
                     const char* xUnit) {
    char buf[320];
    if (s.verdict == ZoneVerdict::NoData) {
        std::snprintf(buf, sizeof buf, "%-12s NO DATA  no trace in %s-%s %s\n", zone.name.c_str(),
                      fixed(zone.from, 3).c_str(), fixed(zone.to, 3).c_str(), xUnit);
        return buf;
    }
    std::snprintf(buf, sizeof buf,
                  "%-12s %-8s mean %s  min %s  max %s  sd %s Ohm  [%s, %s]  %s-%s %s",
                  zone.name.c_str(), verdictText(s.verdict), fixed(s.mean, 2).c_str(),
                  fixed(s.min, 2).c_str(), fixed(s.max, 2).c_str(), fixed(s.stddev, 2).c_str(),
                  fixed(s.low, 2).c_str(), fixed(s.high, 2).c_str(), fixed(s.from, 3).c_str(),
                  fixed(s.to, 3).c_str(), xUnit);
    std::string line = buf;
    if (s.verdict == ZoneVerdict::TooShort)
        line +=
            "  (shorter than the " + fixed(minLength, 3) + " " + xUnit + " the rise time resolves)";
    return line + "\n";
}

bool writeReport(const Recipe& r, const ReportData& data, const std::string& folderName,
                 std::string& error) {
    const fs::path folder(folderName);
    if (r.report) {
        std::ifstream in(r.path, std::ios::binary);
        const std::string recipeText((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
        if (!writeText(folder / "recipe.json", recipeText, error)) return false;
        if (!writeText(folder / "counts.csv", countsCsv(data.sweepSets), error)) return false;
        if (!writeText(folder / "settings.ini", formatSettings(currentSettings()), error))
            return false;
        std::vector<std::string> kept = data.calibrationFiles;
        if (!data.touchstoneFile.empty()) kept.push_back(data.touchstoneFile);
        for (const std::string& cal : kept) {
            std::error_code ec;
            if (fs::equivalent(cal, folder / fs::path(cal).filename(), ec)) continue;
            fs::copy_file(cal, folder / fs::path(cal).filename(),
                          fs::copy_options::overwrite_existing, ec);
            if (ec) {
                error = "cannot copy " + cal + ": " + ec.message();
                return false;
            }
        }
    }

    // Everything the run wrote, in name order; result.json and the sums come last.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());

    ordered_json result;
    result["program"] = "VELT";
    result["version"] = kVersionString;
    result["recipe"] = r.path;
    result["measured"] = isoTime();
    result["instrument"] = {{"model", std::string(instrument.model)}, {"simulated", r.simulate}};
    if (!data.touchstoneFile.empty())
        result["instrument"]["touchstone"] = {{"file", data.touchstoneFile},
                                              {"sha256", sha256File(data.touchstoneFile)}};
    result["settings"] = settingsApplied(r);
    result["calibration"] = calibrationUsed();
    ordered_json cals = ordered_json::array();
    for (const std::string& cal : data.calibrationFiles)
        cals.push_back({{"file", cal}, {"sha256", sha256File(cal)}});
    result["calibration"]["solt_files"] = cals;
    ordered_json zones = ordered_json::array();
    for (const ZoneResult& z : data.zones) {
        const ZoneStats& s = z.stats;
        zones.push_back({{"name", z.zone.name},
                         {"from", z.zone.from},
                         {"to", z.zone.to},
                         {"nominal", z.zone.nominal},
                         {"tolerance", z.zone.tolerance},
                         {"low", num(s.low)},
                         {"high", num(s.high)},
                         {"points", s.points},
                         {"mean", num(s.mean)},
                         {"min", num(s.min)},
                         {"max", num(s.max)},
                         {"stddev", num(s.stddev)},
                         {"min_length", num(z.minLength)},
                         {"verdict", verdictText(s.verdict)}});
        if (z.lotRecords > 0) {
            zones.back()["lot_cpk"] = num(z.lotCpk);
            zones.back()["lot_records"] = z.lotRecords;
        }
    }
    result["zones"] = zones;
    result["verdict"] = data.status == 0 ? "PASS" : data.status == 1 ? "FAIL" : "INCOMPLETE";
    result["exit_status"] = data.status;
    result["files"] = names;
    result["problems"] = data.problems;
    if (!writeText(folder / "result.json", result.dump(2) + "\n", error)) return false;

    if (r.report) {
        // In the format sha256sum -c reads, so the folder can be checked with standard tools.
        names.push_back("result.json");
        std::string sums;
        for (const std::string& name : names)
            sums += sha256File((folder / name).string()) + "  " + name + "\n";
        if (!writeText(folder / "SHA256SUMS", sums, error)) return false;
    }
    return true;
}
