// What the operator station's window asks of the program: a test per scanned serial, the day's
// counts and how the last record fared. The program implements it; the Qt view only shows it.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct StationZone {
    std::string name, value, limits, verdict; // as shown: "50.03", "47.50 to 52.50", "PASS"
    bool pass = false;
};

struct StationResult {
    bool judged = false; // false: the test could not be made (message says why)
    bool pass = false;
    std::string verdict; // PASS, FAIL, INCOMPLETE
    std::string serial, folder, message;
    std::vector<StationZone> zones;
};

class StationService {
  public:
    virtual ~StationService() = default;
    virtual std::string recipeName() const = 0;
    // Applies the recipe once start-up is complete; false with the reason.
    virtual bool prepare(std::string& error) = 0;
    virtual bool testedBefore(const std::string& serial) = 0;
    // Measures, judges, writes the report and hands the record to the database. GUI thread.
    virtual StationResult test(const std::string& serial, const std::string& lot,
                               const std::string& operatorName, bool retest) = 0;
    virtual void todayCounts(int& passes, int& fails) const = 0;
    // How the last record went: "recorded in ...", "spooled ...", "" while it is on its way.
    virtual std::string recordStatus() const = 0;
    // The lot and operator given on the command line or in the recipe, if any.
    virtual std::string lot() const = 0;
    virtual std::string operatorName() const = 0;
    // The certificate per test: as the recipe says unless the station turns it on or off.
    virtual bool certificate() const = 0;
    virtual void setCertificate(bool on) = 0;
};

} // namespace platform
