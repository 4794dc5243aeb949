// Hits on a logarithmic colour scale: the rare excursions that close an eye stay visible beside
// the thousands of hits on its rails.
#include "platform/qt/eye_plot.h"

#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

namespace platform::qt {

void drawEye(QCustomPlot* plot, const platform::EyePicture& p) {
    plot->clearPlottables();
    plot->clearItems();
    plot->plotLayout()->clear();
    auto* rect = new QCPAxisRect(plot);
    plot->plotLayout()->addElement(0, 0, rect);
    auto* map = new QCPColorMap(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
    map->data()->setSize(p.columns, p.rows);
    map->data()->setRange(QCPRange(-p.spanPs / 2, p.spanPs / 2), QCPRange(p.vLow, p.vHigh));
    std::uint32_t most = 1;
    for (std::uint32_t h : p.hits) most = std::max(most, h);
    for (int c = 0; c < p.columns; ++c)
        for (int r = 0; r < p.rows; ++r) {
            const std::uint32_t h = p.hits[static_cast<std::size_t>(r) * p.columns + c];
            map->data()->setCell(c, r, h ? std::log10(1.0 + h) : std::nan(""));
        }
    QCPColorGradient gradient(QCPColorGradient::gpJet);
    gradient.setNanHandling(QCPColorGradient::nhTransparent);
    map->setGradient(gradient);
    map->setDataRange(QCPRange(0, std::log10(1.0 + most)));
    map->setInterpolate(false);
    if (!p.maskX.empty()) {
        auto* mask = new QCPCurve(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        mask->setData(QVector<double>(p.maskX.begin(), p.maskX.end()),
                      QVector<double>(p.maskY.begin(), p.maskY.end()));
        mask->setPen(QPen(Qt::black, 2));
    }
    rect->axis(QCPAxis::atBottom)->setLabel("time from the eye's centre (ps)");
    rect->axis(QCPAxis::atLeft)->setLabel(QString::fromStdString(p.yLabel));
    rect->axis(QCPAxis::atBottom)->setRange(-p.spanPs / 2, p.spanPs / 2);
    rect->axis(QCPAxis::atLeft)->setRange(p.vLow, p.vHigh);
    auto* title = new QCPTextElement(
        plot, QString::fromStdString(p.title + (p.title.empty() ? "" : "\n") + p.figures));
    plot->plotLayout()->insertRow(0);
    plot->plotLayout()->addElement(0, 0, title);
    plot->replot();
}

bool writeEyePng(const platform::EyePicture& p, const std::string& path, std::string& error) {
    QCustomPlot plot;
    plot.resize(900, 600);
    drawEye(&plot, p);
    if (!plot.savePng(QString::fromStdString(path), 900, 600)) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace platform::qt
