// Polled, as the eye window is: the recording thread never waits for the window, and reading a
// recipe's records back costs milliseconds.
#include "platform/qt/spc_window.h"

#include "platform/qt/spc_plot.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace platform::qt {

namespace {
void fill(QComboBox* box, const std::vector<std::string>& items, const std::string& current) {
    const QSignalBlocker quiet(box);
    box->clear();
    for (const std::string& s : items) box->addItem(QString::fromStdString(s));
    box->setCurrentText(QString::fromStdString(current));
}
} // namespace

StatisticsWindow::StatisticsWindow(platform::SpcService& service, QWidget* parent)
    : QWidget(parent, Qt::Window), service_(service) {
    setObjectName("statisticsWindow");
    setWindowTitle("VELT: Statistics");
    resize(1000, 720);
    auto* form = new QFormLayout();
    recipe_ = new QComboBox(this);
    recipe_->setObjectName("recipe");
    recipe_->setEditable(true);
    zone_ = new QComboBox(this);
    zone_->setObjectName("zone");
    subgroup_ = new QSpinBox(this);
    subgroup_->setObjectName("subgroup");
    subgroup_->setRange(1, 10);
    subgroup_->setValue(5);
    subgroup_->setToolTip("Consecutive records per subgroup; 1: individuals and moving ranges");
    last_ = new QSpinBox(this);
    last_->setObjectName("last");
    last_->setRange(0, 1000000);
    last_->setSpecialValueText("all");
    form->addRow("Recipe", recipe_);
    form->addRow("Zone", zone_);
    form->addRow("Subgroup size", subgroup_);
    form->addRow("Newest records", last_);
    connect(recipe_, &QComboBox::currentTextChanged, this, [this] { redraw(); });
    connect(zone_, &QComboBox::currentIndexChanged, this, [this] { redraw(); });
    connect(subgroup_, &QSpinBox::valueChanged, this, [this] { redraw(); });
    connect(last_, &QSpinBox::valueChanged, this, [this] { redraw(); });
    summary_ = new QLabel(this);
    summary_->setObjectName("spcSummary");
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* side = new QVBoxLayout();
    side->addLayout(form);
    side->addWidget(summary_);
    side->addStretch();
    plot_ = new QCustomPlot(this);
    auto* row = new QHBoxLayout(this);
    row->addLayout(side);
    row->addWidget(plot_, 1);
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        if (isVisible() && service_.generation() != drawn_) redraw();
    });
    poll->start(250);
}

void StatisticsWindow::redraw() {
    drawn_ = service_.generation();
    platform::SpcRequest r;
    r.recipe = recipe_->currentText().toStdString();
    r.zone = zone_->currentText().toStdString();
    r.subgroup = subgroup_->value();
    r.last = static_cast<std::size_t>(last_->value());
    const platform::SpcView v = service_.compute(r);
    if (!v.recipes.empty()) fill(recipe_, v.recipes, v.recipe.empty() ? r.recipe : v.recipe);
    fill(zone_, v.zones, v.zone);
    summary_->setText(QString::fromStdString(v.ok ? v.summary : v.error + "\n\n" + v.summary));
    if (v.ok) {
        drawSpcChart(plot_, v.chart);
    } else {
        plot_->clearGraphs();
        plot_->clearItems();
        plot_->replot();
    }
    ++redraws_;
}

} // namespace platform::qt
