// Batch measurement: the recipe is applied through the same settings operations a user's
// clicks reach, inside the normal start-up's event loop, with the timer held off so nothing
// else talks to the instrument meanwhile.
#include "app/batch.h"

#include "acquisition/acquire.h"
#include "app/backend.h"
#include "app/recipe.h"
#include "app/report.h"
#include "app/results.h"
#include "app/spc.h"
#include "app/startup.h"
#include "app/station.h"
#include "files/sha256.h"
#include "files/solt_file.h"
#include "files/touchstone.h"
#include "freqdomain/eye.h"
#include "freqdomain/solt.h"
#include "freqdomain/store.h"
#include "instrument/driver.h"
#include "panel/cycle.h"
#include "panel/domain.h"
#include "panel/export.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/ports.h"
#include "panel/reference_traces.h"
#include "panel/settings.h"
#include "panel/solt_io.h"
#include "panel/timebase.h"
#include "panel/timer.h"
#include "panel/units.h"
#include "panel/zero.h"
#include "panel/zone_stats.h"
#include "platform/async_timer.h"
#include "platform/certificate.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "platform/eye_picture.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "simulator/sim_models.h"
#include "simulator/sim_operator.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::panel;

namespace {

// A recipe or instrument problem found while measuring: the field it concerns and why.
struct BatchError {
    std::string field, message;
    std::string text() const { return field.empty() ? message : field + ": " + message; }
};

// The sweep sets of the measured trace, kept by the driver's tap. Only the GUI thread
// acquires while the batch holds the timer off, but the tap is a plain function pointer.
std::mutex gSetsMutex;
std::vector<SweepSetRecord>* gSets = nullptr;

void keepSweepSet(const SweepSet& s) {
    std::lock_guard lock(gSetsMutex);
    if (!gSets || !s.counts) return;
    gSets->push_back(
        SweepSetRecord{s.stimulus, s.sampler, s.start, s.increment, s.passes, s.offset, *s.counts});
}

int ringValueOf(int control, const std::string& label, bool& found) {
    for (const auto& item : panel().ringItems(control))
        if (item.label == label) {
            found = true;
            return item.value;
        }
    found = false;
    return 0;
}

std::string ringChoices(int control) {
    std::string list;
    for (const auto& item : panel().ringItems(control))
        list += (list.empty() ? "\"" : ", \"") + item.label + "\"";
    return list;
}

constexpr const char* kNoOpen = "Could not find instrument open";

bool near(double a, double b) {
    return std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
}

class BatchRun {
  public:
    BatchRun(const Recipe& recipe, const BatchSetup& setup, simulator::SimulatedInstrument* sim,
             platform::ScriptedResponder& responder, const Network* network = nullptr)
        : recipe_(recipe), setup_(setup), sim_(sim), responder_(responder), network_(network) {}

    // Where the lot's earlier records are read for outputs.lot_cpk ("" or "none": nowhere).
    void setLotTarget(const std::string& target) { lotTarget_ = target == "none" ? "" : target; }

    // Runs on the GUI thread inside the event loop; ends the loop with the exit status.
    void operator()() {
        ran_ = true;
        suspendAndWait();
        run([this] { network_ ? measureFile() : measure(); });
        // Held off and let go in pairs: a hold left behind would make the next run's hold a
        // no-op, and its tick would sweep in the middle of that run's calibration.
        resumeTimer();
        platform::QuitUserInterface(status_);
    }

    bool ran() const { return ran_; }
    bool judged() const { return judged_; }
    int status() const { return status_; }
    const std::string& error() const { return error_; }
    const ReportData& report() const { return report_; }
    const std::string& folder() const { return folder_; }
    // Filled in by the caller before the run (who, what), completed by the run.
    results::Record& record() { return record_; }

    // Station mode: the recipe applied once, then one test per serial, the timer held off only
    // while it runs. Errors come back as text; the window stays up.
    bool prepare(std::string& error) {
        suspendAndWait();
        try {
            measureSetUp();
        } catch (const BatchError& e) {
            error = e.text();
        }
        resumeTimer();
        return error.empty();
    }
    void testOnce() {
        report_ = ReportData{};
        eye_.reset();
        folder_.clear();
        error_.clear();
        judged_ = false;
        record_.time.clear();
        suspendAndWait();
        run([this] { acquireTrace(); });
        resumeTimer();
    }

  private:
    // The trace made, judged, written and recorded, with the timer held off: the one sequence
    // of a batch run and of a station's test. Leaves the exit status in status_.
    template <typename Trace> void run(Trace makeTrace) {
        int status = kBatchError;
        try {
            makeTrace();
            status = judge();
            judged_ = true;
            writeOutputs(status);
        } catch (const BatchError& e) {
            error_ = e.text();
        }
        {
            std::lock_guard lock(gSetsMutex);
            gSets = nullptr;
        }
        instrument.sweepSetTap.store(nullptr);
        if (judged_) {
            if (!error_.empty()) report_.status = kBatchError;
            completeRecord();
        }
        status_ = error_.empty() ? status : kBatchError;
    }

    void measure() {
        measureSetUp();
        acquireTrace();
    }

    void measureSetUp() {
        if (instrument.link.lost.load() || instrument.isInit.load() != 1)
            throw BatchError{"instrument", "start-up did not complete"};
        if (!recipe_.model.empty() && recipe_.model != instrument.model)
            throw BatchError{"instrument.model",
                             "the recipe expects " + recipe_.model + ", the instrument is " +
                                 (instrument.model[0] ? std::string(instrument.model) : "unknown")};
        applySettings();
        if (calibrate(-1, -1, 0) != 1)
            throw BatchError{"instrument", "calibration of the selected channels failed"};
        if (recipe_.frequencyDomain) enterFrequencyDomain();
        applyZero();
        applyWindow();
    }

    void acquireTrace() {
        std::vector<SweepSetRecord> sets;
        {
            std::lock_guard lock(gSetsMutex);
            gSets = &sets;
        }
        // The picture shows the first zone between the cursors, judged as the recipe judges it.
        if (!recipe_.zones.empty()) {
            const RecipeZone& z = recipe_.zones.front();
            panel().setCursor(1, z.from, 0);
            panel().setCursor(2, z.to, 0);
            panelState.zoneNominal.store(z.nominal);
            panelState.zoneTolerance.store(z.tolerance);
        }
        instrument.sweepSetTap.store(keepSweepSet);
        acquire(1);
        instrument.sweepSetTap.store(nullptr);
        {
            std::lock_guard lock(gSetsMutex);
            gSets = nullptr;
        }
        if (instrument.link.lost.load())
            throw BatchError{"instrument", "the link was lost while measuring"};
        report_.sweepSets = std::move(sets);
        if (platform::SerialDevice* device = platform::serialDevice())
            instrumentSerial_ = device->serialNumber();
    }

    // A Touchstone file in place of the instrument: the recipe's settings go into the panel as
    // they would for a live trace, and the file's profile becomes the trace that is judged,
    // exported and pictured.
    void measureFile() {
        const Recipe& r = recipe_;
        platform::panel().setValue(PANEL_MODE, code(r.mode));
        if (r.dielectric) setDiel(*r.dielectric);
        setXUnits(r.xUnits);
        setYUnits(r.yUnits);
        setAveraging(r.averaging);
        setAutoscale(1);
        applyFilterSetting();
        if (r.zero) setZero(*r.zero);
        applyWindow();
        writeMessage(0,
                     networkSummary(fs::path(r.touchstoneFile).filename().string(), *network_,
                                    view.dielK.load()),
                     0);
        const Setup shown = readSetup();
        std::string error;
        if (!networkProfile(*network_, step_, shown, instrument.recordX, liveTrace.y, error))
            throw BatchError{"measurement.window", error};
        if (!recipe_.zones.empty()) {
            panel().setCursor(1, recipe_.zones.front().from, 0);
            panel().setCursor(2, recipe_.zones.front().to, 0);
            panelState.zoneNominal.store(recipe_.zones.front().nominal);
            panelState.zoneTolerance.store(recipe_.zones.front().tolerance);
        }
        plotTrace(shown);
        report_.touchstoneFile = recipeFile(r, r.touchstoneFile);
    }

    void applySettings() {
        const Recipe& r = recipe_;
        if (r.dielectric) {
            setDiel(*r.dielectric);
            if (!near(getDiel(), *r.dielectric))
                throw BatchError{"measurement.dielectric", "the panel does not take this value"};
        }
        // The frequency domain sets its own units on entering it.
        if (!r.frequencyDomain) {
            setXUnits(r.xUnits);
            setYUnits(r.yUnits);
        }
        bool found = true;
        int stimulus = getStimulus();
        if (!r.stimulus.empty()) {
            stimulus = ringValueOf(PANEL_STIMULUS, r.stimulus, found);
            if (!found)
                throw BatchError{"measurement.stimulus", "no \"" + r.stimulus +
                                                             "\" on this instrument (one of " +
                                                             ringChoices(PANEL_STIMULUS) + ")"};
        }
        setStimulus(r.mode, stimulus);
        if (getMode() != r.mode)
            throw BatchError{"measurement.mode", "the instrument does not offer this mode"};
        if (!r.sampler.empty()) {
            const int sampler = ringValueOf(PANEL_SAMPLER, r.sampler, found);
            if (!found)
                throw BatchError{"measurement.sampler",
                                 "\"" + r.sampler +
                                     "\" is not offered for this stimulus and mode (one of " +
                                     ringChoices(PANEL_SAMPLER) + ")"};
            setSampler(sampler);
        }
        setAveraging(r.averaging);
        if (getAveraging() != r.averaging)
            throw BatchError{"measurement.averaging", "the panel does not take this value"};
        // A fixed vertical range would clip a reading the verdict needs.
        setAutoscale(1);
        if (r.frequencyDomain) return;
        // The mode decides which units and line types exist; what it refused is named.
        setYUnits(r.yUnits);
        setDiff(r.differential ? 1 : 0);
        if (getDiff() != (r.differential ? 1 : 0))
            throw BatchError{"measurement.differential", "needs TDR in Ohm"};
        if (view.yUnits.load() != r.yUnits)
            throw BatchError{"measurement.y_units", std::string(kRecipeYUnits[index(r.yUnits)]) +
                                                        " is not available in this mode"};
        applyFilterSetting();
    }

    void applyFilterSetting() {
        const Recipe& r = recipe_;
        if (r.filterWidth) {
            panel().setValue(PANEL_FILTERWIDTH, *r.filterWidth);
            setFilterWidth(-1);
            if (getFilterWidth() != *r.filterWidth)
                throw BatchError{"measurement.filter_width", "the panel does not take this value"};
        }
        setFilter(r.filter ? 1 : 0);
    }

    // The SOLT calibration the recipe names, then the frequency domain as the menu enters it.
    void enterFrequencyDomain() {
        const Recipe& r = recipe_;
        const int type = code(r.mode); // 0 S11, 1 S21
        if (r.calibration == "new") {
            if (!sim_)
                throw BatchError{"measurement.calibration",
                                 "\"new\" is for the simulated instrument; calibrate on screen, "
                                 "save the file and name it here"};
            // The simulated operator connects each standard it is asked for.
            simulator::SoltOperator user(sim_, &responder_);
            user.offerAnswer = 2;
            platform::setPopupHandler(&user);
            setDomain(Domain::Frequency);
            platform::setPopupHandler(&responder_);
            newCalibration_ = true;
        } else {
            const std::string path = recipeFile(r, r.calibration);
            std::ifstream in(path, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
            if (!in && !in.eof())
                throw BatchError{"measurement.calibration", "cannot read " + path};
            StandardSet check{};
            std::string error;
            if (text.empty() || parseSOLT(type, text, check, error) != 1)
                throw BatchError{"measurement.calibration",
                                 path + ": not a " + (type == 1 ? ".s21" : ".s11") +
                                     " calibration file" + (error.empty() ? "" : ": " + error)};
            if (loadSOLTFile(type, path) != 1)
                throw BatchError{"measurement.calibration", "cannot load " + path};
            (type == 1 ? solt.calS21 : solt.calS11).store(1);
            report_.calibrationFiles.push_back(path);
            setDomain(Domain::Frequency);
        }
        if (domainOf(view.xUnits.load()) != Domain::Frequency)
            throw BatchError{"measurement.calibration", "the frequency domain did not open"};
    }

    void applyZero() {
        const Recipe& r = recipe_;
        if (r.zero) {
            setZero(*r.zero);
            return;
        }
        if (!r.zeroAtOpen) return;
        // The question before the search is answered yes: the recipe asked for it.
        const int stimulus = getStimulus();
        const int missed = responder_.countTitle(kNoOpen);
        if (sim_) {
            // The simulated operator leaves the connector open for the zero, then connects.
            const simulator::Connection was = sim_->connection(stimulus);
            sim_->setConnection(stimulus, simulator::Connection::Open);
            setZero(-1);
            sim_->setConnection(stimulus, was);
        } else if (setup_.operatorPrompts) {
            platform::PopupRequest ask;
            ask.title = "Station";
            ask.text = "Leave the stimulus connector open, then press OK.";
            setup_.operatorPrompts->show(ask);
            setZero(-1);
            ask.text = "Connect the device, then press OK.";
            setup_.operatorPrompts->show(ask);
        } else {
            std::fprintf(setup_.err, "velt: leave the stimulus connector open, then press Enter\n");
            std::string line;
            std::getline(std::cin, line);
            setZero(-1);
            std::fprintf(setup_.err, "velt: connect the device, then press Enter\n");
            std::getline(std::cin, line);
        }
        if (responder_.countTitle(kNoOpen) != missed)
            throw BatchError{"measurement.zero", "no open connector found on the stimulus channel"};
    }

    void applyWindow() {
        const Recipe& r = recipe_;
        if (!r.windowStart) return;
        const double z = view.xZero.load();
        setXStart(*r.windowStart + z);
        setXEnd(*r.windowEnd + z);
        setWindow();
        if (!near(getXStart(), *r.windowStart) || !near(getXEnd(), *r.windowEnd)) {
            char buf[160];
            std::snprintf(buf, sizeof buf, "the panel shows %.4g to %.4g %s instead", getXStart(),
                          getXEnd(), kRecipeXUnits[index(r.xUnits)]);
            throw BatchError{"measurement.window", buf};
        }
    }

    int judge() {
        const double minLength =
            zoneResolution(shownRiseTimePs(instrument.speed, getFilter() == 1, getFilterWidth()),
                           view.xUnits.load(), view.dielK.load());
        bool allPass = true;
        for (const RecipeZone& z : recipe_.zones) {
            const ZoneStats s = zoneStatistics(instrument.recordX, liveTrace.y, z.from, z.to,
                                               z.nominal, z.tolerance, minLength);
            report_.zones.push_back({z, s, minLength});
            allPass = allPass && s.verdict == ZoneVerdict::Pass;
            std::fputs(zoneLine(z, s, minLength, kRecipeXUnits[index(recipe_.xUnits)]).c_str(),
                       setup_.out);
        }
        if (recipe_.eye && !judgeEye()) allPass = false;
        return allPass ? kBatchPass : kBatchFail;
    }

    // The eye through the measured channel; false when its mask is hit.
    bool judgeEye() {
        eye::settingsOf(*recipe_.eye, eyeSettings_); // the recipe's pattern was checked
        const eye::Step step =
            eye::stepOfTrace(instrument.recordX.data(), liveTrace.y.data(), liveTrace.y.size(),
                             view.xUnits.load(), view.dielK.load());
        eye_ = eye::compute(step, eyeSettings_);
        if (!eye_->ok) throw BatchError{"eye", eye_->error};
        if (!eye_->settled)
            writeMessage(0,
                         "Eye: the pulse response has not settled within the window; widen it "
                         "to take in the channel's memory.",
                         0);
        const bool pass = eye_->maskHits <= 0;
        std::fprintf(
            setup_.out, "%-12s %-8s height %.2f mV  width %.1f ps  worst %.2f mV  mask hits %ld\n",
            "eye",
            eye_->maskHits < 0 ? "-"
            : pass             ? "PASS"
                               : "FAIL",
            eye_->height, eye_->width * 1e12, eye_->worstHeight, std::max(0L, eye_->maskHits));
        return pass;
    }

    void writeEye() {
        const eye::Eye& e = *eye_;
        nlohmann::ordered_json j = {{"bitrate_gbps", recipe_.eye->bitrateGbps},
                                    {"pattern", recipe_.eye->pattern},
                                    {"coding", recipe_.eye->pam4 ? "PAM4" : "NRZ"},
                                    {"unit", "mV"},
                                    {"ui_ps", e.ui * 1e12},
                                    {"height", e.height},
                                    {"width", e.width * 1e12},
                                    {"worst_height", e.worstHeight},
                                    {"settled", e.settled}};
        if (e.maskHits >= 0) {
            j["mask_hits"] = e.maskHits;
            j["margin"] = e.maskMargin;
        }
        std::ofstream(fs::path(folder_) / "eye.json") << j.dump(2) << "\n";
        if (!recipe_.png) return;
        std::string error;
        if (!platform::writeEyePicture(eye::pictureOf(e, eyeSettings_, "mV"),
                                       (fs::path(folder_) / "eye.png").string(), error))
            report_.problems.push_back("eye.png: " + error);
    }

    void writeOutputs(int status) {
        report_.status = status;
        std::string error;
        if (!createRunFolder(recipe_, folder_, error)) throw BatchError{"outputs.folder", error};
        // The exports are the menu's own, their file dialogs answered with the report's names.
        const std::string base = (fs::path(folder_) / recipe_.name).string();
        if (recipe_.csv) {
            responder_.pushFile(base + ".csv", platform::VAL_NEW_FILE_SELECTED);
            if (saveCSV() != 1) report_.problems.push_back("outputs.csv: the CSV export failed");
        }
        if (recipe_.touchstone) {
            const bool s21 = recipe_.mode == Mode::TDT;
            responder_.pushFile(base + (s21 ? ".s2p" : ".s1p"), platform::VAL_NEW_FILE_SELECTED);
            if (saveTouchstone() != 1)
                report_.problems.push_back("outputs.touchstone: the Touchstone export failed");
        }
        if (eye_) writeEye();
        if (newCalibration_) {
            // A calibration made for this run is kept with it, so the run can be repeated.
            const std::string cal = base + (recipe_.mode == Mode::TDT ? ".s21" : ".s11");
            if (saveSOLTFile(code(recipe_.mode), cal) == 1)
                report_.calibrationFiles.push_back(cal);
            else
                report_.problems.push_back("measurement.calibration: the new calibration could "
                                           "not be saved");
        }
        if (recipe_.png) {
            responder_.pushFile(base + ".png", platform::VAL_NEW_FILE_SELECTED);
            if (savePNG() != 1)
                report_.problems.push_back("outputs.png: no picture of the panel (the PNG needs "
                                           "the window system)");
        }
        if (recipe_.lotCpk) lotCapability();
        // An output asked for and not written is an error the line must see.
        if (!report_.problems.empty()) report_.status = kBatchError;
        if (!writeReport(recipe_, report_, folder_, error))
            throw BatchError{"outputs.folder", error};
        completeRecord();
        if (recipe_.pdf && !writeCertificateFile(error)) {
            // The result file says what the line sees: rewritten with the problem in it.
            report_.problems.push_back("outputs.pdf: " + error);
            report_.status = kBatchError;
            if (!writeReport(recipe_, report_, folder_, error))
                throw BatchError{"outputs.folder", error};
        }
        for (const std::string& p : report_.problems)
            std::fprintf(setup_.err, "velt: %s\n", p.c_str());
        const char* verdict = report_.status == kBatchPass   ? "PASS"
                              : report_.status == kBatchFail ? "FAIL"
                                                             : "INCOMPLETE";
        std::fprintf(setup_.out, "%s: %zu zone%s, report in %s\n", verdict, recipe_.zones.size(),
                     recipe_.zones.size() == 1 ? "" : "s", folder_.c_str());
        if (!report_.problems.empty()) throw BatchError{"", "outputs incomplete"};
    }

    // The lot's records so far (a station's newest may still be on their way) and this coupon.
    void lotCapability() {
        if (record_.lot.empty() || lotTarget_.empty()) {
            report_.problems.push_back(
                "outputs.lot_cpk: " +
                std::string(record_.lot.empty() ? "no lot is named (--lot or the recipe's \"lot\")"
                                                : "no results database (--results none)"));
            return;
        }
        std::string error;
        std::vector<results::ZoneRecord> coupon;
        for (const ZoneResult& z : report_.zones)
            coupon.push_back(
                {z.zone.name, z.zone.nominal, z.zone.tolerance, z.stats.mean, NAN, NAN, NAN, ""});
        std::vector<spc::ZoneStats> lot;
        if (results::isServerTarget(lotTarget_) || fs::exists(lotTarget_))
            if (auto store = results::openStore(lotTarget_, error, 2000))
                lot = spc::lotCapability(*store, recipe_.name, record_.lot, coupon, error);
        if (!error.empty()) {
            report_.problems.push_back("outputs.lot_cpk: " + error);
            return;
        }
        for (std::size_t i = 0; i < report_.zones.size(); ++i) {
            ZoneResult& z = report_.zones[i];
            z.lotRecords = i < lot.size() ? lot[i].count : 1;
            z.lotCpk = i < lot.size() && lot[i].ok() ? lot[i].cpk : NAN;
        }
    }

    bool writeCertificateFile(std::string& error) {
        platform::Certificate c;
        c.letter = recipe_.paper == "Letter";
        c.title = "VELT test certificate";
        c.verdict = report_.status == kBatchPass   ? "PASS"
                    : report_.status == kBatchFail ? "FAIL"
                                                   : "INCOMPLETE";
        c.pass = report_.status == kBatchPass;
        const results::Record& r = record_;
        c.fields = {
            {"Serial", r.serial.empty() ? "-" : r.serial},
            {"Lot", r.lot.empty() ? "-" : r.lot},
            {"Recipe", r.recipe},
            {"Time (UTC)", r.time},
            {"Station", r.station},
            {"Operator", r.operatorName.empty() ? "-" : r.operatorName},
            {"Instrument", (r.model.empty() ? "-" : r.model) +
                               (r.instrumentSerial.empty() ? "" : ", " + r.instrumentSerial)},
            {"Record", r.id + (r.retest ? " (retest)" : "")}};
        const char* xUnit = kRecipeXUnits[index(view.xUnits.load())];
        c.x.assign(instrument.recordX.begin(), instrument.recordX.end());
        c.y.assign(liveTrace.y.begin(), liveTrace.y.end());
        c.xFrom = instrument.recordX.front();
        c.xTo = instrument.recordX.back();
        c.xLabel = std::string("distance from the zero reference (") + xUnit + ")";
        if (view.xUnits.load() == XUnit::Nanoseconds)
            c.xLabel = "time from the zero reference (ns)";
        c.yLabel = "impedance (Ohm)";
        c.table.push_back({"Zone", "Span", "Limits (Ohm)", "Mean", "Min", "Max", "SD", "Verdict"});
        const auto f = [](double v, int d) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.*f", d, v);
            return std::string(std::isfinite(v) ? buf : "-");
        };
        for (const ZoneResult& z : report_.zones) {
            const ZoneStats& st = z.stats;
            c.zones.push_back({z.zone.name, z.zone.from, z.zone.to, st.low, st.high,
                               st.verdict == ZoneVerdict::Pass});
            c.table.push_back({z.zone.name, f(z.zone.from, 3) + "-" + f(z.zone.to, 3) + " " + xUnit,
                               f(st.low, 2) + " to " + f(st.high, 2), f(st.mean, 2), f(st.min, 2),
                               f(st.max, 2), f(st.stddev, 2), verdictText(st.verdict)});
        }
        c.notes.push_back(report_.calibrationFiles.empty()
                              ? "Calibration: the instrument's own at start-up (no SOLT file)"
                              : "Calibration: " + report_.calibrationFiles.front() + ", SHA-256 " +
                                    r.calibrationSha256);
        if (recipe_.lotCpk) {
            std::string line = "Cpk over lot " + r.lot + " so far (individuals):";
            for (const ZoneResult& z : report_.zones)
                line += " " + z.zone.name + " " +
                        (std::isfinite(z.lotCpk) ? f(z.lotCpk, 2) : std::string("-")) + " (" +
                        std::to_string(z.lotRecords) + " record" + (z.lotRecords == 1 ? "" : "s") +
                        ")";
            c.notes.push_back(line);
        }
        c.notes.push_back("Report: " + folder_ + " (SHA-256 of its files, as in SHA256SUMS):");
        const fs::path sums = fs::path(folder_) / "SHA256SUMS";
        std::ifstream in(sums);
        std::string line;
        if (in) {
            while (std::getline(in, line)) c.notes.push_back(line);
        } else {
            std::vector<std::string> names;
            for (const auto& e : fs::directory_iterator(folder_))
                if (e.is_regular_file()) names.push_back(e.path().filename().string());
            std::sort(names.begin(), names.end());
            for (const std::string& n : names)
                c.notes.push_back(sha256File((fs::path(folder_) / n).string()) + "  " + n);
        }
        return platform::writeCertificate(c, (fs::path(folder_) / "certificate.pdf").string(),
                                          error);
    }

    // What the record keeps of the run so far; the caller has filled in who measured what.
    void completeRecord() {
        results::Record& r = record_;
        if (r.time.empty()) r.time = results::utcNow();
        r.model = instrument.model;
        r.instrumentSerial = instrumentSerial_;
        r.calibrationSha256 =
            report_.calibrationFiles.empty() ? "" : sha256File(report_.calibrationFiles.front());
        r.exitStatus = report_.status;
        r.verdict = report_.status == kBatchPass   ? "PASS"
                    : report_.status == kBatchFail ? "FAIL"
                                                   : "INCOMPLETE";
        std::error_code ec;
        r.reportFolder = folder_.empty() ? "" : fs::absolute(folder_, ec).string();
        r.zones.clear();
        for (const ZoneResult& z : report_.zones)
            r.zones.push_back({z.zone.name, z.zone.nominal, z.zone.tolerance, z.stats.mean,
                               z.stats.min, z.stats.max, z.stats.stddev,
                               verdictText(z.stats.verdict)});
    }

    // Who and what the record names; the certificate prints the same.
    results::Record record_;
    const Recipe& recipe_;
    const BatchSetup& setup_;
    simulator::SimulatedInstrument* sim_;
    platform::ScriptedResponder& responder_;
    const Network* network_;
    StepResponse step_;
    ReportData report_;
    std::string folder_;
    std::string lotTarget_;
    bool newCalibration_ = false;
    std::string instrumentSerial_;
    std::optional<eye::Eye> eye_;
    eye::Settings eyeSettings_;
    bool ran_ = false;
    bool judged_ = false;
    int status_ = kBatchError;
    std::string error_;
};

// Command-line instrument options go over the recipe's.
bool mergeInstrument(const Options& o, Recipe& r, std::string& error) {
    const bool cliSim =
        o.modelGiven || !o.dutFile.empty() || !o.connections.empty() || !o.noise || o.seedGiven;
    if (!r.touchstoneFile.empty() && (o.simulate || cliSim)) {
        error = "instrument.touchstone takes the place of the instrument: no --simulate, --model, "
                "--dut, --connect, --no-noise or --seed";
        return false;
    }
    if (o.simulate) r.simulate = true;
    if (cliSim && !r.simulate) {
        error = "--model, --dut, --connect, --no-noise and --seed need --simulate (or "
                "\"simulate\": true)";
        return false;
    }
    if (!o.dutFile.empty())
        r.dut = o.dutFile; // as given on the command line: from here
    else if (!r.dut.empty())
        r.dut = recipeFile(r, r.dut);
    r.connect.insert(r.connect.end(), o.connections.begin(), o.connections.end());
    if (!o.noise) r.noise = false;
    if (o.seedGiven) {
        r.seed = o.seed;
        r.randomSeed = o.randomSeed;
    }
    if (!o.outFolder.empty()) r.outFolder = o.outFolder;
    return true;
}

// Who measures what: the command line's names over the recipe's.
void identify(results::Record& r, const Recipe& recipe, const Options& o, const char* source) {
    r.id = results::newRecordId();
    r.station = results::stationName(o);
    r.operatorName = o.operatorName.empty() ? recipe.operatorName : o.operatorName;
    r.lot = o.lot.empty() ? recipe.lot : o.lot;
    r.serial = o.serial.empty() ? recipe.serial : o.serial;
    r.recipe = recipe.name;
    r.recipeSha256 = sha256File(recipe.path);
    r.source = source;
}

// A judged run is recorded whatever its verdict; the exit status stays the measurement's.
void recordRun(BatchRun& run, const Options& o, const BatchSetup& setup) {
    if (!run.judged()) return;
    auto recorder = results::recorderFor(
        o, [&setup](const std::string& m) { std::fprintf(setup.err, "velt: %s\n", m.c_str()); });
    if (recorder) recorder->record(run.record());
}

// No instrument is opened: the panel is loaded as start-up loads it, with the rise time of the
// recipe's model (the fast step's without one), and the run applies the recipe to the file.
int measureFile(const Recipe& recipe, const Options& options, const BatchSetup& setup) {
    Network network;
    std::string error;
    if (!loadTouchstone(recipeFile(recipe, recipe.touchstoneFile), network, error)) {
        std::fprintf(setup.err, "velt: %s: instrument.touchstone: %s\n", recipe.path.c_str(),
                     error.c_str());
        return kBatchError;
    }
    platform::ScriptedResponder responder;
    platform::setPopupHandler(&responder);
    platform::setEventLoop(nullptr);
    platform::headlessEventLoop().discardPending();
    platform::clearQuitRequest();
    const int model = recipe.model.empty() ? 0 : simulator::findModel(recipe.model);
    std::snprintf(instrument.model, sizeof instrument.model, "%s",
                  recipe.model.empty() ? "" : recipe.model.c_str());
    instrument.speed = simulator::kModels[static_cast<std::size_t>(model)].speedClass;
    loadInterface();
    setDiel(-1.0);
    setRisetime(instrument.speed);
    BatchRun run(recipe, setup, nullptr, responder, &network);
    run.setLotTarget(options.results);
    identify(run.record(), recipe, options, "measure");
    run();
    platform::clearQuitRequest();
    platform::setPopupHandler(nullptr);
    recordRun(run, options, setup);
    if (!run.error().empty()) {
        std::fprintf(setup.err, "velt: %s: %s\n", recipe.path.c_str(), run.error().c_str());
        return kBatchError;
    }
    return run.status();
}

} // namespace

int runMeasure(const Options& options, const BatchSetup& setup) {
    Recipe recipe;
    std::string error;
    if (!loadRecipe(options.recipePath, recipe, error) ||
        !mergeInstrument(options, recipe, error)) {
        std::fprintf(setup.err, "velt: %s: %s\n", options.recipePath.c_str(), error.c_str());
        return kBatchError;
    }

    if (!recipe.touchstoneFile.empty()) return measureFile(recipe, options, setup);

    const std::string simModel =
        options.modelGiven || recipe.model.empty() ? options.model : recipe.model;
    BackEnd backEnd = openBackEnd({recipe.simulate, simModel, recipe.dut, recipe.connect,
                                   recipe.noise, setup.paced, recipe.seed, recipe.randomSeed});
    if (!backEnd.ok) {
        if (backEnd.refusedConnection.empty())
            std::fprintf(setup.err, "velt: instrument.dut: %s\n", backEnd.error.c_str());
        else
            std::fprintf(setup.err, "velt: instrument.connect: %s: %s\n",
                         backEnd.refusedConnection.c_str(), backEnd.error.c_str());
        return kBatchError;
    }
    simulator::SimulatedInstrument* const sim = backEnd.sim.get();

    // Popups go to stderr and are answered as a user who accepts would answer them.
    platform::ScriptedResponder responder;
    platform::setPopupHandler(&responder);
    platform::setEventLoop(nullptr);
    platform::headlessEventLoop().discardPending();
    platform::clearQuitRequest();

    BatchRun run(recipe, setup, sim, responder);
    run.setLotTarget(options.results);
    identify(run.record(), recipe, options, "measure");
    platform::headlessEventLoop().post([&run] { run(); });
    const int started = veltMain();
    platform::headlessEventLoop().discardPending();
    platform::setPopupHandler(nullptr);
    platform::setSerialDevice(nullptr);
    recordRun(run, options, setup);

    if (!run.ran()) {
        std::fprintf(setup.err, "velt: instrument: %s\n",
                     recipe.simulate ? "the simulated instrument did not start"
                                     : "could not open the TDR device (Error #1001)");
        return kBatchError;
    }
    if (!run.error().empty()) {
        std::fprintf(setup.err, "velt: %s: %s\n", options.recipePath.c_str(), run.error().c_str());
        return kBatchError;
    }
    (void)started;
    return run.status();
}

namespace {

std::string twoDecimals(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return std::isfinite(v) ? buf : "---";
}

class StationRun : public platform::StationService {
  public:
    StationRun(const Options& options, Recipe recipe, simulator::SimulatedInstrument* sim)
        : options_(options), recipe_(std::move(recipe)), recording_(options.results != "none"),
          queue_(std::make_unique<results::Recorder>(
              recording_ ? options.results : std::string(":memory:"), results::kSpoolFile,
              [](const std::string& m) { writeMessage(0, m, 0); })) {
        run_ = std::make_unique<BatchRun>(recipe_, setup_, sim, responder_);
        run_->setLotTarget(options_.results);
        countToday();
    }

    std::string recipeName() const override { return recipe_.name; }
    std::string lot() const override { return options_.lot.empty() ? recipe_.lot : options_.lot; }
    std::string operatorName() const override {
        return options_.operatorName.empty() ? recipe_.operatorName : options_.operatorName;
    }
    bool certificate() const override { return recipe_.pdf; }
    void setCertificate(bool on) override { recipe_.pdf = on; }

    bool prepare(std::string& error) override {
        platform::PopupHandler* was = platform::popupHandler();
        setup_.operatorPrompts = was;
        platform::setPopupHandler(&responder_);
        const bool ok = run_->prepare(error);
        platform::setPopupHandler(was);
        return ok;
    }

    bool testedBefore(const std::string& serial) override {
        if (seen_.count(serial)) return true;
        if (!recording_) return false;
        // A server out of reach is not asked again for a minute: each try may wait for its
        // connection time-out, and the operator is waiting.
        const auto now = std::chrono::steady_clock::now();
        if (!lookup_ && now - lookupFailed_ < std::chrono::minutes(1)) return false;
        std::string error;
        if (!lookup_ && !(lookup_ = results::openStore(options_.results, error, 500))) {
            lookupFailed_ = now;
            return false;
        }
        results::Query q;
        q.serial = serial;
        q.recipe = recipe_.name;
        q.last = 1;
        bool found = false;
        if (!lookup_->select(
                q, [&](const results::Record&) { found = true; }, error))
            lookup_.reset();
        return found;
    }

    platform::StationResult test(const std::string& serial, const std::string& lot,
                                 const std::string& operatorName, bool retest) override {
        platform::StationResult out;
        out.serial = serial;
        results::Record& r = run_->record();
        identify(r, recipe_, options_, "station");
        r.serial = serial;
        r.lot = lot;
        r.operatorName = operatorName;
        r.retest = retest;
        // The panel's own serial field, so the CSV and the picture carry it too.
        panel().setText(PANEL_SERIAL, serial);
        // The exports' file dialogs are answered with the report's names, as in a batch run.
        platform::PopupHandler* was = platform::popupHandler();
        platform::setPopupHandler(&responder_);
        run_->testOnce();
        platform::setPopupHandler(was);
        out.message = run_->error();
        out.folder = run_->folder();
        if (!run_->judged()) return out;
        out.judged = true;
        out.verdict = r.verdict;
        out.pass = r.exitStatus == kBatchPass;
        for (const ZoneResult& z : run_->report().zones)
            out.zones.push_back({z.zone.name, twoDecimals(z.stats.mean),
                                 twoDecimals(z.stats.low) + " to " + twoDecimals(z.stats.high),
                                 verdictText(z.stats.verdict),
                                 z.stats.verdict == ZoneVerdict::Pass});
        (out.pass ? passes_ : fails_)++;
        seen_.insert(serial);
        if (recording_) {
            {
                std::lock_guard lock(statusMutex_);
                status_.clear();
            }
            const std::string target = results::displayTarget(options_.results);
            queue_.submit(r, [this, target, serial](results::Delivery d) {
                // The recipe's charts with this record in them, read on the queue's thread.
                std::string warning;
                if (d == results::Delivery::Stored) {
                    std::string error;
                    if (!chartStore_)
                        chartStore_ = results::openStore(options_.results, error, 500);
                    if (chartStore_) warning = spc::stationWarning(*chartStore_, recipe_.name);
                }
                std::lock_guard lock(statusMutex_);
                status_ = d == results::Delivery::Stored ? serial + " recorded in " + target
                          : d == results::Delivery::Spooled
                              ? serial + " spooled: " + target + " not reached"
                              : serial + " NOT RECORDED (see log)";
                if (!warning.empty())
                    status_ += "\n" + warning + " (a warning: the coupon's verdict stands)";
            });
        }
        return out;
    }

    void todayCounts(int& passes, int& fails) const override {
        passes = passes_;
        fails = fails_;
    }
    std::string recordStatus() const override {
        if (!recording_) return "not recorded (--results none)";
        std::lock_guard lock(statusMutex_);
        return status_;
    }

  private:
    // The day's tests of this recipe at this station, from the database when it answers.
    void countToday() {
        if (!recording_) return;
        std::string error;
        lookup_ = results::openStore(options_.results, error, 500);
        if (!lookup_) {
            lookupFailed_ = std::chrono::steady_clock::now();
            return;
        }
        results::Query q;
        q.recipe = recipe_.name;
        q.station = results::stationName(options_);
        q.since = results::utcNow().substr(0, 10);
        if (!lookup_->select(
                q,
                [this](const results::Record& r) {
                    seen_.insert(r.serial);
                    (r.verdict == "PASS" ? passes_ : fails_)++;
                },
                error))
            lookup_.reset();
    }

    Options options_;
    Recipe recipe_;
    BatchSetup setup_;
    platform::ScriptedResponder responder_;
    std::unique_ptr<BatchRun> run_;
    std::unique_ptr<results::Store> lookup_;
    std::chrono::steady_clock::time_point lookupFailed_{};
    std::set<std::string> seen_;
    int passes_ = 0, fails_ = 0;
    bool recording_;
    mutable std::mutex statusMutex_;
    std::string status_;
    std::unique_ptr<results::Store> chartStore_; // the queue thread's own connection
    // Last: it is drained on destruction, and its callbacks write the status above.
    results::RecordingQueue queue_;
};

} // namespace

bool takeStationInstrument(Options& o, std::string& error) {
    Recipe r;
    if (!loadRecipe(o.stationRecipe, r, error) || !mergeInstrument(o, r, error)) {
        error = o.stationRecipe + ": " + error;
        return false;
    }
    o.simulate = r.simulate;
    if (!o.modelGiven && !r.model.empty()) o.model = r.model;
    o.dutFile = r.dut;
    o.connections = r.connect;
    o.noise = r.noise;
    o.seed = r.seed;
    o.randomSeed = r.randomSeed;
    return true;
}

std::unique_ptr<platform::StationService>
openStation(const Options& options, simulator::SimulatedInstrument* sim, std::string& error) {
    Recipe recipe;
    if (!loadRecipe(options.stationRecipe, recipe, error)) {
        error = options.stationRecipe + ": " + error;
        return nullptr;
    }
    if (!recipe.touchstoneFile.empty() || recipe.zones.empty()) {
        error = options.stationRecipe + ": a station judges zones on the instrument: " +
                (recipe.zones.empty() ? "the recipe has none" : "no instrument.touchstone");
        return nullptr;
    }
    return std::make_unique<StationRun>(options, std::move(recipe), sim);
}
