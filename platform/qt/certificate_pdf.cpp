// Laid out in millimetres on the page; text, trace and shading stay vectors, so the certificate
// prints sharp at any size and its numbers can be searched and copied.
#include "platform/qt/certificate_pdf.h"

#include <QFile>
#include <QFont>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>

namespace platform::qt {
namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Ticks at 1, 2 or 5 times a power of ten, about n of them across [lo, hi].
double tickStep(double lo, double hi, int n) {
    const double raw = (hi - lo) / n;
    if (!(raw > 0) || !std::isfinite(raw)) return 1;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (raw <= m * p) return m * p;
    return 10 * p;
}

QString tickText(double v, double step) {
    const int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    return QString::number(v, 'f', decimals); // Qt's number() is the C locale's
}

} // namespace

bool writeCertificatePdf(const platform::Certificate& c, const std::string& path,
                         std::string& error) {
    QPdfWriter pdf(qs(path));
    pdf.setPageSize(QPageSize(c.letter ? QPageSize::Letter : QPageSize::A4));
    pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    pdf.setTitle(qs(c.title));
    pdf.setCreator("VELT");
    QPainter p;
    if (!p.begin(&pdf)) {
        error = "cannot write " + path;
        return false;
    }
    const double mm = pdf.resolution() / 25.4;
    const double width = pdf.width() / mm, height = pdf.height() / mm;
    const auto at = [mm](double x, double y) { return QPointF(x * mm, y * mm); };
    const auto box = [mm](double x, double y, double w, double h) {
        return QRectF(x * mm, y * mm, w * mm, h * mm);
    };
    const auto font = [&](double pt, bool bold = false, bool mono = false) {
        QFont f(mono ? "DejaVu Sans Mono" : "DejaVu Sans");
        f.setPointSizeF(pt);
        f.setBold(bold);
        p.setFont(f);
    };
    const QColor ink(20, 20, 20), passColor(0, 128, 60), failColor(190, 30, 30);

    // Title and verdict.
    p.setPen(ink);
    font(18, true);
    p.drawText(box(0, 0, width - 50, 10), Qt::AlignLeft | Qt::AlignVCenter, qs(c.title));
    p.setPen(QPen(c.pass ? passColor : failColor, 0.8 * mm));
    p.drawRect(box(width - 45, 0, 45, 12));
    font(20, true);
    p.drawText(box(width - 45, 0, 45, 12), Qt::AlignCenter, qs(c.verdict));

    // The fields, two columns.
    double y = 18;
    p.setPen(ink);
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
        const double x = (i % 2) * width / 2;
        font(8.5, true);
        p.drawText(box(x, y, 30, 5), Qt::AlignLeft | Qt::AlignVCenter, qs(c.fields[i].first));
        font(8.5);
        p.drawText(box(x + 30, y, width / 2 - 32, 5), Qt::AlignLeft | Qt::AlignVCenter,
                   qs(c.fields[i].second));
        if (i % 2 == 1 || i + 1 == c.fields.size()) y += 5.5;
    }

    // The trace with its zones and limits.
    y += 4;
    const QRectF plot = box(14, y, width - 16, 85);
    // The scale the zones are judged on: their limits and the trace within them, with as much
    // again above and below; the rest of the trace runs off the top or bottom.
    double lo = INFINITY, hi = -INFINITY;
    const auto within = [&](double x) {
        if (c.zones.empty()) return x >= c.xFrom && x <= c.xTo;
        for (const auto& z : c.zones)
            if (x >= z.from && x <= z.to) return true;
        return false;
    };
    for (std::size_t i = 0; i < c.x.size() && i < c.y.size(); ++i)
        if (within(c.x[i]) && std::isfinite(c.y[i])) {
            lo = std::min(lo, c.y[i]);
            hi = std::max(hi, c.y[i]);
        }
    for (const auto& z : c.zones) {
        lo = std::min(lo, z.low);
        hi = std::max(hi, z.high);
    }
    if (!(hi > lo)) {
        lo = std::isfinite(lo) ? lo - 1 : 0;
        hi = lo + 2;
    }
    const double pad = (hi - lo) * (c.zones.empty() ? 0.08 : 1.0);
    lo -= pad;
    hi += pad;
    const double x0 = c.xFrom, x1 = c.xTo > c.xFrom ? c.xTo : c.xFrom + 1;
    const auto toPlot = [&](double x, double v) {
        return QPointF(plot.left() + (x - x0) / (x1 - x0) * plot.width(),
                       plot.bottom() - (v - lo) / (hi - lo) * plot.height());
    };
    p.setClipRect(plot);
    for (const auto& z : c.zones) {
        const QColor shade = z.pass ? QColor(0, 150, 70, 40) : QColor(200, 40, 40, 45);
        const QPointF a = toPlot(z.from, z.high), b = toPlot(z.to, z.low);
        p.fillRect(QRectF(a, b), shade);
        p.setPen(QPen(z.pass ? passColor : failColor, 0.25 * mm, Qt::DashLine));
        p.drawLine(toPlot(z.from, z.low), toPlot(z.to, z.low));
        p.drawLine(toPlot(z.from, z.high), toPlot(z.to, z.high));
    }
    const double xStep = tickStep(x0, x1, 8), yStep = tickStep(lo, hi, 6);
    p.setPen(QPen(QColor(210, 210, 210), 0.15 * mm));
    for (double t = std::ceil(x0 / xStep) * xStep; t <= x1 + 1e-12; t += xStep)
        p.drawLine(toPlot(t, lo), toPlot(t, hi));
    for (double t = std::ceil(lo / yStep) * yStep; t <= hi + 1e-12; t += yStep)
        p.drawLine(toPlot(x0, t), toPlot(x1, t));
    QPainterPath trace;
    bool pen = false;
    for (std::size_t i = 0; i < c.x.size() && i < c.y.size(); ++i) {
        if (!std::isfinite(c.y[i])) {
            pen = false;
            continue;
        }
        const QPointF q = toPlot(c.x[i], c.y[i]);
        if (pen)
            trace.lineTo(q);
        else
            trace.moveTo(q);
        pen = true;
    }
    p.setPen(QPen(QColor(20, 60, 170), 0.35 * mm));
    p.drawPath(trace);
    p.setClipping(false);
    p.setPen(QPen(ink, 0.25 * mm));
    p.drawRect(plot);
    font(7);
    for (double t = std::ceil(x0 / xStep) * xStep; t <= x1 + 1e-12; t += xStep) {
        const QPointF q = toPlot(t, lo);
        p.drawText(QRectF(q.x() - 10 * mm, q.y() + 0.5 * mm, 20 * mm, 4 * mm), Qt::AlignCenter,
                   tickText(t, xStep));
    }
    for (double t = std::ceil(lo / yStep) * yStep; t <= hi + 1e-12; t += yStep) {
        const QPointF q = toPlot(x0, t);
        p.drawText(QRectF(q.x() - 14 * mm, q.y() - 2 * mm, 13 * mm, 4 * mm),
                   Qt::AlignRight | Qt::AlignVCenter, tickText(t, yStep));
    }
    font(8);
    p.drawText(QRectF(plot.left(), plot.bottom() + 4.5 * mm, plot.width(), 5 * mm), Qt::AlignCenter,
               qs(c.xLabel));
    p.save();
    p.translate(at(0, y + 42.5));
    p.rotate(-90);
    p.drawText(QRectF(-40 * mm, -1 * mm, 80 * mm, 5 * mm), Qt::AlignCenter, qs(c.yLabel));
    p.restore();

    // The zone table.
    y += 85 + 12;
    if (!c.table.empty()) {
        const std::size_t columns = c.table.front().size();
        const double cw = width / static_cast<double>(std::max<std::size_t>(columns, 1));
        for (std::size_t r = 0; r < c.table.size(); ++r) {
            font(8, r == 0);
            for (std::size_t k = 0; k < c.table[r].size() && k < columns; ++k)
                p.drawText(box(k * cw, y, cw - 1, 5), Qt::AlignLeft | Qt::AlignVCenter,
                           qs(c.table[r][k]));
            y += 5;
            if (r == 0) p.drawLine(at(0, y), at(width, y));
        }
    }

    // Calibration and fingerprints.
    y += 5;
    for (const std::string& note : c.notes) {
        const bool hash = note.size() > 66 && note[64] == ' ';
        font(hash ? 6.5 : 8, false, hash);
        if (y > height - 5) break;
        p.drawText(box(0, y, width, 4.5), Qt::AlignLeft | Qt::AlignVCenter, qs(note));
        y += hash ? 3.8 : 4.8;
    }
    if (!p.end()) {
        error = "cannot write " + path;
        return false;
    }
    if (!QFile::exists(qs(path)) || QFile(qs(path)).size() == 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

} // namespace platform::qt
