// What the user reads on the real window: every label, design value, limit and unit name,
// written out literally here rather than taken from the tables that build the window, so a
// wrong text or limit in those tables fails.
#include "panel/interface.h"
#include "panel/settings.h"
#include "platform/panel_model.h"
#include "platform/qt/control_widgets.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/view.h"
#include "platform/qt/waveform_graph.h"
#include "tests/support/test_support.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <ostream>

using platform::panel;
using platform::qt::PanelWindow;

namespace {

enum class Shows {
    Caption,   // the caption beside a control, or a button's own text
    Text,      // what a field, text box or text message holds
    Items,     // a ring's entries, joined by '|'
    Minimum,   // a numeric field's lower limit
    Maximum,   // its upper limit
    MenuLabel, // a menu item's label (`control` is the menu id)
    XAxis,     // the graph's axis names
    YAxis,
};

struct Expected {
    const char* name; // of the test case
    int unitMenu;     // unit menu item chosen first, 0 for the design state
    Shows what;
    int control;
    const char* text; // expected text, or nullptr for a number
    double number = 0.0;
};

constexpr Expected kExpected[] = {
    // Controls at design time.
    {"AutoAcquire", 0, Shows::Caption, PANEL_AUTOACQUIRE, "Auto Acquire"},
    {"Acquire", 0, Shows::Caption, PANEL_ACQUIRE, " ACQUIRE "},
    {"Notes", 0, Shows::Caption, PANEL_NOTES, "Notes:"},
    {"Serial", 0, Shows::Caption, PANEL_SERIAL, "Serial:"},
    {"ModeItems", 0, Shows::Items, PANEL_MODE, "TDR|TDT|NEXT|FEXT"},
    {"DifferentialItems", 0, Shows::Items, PANEL_DIFFERENTIAL, "SINGLE ENDED|DIFFERENTIAL"},
    {"Stimulus", 0, Shows::Caption, PANEL_STIMULUS, "Stimulus / Transmitter"},
    {"Sampler", 0, Shows::Caption, PANEL_SAMPLER, "Sampler / Receiver"},
    {"Autoscale", 0, Shows::Caption, PANEL_AUTOSCALE, "AUTOSCALE Y AXIS"},
    {"YMin", 0, Shows::Text, PANEL_YMIN, "0.00"},
    {"YMaxCaption", 0, Shows::Caption, PANEL_YMAX, "to"},
    {"YMax", 0, Shows::Text, PANEL_YMAX, "500.00"},
    {"AveragingCaption", 0, Shows::Caption, PANEL_AVERAGING, "Waveform Averaging"},
    {"Averaging", 0, Shows::Text, PANEL_AVERAGING, "1"},
    {"AveragingMinimum", 0, Shows::Minimum, PANEL_AVERAGING, nullptr, 1},
    {"AveragingMaximum", 0, Shows::Maximum, PANEL_AVERAGING, nullptr, 1000},
    {"StartCaption", 0, Shows::Caption, PANEL_XSTART, " Start (m)"},
    {"Start", 0, Shows::Text, PANEL_XSTART, "0.000"},
    {"StartMinimum", 0, Shows::Minimum, PANEL_XSTART, nullptr, 0},
    {"StartMaximum", 0, Shows::Maximum, PANEL_XSTART, nullptr, 15},
    {"EndCaption", 0, Shows::Caption, PANEL_XEND, " End (m) "},
    {"End", 0, Shows::Text, PANEL_XEND, "3.000"},
    {"EndMaximum", 0, Shows::Maximum, PANEL_XEND, nullptr, 15},
    {"Filter", 0, Shows::Caption, PANEL_FILTER, "Filter Rise Time (ps)"},
    {"FilterWidth", 0, Shows::Text, PANEL_FILTERWIDTH, "200"},
    {"DielCaption", 0, Shows::Caption, PANEL_DIEL, "Dielectric (K)"},
    {"Diel", 0, Shows::Text, PANEL_DIEL, "2.230"},
    {"Zoom", 0, Shows::Caption, PANEL_ZOOM, " ZOOM "},
    {"ResetZoom", 0, Shows::Caption, PANEL_RESETZOOM, " RESET ZOOM "},
    {"VcCaption", 0, Shows::Caption, PANEL_VC, " V/C "},
    {"Vc", 0, Shows::Text, PANEL_VC, "0.6696"},
    {"LogCaption", 0, Shows::Caption, PANEL_MESSAGE, "Program Log:"},
    {"Log", 0, Shows::Text, PANEL_MESSAGE, "> Initializing..."},
    {"Version", 0, Shows::Text, PANEL_VERSION, "VELT vX.x.x / QSxxxx"},
    {"Cursor1", 0, Shows::Text, PANEL_CURSOR1, " 0.000 m  |  0.000 mV"},
    {"Cursor2", 0, Shows::Text, PANEL_CURSOR2, " 0.000 m  |  0.000 mV"},
    {"Distance", 0, Shows::Text, PANEL_DISTANCE, " 0.000 m (roundtrip)"},
    {"C1", 0, Shows::Text, PANEL_C1, " C1 "},
    {"C2", 0, Shows::Text, PANEL_C2, " C2 "},
    {"C3", 0, Shows::Text, PANEL_C3, " X2 - X1 "},
    {"Debug", 0, Shows::Caption, PANEL_DEBUG, "DEBUG"},
    {"GraphX", 0, Shows::XAxis, PANEL_WAVEFORM, "ROUNDTRIP (m)"},
    {"GraphY", 0, Shows::YAxis, PANEL_WAVEFORM, "VOLTS (mV)"},
    // The menu bar.
    {"MenuFile", 0, Shows::MenuLabel, MENUBAR_FILE, "File"},
    {"MenuPrint", 0, Shows::MenuLabel, MENUBAR_FILE_PRINT, "Print"},
    {"MenuSaveCsv", 0, Shows::MenuLabel, MENUBAR_FILE_SAVECSV, "Save CSV"},
    {"MenuSavePng", 0, Shows::MenuLabel, MENUBAR_FILE_SAVEPNG, "Save PNG"},
    {"MenuStore", 0, Shows::MenuLabel, MENUBAR_FILE_STORE, "Store Waveform"},
    {"MenuRecall", 0, Shows::MenuLabel, MENUBAR_FILE_RECALL, "Recall Waveform"},
    {"MenuClear", 0, Shows::MenuLabel, MENUBAR_FILE_CLEAR, "Clear Waveform"},
    {"MenuSaveSettings", 0, Shows::MenuLabel, MENUBAR_FILE_SAVESETTINGS, "Save Settings"},
    {"MenuLoadSettings", 0, Shows::MenuLabel, MENUBAR_FILE_LOADSETTINGS, "Load Settings"},
    {"MenuResetSettings", 0, Shows::MenuLabel, MENUBAR_FILE_RESETSETTINGS, "Reset Defaults"},
    {"MenuExit", 0, Shows::MenuLabel, MENUBAR_FILE_EXIT, "Exit Program"},
    {"MenuDomain", 0, Shows::MenuLabel, MENUBAR_DOMAIN, "Domain"},
    {"MenuTime", 0, Shows::MenuLabel, MENUBAR_DOMAIN_TIME, "Time Domain"},
    {"MenuFreq", 0, Shows::MenuLabel, MENUBAR_DOMAIN_FREQ, "Frequency Domain"},
    {"MenuDisplay", 0, Shows::MenuLabel, MENUBAR_PLOT, "Display"},
    {"MenuDark", 0, Shows::MenuLabel, MENUBAR_PLOT_DARK, "Dark Background"},
    {"MenuLight", 0, Shows::MenuLabel, MENUBAR_PLOT_LIGHT, "Light Background"},
    {"MenuXUnits", 0, Shows::MenuLabel, MENUBAR_XUNITS, "X Units"},
    {"MenuMetres", 0, Shows::MenuLabel, MENUBAR_XUNITS_X1, "Distance (m)"},
    {"MenuFeet", 0, Shows::MenuLabel, MENUBAR_XUNITS_X2, "Distance (ft)"},
    {"MenuNs", 0, Shows::MenuLabel, MENUBAR_XUNITS_X3, "Time (ns)"},
    {"MenuGHz", 0, Shows::MenuLabel, MENUBAR_XUNITS_X5, "Frequency (GHz)"},
    {"MenuYUnits", 0, Shows::MenuLabel, MENUBAR_YUNITS, "Y Units"},
    {"MenuMv", 0, Shows::MenuLabel, MENUBAR_YUNITS_Y1, "Voltage (mV)"},
    {"MenuNorm", 0, Shows::MenuLabel, MENUBAR_YUNITS_Y2, "Normalized"},
    {"MenuOhm", 0, Shows::MenuLabel, MENUBAR_YUNITS_Y3, "Impedance (Ohm)"},
    {"MenuRho", 0, Shows::MenuLabel, MENUBAR_YUNITS_Y4, "Reflect Coeff (Rho)"},
    {"MenuDb", 0, Shows::MenuLabel, MENUBAR_YUNITS_Y6, "Amplitude (dB)"},
    {"MenuTrueProfile", 0, Shows::MenuLabel, MENUBAR_YUNITS_TRUEPROFILE, "True Impedance Profile"},
    {"MenuCal", 0, Shows::MenuLabel, MENUBAR_CAL, "Calibration"},
    {"MenuSetZero", 0, Shows::MenuLabel, MENUBAR_CAL_SETZERO, "Set Zero"},
    {"MenuResetZero", 0, Shows::MenuLabel, MENUBAR_CAL_RESETZERO, "Reset Zero"},
    {"MenuIntCal", 0, Shows::MenuLabel, MENUBAR_CAL_INTCAL, "Internal Calibration"},
    {"MenuExtCal", 0, Shows::MenuLabel, MENUBAR_CAL_EXTCAL, "External Calibration"},
    {"MenuSolt", 0, Shows::MenuLabel, MENUBAR_CAL_SOLTCAL, "SOLT Cal"},
    {"MenuSaveSolt", 0, Shows::MenuLabel, MENUBAR_CAL_SAVESOLT, "Save SOLT Cal"},
    {"MenuLoadSolt", 0, Shows::MenuLabel, MENUBAR_CAL_LOADSOLT, "Load SOLT Cal"},
    {"MenuRecalibrate", 0, Shows::MenuLabel, MENUBAR_CAL_RECALIBRATE, "Recalibrate"},
    // Units chosen from the menus (window 0 to 3 m, dielectric constant 2.25).
    {"MetresStart", MENUBAR_XUNITS_X1, Shows::Caption, PANEL_XSTART, " Start (m)"},
    {"MetresEnd", MENUBAR_XUNITS_X1, Shows::Caption, PANEL_XEND, " End (m)"},
    {"MetresStartMaximum", MENUBAR_XUNITS_X1, Shows::Maximum, PANEL_XSTART, nullptr, 15},
    {"MetresEndMaximum", MENUBAR_XUNITS_X1, Shows::Maximum, PANEL_XEND, nullptr, 15},
    {"MetresAxis", MENUBAR_XUNITS_X1, Shows::XAxis, PANEL_WAVEFORM, "ROUNDTRIP (m)"},
    {"FeetStart", MENUBAR_XUNITS_X2, Shows::Caption, PANEL_XSTART, " Start (ft)"},
    {"FeetEnd", MENUBAR_XUNITS_X2, Shows::Caption, PANEL_XEND, " End (ft)"},
    {"FeetEndValue", MENUBAR_XUNITS_X2, Shows::Text, PANEL_XEND, "9.843"},
    {"FeetEndMaximum", MENUBAR_XUNITS_X2, Shows::Maximum, PANEL_XEND, nullptr, 45},
    {"FeetAxis", MENUBAR_XUNITS_X2, Shows::XAxis, PANEL_WAVEFORM, "ROUNDTRIP (ft)"},
    {"NsStart", MENUBAR_XUNITS_X3, Shows::Caption, PANEL_XSTART, " Start (ns)"},
    {"NsEnd", MENUBAR_XUNITS_X3, Shows::Caption, PANEL_XEND, " End (ns)"},
    {"NsEndValue", MENUBAR_XUNITS_X3, Shows::Text, PANEL_XEND, "15.000"},
    {"NsEndMaximum", MENUBAR_XUNITS_X3, Shows::Maximum, PANEL_XEND, nullptr, 74},
    {"NsAxis", MENUBAR_XUNITS_X3, Shows::XAxis, PANEL_WAVEFORM, "ROUNDTRIP (ns)"},
    {"MvAxis", MENUBAR_YUNITS_Y1, Shows::YAxis, PANEL_WAVEFORM, "VOLTAGE (mV)"},
    {"MvLow", MENUBAR_YUNITS_Y1, Shows::Text, PANEL_YMIN, "-250.00"},
    {"MvHigh", MENUBAR_YUNITS_Y1, Shows::Text, PANEL_YMAX, "250.00"},
    {"NormAxis", MENUBAR_YUNITS_Y2, Shows::YAxis, PANEL_WAVEFORM, "NORMALIZED"},
    {"NormLow", MENUBAR_YUNITS_Y2, Shows::Text, PANEL_YMIN, "0.00"},
    {"NormHigh", MENUBAR_YUNITS_Y2, Shows::Text, PANEL_YMAX, "2.00"},
    {"OhmAxis", MENUBAR_YUNITS_Y3, Shows::YAxis, PANEL_WAVEFORM, "IMPEDANCE (Ohm)"},
    {"OhmLow", MENUBAR_YUNITS_Y3, Shows::Text, PANEL_YMIN, "0.00"},
    {"OhmHigh", MENUBAR_YUNITS_Y3, Shows::Text, PANEL_YMAX, "500.00"},
    {"RhoAxis", MENUBAR_YUNITS_Y4, Shows::YAxis, PANEL_WAVEFORM, "REFLECTION COEFF (Rho)"},
    {"RhoLow", MENUBAR_YUNITS_Y4, Shows::Text, PANEL_YMIN, "-1.00"},
    {"RhoHigh", MENUBAR_YUNITS_Y4, Shows::Text, PANEL_YMAX, "1.00"},
};

void PrintTo(const Expected& e, std::ostream* os) {
    *os << e.name;
}

const char* objectName(int control) {
    for (const ControlDef& d : panelTable().controls)
        if (d.id == control) return d.name;
    return "";
}

void settle() {
    for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
}

class WindowShows : public testing::TestWithParam<Expected> {
  protected:
    void SetUp() override {
        testing_support::freshPanel();
        loadInterface(); // the design values themselves
        window_ = std::make_unique<PanelWindow>(panelTable());
        window_->show();
        settle();
    }
    void TearDown() override {
        window_.reset();
        settle();
    }

    QString shown(const Expected& e) const {
        if (e.what == Shows::MenuLabel) {
            QAction* a = window_->menuAction(e.control);
            return a ? a->text() : QString("(no menu item)");
        }
        if (e.what == Shows::XAxis) return window_->graph()->xAxis->label();
        if (e.what == Shows::YAxis) return window_->graph()->yAxis->label();
        const std::string name = objectName(e.control);
        QWidget* w = window_->findChild<QWidget*>(QString::fromStdString(name));
        if (!w) return "(no widget " + QString::fromStdString(name) + ")";
        if (e.what == Shows::Caption) {
            if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
            auto* caption = window_->findChild<QLabel*>(QString::fromStdString(name + "_LABEL"));
            return caption ? caption->text() : QString("(no caption)");
        }
        if (e.what == Shows::Items) {
            auto* box = qobject_cast<QComboBox*>(w);
            QStringList items;
            for (int i = 0; box && i < box->count(); ++i) items << box->itemText(i);
            return items.join('|');
        }
        if (auto* spin = qobject_cast<QDoubleSpinBox*>(w)) {
            if (e.what == Shows::Minimum) return QString::number(spin->minimum());
            if (e.what == Shows::Maximum) return QString::number(spin->maximum());
            return spin->text();
        }
        if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
        if (auto* box = qobject_cast<QPlainTextEdit*>(w)) return box->toPlainText();
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        return "(no text on " + QString::fromStdString(name) + ")";
    }

    std::unique_ptr<PanelWindow> window_;
};

TEST_P(WindowShows, WhatTheUserMustRead) {
    const Expected& e = GetParam();
    if (e.unitMenu) {
        // Chosen as a user would; whether the item starts enabled is not this test's business.
        panel().setMenuDimmed(e.unitMenu, false);
        settle();
        QAction* item = window_->menuAction(e.unitMenu);
        ASSERT_NE(item, nullptr);
        item->trigger();
        settle();
    }
    const QString expected = e.text ? QString::fromUtf8(e.text) : QString::number(e.number);
    EXPECT_EQ(shown(e), expected);
}

INSTANTIATE_TEST_SUITE_P(Layout, WindowShows, testing::ValuesIn(kExpected),
                         [](const testing::TestParamInfo<Expected>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
