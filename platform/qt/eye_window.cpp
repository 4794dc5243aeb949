// The window polls the trace's generation rather than being told: the timer thread never waits
// for the GUI thread, and a redraw costs a few tens of milliseconds at most.
#include "platform/qt/eye_window.h"

#include "platform/qt/eye_plot.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>

namespace platform::qt {

EyeWindow::EyeWindow(platform::EyeService& service, QWidget* parent)
    : QWidget(parent, Qt::Window), service_(service) {
    setObjectName("eyeWindow");
    setWindowTitle("VELT: Eye Diagram");
    resize(980, 640);
    auto* form = new QFormLayout();
    const auto spin = [&](const char* label, const char* name, double lo, double hi, double v,
                          int decimals) {
        auto* b = new QDoubleSpinBox(this);
        b->setObjectName(name);
        b->setRange(lo, hi);
        b->setDecimals(decimals);
        b->setValue(v);
        form->addRow(label, b);
        connect(b, &QDoubleSpinBox::valueChanged, this, [this] { redraw(); });
        return b;
    };
    const auto combo = [&](const char* label, const char* name, QStringList items) {
        auto* c = new QComboBox(this);
        c->setObjectName(name);
        c->addItems(items);
        form->addRow(label, c);
        connect(c, &QComboBox::currentIndexChanged, this, [this] { redraw(); });
        return c;
    };
    source_ = combo("Source", "source", {"Live trace"});
    rate_ = spin("Bit rate (Gb/s)", "bitRate", 0.01, 200, 5, 2);
    pattern_ =
        combo("Pattern", "pattern", {"PRBS7", "PRBS9", "PRBS11", "PRBS15", "PRBS23", "PRBS31"});
    coding_ = combo("Coding", "coding", {"NRZ", "PAM4"});
    rj_ = spin("Random jitter (ps RMS)", "rj", 0, 1000, 0, 2);
    noise_ = spin("Noise (trace unit RMS)", "noise", 0, 1000, 0, 3);
    mask_ = combo("Mask", "mask", {"none", "rectangle", "hexagon"});
    maskWidth_ = spin("Mask width (UI)", "maskWidth", 0.01, 1, 0.4, 2);
    maskHeight_ = spin("Mask height (trace unit)", "maskHeight", 0.001, 2000, 100, 3);
    auto* png = new QPushButton("Save PNG...", this);
    auto* csv = new QPushButton("Save CSV...", this);
    connect(png, &QPushButton::clicked, this, &EyeWindow::savePng);
    connect(csv, &QPushButton::clicked, this, &EyeWindow::saveCsv);
    auto* side = new QVBoxLayout();
    side->addLayout(form);
    side->addWidget(png);
    side->addWidget(csv);
    side->addStretch();
    plot_ = new QCustomPlot(this);
    status_ = new QLabel(this);
    status_->setObjectName("eyeStatus");
    auto* column = new QVBoxLayout();
    column->addWidget(plot_, 1);
    column->addWidget(status_);
    auto* row = new QHBoxLayout(this);
    row->addLayout(side);
    row->addLayout(column, 1);
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        if (!isVisible()) return;
        // The reference traces come and go: the list follows them, keeping the choice.
        QStringList names;
        for (const std::string& n : service_.sources()) names << QString::fromStdString(n);
        QStringList shown;
        for (int i = 0; i < source_->count(); ++i) shown << source_->itemText(i);
        if (names != shown) {
            const QSignalBlocker quiet(source_);
            const int at = source_->currentIndex();
            source_->clear();
            source_->addItems(names);
            source_->setCurrentIndex(at < names.size() ? at : 0);
            drawn_ = ~std::uint64_t{0};
        }
        if (service_.traceGeneration() != drawn_) redraw();
    });
    poll->start(300);
}

platform::EyeRequest EyeWindow::request() const {
    platform::EyeRequest r;
    r.source = std::max(0, source_->currentIndex());
    r.bitrateGbps = rate_->value();
    r.pattern = pattern_->currentText().toStdString();
    r.pam4 = coding_->currentIndex() == 1;
    r.rjPs = rj_->value();
    r.noise = noise_->value();
    if (mask_->currentIndex() > 0) {
        r.maskWidthUi = maskWidth_->value();
        r.maskHeight = maskHeight_->value();
        r.hexagon = mask_->currentIndex() == 2;
    }
    return r;
}

void EyeWindow::redraw() {
    drawn_ = service_.traceGeneration();
    const platform::EyeView v = service_.compute(request());
    ++redraws_;
    if (!v.ok) {
        status_->setText(QString::fromStdString(v.error));
        plot_->clearPlottables();
        plot_->replot();
        return;
    }
    csv_ = v.csv;
    drawEye(plot_, v.picture);
    status_->setText(QString::fromStdString(v.picture.figures));
}

void EyeWindow::savePng() {
    const QString path =
        QFileDialog::getSaveFileName(this, "Save the eye", "eye.png", "PNG (*.png)");
    if (!path.isEmpty() && !plot_->savePng(path, 900, 600))
        status_->setText("Could not save " + path);
}

void EyeWindow::saveCsv() {
    const QString path =
        QFileDialog::getSaveFileName(this, "Save the histogram", "eye.csv", "CSV (*.csv)");
    if (path.isEmpty()) return;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(csv_.data(), static_cast<qint64>(csv_.size())) != static_cast<qint64>(csv_.size()))
        status_->setText("Could not save " + path);
}

} // namespace platform::qt
