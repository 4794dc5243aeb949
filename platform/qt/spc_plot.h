// A zone's X-bar and R charts (QCustomPlot), for the statistics window and the PNGs of `velt spc`.
#pragma once

#include "platform/spc_chart.h"

class QCustomPlot;

namespace platform::qt {

void drawSpcChart(QCustomPlot* plot, const platform::SpcChart& chart);
bool writeSpcPng(const platform::SpcChart& chart, const std::string& path, std::string& error);

} // namespace platform::qt
