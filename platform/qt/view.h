// The panel window: built from the declarative control and menu tables, mirroring the panel
// model, and turning the user's edits into model writes followed by the control's callback.
#pragma once

#include "platform/panel_model.h"
#include "platform/panel_table.h"

#include <QMainWindow>

#include <atomic>
#include <functional>
#include <map>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSlider;

namespace platform::qt {

class CommitSpinBox;
class LedWidget;
class WaveformGraph;

class PanelWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit PanelWindow(const PanelTable& table, QWidget* parent = nullptr);
    ~PanelWindow() override;

    // Size of the panel area (the window without its menu bar).
    QSize panelAreaSize() const;
    WaveformGraph* graph() const { return graph_; }
    QAction* menuAction(int id) const;
    // Refreshes handled so far (bursts of model writes coalesce into one).
    long refreshes() const { return refreshes_; }
    // Called with (control, event) just before a control's callback runs.
    void setDispatchObserver(std::function<void(int control, int event)> observer) {
        observer_ = std::move(observer);
    }

    // Brings every widget in line with the model now (normally queued by the change listener).
    void refresh();
    // Station mode: the controls that change the set-up dimmed and the table's menus hidden,
    // whatever the model says; the graph and the read-outs stay live.
    void setLocked(bool locked);
    bool locked() const { return locked_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    const PanelTable& table_;
    struct Control {
        const ControlDef* def = nullptr;
        QWidget* widget = nullptr; // the value widget; for a slide its digital display
        QLabel* caption = nullptr;
        QSlider* slider = nullptr;
        std::size_t logShown = 0; // bytes of the log already on screen
        bool readOnly = false;
        platform::ControlState last; // what the widget shows
        bool synced = false;
    };

    void buildControls(QWidget* area);
    void buildMenu();
    void createWidget(Control& c, QWidget* area);
    void watchRightClicks(QWidget* w, int id);
    void syncControl(Control& c, const platform::ControlState& s);
    void syncValue(Control& c, const platform::ControlState& s);
    void layoutControl(Control& c, const platform::ControlState& s);
    void syncMenu(const platform::PanelSnapshot& s);
    void dispatch(int id, int event);
    void commitNumeric(Control& c);
    void commitSlider(Control& c);
    double sliderValue(const Control& c) const;
    void panelResized(int width, int height);
    void scheduleRefresh();
    void syncBusy(const std::string& text);
    Control* find(int id);
    int backdropColorAt(const QRect& r, const platform::PanelSnapshot& s) const;

    class PanelArea;
    PanelArea* area_ = nullptr;
    WaveformGraph* graph_ = nullptr;
    QLabel* busy_ = nullptr; // the busy indication over the graph
    std::vector<Control> controls_;
    std::map<int, QAction*> actions_;
    std::atomic<bool> dirty_{false};
    bool syncing_ = false;
    bool locked_ = false;
    long refreshes_ = 0;
    int modelWidth_ = 0, modelHeight_ = 0; // last panel size agreed with the model
    std::function<void(int, int)> observer_;
};

} // namespace platform::qt
