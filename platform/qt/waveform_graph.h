// The waveform graph: the model's plots, axes and colours on a QCustomPlot, with two cursors
// the user drags.
#pragma once

#include "platform/panel_model.h"

#include <qcustomplot.h>

#include <functional>
#include <map>

namespace platform::qt {

class WaveformGraph : public QCustomPlot {
    Q_OBJECT
  public:
    explicit WaveformGraph(QWidget* parent = nullptr);

    // Mirrors the graph state; at most one (queued) replot however much changed.
    void sync(const GraphState& g);
    // Finished replots since construction (a new trace must cost exactly one).
    long replots() const { return replots_; }
    int graphsShown() const { return static_cast<int>(graphs_.size()); }
    // Pixel column of a cursor, for tests that drag it like a user.
    int cursorPixel(int which) const;

    // Commit (a cursor was moved) and right-click, delivered to the graph's callback.
    std::function<void(int event)> onEvent;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    struct Cursor {
        QCPItemLine* line = nullptr;
        QCPItemTracer* marker = nullptr;
        QCPItemText* tag = nullptr;
        double x = 0.0, y = 0.0;
        int color = -1;
    };
    void moveCursorTo(int which, const QPointF& pos);
    void placeCursor(Cursor& c);
    void applyColors(const GraphState& g);

    std::map<int, QCPGraph*> graphs_; // by plot handle
    std::uint64_t generation_ = ~std::uint64_t{0};
    Cursor cursors_[2];
    int dragging_ = 0; // 1 or 2 while a cursor is dragged
    int background_ = -1, grid_ = -1, axisText_ = -1;
    long replots_ = 0;
};

} // namespace platform::qt
