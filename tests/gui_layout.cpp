// The real window resized by the user under the offscreen platform: every control stays on the
// panel, none lands on another, and the graph fills what the columns leave.
#include "app/startup.h"
#include "panel/interface.h"
#include "panel/zoom.h"
#include "platform/panel_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/qt/waveform_graph.h"
#include "simulator/qt/sim_control_window.h"
#include "tests/support/test_support.h"

#include <QApplication>
#include <QMenuBar>
#include <QSlider>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using platform::CtrlKind;
using platform::panel;
using platform::qt::PanelWindow;

namespace {

void settle() {
    for (int i = 0; i < 6; ++i) QCoreApplication::processEvents();
}

class Layout : public testing::TestWithParam<QSize> {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        window_ = std::make_unique<PanelWindow>(panelTable());
        window_->show();
        settle();
        // As start-up measures it once the panel is shown.
        rememberLayout();
    }
    void TearDown() override {
        window_.reset();
        settle();
    }
    void resizePanel(QSize size) {
        window_->resize(size.width(), size.height() + window_->menuBar()->height());
        settle();
    }
    // Every control's widgets, with the part of the panel they cover.
    std::vector<std::pair<QString, QRect>> placed() const {
        std::vector<std::pair<QString, QRect>> out;
        for (const ControlDef& d : panelTable().controls) {
            if (d.kind == CtrlKind::Decoration) continue;
            auto* w = window_->findChild<QWidget*>(d.name);
            if (w) out.emplace_back(d.name, w->geometry());
            if (auto* s = window_->findChild<QSlider*>(QString(d.name) + "_SLIDER"))
                out.emplace_back(s->objectName(), s->geometry());
        }
        return out;
    }
    void expectUsable(QSize size) {
        const QRect area(QPoint(0, 0), window_->panelAreaSize());
        EXPECT_EQ(area.size(), size);
        const auto all = placed();
        for (const auto& [name, r] : all) {
            EXPECT_TRUE(area.contains(r)) << name.toStdString() << " leaves the panel";
            EXPECT_TRUE(window_->findChild<QWidget*>(name)->isVisible()) << name.toStdString();
        }
        for (std::size_t i = 0; i < all.size(); ++i)
            for (std::size_t j = i + 1; j < all.size(); ++j)
                EXPECT_FALSE(all[i].second.intersects(all[j].second))
                    << all[i].first.toStdString() << " covers " << all[j].first.toStdString();
        // The graph reaches the right column and the bottom strip.
        const QRect graph = window_->graph()->geometry();
        const QRect log = window_->findChild<QWidget*>("PANEL_MESSAGE")->geometry();
        const QRect start = window_->findChild<QWidget*>("PANEL_XSTART")->geometry();
        EXPECT_LE(log.left() - graph.right(), 20);
        EXPECT_GT(log.left(), graph.right());
        EXPECT_LE(start.top() - graph.bottom(), 40);
        EXPECT_GT(start.top(), graph.bottom());
    }
    std::unique_ptr<PanelWindow> window_;
};

TEST_P(Layout, ResizingKeepsEveryControlOnThePanelAndTheGraphFilling) {
    expectUsable(QSize(1280, 720));
    resizePanel(GetParam());
    expectUsable(GetParam());
    resizePanel(QSize(1024, 576));
    expectUsable(QSize(1024, 576));
    resizePanel(QSize(1280, 720));
    expectUsable(QSize(1280, 720));
}

INSTANTIATE_TEST_SUITE_P(Sizes, Layout,
                         testing::Values(QSize(1600, 900), QSize(1920, 1080), QSize(1366, 768)),
                         [](const testing::TestParamInfo<QSize>& info) {
                             return std::to_string(info.param.width()) + "x" +
                                    std::to_string(info.param.height());
                         });

struct PlacementCase {
    const char* name;
    QRect screen, panel;
    QSize tool;
    QRect toolAt, panelAt;
};

class SimulatorWindow : public testing::TestWithParam<PlacementCase> {};

TEST_P(SimulatorWindow, StandsBesideThePanelNeverOverIt) {
    const PlacementCase& c = GetParam();
    const SimWindowPlacement at = placeSimulatorWindow(c.panel, c.tool, c.screen, 1024);
    EXPECT_EQ(at.tool, c.toolAt);
    EXPECT_EQ(at.panel, c.panelAt);
    EXPECT_FALSE(at.tool.intersects(at.panel));
    EXPECT_TRUE(c.screen.contains(at.tool));
    EXPECT_TRUE(c.screen.contains(at.panel));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Screens, SimulatorWindow, testing::Values(
    PlacementCase{"Right", {0, 0, 1920, 1080}, {0, 0, 1280, 770}, {400, 500}, {1288, 0, 400, 500}, {0, 0, 1280, 770}},
    PlacementCase{"Left", {0, 0, 1920, 1080}, {600, 40, 1280, 770}, {400, 500}, {192, 40, 400, 500}, {600, 40, 1280, 770}},
    PlacementCase{"Below", {0, 0, 1280, 1400}, {0, 0, 1280, 770}, {400, 500}, {0, 778, 400, 500}, {0, 0, 1280, 770}},
    PlacementCase{"PanelNarrows", {0, 0, 1440, 900}, {100, 0, 1280, 770}, {400, 300}, {1040, 0, 400, 300}, {0, 0, 1032, 770}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

} // namespace
