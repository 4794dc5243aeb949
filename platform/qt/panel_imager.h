// The panel imager of the Qt view: grabs the panel area (the window without its menu bar),
// encodes it as PNG, and prints it through Qt's print dialog.
#pragma once

#include "platform/panel_image.h"

#include <QPixmap>
#include <QPointer>

class QPaintDevice;

namespace platform::qt {

class PanelWindow;

class QtPanelImager : public PanelImager {
  public:
    explicit QtPanelImager(PanelWindow* window) : window_(window) {}

    bool capture() override;
    bool encodeCapture(std::string& png) override;
    void print() override;

    // Paints the panel as the model has it now onto a page, fitted and centred with its aspect
    // ratio kept.
    void paintPanel(QPaintDevice& page);
    // For a window whose event loop never turns (batch runs): bring the widgets up to the
    // model and draw the graph at once before each capture.
    void setRefreshBeforeCapture(bool on) { refreshBeforeCapture_ = on; }
    // Prints onto this device instead of a printer, without the dialog (for batch checks).
    void setPrintTarget(QPaintDevice* page) { target_ = page; }
    const QPixmap& captured() const { return captured_; }

  private:
    QPointer<PanelWindow> window_;
    QPixmap captured_;
    QPaintDevice* target_ = nullptr;
    bool refreshBeforeCapture_ = false;
};

} // namespace platform::qt
