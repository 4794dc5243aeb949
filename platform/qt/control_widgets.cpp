// The busy lamp and the committing spin box.
#include "platform/qt/control_widgets.h"

#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QRadialGradient>

namespace platform::qt {

LedWidget::LedWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setToolTip("Instrument busy");
}

void LedWidget::setLit(bool lit) {
    if (lit == lit_) return;
    lit_ = lit;
    update();
}

void LedWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal d = std::min(width(), height()) - 2.0;
    const QRectF r((width() - d) / 2.0, (height() - d) / 2.0, d, d);
    QRadialGradient g(r.center() - QPointF(d * 0.15, d * 0.15), d * 0.7);
    if (lit_) {
        g.setColorAt(0.0, QColor(220, 255, 210));
        g.setColorAt(0.35, QColor(90, 255, 70));
        g.setColorAt(1.0, QColor(30, 150, 30));
    } else {
        g.setColorAt(0.0, QColor(70, 90, 72));
        g.setColorAt(1.0, QColor(18, 34, 20));
    }
    p.setPen(QPen(QColor(10, 12, 14), 1.2));
    p.setBrush(g);
    p.drawEllipse(r);
}

CommitSpinBox::CommitSpinBox(QWidget* parent) : QDoubleSpinBox(parent) {
    setLocale(QLocale::c());
    setKeyboardTracking(false);
    setAccelerated(true);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { editing_ = true; });
    // Return commits even an unchanged value, as pressing Enter on an instrument field does;
    // leaving the field commits only what was changed.
    connect(this, &QAbstractSpinBox::editingFinished, this, [this] {
        if (isReadOnly()) return;
        if (hasFocus() || editing_) {
            editing_ = false;
            emit committed();
        }
    });
}

void CommitSpinBox::stepBy(int steps) {
    QDoubleSpinBox::stepBy(steps);
    if (isReadOnly()) return;
    editing_ = false;
    emit committed();
}

} // namespace platform::qt
