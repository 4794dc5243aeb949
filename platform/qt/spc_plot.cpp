// Control limits dashed red, the centre line solid, the tolerance limits dotted blue:
// a point outside the red but inside the blue is a process signal, not yet a bad part.
#include "platform/qt/spc_plot.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace platform::qt {

namespace {

void drawPanel(QCustomPlot* plot, QCPAxisRect* rect, const platform::SpcPanel& p) {
    QCPAxis* x = rect->axis(QCPAxis::atBottom);
    QCPAxis* y = rect->axis(QCPAxis::atLeft);
    const double last = std::max<double>(2, static_cast<double>(p.points.size()));
    auto line = [&](double level, const QPen& pen, const char* name) {
        auto* g = plot->addGraph(x, y);
        g->setData(QVector<double>{1, last}, QVector<double>{level, level});
        g->setPen(pen);
        auto* label = new QCPItemText(plot);
        label->setClipAxisRect(rect);
        label->position->setAxes(x, y);
        label->position->setCoords(last + 0.45, level);
        label->setPositionAlignment(Qt::AlignRight | Qt::AlignBottom);
        label->setColor(pen.color());
        label->setText(QString("%1 %2").arg(name).arg(level, 0, 'g', 6));
    };
    line(p.centre, QPen(QColor(60, 60, 60), 1.5), "CL");
    line(p.upper, QPen(QColor(200, 40, 40), 1.5, Qt::DashLine), "UCL");
    line(p.lower, QPen(QColor(200, 40, 40), 1.5, Qt::DashLine), "LCL");

    QVector<double> keys, values, badKeys, badValues;
    double lo = std::min(p.lower, p.centre), hi = std::max(p.upper, p.centre);
    for (std::size_t i = 0; i < p.points.size(); ++i) {
        if (!std::isfinite(p.points[i])) continue;
        keys << static_cast<double>(i + 1);
        values << p.points[i];
        lo = std::min(lo, p.points[i]);
        hi = std::max(hi, p.points[i]);
    }
    for (int i : p.flagged)
        if (i >= 0 && static_cast<std::size_t>(i) < p.points.size()) {
            badKeys << i + 1.0;
            badValues << p.points[static_cast<std::size_t>(i)];
        }
    auto* g = plot->addGraph(x, y);
    g->setData(keys, values);
    g->setPen(QPen(QColor(20, 20, 20), 1));
    g->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, 5));
    auto* bad = plot->addGraph(x, y);
    bad->setData(badKeys, badValues);
    bad->setLineStyle(QCPGraph::lsNone);
    bad->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, QPen(Qt::red, 2), Qt::red, 9));
    // Specification limits far outside the control limits would flatten the chart: they are
    // drawn when they lie within twice its span.
    const double span = std::max(hi - lo, 1e-12);
    for (double s : p.specs)
        if (s > lo - span && s < hi + span) {
            line(s, QPen(QColor(40, 90, 200), 1.5, Qt::DotLine), s < p.centre ? "LSL" : "USL");
            lo = std::min(lo, s);
            hi = std::max(hi, s);
        }
    const double pad = hi > lo ? 0.08 * (hi - lo) : 0.01 * std::max(1.0, std::abs(hi));
    y->setRange(lo - pad, hi + pad);
    x->setRange(0.5, last + 0.5);
    x->setLabel("subgroup");
    y->setLabel(QString::fromStdString(p.label));
}

} // namespace

void drawSpcChart(QCustomPlot* plot, const platform::SpcChart& c) {
    plot->clearGraphs();
    plot->clearItems();
    plot->plotLayout()->clear();
    auto* top = new QCPAxisRect(plot);
    auto* bottom = new QCPAxisRect(plot);
    plot->plotLayout()->addElement(
        0, 0, new QCPTextElement(plot, QString::fromStdString(c.title + "\n" + c.figures)));
    plot->plotLayout()->addElement(1, 0, top);
    plot->plotLayout()->addElement(2, 0, bottom);
    drawPanel(plot, top, c.x);
    drawPanel(plot, bottom, c.r);
    plot->replot();
}

bool writeSpcPng(const platform::SpcChart& c, const std::string& path, std::string& error) {
    QCustomPlot plot;
    plot.resize(900, 700);
    drawSpcChart(&plot, c);
    if (!plot.savePng(QString::fromStdString(path), 900, 700)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace platform::qt
