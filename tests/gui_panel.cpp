// The real panel window under the offscreen platform: built from the tables, mirroring the
// model, and turning user input into model writes and callbacks.
#include "app/startup.h"
#include "panel/interface.h"
#include "panel/settings.h"
#include "panel/timer.h"
#include "platform/async_timer.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/qt/control_widgets.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/qt/waveform_graph.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

using platform::CtrlKind;
using platform::panel;
using platform::qt::PanelWindow;

namespace {

void settle() {
    for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
}

template <class W> W* widget(QWidget* root, const char* name) {
    return root->findChild<W*>(QString::fromLatin1(name));
}

void key(QWidget* w, int k, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &release);
}

void typeText(QWidget* w, const QString& text) {
    for (QChar ch : text) key(w, ch.unicode(), QString(ch));
}

void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

class PanelWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        tick.asyncAcqCount.store(0);
        window_ = std::make_unique<PanelWindow>(panelTable());
        window_->setDispatchObserver(
            [this](int control, int event) { dispatched_.emplace_back(control, event); });
        window_->show();
        QApplication::setActiveWindow(window_.get());
        settle();
    }
    void TearDown() override {
        window_.reset();
        settle();
    }
    std::unique_ptr<PanelWindow> window_;
    std::vector<std::pair<int, int>> dispatched_;
};

TEST_F(PanelWindowTest, WindowHasItsTitleDesignSizeAndMinimum) {
    EXPECT_EQ(window_->windowTitle(), "VELT");
    EXPECT_EQ(window_->panelAreaSize(), QSize(1280, 720));
    EXPECT_EQ(window_->centralWidget()->minimumSize(), QSize(1024, 576));
    int w = 0, h = 0;
    panel().panelSize(w, h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
}

class EveryControl : public PanelWindowTest, public testing::WithParamInterface<std::size_t> {};

// The texts, values and limits the user reads are checked against literal values in
// gui_panel_table.cpp; here, that every control is the right kind of widget, in its place.
TEST_P(EveryControl, ExistsAsItsKindInItsPlace) {
    const ControlDef& d = panelTable().controls[GetParam()];
    QWidget* w = widget<QWidget>(window_.get(), d.name);
    ASSERT_NE(w, nullptr) << d.name;
    EXPECT_TRUE(w->isVisible()) << d.name;
    const QString label = QString::fromLatin1(d.label);
    switch (d.kind) {
    case CtrlKind::Toggle: {
        auto* b = qobject_cast<QPushButton*>(w);
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(b->isCheckable());
        EXPECT_EQ(b->isChecked(), d.value != 0);
        break;
    }
    case CtrlKind::Command:
        ASSERT_NE(qobject_cast<QPushButton*>(w), nullptr);
        break;
    case CtrlKind::TextBox:
        ASSERT_NE(qobject_cast<QPlainTextEdit*>(w), nullptr);
        EXPECT_EQ(qobject_cast<QPlainTextEdit*>(w)->isReadOnly(), d.id == PANEL_MESSAGE);
        break;
    case CtrlKind::String:
        ASSERT_NE(qobject_cast<QLineEdit*>(w), nullptr);
        EXPECT_EQ(qobject_cast<QLineEdit*>(w)->isReadOnly(), d.id != PANEL_SERIAL);
        break;
    case CtrlKind::Ring: {
        auto* box = qobject_cast<QComboBox*>(w);
        ASSERT_NE(box, nullptr);
        // Items carry their values, not their positions.
        ASSERT_EQ(box->count(), static_cast<int>(d.items.size()));
        for (int i = 0; i < box->count(); ++i)
            EXPECT_EQ(box->itemData(i).toInt(), d.items[static_cast<std::size_t>(i)].value);
        EXPECT_EQ(box->currentIndex(), 0);
        break;
    }
    case CtrlKind::Numeric:
    case CtrlKind::Slide: {
        auto* spin = qobject_cast<QDoubleSpinBox*>(w);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(spin->isReadOnly(), d.id == PANEL_VC);
        if (d.kind == CtrlKind::Slide) {
            EXPECT_NE(widget<QSlider>(window_.get(), (std::string(d.name) + "_SLIDER").c_str()),
                      nullptr);
        }
        break;
    }
    case CtrlKind::TextMessage:
        ASSERT_NE(qobject_cast<QLabel*>(w), nullptr);
        break;
    case CtrlKind::Led:
        ASSERT_NE(qobject_cast<platform::qt::LedWidget*>(w), nullptr);
        break;
    case CtrlKind::Graph:
        ASSERT_NE(qobject_cast<platform::qt::WaveformGraph*>(w), nullptr);
        break;
    case CtrlKind::Decoration:
        break;
    }
    auto* caption = widget<QLabel>(window_.get(), (std::string(d.name) + "_LABEL").c_str());
    if (d.kind == CtrlKind::Toggle || label.isEmpty()) {
        EXPECT_EQ(caption, nullptr);
    } else {
        ASSERT_NE(caption, nullptr) << d.name;
        EXPECT_TRUE(caption->isVisible());
    }
    if (d.kind != CtrlKind::Slide) {
        EXPECT_EQ(w->geometry(), QRect(d.left, d.top, d.width, d.height)) << d.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryControl,
                         testing::Range<std::size_t>(0, panelTable().controls.size()),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             return std::string(panelTable().controls[info.param].name);
                         });

class EveryMenuItem : public PanelWindowTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(EveryMenuItem, ExistsInItsMenuWithItsCheckMark) {
    const MenuItemDef& m = panelTable().menus[GetParam()];
    QAction* a = window_->menuAction(m.id);
    ASSERT_NE(a, nullptr) << m.name;
    EXPECT_EQ(a->objectName(), m.name);
    if (!m.label) {
        EXPECT_TRUE(a->isSeparator());
        return;
    }
    EXPECT_EQ(a->isChecked(), m.checked);
    // The panel starts in the time domain and in millivolts: the frequency-domain units, the
    // SOLT items and the true impedance profile wait until they apply.
    const bool dimmedAtStart = m.id == MENUBAR_XUNITS_X5 || m.id == MENUBAR_YUNITS_Y6 ||
                               m.id == MENUBAR_CAL_SOLTCAL || m.id == MENUBAR_CAL_SAVESOLT ||
                               m.id == MENUBAR_CAL_LOADSOLT || m.id == MENUBAR_YUNITS_TRUEPROFILE;
    EXPECT_EQ(a->isEnabled(), !dimmedAtStart);
    if (m.parent == 0) {
        EXPECT_TRUE(window_->menuBar()->actions().contains(a));
    } else {
        QAction* parent = window_->menuAction(m.parent);
        ASSERT_NE(parent, nullptr);
        ASSERT_NE(parent->menu(), nullptr);
        EXPECT_TRUE(parent->menu()->actions().contains(a));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, EveryMenuItem,
                         testing::Range<std::size_t>(0, panelTable().menus.size()),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             return std::string(panelTable().menus[info.param].name);
                         });

TEST_F(PanelWindowTest, ModelChangesReachTheWidgets) {
    panel().setValue(PANEL_LED, 1);
    panel().setDimmed(PANEL_YMIN, true);
    panel().setLabel(PANEL_XSTART, " Start (ft)");
    panel().setText(PANEL_CURSOR1, " 1.250 m  |  48.000 Ohm");
    panel().ringClear(PANEL_SAMPLER);
    panel().ringInsert(PANEL_SAMPLER, -1, "PORT 2, CH 1+", 14);
    panel().setMenuChecked(MENUBAR_PLOT_DARK, false);
    panel().setMenuChecked(MENUBAR_PLOT_LIGHT, true);
    panel().setMenuDimmed(MENUBAR_CAL_SOLTCAL, true);
    panel().setValue(PANEL_DIEL, 4.0);
    settle();
    EXPECT_TRUE(widget<platform::qt::LedWidget>(window_.get(), "PANEL_LED")->lit());
    EXPECT_FALSE(widget<QWidget>(window_.get(), "PANEL_YMIN")->isEnabled());
    EXPECT_EQ(widget<QLabel>(window_.get(), "PANEL_XSTART_LABEL")->text(), " Start (ft)");
    EXPECT_EQ(widget<QLineEdit>(window_.get(), "PANEL_CURSOR1")->text(), " 1.250 m  |  48.000 Ohm");
    auto* sampler = widget<QComboBox>(window_.get(), "PANEL_SAMPLER");
    ASSERT_EQ(sampler->count(), 1);
    EXPECT_EQ(sampler->itemData(0).toInt(), 14);
    EXPECT_FALSE(window_->menuAction(MENUBAR_PLOT_DARK)->isChecked());
    EXPECT_TRUE(window_->menuAction(MENUBAR_PLOT_LIGHT)->isChecked());
    EXPECT_FALSE(window_->menuAction(MENUBAR_CAL_SOLTCAL)->isEnabled());
    EXPECT_EQ(widget<QDoubleSpinBox>(window_.get(), "PANEL_DIEL")->text(), "4.000");
    panel().setValue(PANEL_LED, 0);
    settle();
    EXPECT_FALSE(widget<platform::qt::LedWidget>(window_.get(), "PANEL_LED")->lit());
}

TEST_F(PanelWindowTest, TypedNumberIsWrittenToTheModelThenCommitted) {
    auto* spin = widget<QDoubleSpinBox>(window_.get(), "PANEL_AVERAGING");
    spin->setFocus();
    spin->selectAll();
    typeText(spin, "16");
    // Nothing is committed while the user is still typing.
    EXPECT_EQ(panel().intValue(PANEL_AVERAGING), 1);
    EXPECT_TRUE(dispatched_.empty());
    key(spin, Qt::Key_Return);
    settle();
    EXPECT_EQ(panel().intValue(PANEL_AVERAGING), 16);
    ASSERT_EQ(dispatched_.size(), 1u);
    EXPECT_EQ(dispatched_[0], std::make_pair(PANEL_AVERAGING, EVENT_COMMIT));
    // The real callback ran: with auto acquire off it asks the next tick for an acquisition.
    EXPECT_EQ(tick.asyncAcqCount.load(), 1);
}

TEST_F(PanelWindowTest, FieldAcceptsExactlyTheRangeTheModelGivesIt) {
    auto* spin = widget<QDoubleSpinBox>(window_.get(), "PANEL_XEND");
    // A unit change widens the window range (feet instead of metres).
    panel().setRange(PANEL_XEND, 0, 45);
    settle();
    EXPECT_DOUBLE_EQ(spin->maximum(), 45);
    spin->setFocus();
    spin->selectAll();
    typeText(spin, "400"); // the third digit does not fit
    key(spin, Qt::Key_Return);
    settle();
    EXPECT_DOUBLE_EQ(panel().value(PANEL_XEND), 40.0);
    EXPECT_EQ(spin->text(), "40.000");
}

TEST_F(PanelWindowTest, FieldBeingEditedIsNotOverwritten) {
    auto* spin = widget<QDoubleSpinBox>(window_.get(), "PANEL_YMAX");
    spin->setFocus();
    spin->selectAll();
    typeText(spin, "12");
    panel().setValue(PANEL_YMAX, 275.0); // e.g. an autoscale from the timer thread
    settle();
    EXPECT_EQ(spin->text(), "12");
    key(spin, Qt::Key_Return);
    settle();
    EXPECT_DOUBLE_EQ(panel().value(PANEL_YMAX), 12.0);
}

TEST_F(PanelWindowTest, RingToggleAndButtonCommitTheirValues) {
    auto* mode = widget<QComboBox>(window_.get(), "PANEL_MODE");
    mode->setCurrentIndex(2);
    emit mode->activated(2);
    auto* autoscale = widget<QPushButton>(window_.get(), "PANEL_AUTOSCALE");
    autoscale->click();
    widget<QPushButton>(window_.get(), "PANEL_ACQUIRE")->click();
    settle();
    EXPECT_EQ(panel().intValue(PANEL_MODE), 2);
    EXPECT_EQ(panel().intValue(PANEL_AUTOSCALE), 1);
    const std::vector<std::pair<int, int>> expected = {
        {PANEL_MODE, EVENT_COMMIT}, {PANEL_AUTOSCALE, EVENT_COMMIT}, {PANEL_ACQUIRE, EVENT_COMMIT}};
    EXPECT_EQ(dispatched_, expected);
    // The autoscale callback applied its side effect.
    EXPECT_TRUE(panel().dimmed(PANEL_YMIN));
    EXPECT_FALSE(widget<QWidget>(window_.get(), "PANEL_YMAX")->isEnabled());
}

class RightClick : public PanelWindowTest, public testing::WithParamInterface<const char*> {};

TEST_P(RightClick, YieldsTheRightClickEventAndChangesNothing) {
    const ControlDef* def = nullptr;
    for (const ControlDef& d : panelTable().controls)
        if (std::string(d.name) == GetParam()) def = &d;
    ASSERT_NE(def, nullptr);
    QWidget* w = widget<QWidget>(window_.get(), def->name);
    ASSERT_NE(w, nullptr);
    // Spin boxes and combo boxes receive clicks in their inner widgets.
    QWidget* target = w;
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) target = spin->findChild<QLineEdit*>();
    const auto before = panel().snapshot();
    const QPoint at(target->width() / 2, target->height() / 2);
    mouse(target, QEvent::MouseButtonPress, at, Qt::RightButton, Qt::RightButton);
    mouse(target, QEvent::MouseButtonRelease, at, Qt::RightButton, Qt::NoButton);
    settle();
    ASSERT_EQ(dispatched_.size(), 1u);
    EXPECT_EQ(dispatched_[0], std::make_pair(def->id, EVENT_RIGHT_CLICK));
    const auto after = panel().snapshot();
    for (std::size_t i = 0; i < before.controls.size(); ++i) {
        EXPECT_EQ(after.controls[i].value, before.controls[i].value) << after.controls[i].name;
        EXPECT_EQ(after.controls[i].ringIndex, before.controls[i].ringIndex);
    }
    EXPECT_EQ(tick.asyncAcqCount.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Controls, RightClick,
                         testing::Values("PANEL_AUTOACQUIRE", "PANEL_ACQUIRE", "PANEL_MODE",
                                         "PANEL_AVERAGING", "PANEL_XSTART", "PANEL_DIEL",
                                         "PANEL_WAVEFORM"));

TEST_F(PanelWindowTest, DraggingACursorMovesItInTheModelAndCommitsOnRelease) {
    double x[3] = {0.0, 1.5, 3.0}, y[3] = {50.0, 75.0, 50.0};
    panel().plotXY(x, y, 3, platform::makeColor(113, 233, 70), 5, 0);
    settle();
    auto* graph = window_->graph();
    const QRect r = graph->axisRect()->rect();
    const QPoint from(graph->cursorPixel(1), r.center().y());
    const QPoint to(static_cast<int>(graph->xAxis->coordToPixel(2.0)), r.center().y());
    mouse(graph, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    mouse(graph, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    EXPECT_TRUE(dispatched_.empty()); // no commit while dragging
    mouse(graph, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
    settle();
    double cx = 0, cy = 0;
    panel().cursor(1, cx, cy);
    EXPECT_NEAR(cx, 2.0, 0.02);
    ASSERT_EQ(dispatched_.size(), 1u);
    EXPECT_EQ(dispatched_[0], std::make_pair(PANEL_WAVEFORM, EVENT_COMMIT));
    EXPECT_NEAR(graph->cursorPixel(1), to.x(), 1);
}

TEST_F(PanelWindowTest, BurstOfWritesCoalescesIntoOneRefreshAndANewTraceIntoOneReplot) {
    settle();
    const long refreshesBefore = window_->refreshes();
    const long replotsBefore = window_->graph()->replots();
    std::array<double, 1024> x{}, y{};
    for (int i = 0; i < 1024; ++i) x[static_cast<std::size_t>(i)] = i * 0.01;
    // What one acquisition does from the timer thread: LED, axes, trace, read-outs, LED.
    std::thread tick([&] {
        panel().setValue(PANEL_LED, 1);
        panel().setYRange(-25, 275);
        panel().deletePlot(0);
        panel().plotXY(x.data(), y.data(), 1024, platform::makeColor(113, 233, 70), 5, 0);
        for (int i = 0; i < 50; ++i) panel().setText(PANEL_CURSOR1, std::to_string(i));
        panel().setValue(PANEL_LED, 0);
    });
    tick.join();
    settle();
    EXPECT_EQ(window_->refreshes() - refreshesBefore, 1);
    EXPECT_EQ(window_->graph()->replots() - replotsBefore, 1);
    EXPECT_EQ(window_->graph()->graphsShown(), 1);
    EXPECT_EQ(window_->graph()->graph(0)->dataCount(), 1024);
    EXPECT_DOUBLE_EQ(window_->graph()->yAxis->range().upper, 275);
    EXPECT_NEAR(window_->graph()->xAxis->range().upper, 10.23, 1e-9);
    EXPECT_EQ(widget<QLineEdit>(window_.get(), "PANEL_CURSOR1")->text(), "49");
}

TEST_F(PanelWindowTest, LogIsAppendedAndKeptScrolledToTheEnd) {
    auto* log = widget<QPlainTextEdit>(window_.get(), "PANEL_MESSAGE");
    panel().appendText(PANEL_MESSAGE, "DONE!\n");
    for (int i = 0; i < 200; ++i)
        panel().appendText(PANEL_MESSAGE, "> line " + std::to_string(i) + "\n");
    settle();
    EXPECT_EQ(log->toPlainText().toStdString(), panel().text(PANEL_MESSAGE));
    EXPECT_TRUE(log->toPlainText().startsWith("> Initializing...DONE!\n> line 0\n"));
    EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
    EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
}

TEST_F(PanelWindowTest, MenuItemRunsItsCallbackAndTheModelKeepsTheCheckMark) {
    QAction* metres = window_->menuAction(MENUBAR_XUNITS_X1);
    metres->trigger(); // Qt would untick a checked item by itself
    settle();
    ASSERT_EQ(dispatched_.size(), 1u);
    EXPECT_EQ(dispatched_[0], std::make_pair(MENUBAR_XUNITS_X1, EVENT_COMMIT));
    EXPECT_TRUE(metres->isChecked());
    EXPECT_TRUE(panel().menuChecked(MENUBAR_XUNITS_X1));
}

TEST_F(PanelWindowTest, CloseButtonShutsDownButLeavesQuittingToTheLoop) {
    platform::setEventLoop(nullptr);
    shuttingDown.store(false);
    window_->close();
    settle();
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(platform::quitRequested());
    EXPECT_TRUE(platform::asyncTimer().suspended());
    platform::asyncTimer().resume();
    shuttingDown.store(false);
}

TEST_F(PanelWindowTest, ResizeIsReportedToTheModel) {
    window_->resize(1600, 900 + window_->menuBar()->height());
    settle();
    int w = 0, h = 0;
    panel().panelSize(w, h);
    EXPECT_EQ(QSize(w, h), window_->panelAreaSize());
    EXPECT_EQ(w, 1600);
}

TEST(QtPopups, ModalOnTheGuiThreadAndNeverWaitingElsewhere) {
    platform::qt::QtPopupHandler handler;
    platform::setPopupHandler(&handler);
    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(platform::ConfirmPopup("Overwrite", "Replace the file?"), 0);

    QTimer::singleShot(0, [] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Load") b->click();
    });
    EXPECT_EQ(platform::GenericMessagePopup("SOLT", "No calibration", "Measure", "Load", "Cancel"),
              2);

    // From another thread: the default answer at once, the message shown later, non-modal.
    int answer = -1;
    std::thread timer([&answer] { answer = platform::ConfirmPopup("Error #3031", "Invalid."); });
    timer.join();
    EXPECT_EQ(answer, 0);
    settle();
    bool shown = false;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w);
            box && box->isVisible() && box->text() == "Invalid.") {
            shown = true;
            EXPECT_FALSE(box->isModal());
            box->close();
        }
    EXPECT_TRUE(shown);
    platform::setPopupHandler(nullptr);
}

TEST(QtPopups, FileTypeListsBecomeDialogFilters) {
    using platform::qt::defaultSuffix;
    using platform::qt::fileDialogFilter;
    EXPECT_EQ(fileDialogFilter("*.velt"), "*.velt (*.velt);;All files (*)");
    EXPECT_EQ(fileDialogFilter("*.s11;*.s21"), "*.s11 *.s21 (*.s11 *.s21);;All files (*)");
    EXPECT_EQ(fileDialogFilter(""), "All files (*)");
    EXPECT_EQ(defaultSuffix("*.velt"), "velt");
    EXPECT_EQ(defaultSuffix("*.*"), "");
}

} // namespace
