// Remote control in the real program: PyVISA's own client (Debian's python3-pyvisa-py) runs a
// bench script's story against the window's SCPI server on the simulated instrument.
#include "app/remote.h"
#include "app/startup.h"
#include "instrument/driver.h"
#include "panel/callbacks.h"
#include "panel/interface.h"
#include "platform/event_loop.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/remote_server.h"
#include "platform/qt/view.h"
#include "platform/serial_device.h"
#include "simulator/sim_device.h"
#include "tests/support/gui_window.h"
#include "tests/support/test_support.h"

#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(RemoteWindow, APyVisaClientRunsABenchScriptsStory) {
    char folder[] = "/tmp/velt_remote_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    testing_support::freshPanel();
    simulator::SimulatedInstrument sim; // QSB020, its default devices, unpaced
    platform::setSerialDevice(&sim);
    platform::qt::PanelWindow window{panelTable()};
    testing_support::gWindow = &window;
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    setDisplayPanel(testing_support::showWindow);

    RemoteControl control({&sim, false});
    platform::qt::RemoteServer server(control, nullptr);
    QString error;
    ASSERT_TRUE(server.listen("127.0.0.1", 0, error)) << error.toStdString();
    QProcess client;
    client.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&client, &QProcess::finished,
                     [] { onExit(MENUBAR, MENUBAR_FILE_EXIT, nullptr, PANEL); });
    loop.post([&] {
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

    server.close();
    setDisplayPanel(nullptr);
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    fs::current_path(previous);
    fs::remove_all(folder);
}
