// The operator station over the panel: lot, operator and a serial field that a barcode scanner
// types into, a large PASS / FAIL banner with the zones, the day's counts, the record's fate.
#pragma once

#include "platform/station.h"

#include <QDockWidget>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;

namespace platform::qt {

class PanelWindow;

class StationBar : public QDockWidget {
    Q_OBJECT
  public:
    // Locks the window to the recipe and adds the Station menu.
    StationBar(PanelWindow* window, platform::StationService& service);
    // Once start-up is complete: the recipe applied, lot and operator asked if not given.
    void start();
    QLineEdit* serialField() const { return serial_; }
    QLabel* banner() const { return banner_; }
    QAction* modeAction() const { return mode_; }
    // Puts an item of the window's own menus (Statistics...) in the Station menu, where a
    // locked window still offers it.
    void offer(QAction* action);

  private:
    void scanned();
    void showResult(const platform::StationResult& r);
    void updateCounts();
    void setMode(bool on);

    PanelWindow* window_;
    platform::StationService& service_;
    QLabel *banner_, *zones_, *counts_, *status_;
    QLineEdit *lot_, *operator_, *serial_;
    QCheckBox* certificate_;
    QAction* mode_;
    QMenu* menu_;
    bool busy_ = false, ready_ = false;
};

} // namespace platform::qt
