// Panel model: one mutex around all screen state; writes bump a version and notify the view.
#include "platform/panel_model.h"

#include <algorithm>
#include <cmath>

namespace platform {

PanelModel& panel() {
    static PanelModel model;
    return model;
}

void PanelModel::reset() {
    {
        std::lock_guard lock(mutex_);
        title_.clear();
        width_ = height_ = minWidth_ = minHeight_ = 0;
        controls_.clear();
        menu_.clear();
        graph_ = GraphState{};
        busyText_.clear();
        nextPlotHandle_ = 1;
    }
    changed();
}

void PanelModel::setPanel(const std::string& title, int width, int height, int minWidth,
                          int minHeight) {
    {
        std::lock_guard lock(mutex_);
        title_ = title;
        width_ = width;
        height_ = height;
        minWidth_ = minWidth;
        minHeight_ = minHeight;
    }
    changed();
}

void PanelModel::addControl(const ControlState& c) {
    {
        std::lock_guard lock(mutex_);
        controls_.push_back(c);
        // Read-outs are rewritten on every acquisition; room up front keeps that allocation-free.
        controls_.back().text.reserve(256);
        coerce(controls_.back());
    }
    changed();
}

void PanelModel::addMenuItem(const MenuItemState& m) {
    {
        std::lock_guard lock(mutex_);
        menu_.push_back(m);
    }
    changed();
}

ControlState* PanelModel::find(int id) {
    for (auto& c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}
const ControlState* PanelModel::find(int id) const {
    for (auto& c : controls_)
        if (c.id == id) return &c;
    return nullptr;
}
MenuItemState* PanelModel::findMenu(int id) {
    for (auto& m : menu_)
        if (m.id == id) return &m;
    return nullptr;
}
const MenuItemState* PanelModel::findMenu(int id) const {
    for (auto& m : menu_)
        if (m.id == id) return &m;
    return nullptr;
}
PlotState* PanelModel::findPlot(int handle) {
    if (handle <= 0) return nullptr;
    for (auto& p : graph_.plots)
        if (p.handle == handle) return &p;
    return nullptr;
}
const PlotState* PanelModel::findPlot(int handle) const {
    if (handle <= 0) return nullptr;
    for (auto& p : graph_.plots)
        if (p.handle == handle) return &p;
    return nullptr;
}

void PanelModel::coerce(ControlState& c) {
    if (c.kind == CtrlKind::Numeric || c.kind == CtrlKind::Slide) {
        if (std::isnan(c.value)) return;
        c.value = std::clamp(c.value, c.minValue, c.maxValue);
        if (c.integer) c.value = std::round(c.value);
    }
}

void PanelModel::changed() {
    version_.fetch_add(1);
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_();
}

void PanelModel::setChangeListener(std::function<void()> listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

std::string PanelModel::title() const {
    std::lock_guard lock(mutex_);
    return title_;
}

void PanelModel::panelSize(int& width, int& height) const {
    std::lock_guard lock(mutex_);
    width = width_;
    height = height_;
}

void PanelModel::setPanelSize(int width, int height) {
    {
        std::lock_guard lock(mutex_);
        width_ = width;
        height_ = height;
    }
    changed();
}

double PanelModel::value(int id) const {
    std::lock_guard lock(mutex_);
    const ControlState* c = find(id);
    if (!c) return 0.0;
    if (c->kind == CtrlKind::Ring) {
        if (c->ringIndex < 0 || c->ringIndex >= static_cast<int>(c->items.size())) return 0.0;
        return c->items[static_cast<size_t>(c->ringIndex)].value;
    }
    return c->value;
}

int PanelModel::intValue(int id) const {
    double v = value(id);
    if (std::isnan(v)) return 0;
    return static_cast<int>(std::lround(v));
}

void PanelModel::setValue(int id, double v) {
    {
        std::lock_guard lock(mutex_);
        ControlState* c = find(id);
        if (!c) return;
        if (c->kind == CtrlKind::Ring) {
            for (size_t i = 0; i < c->items.size(); ++i)
                if (c->items[i].value == static_cast<int>(std::lround(v))) {
                    c->ringIndex = static_cast<int>(i);
                    break;
                }
        } else {
            c->value = v;
            coerce(*c);
        }
    }
    changed();
}

std::string PanelModel::text(int id) const {
    std::lock_guard lock(mutex_);
    const ControlState* c = find(id);
    return c ? c->text : std::string();
}

void PanelModel::setText(int id, const std::string& s) {
    {
        std::lock_guard lock(mutex_);
        ControlState* c = find(id);
        if (!c) return;
        c->text.assign(s);
    }
    changed();
}

void PanelModel::appendText(int id, const std::string& s) {
    {
        std::lock_guard lock(mutex_);
        ControlState* c = find(id);
        if (!c) return;
        c->text.append(s);
    }
    changed();
}

#define VELT_GETTER(type, expr, fallback)                                                          \
    std::lock_guard lock(mutex_);                                                                  \
    const ControlState* c = find(id);                                                              \
    return c ? static_cast<type>(expr) : (fallback)

#define VELT_SETTER(...)                                                                           \
    {                                                                                              \
        std::lock_guard lock(mutex_);                                                              \
        ControlState* c = find(id);                                                                \
        if (!c) return;                                                                            \
        __VA_ARGS__;                                                                               \
    }                                                                                              \
    changed()

bool PanelModel::dimmed(int id) const {
    VELT_GETTER(bool, c->dimmed, false);
}
void PanelModel::setDimmed(int id, bool d) {
    VELT_SETTER(c->dimmed = d);
}
std::string PanelModel::label(int id) const {
    VELT_GETTER(std::string, c->label, std::string());
}
void PanelModel::setLabel(int id, const std::string& s) {
    VELT_SETTER(c->label = s);
}
void PanelModel::setRange(int id, double lo, double hi) {
    VELT_SETTER(c->minValue = lo; c->maxValue = hi; coerce(*c));
}
void PanelModel::range(int id, double& lo, double& hi) const {
    std::lock_guard lock(mutex_);
    const ControlState* c = find(id);
    lo = c ? c->minValue : 0.0;
    hi = c ? c->maxValue : 0.0;
}
void PanelModel::setPrecision(int id, int digits) {
    VELT_SETTER(c->precision = digits);
}
int PanelModel::precision(int id) const {
    VELT_GETTER(int, c->precision, 0);
}
void PanelModel::setTextBgColor(int id, int color) {
    VELT_SETTER(c->textBgColor = color);
}
int PanelModel::textBgColor(int id) const {
    VELT_GETTER(int, c->textBgColor, 0);
}
void PanelModel::setTextColor(int id, int color) {
    VELT_SETTER(c->textColor = color);
}
int PanelModel::textColor(int id) const {
    VELT_GETTER(int, c->textColor, 0);
}
void PanelModel::geometry(int id, int& left, int& top, int& width, int& height) const {
    std::lock_guard lock(mutex_);
    const ControlState* c = find(id);
    if (!c) {
        left = top = width = height = 0;
        return;
    }
    left = c->left;
    top = c->top;
    width = c->width;
    height = c->height;
}
void PanelModel::setGeometry(int id, int left, int top, int width, int height) {
    VELT_SETTER(c->left = left; c->top = top; c->width = width; c->height = height);
}
int PanelModel::labelLeft(int id) const {
    VELT_GETTER(int, c->labelLeft, 0);
}
void PanelModel::setLabelLeft(int id, int left) {
    VELT_SETTER(c->labelLeft = left);
}
int PanelModel::displayLeft(int id) const {
    VELT_GETTER(int, c->displayLeft, 0);
}
void PanelModel::setDisplayLeft(int id, int left) {
    VELT_SETTER(c->displayLeft = left);
}
void PanelModel::setVisible(int id, bool v) {
    VELT_SETTER(c->visible = v);
}

void PanelModel::ringInsert(int id, int position, const std::string& label, int value) {
    VELT_SETTER({
        auto pos = (position < 0 || position > static_cast<int>(c->items.size()))
                       ? c->items.end()
                       : c->items.begin() + position;
        c->items.insert(pos, RingItem{label, value});
    });
}
void PanelModel::ringReplace(int id, int position, const std::string& label, int value) {
    VELT_SETTER({
        if (position >= 0 && position < static_cast<int>(c->items.size()))
            c->items[static_cast<size_t>(position)] = RingItem{label, value};
    });
}
void PanelModel::ringDelete(int id, int position, int count) {
    VELT_SETTER({
        int size = static_cast<int>(c->items.size());
        if (position >= 0 && position < size && count > 0) {
            int end = std::min(size, position + count);
            c->items.erase(c->items.begin() + position, c->items.begin() + end);
            if (c->ringIndex >= static_cast<int>(c->items.size()))
                c->ringIndex = std::max(0, static_cast<int>(c->items.size()) - 1);
        }
    });
}
void PanelModel::ringClear(int id) {
    VELT_SETTER(c->items.clear(); c->ringIndex = 0);
}
void PanelModel::ringSetIndex(int id, int position) {
    VELT_SETTER({
        if (position >= 0 && position < static_cast<int>(c->items.size())) c->ringIndex = position;
    });
}
int PanelModel::ringIndex(int id) const {
    VELT_GETTER(int, c->ringIndex, 0);
}
int PanelModel::ringCount(int id) const {
    VELT_GETTER(int, c->items.size(), 0);
}
std::vector<RingItem> PanelModel::ringItems(int id) const {
    VELT_GETTER(std::vector<RingItem>, c->items, std::vector<RingItem>{});
}
bool PanelModel::ringSetValue(int id, int value) {
    bool found = false;
    {
        std::lock_guard lock(mutex_);
        ControlState* c = find(id);
        if (!c) return false;
        for (size_t i = 0; i < c->items.size(); ++i)
            if (c->items[i].value == value) {
                c->ringIndex = static_cast<int>(i);
                found = true;
                break;
            }
    }
    if (found) changed();
    return found;
}

bool PanelModel::menuChecked(int id) const {
    std::lock_guard lock(mutex_);
    const MenuItemState* m = findMenu(id);
    return m && m->checked;
}
void PanelModel::setMenuChecked(int id, bool checked) {
    {
        std::lock_guard lock(mutex_);
        MenuItemState* m = findMenu(id);
        if (!m) return;
        m->checked = checked;
    }
    changed();
}
bool PanelModel::menuDimmed(int id) const {
    std::lock_guard lock(mutex_);
    const MenuItemState* m = findMenu(id);
    return m && m->dimmed;
}
void PanelModel::setMenuDimmed(int id, bool d) {
    {
        std::lock_guard lock(mutex_);
        MenuItemState* m = findMenu(id);
        if (!m) return;
        m->dimmed = d;
    }
    changed();
}
std::string PanelModel::menuLabel(int id) const {
    std::lock_guard lock(mutex_);
    const MenuItemState* m = findMenu(id);
    return m ? m->label : std::string();
}

int PanelModel::plotXY(const double* x, const double* y, int n, int color, int style,
                       int lineStyle) {
    int handle = 0;
    {
        std::lock_guard lock(mutex_);
        for (auto& p : graph_.plots) {
            if (p.handle != 0) continue;
            handle = nextPlotHandle_++;
            p.handle = handle;
            p.count = std::clamp(n, 0, kMaxPlotPoints);
            std::copy(x, x + p.count, p.x.begin());
            std::copy(y, y + p.count, p.y.begin());
            p.color = color;
            p.style = style;
            p.lineStyle = lineStyle;
            p.name.clear();
            break;
        }
        if (handle) {
            ++graph_.plotGeneration;
            for (auto& c : graph_.cursors)
                if (c.mode == 1) snapCursor(c);
        }
    }
    if (handle) changed();
    return handle;
}

void PanelModel::deletePlot(int handle) {
    {
        std::lock_guard lock(mutex_);
        for (auto& p : graph_.plots)
            if (handle <= 0 || p.handle == handle) {
                p.handle = 0;
                p.count = 0;
            }
        ++graph_.plotGeneration;
    }
    changed();
}

void PanelModel::setPlotName(int handle, const std::string& name) {
    {
        std::lock_guard lock(mutex_);
        PlotState* p = findPlot(handle);
        if (!p || p->name == name) return;
        p->name = name;
        ++graph_.plotGeneration;
    }
    changed();
}

bool PanelModel::plotExists(int handle) const {
    std::lock_guard lock(mutex_);
    return findPlot(handle) != nullptr;
}

int PanelModel::plotCount(int handle) const {
    std::lock_guard lock(mutex_);
    const PlotState* p = findPlot(handle);
    return p ? p->count : 0;
}

void PanelModel::plotData(int handle, std::vector<double>& x, std::vector<double>& y) const {
    std::lock_guard lock(mutex_);
    const PlotState* p = findPlot(handle);
    x.clear();
    y.clear();
    if (!p) return;
    x.assign(p->x.begin(), p->x.begin() + p->count);
    y.assign(p->y.begin(), p->y.begin() + p->count);
}

void PanelModel::setXAutoscale() {
    {
        std::lock_guard lock(mutex_);
        graph_.xAuto = true;
    }
    changed();
}
void PanelModel::setYRange(double lo, double hi) {
    {
        std::lock_guard lock(mutex_);
        graph_.yMin = lo;
        graph_.yMax = hi;
    }
    changed();
}
void PanelModel::yRange(double& lo, double& hi) const {
    std::lock_guard lock(mutex_);
    lo = graph_.yMin;
    hi = graph_.yMax;
}
bool PanelModel::xAutoscale() const {
    std::lock_guard lock(mutex_);
    return graph_.xAuto;
}
void PanelModel::setAxisNames(const std::string& x, const std::string& y) {
    {
        std::lock_guard lock(mutex_);
        graph_.xName = x;
        graph_.yName = y;
    }
    changed();
}
void PanelModel::setXAxisName(const std::string& x) {
    {
        std::lock_guard lock(mutex_);
        graph_.xName = x;
    }
    changed();
}
void PanelModel::setYAxisName(const std::string& y) {
    {
        std::lock_guard lock(mutex_);
        graph_.yName = y;
    }
    changed();
}
std::string PanelModel::xAxisName() const {
    std::lock_guard lock(mutex_);
    return graph_.xName;
}
std::string PanelModel::yAxisName() const {
    std::lock_guard lock(mutex_);
    return graph_.yName;
}
void PanelModel::setYLabelPrecision(int digits) {
    {
        std::lock_guard lock(mutex_);
        graph_.yPrecision = digits;
    }
    changed();
}
int PanelModel::yLabelPrecision() const {
    std::lock_guard lock(mutex_);
    return graph_.yPrecision;
}

void PanelModel::snapCursor(CursorState& c) const {
    // The newest plot is the one a cursor follows.
    const PlotState* newest = nullptr;
    for (auto& p : graph_.plots)
        if (p.handle != 0 && p.count > 0 && (!newest || p.handle > newest->handle)) newest = &p;
    if (!newest) return;
    int best = 0;
    double bestDist = std::abs(newest->x[0] - c.x);
    for (int i = 1; i < newest->count; ++i) {
        double d = std::abs(newest->x[static_cast<size_t>(i)] - c.x);
        if (d < bestDist) {
            bestDist = d;
            best = i;
        }
    }
    c.x = newest->x[static_cast<size_t>(best)];
    c.y = newest->y[static_cast<size_t>(best)];
}

void PanelModel::cursor(int which, double& x, double& y) const {
    std::lock_guard lock(mutex_);
    const CursorState& c = graph_.cursors[which == 2 ? 1 : 0];
    x = c.x;
    y = c.y;
}
void PanelModel::setCursor(int which, double x, double y) {
    {
        std::lock_guard lock(mutex_);
        CursorState& c = graph_.cursors[which == 2 ? 1 : 0];
        c.x = x;
        c.y = y;
        if (c.mode == 1) snapCursor(c);
    }
    changed();
}
void PanelModel::setCursorMode(int which, int mode) {
    {
        std::lock_guard lock(mutex_);
        CursorState& c = graph_.cursors[which == 2 ? 1 : 0];
        c.mode = mode;
        if (mode == 1) snapCursor(c);
    }
    changed();
}
int PanelModel::cursorMode(int which) const {
    std::lock_guard lock(mutex_);
    return graph_.cursors[which == 2 ? 1 : 0].mode;
}
void PanelModel::setCursorColor(int which, int color) {
    {
        std::lock_guard lock(mutex_);
        graph_.cursors[which == 2 ? 1 : 0].color = color;
    }
    changed();
}
int PanelModel::cursorColor(int which) const {
    std::lock_guard lock(mutex_);
    return graph_.cursors[which == 2 ? 1 : 0].color;
}
void PanelModel::setGraphColors(int background, int grid, int axisText) {
    {
        std::lock_guard lock(mutex_);
        graph_.backgroundColor = background;
        graph_.gridColor = grid;
        graph_.axisTextColor = axisText;
    }
    changed();
}
void PanelModel::graphColors(int& background, int& grid, int& axisText) const {
    std::lock_guard lock(mutex_);
    background = graph_.backgroundColor;
    grid = graph_.gridColor;
    axisText = graph_.axisTextColor;
}
void PanelModel::refreshGraph() {
    changed();
}

void PanelModel::setBusyText(const std::string& text) {
    {
        std::lock_guard lock(mutex_);
        busyText_.assign(text);
    }
    changed();
}

std::string PanelModel::busyText() const {
    std::lock_guard lock(mutex_);
    return busyText_;
}

PanelSnapshot PanelModel::snapshot() const {
    std::lock_guard lock(mutex_);
    PanelSnapshot s;
    s.title = title_;
    s.width = width_;
    s.height = height_;
    s.minWidth = minWidth_;
    s.minHeight = minHeight_;
    s.controls = controls_;
    s.menu = menu_;
    s.graph = graph_;
    s.busyText = busyText_;
    s.version = version_.load();
    return s;
}

} // namespace platform
