// The serial field keeps the focus: a scanner is a keyboard that types the serial and Enter, so
// the operator never has to click between coupons.
#include "platform/qt/station_bar.h"

#include "platform/qt/view.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>

namespace platform::qt {
namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

void paintBanner(QLabel* banner, const QString& text, const char* background) {
    banner->setText(text);
    banner->setStyleSheet(QString("QLabel { background: %1; color: white; font-size: 40px; "
                                  "font-weight: bold; padding: 6px; }")
                              .arg(background));
}

} // namespace

StationBar::StationBar(PanelWindow* window, platform::StationService& service)
    : QDockWidget(window), window_(window), service_(service) {
    setObjectName("station");
    setWindowTitle(qs("Station: " + service.recipeName()));
    setFeatures(QDockWidget::NoDockWidgetFeatures);
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    banner_ = new QLabel(body);
    banner_->setObjectName("banner");
    banner_->setAlignment(Qt::AlignCenter);
    paintBanner(banner_, "SETTING UP", "#555555");
    zones_ = new QLabel(body);
    zones_->setObjectName("zones");
    zones_->setAlignment(Qt::AlignCenter);
    zones_->setStyleSheet("QLabel { font-size: 16px; }");
    auto* row = new QHBoxLayout();
    const auto field = [&](const char* label, const char* name) {
        row->addWidget(new QLabel(label, body));
        auto* edit = new QLineEdit(body);
        edit->setObjectName(name);
        row->addWidget(edit, 1);
        return edit;
    };
    lot_ = field("Lot", "lot");
    operator_ = field("Operator", "operator");
    serial_ = field("Serial", "serial");
    serial_->setStyleSheet("QLineEdit { font-size: 18px; }");
    serial_->setEnabled(false);
    lot_->setText(qs(service.lot()));
    operator_->setText(qs(service.operatorName()));
    certificate_ = new QCheckBox("Certificate (PDF)", body);
    certificate_->setChecked(service.certificate());
    connect(certificate_, &QCheckBox::toggled, this, [this](bool on) {
        service_.setCertificate(on);
        serial_->setFocus();
    });
    row->addWidget(certificate_);
    counts_ = new QLabel(body);
    counts_->setObjectName("counts");
    row->addWidget(counts_);
    column->addWidget(banner_);
    column->addWidget(zones_);
    column->addLayout(row);
    status_ = new QLabel(body);
    status_->setObjectName("recordStatus");
    column->addWidget(status_);
    setWidget(body);
    window->addDockWidget(Qt::TopDockWidgetArea, this);
    connect(serial_, &QLineEdit::returnPressed, this, &StationBar::scanned);

    menu_ = window->menuBar()->addMenu("Station");
    mode_ = menu_->addAction("Station Mode");
    mode_->setObjectName("stationMode");
    mode_->setCheckable(true);
    mode_->setChecked(true);
    connect(mode_, &QAction::toggled, this, &StationBar::setMode);
    window->setLocked(true);
    updateCounts();

    // The record is written on a thread of its own; its fate shows when it is known.
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
        const std::string text = service_.recordStatus();
        status_->setText(qs(text));
        // A process signal is amber: the coupon's own verdict is the banner's.
        status_->setStyleSheet(
            text.find("\nSPC: ") != std::string::npos ? "color: #c07000; font-weight: bold;" : "");
    });
    poll->start(250);
}

void StationBar::offer(QAction* action) {
    if (action) menu_->addAction(action);
}

void StationBar::setMode(bool on) {
    window_->setLocked(on);
    setVisible(on);
    if (on) serial_->setFocus();
}

void StationBar::start() {
    std::string error;
    if (!service_.prepare(error)) {
        paintBanner(banner_, "SET-UP FAILED", "#8a1c1c");
        zones_->setText(qs(error));
        return;
    }
    // Asked once; the fields keep them for every test after.
    for (auto [edit, what] :
         {std::pair{lot_, "Lot (order, panel or reel):"}, std::pair{operator_, "Operator:"}}) {
        if (!edit->text().isEmpty()) continue;
        bool ok = false;
        const QString text =
            QInputDialog::getText(window_, "Station", what, QLineEdit::Normal, "", &ok);
        if (ok) edit->setText(text.trimmed());
    }
    ready_ = true;
    serial_->setEnabled(true);
    paintBanner(banner_, "READY: SCAN A SERIAL", "#1f4e79");
    zones_->clear();
    serial_->setFocus();
}

void StationBar::scanned() {
    const QString serial = serial_->text().trimmed();
    serial_->clear();
    if (!ready_ || busy_ || serial.isEmpty()) return;
    const std::string s = serial.toStdString();
    bool retest = false;
    if (service_.testedBefore(s)) {
        const auto answer = QMessageBox::question(
            window_, "Station", "Serial " + serial + " was tested before. Test it again?",
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
        if (answer != QMessageBox::Yes) {
            serial_->setFocus();
            return;
        }
        retest = true;
    }
    busy_ = true;
    paintBanner(banner_, "TESTING " + serial, "#555555");
    zones_->clear();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    const platform::StationResult r = service_.test(
        s, lot_->text().trimmed().toStdString(), operator_->text().trimmed().toStdString(), retest);
    busy_ = false;
    showResult(r);
    updateCounts();
    serial_->setFocus();
}

void StationBar::showResult(const platform::StationResult& r) {
    if (!r.judged) {
        paintBanner(banner_, qs("NOT TESTED: " + r.serial), "#8a5a00");
        zones_->setText(qs(r.message));
        return;
    }
    paintBanner(banner_, qs(r.verdict + "  " + r.serial),
                r.pass                ? "#1b7f3b"
                : r.verdict == "FAIL" ? "#b3261e"
                                      : "#8a5a00");
    QString text;
    for (const platform::StationZone& z : r.zones)
        text += qs(z.name + "  " + z.value + " Ohm  [" + z.limits + "]  " + z.verdict) + "\n";
    if (!r.message.empty()) text += qs(r.message);
    zones_->setText(text.trimmed());
}

void StationBar::updateCounts() {
    int passes = 0, fails = 0;
    service_.todayCounts(passes, fails);
    counts_->setText(QString("Today: %1 passed, %2 failed").arg(passes).arg(fails));
}

} // namespace platform::qt
