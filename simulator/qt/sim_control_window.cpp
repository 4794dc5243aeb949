// Control window of the simulated instrument: one connection choice per channel.
#include "simulator/qt/sim_control_window.h"

#include "simulator/sim_device.h"
#include "simulator/sim_models.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <climits>

namespace {

using simulator::Connection;

constexpr std::array<Connection, 5> kChoices = {
    Connection::Device, Connection::Short, Connection::Open, Connection::Load, Connection::Through};
constexpr std::array<const char*, 5> kChoiceNames = {"Device", "SHORT", "OPEN", "LOAD", "THROUGH"};
// Front-panel order of the channels on each port: CH 1 .. CH 5.
constexpr std::array<int, 10> kPanelOrder = {2, 1, 0, 3, 4, 7, 6, 5, 8, 9};
constexpr std::array<const char*, 5> kTwentyChannelNames = {"D2", "D1", "D0", "CLK", "ETH"};

int choiceIndex(Connection c) {
    for (std::size_t i = 0; i < kChoices.size(); ++i)
        if (kChoices[i] == c) return static_cast<int>(i);
    return 0;
}

class SimControlWindow : public QWidget {
  public:
    SimControlWindow(simulator::SimulatedInstrument& sim, QWidget* parent)
        // A window of its own, not the panel's child: the panel's prompts block the panel, and a
        // user must still be able to connect the standard they ask for.
        : QWidget(nullptr, Qt::Tool), panel_(parent), sim_(sim) {
        const QString model = QString::fromStdString(sim.modelCode());
        setWindowTitle(QStringLiteral("Simulated instrument %1").arg(model));
        setObjectName("simControlWindow");
        auto* outer = new QVBoxLayout(this);
        auto* intro = new QLabel(
            QStringLiteral("What is plugged into each channel of the simulated %1.\n"
                           "Choose a standard to calibrate by hand, Device for the device "
                           "under test.")
                .arg(model),
            this);
        intro->setWordWrap(true);
        outer->addWidget(intro);
        auto* grid = new QGridLayout;
        outer->addLayout(grid);
        const bool twenty = model == "QSB020";
        int row = 0;
        for (int port = 1; port <= 2; ++port) {
            auto* heading = new QLabel(QStringLiteral("<b>Port %1</b>").arg(port), this);
            grid->addWidget(heading, row++, 0, 1, 3);
            for (int k = 0; k < 5; ++k) {
                const int ch = kPanelOrder[(port - 1) * 5 + k];
                if (!sim.hasChannel(ch)) continue;
                const QString name =
                    twenty ? QString(kTwentyChannelNames[k]) : QStringLiteral("CH %1").arg(k + 1);
                grid->addWidget(new QLabel(name, this), row, 0);
                auto* combo = new QComboBox(this);
                combo->setObjectName(QStringLiteral("connection%1").arg(ch));
                for (const char* n : kChoiceNames) combo->addItem(n);
                // A through needs the same channel on the other port.
                if (!sim.hasChannel(simulator::throughPartner(ch)))
                    if (auto* m = qobject_cast<QStandardItemModel*>(combo->model()))
                        m->item(choiceIndex(Connection::Through))->setEnabled(false);
                grid->addWidget(combo, row, 1);
                auto* what = new QLabel(this);
                what->setObjectName(QStringLiteral("device%1").arg(ch));
                grid->addWidget(what, row, 2);
                combos_[ch] = combo;
                descriptions_[ch] = what;
                connect(combo, &QComboBox::currentIndexChanged, this, [this, ch](int index) {
                    if (index < 0 || index >= static_cast<int>(kChoices.size())) return;
                    sim_.setConnection(ch, kChoices[index]);
                    refresh(); // the other end of a through follows
                });
                ++row;
            }
        }
        noise_ = new QCheckBox(QStringLiteral("Sampler noise (about 3 counts)"), this);
        noise_->setObjectName("noise");
        outer->addWidget(noise_);
        connect(noise_, &QCheckBox::toggled, this, [this](bool on) { sim_.setNoise(on); });
        // The worst case a user can meet: the cable pulled while the program runs.
        unplug_ = new QPushButton(QStringLiteral("Unplug"), this);
        unplug_->setObjectName("unplug");
        outer->addWidget(unplug_);
        connect(unplug_, &QPushButton::clicked, this, [this] {
            sim_.setFault(simulator::Fault::Unplugged, true);
            refresh();
        });
        refresh();
        // Connections may also change from elsewhere (a script, the command line).
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            placeBesideParent();
            refresh();
        });
        timer->start(500);
    }

    void refresh() {
        for (int ch = 0; ch < 10; ++ch) {
            if (!combos_[ch]) continue;
            const QSignalBlocker block(combos_[ch]);
            combos_[ch]->setCurrentIndex(choiceIndex(sim_.connection(ch)));
            descriptions_[ch]->setText(QString::fromStdString(sim_.deviceDescription(ch)));
        }
        const QSignalBlocker block(noise_);
        noise_->setChecked(sim_.noise());
        const bool unplugged = sim_.faultActive(simulator::Fault::Unplugged);
        unplug_->setEnabled(!unplugged);
        unplug_->setText(unplugged ? QStringLiteral("Unplugged") : QStringLiteral("Unplug"));
    }

  private:
    // Once the main window is up, stand beside it rather than on top of the graph, and step
    // aside again whenever the panel is moved or resized. Only the first placement may move or
    // narrow the panel; later the user's size for it stands.
    void placeBesideParent() {
        QWidget* main = panel_.data();
        if (!main || !main->isVisible() || !isVisible()) return;
        const QRect frame = main->frameGeometry();
        if (placed_ && frame == panelFrame_) return;
        const QScreen* screen = main->screen();
        if (!screen) return;
        // The frame adds the title bar and borders to the window's own size.
        const QSize extra = frame.size() - main->size();
        const int minWidth = placed_ ? INT_MAX : main->minimumSizeHint().width() + extra.width();
        const SimWindowPlacement at = placeSimulatorWindow(frame, frameGeometry().size(),
                                                           screen->availableGeometry(), minWidth);
        if (at.panel != frame) {
            main->move(at.panel.topLeft());
            main->resize(at.panel.size() - extra);
        }
        move(at.tool.topLeft());
        if (!placed_) raise();
        placed_ = true;
        panelFrame_ = at.panel;
    }

    bool placed_ = false;
    QRect panelFrame_;
    QPointer<QWidget> panel_;
    simulator::SimulatedInstrument& sim_;
    std::array<QComboBox*, 10> combos_{};
    std::array<QLabel*, 10> descriptions_{};
    QCheckBox* noise_ = nullptr;
    QPushButton* unplug_ = nullptr;
};

} // namespace

QWidget* createSimulatorControlWindow(simulator::SimulatedInstrument& sim, QWidget* parent) {
    return new SimControlWindow(sim, parent);
}

SimWindowPlacement placeSimulatorWindow(const QRect& panel, const QSize& tool, const QRect& screen,
                                        int minPanelWidth) {
    constexpr int kGap = 8;
    auto clampY = [&](int y) {
        return std::max(screen.top(), std::min(y, screen.bottom() + 1 - tool.height()));
    };
    auto clampX = [&](int x) {
        return std::max(screen.left(), std::min(x, screen.right() + 1 - tool.width()));
    };
    const QRect candidates[] = {
        QRect(QPoint(panel.right() + 1 + kGap, clampY(panel.top())), tool),
        QRect(QPoint(panel.left() - kGap - tool.width(), clampY(panel.top())), tool),
        QRect(QPoint(clampX(panel.left()), panel.bottom() + 1 + kGap), tool),
        QRect(QPoint(clampX(panel.left()), panel.top() - kGap - tool.height()), tool)};
    for (const QRect& c : candidates)
        if (screen.contains(c)) return {c, panel};

    // Side by side from the screen's left edge, the panel as wide as the room left allows.
    const int room = screen.width() - kGap - tool.width();
    const int width = std::min(panel.width(), room);
    if (width >= minPanelWidth && tool.height() <= screen.height()) {
        const QRect moved(QPoint(screen.left(), panel.top()), QSize(width, panel.height()));
        return {QRect(QPoint(moved.right() + 1 + kGap, clampY(panel.top())), tool), moved};
    }
    return {QRect(QPoint(clampX(screen.right()), clampY(panel.top())), tool), panel};
}
