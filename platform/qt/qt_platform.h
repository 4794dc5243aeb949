// Qt back ends of the platform layer: popups, the event loop, locale and the look.
#pragma once

#include "platform/event_loop.h"
#include "platform/popups.h"

#include <QPointer>
#include <QWidget>

class QApplication;

namespace platform::qt {

// Call right after constructing QApplication: Qt has just set the process locale from the
// environment, and numbers in files and messages must stay in the C locale.
void initApplicationLocale();

// Fusion style, a dark palette and the panel's style sheet.
void applyTheme(QApplication& app);

// Modal dialogs on the GUI thread; from any other thread a non-modal box is posted to the GUI
// thread and the default answer comes back at once, so the timer thread never waits for a user.
class QtPopupHandler : public PopupHandler {
  public:
    PopupAnswer show(const PopupRequest& request) override;
    void setParent(QWidget* parent) { parent_ = parent; }
    // Answer given off the GUI thread: OK, No, the first button, no file.
    static PopupAnswer defaultAnswer(const PopupRequest& request);

  private:
    PopupAnswer showModal(const PopupRequest& request);
    QPointer<QWidget> parent_;
};

// "*.velt" or "*.ini;*.txt" as a dialog filter; the first pattern's extension becomes the
// default suffix.
QString fileDialogFilter(const std::string& typeList);
QString defaultSuffix(const std::string& typeList);

class QtEventLoop : public EventLoop {
  public:
    int run() override;
    void quit(int code) override;
    void post(std::function<void()> fn) override;
    void processEvents() override;
};

} // namespace platform::qt
