// Thread-safe store of every control, menu item, the graph and the log: the program's single
// source of screen state. Any thread may read or write; the Qt view mirrors it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

enum class CtrlKind {
    Toggle,
    Command,
    TextBox,
    String,
    Ring,
    Numeric,
    Slide,
    Decoration,
    TextMessage,
    Graph,
    Led
};

// Colours are 0xRRGGBB.
constexpr int makeColor(int r, int g, int b) {
    return (r << 16) | (g << 8) | b;
}

struct RingItem {
    std::string label;
    int value = 0;
};

struct ControlState {
    int id = 0;
    CtrlKind kind = CtrlKind::Decoration;
    std::string name;
    std::string label;
    double value = 0.0;
    std::string text;
    std::vector<RingItem> items;
    int ringIndex = 0;
    bool dimmed = false;
    bool visible = true;
    double minValue = -1e300;
    double maxValue = 1e300;
    int precision = 3;
    bool integer = false;
    int textBgColor = makeColor(255, 255, 255);
    int textColor = makeColor(0, 0, 0);
    int left = 0, top = 0, width = 100, height = 20;
    int labelLeft = 0;   // label position, moved separately for the window-end slide
    int displayLeft = 0; // digital display position of a slide
};

// The live trace, the stored waveform and eight reference traces, with room to spare.
constexpr int kMaxPlots = 12;
constexpr int kMaxPlotPoints = 1024;

struct PlotState {
    int handle = 0; // 0: slot free
    std::array<double, kMaxPlotPoints> x{};
    std::array<double, kMaxPlotPoints> y{};
    int count = 0;
    int color = 0;
    int style = 0;
    int lineStyle = 0;
    std::string name; // in the graph's legend when not empty
};

struct CursorState {
    double x = 0.0;
    double y = 0.0;
    int mode = 1; // 0 free-form, 1 snap to point
    int color = 0;
};

struct GraphState {
    std::array<PlotState, kMaxPlots> plots{};
    bool xAuto = true;
    double xMin = 0.0, xMax = 1.0;
    double yMin = 0.0, yMax = 500.0;
    std::string xName, yName;
    int yPrecision = 0;
    std::array<CursorState, 2> cursors{};
    int backgroundColor = makeColor(32, 32, 32);
    int gridColor = makeColor(80, 80, 80);
    int axisTextColor = makeColor(255, 255, 255);
    std::uint64_t plotGeneration = 0; // bumped when plot data change
};

struct MenuItemState {
    int id = 0;
    int parent = 0; // 0 for a top-level menu
    std::string name;
    std::string label;
    bool separator = false;
    bool checked = false;
    bool dimmed = false;
};

struct PanelSnapshot {
    std::string title;
    int width = 0, height = 0;
    int minWidth = 0, minHeight = 0;
    std::vector<ControlState> controls;
    std::vector<MenuItemState> menu;
    GraphState graph;
    std::string busyText; // empty when the program shows no busy indication
    std::uint64_t version = 0;
};

class PanelModel {
  public:
    // Building (start-up only).
    void reset();
    void setPanel(const std::string& title, int width, int height, int minWidth, int minHeight);
    void addControl(const ControlState& c);
    void addMenuItem(const MenuItemState& m);

    // Panel.
    std::string title() const;
    void panelSize(int& width, int& height) const;
    void setPanelSize(int width, int height);

    // Control values. Numeric values are coerced into [min, max] (and rounded when integer).
    double value(int id) const;
    int intValue(int id) const; // ring: value of the current item
    void setValue(int id, double v);
    std::string text(int id) const;
    void setText(int id, const std::string& s);
    void appendText(int id, const std::string& s);

    // Attributes.
    bool dimmed(int id) const;
    void setDimmed(int id, bool d);
    std::string label(int id) const;
    void setLabel(int id, const std::string& s);
    void setRange(int id, double lo, double hi);
    void range(int id, double& lo, double& hi) const;
    void setPrecision(int id, int digits);
    int precision(int id) const;
    void setTextBgColor(int id, int color);
    int textBgColor(int id) const;
    void setTextColor(int id, int color);
    int textColor(int id) const;
    void geometry(int id, int& left, int& top, int& width, int& height) const;
    void setGeometry(int id, int left, int top, int width, int height);
    int labelLeft(int id) const;
    void setLabelLeft(int id, int left);
    int displayLeft(int id) const;
    void setDisplayLeft(int id, int left);
    void setVisible(int id, bool v);

    // Rings: items carry a value distinct from their position.
    void ringInsert(int id, int position, const std::string& label, int value); // -1 appends
    void ringReplace(int id, int position, const std::string& label, int value);
    void ringDelete(int id, int position, int count);
    void ringClear(int id);
    void ringSetIndex(int id, int position);
    int ringIndex(int id) const;
    int ringCount(int id) const;
    std::vector<RingItem> ringItems(int id) const;
    // Select the item holding this value; false when none does.
    bool ringSetValue(int id, int value);

    // Menu bar.
    bool menuChecked(int id) const;
    void setMenuChecked(int id, bool c);
    bool menuDimmed(int id) const;
    void setMenuDimmed(int id, bool d);
    std::string menuLabel(int id) const;

    // Graph (there is one). PlotXY keeps at most 1024 points and returns a handle, 0 when full.
    int plotXY(const double* x, const double* y, int n, int color, int style, int lineStyle);
    void deletePlot(int handle); // 0 or -1 deletes every plot
    void setPlotName(int handle, const std::string& name);
    bool plotExists(int handle) const;
    int plotCount(int handle) const;
    void plotData(int handle, std::vector<double>& x, std::vector<double>& y) const;
    void setXAutoscale();
    void setYRange(double lo, double hi);
    void yRange(double& lo, double& hi) const;
    bool xAutoscale() const;
    void setAxisNames(const std::string& x, const std::string& y);
    void setXAxisName(const std::string& x);
    void setYAxisName(const std::string& y);
    std::string xAxisName() const;
    std::string yAxisName() const;
    void setYLabelPrecision(int digits);
    int yLabelPrecision() const;
    void cursor(int which, double& x, double& y) const; // which is 1 or 2
    // Moves a cursor; in snap mode it lands on the nearest point of the newest plot.
    void setCursor(int which, double x, double y);
    void setCursorMode(int which, int mode);
    int cursorMode(int which) const;
    void setCursorColor(int which, int color);
    int cursorColor(int which) const;
    void setGraphColors(int background, int grid, int axisText);
    void graphColors(int& background, int& grid, int& axisText) const;
    void refreshGraph();

    // A busy indication over the panel while long instrument work runs on the GUI thread
    // (what it is doing and how far it got); empty clears it.
    void setBusyText(const std::string& text);
    std::string busyText() const;

    PanelSnapshot snapshot() const;
    std::uint64_t version() const { return version_.load(); }

    // Called after every write, outside the lock; the view coalesces these into one refresh.
    void setChangeListener(std::function<void()> listener);

  private:
    ControlState* find(int id);
    const ControlState* find(int id) const;
    MenuItemState* findMenu(int id);
    const MenuItemState* findMenu(int id) const;
    PlotState* findPlot(int handle);
    const PlotState* findPlot(int handle) const;
    void coerce(ControlState& c);
    void snapCursor(CursorState& c) const;
    void changed();

    mutable std::mutex mutex_;
    std::string title_;
    int width_ = 0, height_ = 0, minWidth_ = 0, minHeight_ = 0;
    std::vector<ControlState> controls_;
    std::vector<MenuItemState> menu_;
    GraphState graph_;
    std::string busyText_;
    int nextPlotHandle_ = 1;
    std::atomic<std::uint64_t> version_{0};
    std::function<void()> listener_;
    std::mutex listenerMutex_;
};

// The program's one panel.
PanelModel& panel();

} // namespace platform
