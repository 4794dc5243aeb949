// Display > Eye Diagram...: a window beside the panel (not modal) with the bit rate, pattern,
// coding, jitter, noise and mask, redrawn after each acquisition, with PNG and CSV export.
#pragma once

#include "platform/eye_service.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QDoubleSpinBox;
class QLabel;

namespace platform::qt {

class EyeWindow : public QWidget {
    Q_OBJECT
  public:
    EyeWindow(platform::EyeService& service, QWidget* parent = nullptr);
    // Draws the eye of the trace now; the window also does so after each new trace.
    void redraw();
    long redraws() const { return redraws_; }
    QCustomPlot* plot() const { return plot_; }
    QLabel* status() const { return status_; }

  private:
    platform::EyeRequest request() const;
    void savePng();
    void saveCsv();

    platform::EyeService& service_;
    QDoubleSpinBox *rate_, *rj_, *noise_, *maskWidth_, *maskHeight_;
    QComboBox *source_, *pattern_, *coding_, *mask_;
    QCustomPlot* plot_;
    QLabel* status_;
    std::uint64_t drawn_ = ~std::uint64_t{0};
    long redraws_ = 0;
    std::string csv_;
};

} // namespace platform::qt
