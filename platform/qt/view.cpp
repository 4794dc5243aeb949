// Panel window: widgets from the control table, refreshed from model snapshots.
#include "platform/qt/view.h"

#include "platform/qt/control_widgets.h"
#include "platform/qt/waveform_graph.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTextCursor>

#include <cmath>

namespace platform::qt {

using platform::CtrlKind;

namespace {

constexpr int kDefaultWhite = platform::makeColor(255, 255, 255);
constexpr int kDefaultBlack = platform::makeColor(0, 0, 0);
constexpr int kCaptionHeight = 16;
constexpr int kSlideDisplayWidth = 84;
constexpr int kSlideGap = 6;
constexpr int kSliderSteps = 1000;
constexpr double kWidgetRange = 1e9; // what a spin box can show; the model keeps the real range

QColor rgb(int c) {
    return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// Default colours of the model stand for "the theme's": the panel is dark whatever scheme the
// graph is in; only colours a program part set on purpose are painted as given.
QString fieldStyle(const platform::ControlState& s) {
    QString css;
    if (s.textBgColor != kDefaultWhite)
        css += QString("background: %1; color: #101010;").arg(rgb(s.textBgColor).name());
    else if (s.textColor != kDefaultBlack)
        css += QString("color: %1;").arg(rgb(s.textColor).name());
    return css;
}

// What a locked station dims: every control that takes input.
bool isSetting(CtrlKind kind) {
    return kind == CtrlKind::Toggle || kind == CtrlKind::Command || kind == CtrlKind::String ||
           kind == CtrlKind::Ring || kind == CtrlKind::Numeric || kind == CtrlKind::Slide;
}

bool shortLabel(const std::string& label) {
    QString t = qs(label).trimmed();
    return !t.isEmpty() && t.size() <= 2;
}

double luminance(int c) {
    return 0.299 * ((c >> 16) & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * (c & 0xFF);
}

} // namespace

// The panel area: controls sit at absolute positions; its size is the panel size.
class PanelWindow::PanelArea : public QWidget {
  public:
    PanelArea(PanelWindow* owner) : QWidget(owner), owner_(owner) {
        setObjectName("PANEL");
        setAutoFillBackground(true);
    }

  protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        owner_->panelResized(width(), height());
    }

  private:
    PanelWindow* owner_;
};

PanelWindow::PanelWindow(const PanelTable& table, QWidget* parent)
    : QMainWindow(parent), table_(table) {
    setWindowTitle(table_.title);
    area_ = new PanelArea(this);
    area_->setMinimumSize(table_.minWidth, table_.minHeight);
    setCentralWidget(area_);
    buildMenu();
    buildControls(area_);
    modelWidth_ = table_.width;
    modelHeight_ = table_.height;
    resize(table_.width, table_.height + menuBar()->sizeHint().height());

    // Any thread may write the model; the first write after a refresh posts the next one, so
    // a burst of writes costs one refresh on the GUI thread.
    platform::panel().setChangeListener([this] {
        if (!dirty_.exchange(true))
            QMetaObject::invokeMethod(this, &PanelWindow::refresh, Qt::QueuedConnection);
    });
    refresh();
    area_->setFocusPolicy(Qt::StrongFocus);
    area_->setFocus(); // no field starts out selected
}

PanelWindow::~PanelWindow() {
    platform::panel().setChangeListener(nullptr);
}

QSize PanelWindow::panelAreaSize() const {
    return area_->size();
}

QAction* PanelWindow::menuAction(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

PanelWindow::Control* PanelWindow::find(int id) {
    for (Control& c : controls_)
        if (c.def->id == id) return &c;
    return nullptr;
}

void PanelWindow::buildMenu() {
    std::map<int, QMenu*> menus;
    for (const MenuItemDef& m : table_.menus) {
        if (m.parent == 0) {
            QMenu* menu = menuBar()->addMenu(m.label ? m.label : "");
            menu->setObjectName(m.name);
            menu->menuAction()->setObjectName(m.name);
            menus[m.id] = menu;
            actions_[m.id] = menu->menuAction();
            continue;
        }
        QMenu* menu = menus.count(m.parent) ? menus[m.parent] : nullptr;
        if (!menu) continue;
        QAction* a = m.label ? menu->addAction(m.label) : menu->addSeparator();
        a->setObjectName(m.name);
        a->setCheckable(m.checked);
        a->setChecked(m.checked);
        actions_[m.id] = a;
        if (!m.label) continue;
        const int id = m.id;
        connect(a, &QAction::triggered, this, [this, id] {
            const MenuItemDef* def = table_.findMenu(id);
            if (observer_) observer_(id, EVENT_COMMIT);
            if (def && def->callback) def->callback(table_.menuBarId, id, nullptr, table_.panelId);
            // Qt toggled the check mark itself; the model decides where it really is.
            scheduleRefresh();
        });
    }
}

void PanelWindow::buildControls(QWidget* area) {
    controls_.reserve(table_.controls.size());
    for (const ControlDef& def : table_.controls) {
        Control c;
        c.def = &def;
        controls_.push_back(c);
    }
    // Backdrops first, so every other control stacks above them.
    for (Control& c : controls_)
        if (c.def->kind == CtrlKind::Decoration) createWidget(c, area);
    for (Control& c : controls_)
        if (c.def->kind != CtrlKind::Decoration) createWidget(c, area);
}

void PanelWindow::createWidget(Control& c, QWidget* area) {
    const ControlDef& d = *c.def;
    const int id = d.id;
    QWidget* w = nullptr;
    switch (d.kind) {
    case CtrlKind::Toggle: {
        auto* b = new QPushButton(d.label, area);
        b->setCheckable(true);
        b->setChecked(d.value != 0);
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QPushButton::clicked, this, [this, id](bool on) {
            platform::panel().setValue(id, on ? 1 : 0);
            dispatch(id, EVENT_COMMIT);
        });
        w = b;
        break;
    }
    case CtrlKind::Command: {
        auto* b = new QPushButton(d.text, area);
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QPushButton::clicked, this, [this, id] { dispatch(id, EVENT_COMMIT); });
        w = b;
        break;
    }
    case CtrlKind::TextBox: {
        auto* t = new QPlainTextEdit(area);
        t->setPlainText(d.text);
        // The program writes the text of a box that has design contents (the log); the others
        // are the user's notes.
        c.readOnly = d.text[0] != '\0';
        t->setReadOnly(c.readOnly);
        t->setLineWrapMode(c.readOnly ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
        if (c.readOnly) c.logShown = std::char_traits<char>::length(d.text);
        connect(t, &QPlainTextEdit::textChanged, this, [this, id, t] {
            if (syncing_ || t->isReadOnly()) return;
            platform::panel().setText(id, t->toPlainText().toStdString());
        });
        w = t;
        break;
    }
    case CtrlKind::String: {
        auto* e = new QLineEdit(d.text, area);
        c.readOnly = d.text[0] != '\0'; // read-outs carry their design text
        e->setReadOnly(c.readOnly);
        if (c.readOnly) e->setFocusPolicy(Qt::NoFocus);
        connect(e, &QLineEdit::textEdited, this,
                [id](const QString& text) { platform::panel().setText(id, text.toStdString()); });
        connect(e, &QLineEdit::editingFinished, this, [this, id, e] {
            if (!e->isReadOnly()) dispatch(id, EVENT_COMMIT);
        });
        w = e;
        break;
    }
    case CtrlKind::Ring: {
        auto* box = new QComboBox(area);
        for (const RingItemDef& item : d.items) box->addItem(item.label, item.value);
        box->setFocusPolicy(Qt::TabFocus);
        connect(box, &QComboBox::activated, this, [this, id](int index) {
            platform::panel().ringSetIndex(id, index);
            dispatch(id, EVENT_COMMIT);
        });
        w = box;
        break;
    }
    case CtrlKind::Numeric:
    case CtrlKind::Slide: {
        auto* spin = new CommitSpinBox(area);
        spin->setDecimals(d.integer ? 0 : d.precision);
        spin->setRange(std::max(d.minValue, -kWidgetRange), std::min(d.maxValue, kWidgetRange));
        spin->setValue(d.value);
        spin->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        c.readOnly = d.kind == CtrlKind::Numeric && d.callback == nullptr;
        if (c.readOnly) {
            spin->setReadOnly(true);
            spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
            spin->setFocusPolicy(Qt::NoFocus);
        }
        connect(spin, &CommitSpinBox::committed, this, [this, id] {
            if (Control* self = find(id)) commitNumeric(*self);
        });
        w = spin;
        if (d.kind == CtrlKind::Slide) {
            c.slider = new QSlider(Qt::Horizontal, area);
            c.slider->setObjectName(QString(d.name) + "_SLIDER");
            c.slider->setRange(0, kSliderSteps);
            c.slider->setFocusPolicy(Qt::TabFocus);
            connect(c.slider, &QSlider::valueChanged, this, [this, id](int) {
                Control* self = find(id);
                if (syncing_ || !self) return;
                if (self->slider->isSliderDown()) {
                    // The digital display follows the drag; the value commits on release.
                    QSignalBlocker block(self->widget);
                    static_cast<CommitSpinBox*>(self->widget)->setValue(sliderValue(*self));
                } else {
                    commitSlider(*self);
                }
            });
            connect(c.slider, &QSlider::sliderReleased, this, [this, id] {
                if (Control* self = find(id)) commitSlider(*self);
            });
            watchRightClicks(c.slider, id);
        }
        break;
    }
    case CtrlKind::Decoration: {
        auto* f = new QFrame(area);
        f->setFrameShape(QFrame::NoFrame);
        w = f;
        break;
    }
    case CtrlKind::TextMessage: {
        auto* l = new QLabel(d.text, area);
        l->setProperty("role", "message");
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        w = l;
        break;
    }
    case CtrlKind::Led:
        w = new LedWidget(area);
        break;
    case CtrlKind::Graph: {
        graph_ = new WaveformGraph(area);
        graph_->onEvent = [this, id](int event) { dispatch(id, event); };
        w = graph_;
        break;
    }
    }
    w->setObjectName(d.name);
    w->setGeometry(d.left, d.top, d.width, d.height);
    c.widget = w;
    if (d.kind != CtrlKind::Toggle && d.label[0] != '\0') {
        c.caption = new QLabel(d.label, area);
        c.caption->setObjectName(QString(d.name) + "_LABEL");
        c.caption->setProperty("role", "caption");
        watchRightClicks(c.caption, id);
    }
    if (d.kind == CtrlKind::Decoration) w->lower();
    watchRightClicks(w, id);
}

// Every control gets the right-click event and no context menu: callbacks ignore the event,
// so a right-click changes nothing.
void PanelWindow::watchRightClicks(QWidget* w, int id) {
    w->setProperty("veltControl", id);
    w->setContextMenuPolicy(Qt::PreventContextMenu);
    w->installEventFilter(this);
    for (QWidget* child : w->findChildren<QWidget*>()) {
        child->setProperty("veltControl", id);
        child->setContextMenuPolicy(Qt::PreventContextMenu);
        child->installEventFilter(this);
    }
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        auto* me = static_cast<QMouseEvent*>(event);
        QVariant id = watched->property("veltControl");
        if (me->button() == Qt::RightButton && id.isValid()) {
            const ControlDef* def = table_.findControl(id.toInt());
            // The graph reports its own right-clicks.
            if (def && def->kind == CtrlKind::Graph) return false;
            dispatch(id.toInt(), EVENT_RIGHT_CLICK);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void PanelWindow::dispatch(int id, int event) {
    const ControlDef* def = table_.findControl(id);
    if (observer_) observer_(id, event);
    if (def && def->callback) def->callback(table_.panelId, id, event, nullptr, 0, 0);
    scheduleRefresh();
}

void PanelWindow::commitNumeric(Control& c) {
    auto* spin = static_cast<CommitSpinBox*>(c.widget);
    spin->clearEditing();
    platform::panel().setValue(c.def->id, spin->value());
    dispatch(c.def->id, EVENT_COMMIT);
}

double PanelWindow::sliderValue(const Control& c) const {
    const double lo = std::max(c.last.minValue, -kWidgetRange);
    const double hi = std::min(c.last.maxValue, kWidgetRange);
    return lo + (hi - lo) * c.slider->value() / kSliderSteps;
}

void PanelWindow::commitSlider(Control& c) {
    platform::panel().setValue(c.def->id, sliderValue(c));
    dispatch(c.def->id, EVENT_COMMIT);
}

void PanelWindow::scheduleRefresh() {
    if (!dirty_.exchange(true))
        QMetaObject::invokeMethod(this, &PanelWindow::refresh, Qt::QueuedConnection);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // Shutdown ends the event loop itself once the settings are saved.
    event->ignore();
    if (table_.panelCallback) table_.panelCallback(table_.panelId, EVENT_CLOSE, nullptr, 0, 0);
}

void PanelWindow::panelResized(int width, int height) {
    if (width == modelWidth_ && height == modelHeight_) return;
    modelWidth_ = width;
    modelHeight_ = height;
    platform::panel().setPanelSize(width, height);
    if (table_.panelCallback)
        table_.panelCallback(table_.panelId, EVENT_PANEL_SIZE, nullptr, width, height);
}

int PanelWindow::backdropColorAt(const QRect& r, const platform::PanelSnapshot& s) const {
    for (const platform::ControlState& d : s.controls)
        if (d.kind == CtrlKind::Decoration && d.textBgColor != kDefaultWhite &&
            QRect(d.left, d.top, d.width, d.height).contains(r.center()))
            return d.textBgColor;
    return -1;
}

void PanelWindow::refresh() {
    dirty_.store(false);
    ++refreshes_;
    const platform::PanelSnapshot s = platform::panel().snapshot();
    if (s.controls.empty()) return; // the panel is not loaded yet
    syncing_ = true;
    if (!s.title.empty() && windowTitle() != qs(s.title)) setWindowTitle(qs(s.title));
    // A size set by the program (not by the user dragging) is applied to the window.
    if ((s.width != modelWidth_ || s.height != modelHeight_) && s.width > 0 && s.height > 0) {
        modelWidth_ = s.width;
        modelHeight_ = s.height;
        if (area_->size() != QSize(s.width, s.height))
            resize(s.width, s.height + menuBar()->height());
    }
    for (const platform::ControlState& cs : s.controls)
        if (Control* c = find(cs.id)) {
            syncControl(*c, cs);
            if (cs.kind == CtrlKind::TextMessage) {
                // Captions on a light backdrop turn dark so they stay readable.
                int bg = backdropColorAt(c->widget->geometry(), s);
                QString css = fieldStyle(cs);
                if (css.isEmpty() && bg >= 0)
                    css = luminance(bg) > 140 ? "color: #15181c;" : "color: #e6e9ed;";
                if (c->widget->styleSheet() != css) c->widget->setStyleSheet(css);
            }
        }
    syncMenu(s);
    if (graph_) graph_->sync(s.graph);
    syncBusy(s.busyText);
    syncing_ = false;
}

void PanelWindow::syncBusy(const std::string& text) {
    if (!graph_) return;
    if (!busy_) {
        busy_ = new QLabel(graph_);
        busy_->setObjectName("busy");
        busy_->setAlignment(Qt::AlignCenter);
        busy_->setStyleSheet("background: rgba(20, 24, 28, 220); color: #f0f3f5; padding: 10px;"
                             "border: 1px solid #71e946; font-size: 14px;");
        busy_->hide();
    }
    const QString t = qs(text);
    if (t.isEmpty()) {
        if (busy_->isVisible()) {
            busy_->hide();
            busy_->clear(); // a hidden box keeps no stale text
            unsetCursor();
        }
        return;
    }
    if (busy_->text() != t) busy_->setText(t);
    busy_->adjustSize();
    busy_->move((graph_->width() - busy_->width()) / 2, (graph_->height() - busy_->height()) / 3);
    if (!busy_->isVisible()) {
        busy_->show();
        busy_->raise();
        setCursor(Qt::BusyCursor);
    }
}

void PanelWindow::syncControl(Control& c, const platform::ControlState& s) {
    QWidget* w = c.widget;
    const bool first = !c.synced;
    if (first || s.left != c.last.left || s.top != c.last.top || s.width != c.last.width ||
        s.height != c.last.height || s.labelLeft != c.last.labelLeft ||
        s.displayLeft != c.last.displayLeft || s.label != c.last.label)
        layoutControl(c, s);
    if (first || s.visible != c.last.visible) {
        w->setVisible(s.visible);
        if (c.caption) c.caption->setVisible(s.visible);
        if (c.slider) c.slider->setVisible(s.visible);
    }
    if (first || s.dimmed != c.last.dimmed) {
        const bool on = !s.dimmed && !(locked_ && isSetting(s.kind));
        w->setEnabled(on);
        if (c.caption) c.caption->setEnabled(on);
        if (c.slider) c.slider->setEnabled(on);
    }
    if (first || s.label != c.last.label) {
        if (c.caption) c.caption->setText(qs(s.label));
        if (s.kind == CtrlKind::Toggle) static_cast<QPushButton*>(w)->setText(qs(s.label));
    }
    if (s.kind != CtrlKind::TextMessage &&
        (first || s.textBgColor != c.last.textBgColor || s.textColor != c.last.textColor)) {
        if (s.kind == CtrlKind::Decoration) {
            QColor fill = s.textBgColor != kDefaultWhite ? rgb(s.textBgColor) : QColor(32, 36, 42);
            w->setStyleSheet(QString("QFrame { background: %1; border: 1px solid %2; "
                                     "border-radius: 4px; }")
                                 .arg(fill.name(), fill.lighter(135).name()));
        } else if (s.kind != CtrlKind::Graph && s.kind != CtrlKind::Led) {
            w->setStyleSheet(fieldStyle(s));
        }
    }
    syncValue(c, s);
    c.last = s;
    c.synced = true;
}

void PanelWindow::layoutControl(Control& c, const platform::ControlState& s) {
    QRect body(s.left, s.top, s.width, s.height);
    if (s.kind == CtrlKind::Slide) {
        // Digital display at its own place, never left of where the model puts it but kept
        // beside the slider, which takes the rest of the control's width.
        const int sliderLeft = std::max(s.left, s.displayLeft + kSlideDisplayWidth + kSlideGap);
        const int displayLeft =
            std::max(s.displayLeft, sliderLeft - kSlideDisplayWidth - kSlideGap);
        const int sliderWidth = s.left + s.width - sliderLeft;
        c.widget->setGeometry(displayLeft, s.top, kSlideDisplayWidth, s.height);
        c.slider->setGeometry(sliderLeft, s.top, std::max(0, sliderWidth), s.height);
        if (c.caption)
            c.caption->setGeometry(s.labelLeft + (displayLeft - s.displayLeft),
                                   s.top - kCaptionHeight - 2, 220, kCaptionHeight);
        return;
    }
    c.widget->setGeometry(body);
    if (!c.caption) return;
    if (shortLabel(s.label)) {
        // A word like "to" reads between two fields, to the left of its own.
        const int w = c.caption->fontMetrics().horizontalAdvance(qs(s.label)) + 8;
        c.caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        c.caption->setGeometry(s.left - w - 2, s.top, w, s.height);
    } else {
        c.caption->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
        c.caption->setGeometry(s.left, s.top - kCaptionHeight - 2, std::max(s.width, 200),
                               kCaptionHeight);
    }
}

void PanelWindow::syncValue(Control& c, const platform::ControlState& s) {
    const bool first = !c.synced;
    switch (s.kind) {
    case CtrlKind::Toggle: {
        auto* b = static_cast<QPushButton*>(c.widget);
        if (b->isChecked() != (s.value != 0)) b->setChecked(s.value != 0);
        break;
    }
    case CtrlKind::Command: {
        auto* b = static_cast<QPushButton*>(c.widget);
        const QString t = qs(s.text.empty() ? s.label : s.text);
        if (b->text() != t) b->setText(t);
        break;
    }
    case CtrlKind::TextBox: {
        auto* t = static_cast<QPlainTextEdit*>(c.widget);
        if (c.readOnly) {
            // Append-only: only what is new goes on screen, and the view stays at the end.
            if (s.text.size() < c.logShown ||
                (first && t->toPlainText() != qs(s.text.substr(0, c.logShown)))) {
                t->setPlainText(qs(s.text));
            } else if (s.text.size() > c.logShown) {
                QTextCursor cursor(t->document());
                cursor.movePosition(QTextCursor::End);
                cursor.insertText(qs(s.text.substr(c.logShown)));
            } else {
                break;
            }
            c.logShown = s.text.size();
            t->verticalScrollBar()->setValue(t->verticalScrollBar()->maximum());
        } else if (!t->hasFocus() && t->toPlainText() != qs(s.text)) {
            t->setPlainText(qs(s.text));
        }
        break;
    }
    case CtrlKind::String: {
        auto* e = static_cast<QLineEdit*>(c.widget);
        if (!(e->hasFocus() && e->isModified()) && e->text() != qs(s.text)) e->setText(qs(s.text));
        break;
    }
    case CtrlKind::Ring: {
        auto* box = static_cast<QComboBox*>(c.widget);
        bool same = box->count() == static_cast<int>(s.items.size());
        for (int i = 0; same && i < box->count(); ++i)
            same = box->itemText(i) == qs(s.items[static_cast<std::size_t>(i)].label) &&
                   box->itemData(i).toInt() == s.items[static_cast<std::size_t>(i)].value;
        if (!same) {
            QSignalBlocker block(box);
            box->clear();
            for (const platform::RingItem& item : s.items) box->addItem(qs(item.label), item.value);
        }
        if (box->currentIndex() != s.ringIndex && s.ringIndex < box->count()) {
            QSignalBlocker block(box);
            box->setCurrentIndex(s.ringIndex);
        }
        break;
    }
    case CtrlKind::Numeric:
    case CtrlKind::Slide: {
        auto* spin = static_cast<CommitSpinBox*>(c.widget);
        QSignalBlocker block(spin);
        const int decimals = s.integer ? 0 : std::clamp(s.precision, 0, 9);
        if (spin->decimals() != decimals) spin->setDecimals(decimals);
        const double lo = std::max(s.minValue, -kWidgetRange);
        const double hi = std::min(s.maxValue, kWidgetRange);
        if (spin->minimum() != lo || spin->maximum() != hi) spin->setRange(lo, hi);
        // Leave a field alone while the user is typing into it.
        if (!(spin->hasFocus() && spin->editing()) && std::isfinite(s.value) &&
            spin->value() != s.value)
            spin->setValue(s.value);
        if (c.slider && !c.slider->isSliderDown() && hi > lo && std::isfinite(s.value)) {
            int pos = static_cast<int>(std::lround((s.value - lo) / (hi - lo) * kSliderSteps));
            if (c.slider->value() != pos) c.slider->setValue(pos);
        }
        break;
    }
    case CtrlKind::TextMessage: {
        auto* l = static_cast<QLabel*>(c.widget);
        if (l->text() != qs(s.text)) l->setText(qs(s.text));
        break;
    }
    case CtrlKind::Led:
        static_cast<LedWidget*>(c.widget)->setLit(s.value == 1);
        break;
    case CtrlKind::Decoration:
    case CtrlKind::Graph:
        break;
    }
}

void PanelWindow::setLocked(bool locked) {
    locked_ = locked;
    for (const auto& [id, action] : actions_)
        if (QMenu* menu = action->menu()) menu->menuAction()->setVisible(!locked);
    for (Control& c : controls_) c.synced = false; // every control's dimming again
    refresh();
}

void PanelWindow::syncMenu(const platform::PanelSnapshot& s) {
    for (const platform::MenuItemState& m : s.menu) {
        QAction* a = menuAction(m.id);
        if (!a || m.separator) continue;
        if (a->isEnabled() == m.dimmed) a->setEnabled(!m.dimmed);
        // Only the item that carries the mark shows one, as in the instrument's own menus.
        if (a->isCheckable() != m.checked) a->setCheckable(m.checked);
        if (a->isChecked() != m.checked) a->setChecked(m.checked);
        if (a->text() != qs(m.label) && m.parent != 0) a->setText(qs(m.label));
    }
}

} // namespace platform::qt
