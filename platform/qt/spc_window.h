// Display > Statistics...: a window beside the panel (not modal) with the X-bar and R charts and
// the capability of a recipe's recorded results, read again after each record stored.
#pragma once

#include "platform/spc_chart.h"

#include <QWidget>

class QComboBox;
class QCustomPlot;
class QLabel;
class QSpinBox;

namespace platform::qt {

class StatisticsWindow : public QWidget {
    Q_OBJECT
  public:
    StatisticsWindow(platform::SpcService& service, QWidget* parent = nullptr);
    void redraw();
    long redraws() const { return redraws_; }
    QLabel* summary() const { return summary_; }

  private:
    platform::SpcService& service_;
    QComboBox *recipe_, *zone_;
    QSpinBox *subgroup_, *last_;
    QCustomPlot* plot_;
    QLabel* summary_;
    std::uint64_t drawn_ = ~std::uint64_t{0};
    long redraws_ = 0;
};

} // namespace platform::qt
