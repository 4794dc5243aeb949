// Panel pictures for the PNG export and printing.
#include "platform/qt/panel_imager.h"

#include "platform/qt/view.h"
#include "platform/qt/waveform_graph.h"

#include <QBuffer>
#include <QByteArray>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

namespace platform::qt {

bool QtPanelImager::capture() {
    captured_ = QPixmap();
    if (!window_ || !window_->centralWidget()) return false;
    if (refreshBeforeCapture_) {
        window_->refresh();
        if (window_->graph()) window_->graph()->replot(QCustomPlot::rpImmediateRefresh);
    }
    captured_ = window_->centralWidget()->grab();
    return !captured_.isNull();
}

bool QtPanelImager::encodeCapture(std::string& png) {
    if (captured_.isNull()) return false;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly) || !captured_.save(&buffer, "PNG")) return false;
    png.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

void QtPanelImager::paintPanel(QPaintDevice& page) {
    if (!window_ || !window_->centralWidget()) return;
    // Whatever the caller just changed (the light scheme) must be on the widgets before they
    // are painted, not a queued refresh later.
    window_->refresh();
    if (window_->graph()) window_->graph()->replot(QCustomPlot::rpImmediateRefresh);
    QWidget* area = window_->centralWidget();
    const QSize size = area->size();
    if (size.isEmpty()) return;
    const double scale = std::min(static_cast<double>(page.width()) / size.width(),
                                  static_cast<double>(page.height()) / size.height());
    QPainter painter(&page);
    painter.translate((page.width() - size.width() * scale) / 2.0,
                      (page.height() - size.height() * scale) / 2.0);
    painter.scale(scale, scale);
    area->render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
}

void QtPanelImager::print() {
    if (target_) {
        paintPanel(*target_);
        return;
    }
    if (!window_) return;
    QPrinter printer(QPrinter::HighResolution);
    // The panel is wider than high: landscape fills more of the page.
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dialog(&printer, window_);
    if (dialog.exec() != QDialog::Accepted) return;
    paintPanel(printer);
}

} // namespace platform::qt
