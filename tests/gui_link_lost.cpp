// The real window losing its instrument while auto-acquire runs: the fatal box stays until the
// user answers it, then the program saves its settings and exits with a failure status.
#include "acquisition/acquire.h"
#include "app/startup.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/settings.h"
#include "platform/panel_model.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::panel;

namespace {

using testing_support::gWindow;
using testing_support::showWindow;

TEST(LinkLost, TheBoxStaysUntilAnsweredThenTheProgramExitsWithAFailure) {
    char tmpl[] = "/tmp/velt_lost_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(tmpl);

    testing_support::freshPanel();
    simulator::SimulatedInstrument sim;
    platform::setSerialDevice(&sim);
    platform::qt::PanelWindow window{panelTable()};
    gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::qt::QtPopupHandler popups;
    popups.setParent(&window);
    platform::setPopupHandler(&popups);
    platform::setEventLoop(&loop);
    setDisplayPanel(showWindow);

    enum { Tracing, Unplugged, Shown, Answered, GaveUp } phase = Tracing;
    QString title, text;
    qint64 shownFor = 0;
    QElapsedTimer clock, boxClock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (phase == Tracing && panelState.livePlot.load() != 0) {
            setAutoAcquire(1);
            sim.setFault(simulator::Fault::Unplugged, true);
            phase = Unplugged;
        } else if (phase == Unplugged && box != nullptr) {
            title = box->windowTitle();
            text = box->text();
            boxClock.start();
            phase = Shown;
        } else if (phase == Shown) {
            // Several 0.5 s ticks pass while the user reads: the box must still be there.
            if (box == nullptr) {
                shownFor = boxClock.elapsed();
                phase = GaveUp;
            } else if (boxClock.elapsed() > 1500) {
                shownFor = boxClock.elapsed();
                phase = Answered;
                box->button(QMessageBox::Ok)->click();
            }
        }
        if (phase != Answered && phase != GaveUp && clock.elapsed() > 20000) {
            phase = GaveUp;
            onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
        }
    });
    loop.post([&poll] { poll.start(20); });

    EXPECT_EQ(veltMain(), kExitLinkLost);
    poll.stop();

    EXPECT_EQ(phase, Answered) << "the box closed by itself after " << shownFor << " ms";
    EXPECT_TRUE(title == "ERROR #3011" || title == "ERROR #3012") << title.toStdString();
    EXPECT_FALSE(text.isEmpty());
    EXPECT_GE(shownFor, 1500);

    setDisplayPanel(nullptr);
    platform::setPopupHandler(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    fs::current_path(previous);
    fs::remove_all(tmpl);
}

} // namespace
