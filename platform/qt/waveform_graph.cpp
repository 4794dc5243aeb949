// Graph mirroring: plots by handle, fixed y range, autoscaled x, cursors dragged by the user.
#include "platform/qt/waveform_graph.h"

#include "platform/panel_table.h"

#include <algorithm>
#include <cmath>

namespace platform::qt {

namespace {

QColor rgb(int c) {
    return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

// Plot style 5 is the thick line of the live and the stored trace.
double penWidth(int style) {
    return style == 5 ? 2.4 : 1.2;
}

} // namespace

WaveformGraph::WaveformGraph(QWidget* parent) : QCustomPlot(parent) {
    setLocale(QLocale::c());
    setBackground(QColor(24, 27, 32));
    setAntialiasedElements(QCP::aePlottables | QCP::aeItems);
    setNoAntialiasingOnDrag(true);
    axisRect()->setMinimumMargins(QMargins(8, 10, 14, 8));
    QFont tickFont("DejaVu Sans", 9), labelFont("DejaVu Sans", 9, QFont::Bold);
    for (QCPAxis* a : {xAxis, yAxis}) {
        a->setTickLabelFont(tickFont);
        a->setLabelFont(labelFont);
        a->setLabelPadding(6);
        a->grid()->setSubGridVisible(false);
        a->grid()->setZeroLinePen(Qt::NoPen);
    }
    yAxis->setNumberFormat("f");
    xAxis->setNumberFormat("gb");
    xAxis->setRange(0, 3);
    yAxis->setRange(0, 500);
    // The legend names the reference traces only; the live trace needs no name.
    legend->setFont(tickFont);
    legend->setVisible(false);
    axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    connect(this, &QCustomPlot::afterReplot, this, [this] { ++replots_; });
    for (int i = 0; i < 2; ++i) {
        Cursor& c = cursors_[i];
        c.line = new QCPItemLine(this);
        for (QCPItemPosition* p : {c.line->start, c.line->end}) {
            p->setTypeX(QCPItemPosition::ptPlotCoords);
            p->setTypeY(QCPItemPosition::ptAxisRectRatio);
        }
        c.line->start->setCoords(0, 0);
        c.line->end->setCoords(0, 1);
        c.marker = new QCPItemTracer(this);
        c.marker->setStyle(QCPItemTracer::tsCircle);
        c.marker->setSize(8);
        c.tag = new QCPItemText(this);
        c.tag->position->setTypeX(QCPItemPosition::ptPlotCoords);
        c.tag->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
        c.tag->setPositionAlignment(Qt::AlignLeft | Qt::AlignTop);
        c.tag->setText(i == 0 ? "C1" : "C2");
        c.tag->setFont(QFont("DejaVu Sans", 8, QFont::Bold));
        c.tag->setPadding(QMargins(3, 1, 3, 1));
        c.tag->setClipToAxisRect(true);
        for (QCPAbstractItem* item :
             std::initializer_list<QCPAbstractItem*>{c.line, c.marker, c.tag})
            item->setSelectable(false);
    }
}

void WaveformGraph::applyColors(const GraphState& g) {
    if (g.backgroundColor == background_ && g.gridColor == grid_ && g.axisTextColor == axisText_)
        return;
    background_ = g.backgroundColor;
    grid_ = g.gridColor;
    axisText_ = g.axisTextColor;
    axisRect()->setBackground(rgb(background_));
    const QColor text = rgb(axisText_);
    for (QCPAxis* a : {xAxis, yAxis}) {
        a->grid()->setPen(QPen(rgb(grid_), 1, Qt::DotLine));
        a->setBasePen(QPen(text, 1));
        a->setTickPen(QPen(text, 1));
        a->setSubTickPen(QPen(text, 1));
        a->setTickLabelColor(text);
        a->setLabelColor(text);
    }
    legend->setBrush(rgb(background_));
    legend->setBorderPen(QPen(rgb(grid_), 1));
    legend->setTextColor(text);
}

void WaveformGraph::placeCursor(Cursor& c) {
    c.line->start->setCoords(c.x, 0);
    c.line->end->setCoords(c.x, 1);
    c.marker->position->setCoords(c.x, c.y);
    // C2's tag hangs a little lower, so both stay readable when the cursors coincide.
    c.tag->position->setCoords(c.x, &c == &cursors_[1] ? 0.05 : 0.0);
}

void WaveformGraph::sync(const GraphState& g) {
    bool changed = false;
    if (g.backgroundColor != background_ || g.gridColor != grid_ || g.axisTextColor != axisText_) {
        applyColors(g);
        changed = true;
    }
    const QString xName = QString::fromStdString(g.xName), yName = QString::fromStdString(g.yName);
    if (xAxis->label() != xName || yAxis->label() != yName) {
        xAxis->setLabel(xName);
        yAxis->setLabel(yName);
        changed = true;
    }
    const int precision = std::clamp(g.yPrecision, 0, 9);
    if (yAxis->numberPrecision() != precision) {
        yAxis->setNumberPrecision(precision);
        changed = true;
    }

    if (g.plotGeneration != generation_) {
        generation_ = g.plotGeneration;
        changed = true;
        std::map<int, QCPGraph*> kept;
        bool named = false;
        for (const PlotState& p : g.plots) {
            if (p.handle == 0) continue;
            QCPGraph*& graph = kept[p.handle];
            auto old = graphs_.find(p.handle);
            if (old != graphs_.end()) {
                graph = old->second;
                graphs_.erase(old);
            } else {
                graph = addGraph();
            }
            graph->setPen(QPen(rgb(p.color), penWidth(p.style)));
            graph->setName(QString::fromStdString(p.name));
            if (p.name.empty())
                graph->removeFromLegend();
            else
                graph->addToLegend();
            named = named || !p.name.empty();
            graph->setLineStyle(QCPGraph::lsLine);
            QVector<double> x(p.count), y(p.count);
            std::copy(p.x.begin(), p.x.begin() + p.count, x.begin());
            std::copy(p.y.begin(), p.y.begin() + p.count, y.begin());
            graph->setData(x, y, std::is_sorted(x.begin(), x.end()));
        }
        for (auto& [handle, graph] : graphs_) removeGraph(graph);
        graphs_ = std::move(kept);
        legend->setVisible(named);
    }

    // x follows the data (or the model's fixed range); y is the model's fixed range.
    double lo = g.xMin, hi = g.xMax;
    if (g.xAuto) {
        lo = INFINITY, hi = -INFINITY;
        for (const PlotState& p : g.plots)
            for (int i = 0; p.handle != 0 && i < p.count; ++i) {
                double v = p.x[static_cast<std::size_t>(i)];
                if (!std::isfinite(v)) continue;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
    }
    if (std::isfinite(lo) && std::isfinite(hi) && lo < hi &&
        (xAxis->range().lower != lo || xAxis->range().upper != hi)) {
        xAxis->setRange(lo, hi);
        changed = true;
    }
    if (std::isfinite(g.yMin) && std::isfinite(g.yMax) && g.yMin < g.yMax &&
        (yAxis->range().lower != g.yMin || yAxis->range().upper != g.yMax)) {
        yAxis->setRange(g.yMin, g.yMax);
        changed = true;
    }

    for (int i = 0; i < 2; ++i) {
        Cursor& c = cursors_[i];
        const CursorState& m = g.cursors[static_cast<std::size_t>(i)];
        if (m.color != c.color) {
            c.color = m.color;
            const QColor col = rgb(m.color);
            c.line->setPen(QPen(col, 1.3, Qt::DashLine));
            c.marker->setPen(QPen(col, 1.6));
            c.marker->setBrush(Qt::NoBrush);
            // Dark text on a light cursor colour, white on the light scheme's deep blue and red.
            c.tag->setColor(col.lightness() > 140 ? QColor(16, 18, 22) : QColor(255, 255, 255));
            c.tag->setBrush(col);
            changed = true;
        }
        if ((m.x != c.x || m.y != c.y) && dragging_ != i + 1) {
            c.x = m.x;
            c.y = m.y;
            placeCursor(c);
            changed = true;
        }
    }
    if (changed) replot(QCustomPlot::rpQueuedReplot);
}

int WaveformGraph::cursorPixel(int which) const {
    return static_cast<int>(std::lround(xAxis->coordToPixel(cursors_[which == 2 ? 1 : 0].x)));
}

void WaveformGraph::moveCursorTo(int which, const QPointF& pos) {
    const QRect r = axisRect()->rect();
    const double px = std::clamp(pos.x(), double(r.left()), double(r.right()));
    const double py = std::clamp(pos.y(), double(r.top()), double(r.bottom()));
    // The model snaps the cursor onto the trace when it is in snap mode.
    platform::panel().setCursor(which, xAxis->pixelToCoord(px), yAxis->pixelToCoord(py));
    double x = 0, y = 0;
    platform::panel().cursor(which, x, y);
    Cursor& c = cursors_[which - 1];
    c.x = x;
    c.y = y;
    placeCursor(c);
    replot(QCustomPlot::rpQueuedReplot);
}

void WaveformGraph::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        if (onEvent) onEvent(EVENT_RIGHT_CLICK);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton || !axisRect()->rect().contains(event->pos())) {
        QCustomPlot::mousePressEvent(event);
        return;
    }
    // The nearer cursor follows the pointer from the press on.
    const double d1 = std::abs(cursorPixel(1) - event->position().x());
    const double d2 = std::abs(cursorPixel(2) - event->position().x());
    dragging_ = d2 < d1 ? 2 : 1;
    moveCursorTo(dragging_, event->position());
    event->accept();
}

void WaveformGraph::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        moveCursorTo(dragging_, event->position());
        event->accept();
        return;
    }
    const QRect r = axisRect()->rect();
    bool near = r.contains(event->pos()) && (std::abs(cursorPixel(1) - event->position().x()) < 6 ||
                                             std::abs(cursorPixel(2) - event->position().x()) < 6);
    setCursor(near ? Qt::SizeHorCursor : Qt::CrossCursor);
    QCustomPlot::mouseMoveEvent(event);
}

void WaveformGraph::mouseReleaseEvent(QMouseEvent* event) {
    if (dragging_ && event->button() == Qt::LeftButton) {
        moveCursorTo(dragging_, event->position());
        dragging_ = 0;
        if (onEvent) onEvent(EVENT_COMMIT);
        event->accept();
        return;
    }
    QCustomPlot::mouseReleaseEvent(event);
}

} // namespace platform::qt
