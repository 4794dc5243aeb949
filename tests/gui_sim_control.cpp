// The simulator's control window under the offscreen platform: one choice per fitted channel,
// wired to the simulator.
#include "instrument/driver.h"
#include "instrument/transport.h"
#include "platform/serial_device.h"
#include "simulator/qt/sim_control_window.h"
#include "simulator/sim_device.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>

using simulator::Connection;

namespace {

QComboBox* combo(QWidget* w, int ch) {
    return w->findChild<QComboBox*>(QStringLiteral("connection%1").arg(ch));
}

TEST(SimControlWindow, ListsExactlyTheChannelsOfTheModel) {
    simulator::SimulatedInstrument sim("QSB008");
    std::unique_ptr<QWidget> w(createSimulatorControlWindow(sim));
    for (int ch = 0; ch < 10; ++ch)
        EXPECT_EQ(combo(w.get(), ch) != nullptr, sim.hasChannel(ch)) << ch;
    EXPECT_NE(w->windowTitle().indexOf("QSB008"), -1);
}

TEST(SimControlWindow, ChoosingAStandardConnectsItAndAThroughJoinsBothEnds) {
    simulator::SimulatedInstrument sim("QSB020");
    std::unique_ptr<QWidget> w(createSimulatorControlWindow(sim));
    combo(w.get(), 2)->setCurrentIndex(2); // OPEN
    EXPECT_EQ(sim.connection(2), Connection::Open);
    combo(w.get(), 1)->setCurrentIndex(4); // THROUGH
    EXPECT_EQ(sim.connection(6), Connection::Through);
    EXPECT_EQ(combo(w.get(), 6)->currentText(), "THROUGH") << "the other end is shown too";
    combo(w.get(), 6)->setCurrentIndex(1); // SHORT on the far end frees channel 1
    EXPECT_EQ(sim.connection(1), Connection::Device);
    EXPECT_EQ(combo(w.get(), 1)->currentText(), "Device");
    const auto* what = w->findChild<QLabel*>("device2");
    ASSERT_NE(what, nullptr);
    EXPECT_EQ(what->text(), "50 ohm 0.5 m, 75 ohm 0.3 m, open");
}

TEST(SimControlWindow, ThroughIsOfferedOnlyWithAPartnerChannel) {
    simulator::SimulatedInstrument sim("QSA002");
    std::unique_ptr<QWidget> w(createSimulatorControlWindow(sim));
    QComboBox* c = combo(w.get(), 2);
    ASSERT_NE(c, nullptr);
    const int through = c->findText("THROUGH");
    ASSERT_GE(through, 0);
    EXPECT_FALSE(c->model()->flags(c->model()->index(through, 0)) & Qt::ItemIsEnabled);
}

// Two sweeps of the same window over the wire: identical exactly when the noise is off.
bool sweepsRepeat(simulator::SimulatedInstrument& sim) {
    platform::setSerialDevice(&sim);
    EXPECT_EQ(usbftdi_open(), 1);
    EXPECT_EQ(readRaw(1024, 8, 0), 1);
    const auto first = instrument.link.samples;
    EXPECT_EQ(readRaw(1024, 8, 0), 1);
    const bool same = first == instrument.link.samples;
    usbftdi_close();
    platform::setSerialDevice(nullptr);
    return same;
}

TEST(SimControlWindow, NoiseCheckBoxShowsAndSwitchesTheSamplerNoise) {
    simulator::SimulatedInstrument sim("QSB020");
    sim.setNoise(false); // as with --no-noise
    std::unique_ptr<QWidget> w(createSimulatorControlWindow(sim));
    auto* box = w->findChild<QCheckBox*>("noise");
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());
    EXPECT_TRUE(sweepsRepeat(sim));
    box->click();
    EXPECT_TRUE(sim.noise());
    EXPECT_FALSE(sweepsRepeat(sim));
    box->click();
    EXPECT_TRUE(sweepsRepeat(sim));
}

TEST(SimControlWindow, UnplugPullsTheCableForGood) {
    simulator::SimulatedInstrument sim("QSB020");
    std::unique_ptr<QWidget> w(createSimulatorControlWindow(sim));
    auto* unplug = w->findChild<QPushButton*>("unplug");
    ASSERT_NE(unplug, nullptr);
    platform::setSerialDevice(&sim);
    ASSERT_EQ(usbftdi_open(), 1);
    unplug->click();
    EXPECT_EQ(readRaw(1024, 8, 0), -2) << "no sweep comes back once unplugged";
    EXPECT_FALSE(unplug->isEnabled());
    EXPECT_EQ(unplug->text(), "Unplugged");
    usbftdi_close();
    platform::setSerialDevice(nullptr);
}

} // namespace
