// A zone's X-bar and R charts as plain values, drawn by the writer the program installs
// (QCustomPlot), as the eye and the certificate are; and what the statistics window asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct SpcPanel {
    std::string label;          // "X-bar (Ohm)", "R (Ohm)"
    std::vector<double> points; // per subgroup, the first at 1
    double centre = 0, lower = 0, upper = 0;
    std::vector<double> specs; // tolerance limits drawn beside the control limits
    std::vector<int> flagged;  // indexes of points that violate a rule
};

struct SpcChart {
    std::string title, figures;
    SpcPanel x, r;
};

using SpcChartWriter = bool (*)(const SpcChart& chart, const std::string& path, std::string& error);
void setSpcChartWriter(SpcChartWriter writer);
bool writeSpcChart(const SpcChart& chart, const std::string& path, std::string& error);

struct SpcRequest {
    std::string recipe; // empty: the station's, else the newest recorded
    std::string zone;   // empty: the first
    int subgroup = 5;
    std::size_t last = 0; // the newest N records; 0: all
};

struct SpcView {
    bool ok = false;
    std::string error;
    std::vector<std::string> recipes, zones; // what can be chosen
    std::string recipe, zone;                // what is shown
    SpcChart chart;
    std::string summary; // capability and violations, a line each
};

class SpcService {
  public:
    virtual ~SpcService() = default;
    virtual SpcView compute(const SpcRequest& request) = 0;
    // Moves with every record written, so that the window knows when to read again.
    virtual std::uint64_t generation() const = 0;
};

} // namespace platform
