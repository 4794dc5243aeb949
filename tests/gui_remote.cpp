// Remote control in the real program: PyVISA's own client (Debian's python3-pyvisa-py) runs a
// bench script's story against the window's SCPI server on the simulated instrument, paced like
// the real link, while the window goes on answering its own events.
#include "app/remote.h"
#include "app/startup.h"
#include "instrument/driver.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "platform/event_loop.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/remote_server.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

// The program in a folder of its own, the window on the simulated QSB020 with its default
// devices, paced so that a long acquisition takes as long as on the real link, and its server.
class RemoteWindow : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(folder), nullptr);
        fs::current_path(folder);
        testing_support::freshPanel();
        sim.setPaced(true);
        platform::setSerialDevice(&sim);
        testing_support::gWindow = &window;
        platform::setEventLoop(&loop);
        setDisplayPanel(testing_support::showWindow);
        QString error;
        ASSERT_TRUE(server.listen("127.0.0.1", 0, error)) << error.toStdString();
    }
    void TearDown() override {
        server.close();
        setDisplayPanel(nullptr);
        platform::setEventLoop(nullptr);
        platform::setSerialDevice(nullptr);
        platform::setPopupHandler(nullptr);
        fs::current_path(previous);
        fs::remove_all(folder);
    }
    char folder[32] = "/tmp/velt_remote_XXXXXX";
    const fs::path previous = fs::current_path();
    simulator::SimulatedInstrument sim;
    platform::qt::PanelWindow window{panelTable()};
    platform::qt::QtEventLoop loop;
    RemoteControl control{{&sim, false}};
    platform::qt::RemoteServer server{control, nullptr};
};

TEST_F(RemoteWindow, APyVisaClientRunsABenchScriptsStory) {
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&client, &QProcess::finished,
                     [] { onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL); });
    // The longest the window's event loop went without turning while a remote operation ran.
    QElapsedTimer sinceLast;
    qint64 longest = 0, watched = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const qint64 gap = sinceLast.restart();
        if (!control.operationRunning()) return;
        longest = std::max(longest, gap);
        watched += gap;
    });
    loop.post([&] {
        sinceLast.start();
        watch.start(5);
        client.start("/usr/bin/python3",
                     {VELT_SOURCE_DIR "/tests/remote_story.py",
                      QString("TCPIP0::127.0.0.1::%1::SOCKET").arg(server.port()),
                      QString::fromStdString((fs::path(folder) / "datalogs").string())});
    });

    EXPECT_EQ(veltMain(), 0);
    const std::string output = client.readAll().toStdString();
    EXPECT_EQ(client.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(client.exitCode(), 0) << output;
    EXPECT_NE(output.find("remote story: PASS"), std::string::npos) << output;
    EXPECT_GT(watched, 500) << "no remote operation was watched";
    EXPECT_LT(longest, 250) << "the window stood still for " << longest << " ms";
}

// The acquisition's own message ("Error #3031", posted from the timer thread on screen) goes
// into the error queue of a remote INITiate; the window's popups never see it.
TEST_F(RemoteWindow, AnErrorMetByARemoteAcquisitionIsQueuedNotShown) {
    platform::ScriptedResponder windowPopups;
    platform::setPopupHandler(&windowPopups);
    std::string error;
    loop.post([&] {
        RemoteInstrument state({&sim, false});
        RemoteSession session(state);
        session.execute("DISP:Y:AUTO OFF;AVER 1");
        // A vertical range upside down, as a user can type it: the trace cannot be drawn.
        platform::panel().setValue(PANEL_YMIN, 10);
        platform::panel().setValue(PANEL_YMAX, -10);
        error = session.execute("INIT;*OPC?;SYST:ERR?");
        onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL);
    });
    EXPECT_EQ(veltMain(), 0);
    EXPECT_EQ(error, "1;3031,\"Invalid waveform received from device.\"\n");
    EXPECT_EQ(windowPopups.countTitle("Error #3031"), 0);
}
