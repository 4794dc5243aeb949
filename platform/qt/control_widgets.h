// Small widgets the panel needs beyond stock Qt: the busy lamp and a spin box that commits.
#pragma once

#include <QDoubleSpinBox>
#include <QWidget>

namespace platform::qt {

// A round lamp, lit bright green while its value is 1.
class LedWidget : public QWidget {
    Q_OBJECT
  public:
    explicit LedWidget(QWidget* parent = nullptr);
    void setLit(bool lit);
    bool lit() const { return lit_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool lit_ = false;
};

// Numeric entry in the C locale that tells apart a finished edit (Return, or leaving the
// field after a change) and a step by arrow, wheel or key, which commits at once.
class CommitSpinBox : public QDoubleSpinBox {
    Q_OBJECT
  public:
    explicit CommitSpinBox(QWidget* parent = nullptr);
    void stepBy(int steps) override;
    // True between the user's first keystroke and the commit.
    bool editing() const { return editing_; }
    void clearEditing() { editing_ = false; }

  signals:
    void committed();

  private:
    bool editing_ = false;
};

} // namespace platform::qt
