// Program entry: command line, instrument back end, Qt window, then the start-up sequence.
#include "app/backend.h"
#include "app/batch.h"
#include "app/options.h"
#include "app/remote.h"
#include "app/results.h"
#include "app/spc.h"
#include "app/startup.h"
#include "app/station.h"
#include "instrument/driver.h"
#include "panel/callbacks.h"
#include "panel/colors.h"
#include "panel/eye_view.h"
#include "panel/interface.h"
#include "panel/panel_state.h"
#include "panel/reference_traces.h"
#include "panel/timer.h"
#include "platform/event_loop.h"
#include "platform/log.h"
#include "platform/panel_model.h"
#include "platform/popups.h"
#include "platform/qt/certificate_pdf.h"
#include "platform/qt/eye_plot.h"
#include "platform/qt/eye_window.h"
#include "platform/qt/panel_imager.h"
#include "platform/qt/qt_platform.h"
#include "platform/qt/remote_server.h"
#include "platform/qt/spc_plot.h"
#include "platform/qt/spc_window.h"
#include "platform/qt/station_bar.h"
#include "platform/qt/view.h"
#include "platform/qt/waveform_graph.h"
#include "platform/serial_device.h"
#include "platform/shutdown.h"
#include "simulator/qt/sim_control_window.h"
#include "simulator/sim_device.h"
#include "simulator/sim_operator.h"

#include <QApplication>
#include <QMenuBar>
#include <QPixmap>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>

namespace {

platform::qt::PanelWindow* gWindow = nullptr;

// Display > Eye Diagram...: one window, made when first asked for, beside the panel.
LiveEye gLiveEye;
platform::qt::EyeWindow* gEyeWindow = nullptr;
void openEye() {
    if (!gWindow) return;
    if (!gEyeWindow) gEyeWindow = new platform::qt::EyeWindow(gLiveEye, gWindow);
    gEyeWindow->show();
    gEyeWindow->raise();
    gEyeWindow->redraw();
}

// Display > Statistics...: likewise, over the database this session records to.
std::unique_ptr<spc::RecordedStatistics> gStatistics;
platform::qt::StatisticsWindow* gStatisticsWindow = nullptr;
void openStatistics() {
    if (!gWindow || !gStatistics) return;
    if (!gStatisticsWindow)
        gStatisticsWindow = new platform::qt::StatisticsWindow(*gStatistics, gWindow);
    gStatisticsWindow->show();
    gStatisticsWindow->raise();
    gStatisticsWindow->redraw();
}

void showPanel() {
    if (!gWindow) return;
    gWindow->show();
    gWindow->raise();
    // Paint once now: the instrument set-up that follows takes a moment.
    QCoreApplication::processEvents();
}

void takeScreenshot(const QString& path) {
    int status = 0;
    // A refresh may still wait behind this timer (after long work on the GUI thread); the graph
    // draws on a queued replot; the picture must hold the trace of this moment.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    if (gWindow) gWindow->graph()->replot(QCustomPlot::rpImmediateRefresh);
    if (gWindow && gWindow->grab().save(path, "PNG")) {
        std::fprintf(stderr, "velt: screenshot saved to %s\n", path.toLocal8Bit().constData());
    } else {
        std::fprintf(stderr, "velt: could not save the screenshot to %s\n",
                     path.toLocal8Bit().constData());
        status = 1;
    }
    // A normal shutdown once running; during start-up nothing is saved, as with any abort.
    if (instrument.isInit.load() == 1 && status == 0)
        shutdown();
    else
        QCoreApplication::exit(status ? status : 1);
}

// A panel that is never shown, for the PNG exports of a run without a window: at its design
// size below the menu bar, refreshed from the model before each capture (no window paints it).
struct OffscreenPanel {
    platform::qt::PanelWindow window{panelTable()};
    platform::qt::QtPanelImager imager{&window};
    OffscreenPanel() {
        window.resize(1280, 720 + window.menuBar()->sizeHint().height());
        imager.setRefreshBeforeCapture(true);
        platform::setPanelImager(&imager);
    }
    ~OffscreenPanel() { platform::setPanelImager(nullptr); }
    OffscreenPanel(const OffscreenPanel&) = delete;
    OffscreenPanel& operator=(const OffscreenPanel&) = delete;
};

// `velt measure`: no window on screen; one offscreen for the PNG of the panel.
int measure(int argc, char** argv, const Options& opt) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::qt::initApplicationLocale();
    platform::qt::applyTheme(app);
    OffscreenPanel panel;
    platform::setCertificateWriter(platform::qt::writeCertificatePdf);
    platform::setEyePictureWriter(platform::qt::writeEyePng);
    return runMeasure(opt);
}

// `velt spc`: the charts are drawn offscreen.
int spcCharts(int argc, char** argv, const Options& opt) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::qt::initApplicationLocale();
    platform::setSpcChartWriter(platform::qt::writeSpcPng);
    return spc::runSpc(opt, stdout, stderr);
}

// Runs what a user does once start-up is complete (showing the window may already run posted
// actions).
void onceStarted(std::function<void()> action) {
    if (instrument.isInit.load() == 1) return action();
    QTimer::singleShot(100, [action] { onceStarted(action); });
}

// Starts the remote-control server; a port that cannot be had ends a serve run (there is
// nothing else it could do). The log echoes both outcomes on standard error.
bool listenRemote(platform::qt::RemoteServer& server, RemoteControl& control, const Options& opt,
                  bool serving) {
    QString error;
    if (server.listen(QString::fromStdString(opt.remoteAddress),
                      static_cast<quint16>(opt.remotePort), error)) {
        // Port 0 asks the system for a free one: the message names the one given.
        writeMessage(0, listeningMessage(opt.remoteAddress, server.port()), 0);
        control.showListening(server.port());
        return true;
    }
    writeMessage(0,
                 "Remote control cannot listen on " + opt.remoteAddress + ":" +
                     std::to_string(opt.remotePort) + ": " + error.toStdString(),
                 0);
    if (serving) requestShutdown(1);
    return false;
}

// The File menu's switch, for the window's one server.
platform::qt::RemoteServer* gServer = nullptr;
RemoteControl* gControl = nullptr;
const Options* gOptions = nullptr;
bool switchRemote(bool on) {
    if (!gServer) return false;
    if (!on) {
        gServer->close();
        gControl->showStopped();
        writeMessage(0, "Remote control stopped.", 0);
        return false;
    }
    return gServer->isListening() || listenRemote(*gServer, *gControl, *gOptions, false);
}

std::atomic<bool> gSignalled{false};
static_assert(std::atomic<bool>::is_always_lock_free);
extern "C" void onSignal(int) {
    gSignalled.store(true);
}

// `velt serve`: the start-up of the window without one (an offscreen panel for PNG exports),
// the remote-control server, and an end on SYSTem:EXIT, SIGINT or SIGTERM.
int serve(int argc, char** argv, const Options& opt) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    BackEnd backEnd = openBackEnd({opt.simulate, opt.model, opt.dutFile, opt.connections, opt.noise,
                                   /*paced=*/true, opt.seed, opt.randomSeed});
    if (!backEnd.ok) {
        std::fprintf(stderr, "velt: %s\n", backEnd.error.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    platform::qt::initApplicationLocale();
    platform::qt::applyTheme(app);
    platform::qt::QtEventLoop loop;
    platform::setEventLoop(&loop);
    int status = 0;
    {
        OffscreenPanel panel;
        std::unique_ptr<results::RecordingQueue> recorder;
        if (auto r = results::recorderFor(opt, [](const std::string& m) { writeMessage(0, m, 0); }))
            recorder = std::make_unique<results::RecordingQueue>(std::move(r));
        RemoteControl control(
            {backEnd.sim.get(), /*serve=*/true, recorder.get(), results::stationName(opt)});
        platform::qt::RemoteServer server(control, [] { shutdown(); });
        onceStarted([&] { listenRemote(server, control, opt, true); });
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
        QTimer signalPoll;
        QObject::connect(&signalPoll, &QTimer::timeout, [] {
            if (gSignalled.exchange(false)) shutdown();
        });
        signalPoll.start(100);
        status = veltMain();
        server.close();
    }
    platform::setEventLoop(nullptr);
    platform::setSerialDevice(nullptr);
    return status;
}

// Choose the channel, then "Frequency Domain".
void showFrequencyDomain(int channel) {
    if (platform::panel().ringSetValue(PANEL_STIMULUS, channel))
        onSetStimulus(PANEL, PANEL_STIMULUS, EVENT_COMMIT, nullptr, 0, 0);
    onSetDomainFreq(MENUBAR, MENUBAR_DOMAIN_FREQ, nullptr, PANEL);
}

} // namespace

int main(int argc, char** argv) {
    ParseResult parsed = parseOptions(argc, argv);
    if (!parsed.ok) {
        std::fprintf(stderr, "velt: %s\n", parsed.error.c_str());
        return 2;
    }
    const Options& opt = parsed.options;
    if (opt.help) {
        std::fputs(opt.helpText.c_str(), stdout);
        return 0;
    }
    if (opt.version) {
        std::printf("VELT %s\n", kVersionString);
        return 0;
    }
    if (!opt.dataDir.empty()) {
        // Names given on the command line keep meaning what they meant where it was typed.
        Options& o = parsed.options;
        for (std::string* path :
             {&o.dutFile, &o.screenshotPath, &o.recipePath, &o.outFolder, &o.stationRecipe})
            if (!path->empty()) *path = std::filesystem::absolute(*path).string();
        if (o.resultsGiven && o.results != "none" && !results::isServerTarget(o.results))
            o.results = std::filesystem::absolute(o.results).string();
        for (std::string& path : o.references) path = std::filesystem::absolute(path).string();
        std::error_code ec;
        std::filesystem::create_directories(opt.dataDir, ec);
        std::filesystem::current_path(opt.dataDir, ec);
        if (ec) {
            std::fprintf(stderr, "velt: cannot use %s for the data folders: %s\n",
                         opt.dataDir.c_str(), ec.message().c_str());
            return 1;
        }
    }
    if (opt.command == Command::Results) return results::runResults(opt, stdout, stderr);
    if (opt.command == Command::Spc) return spcCharts(argc, argv, opt);
    if (opt.command == Command::Measure) return measure(argc, argv, opt);
    if (opt.command == Command::Serve) return serve(argc, argv, opt);

    if (!opt.stationRecipe.empty()) {
        std::string error;
        if (!takeStationInstrument(parsed.options, error)) {
            std::fprintf(stderr, "velt: --station %s\n", error.c_str());
            return 2;
        }
    }
    // The instrument first: a bad scenario file stops the program before any window opens.
    BackEnd backEnd = openBackEnd({opt.simulate, opt.model, opt.dutFile, opt.connections, opt.noise,
                                   /*paced=*/true, opt.seed, opt.randomSeed});
    if (!backEnd.ok) {
        if (backEnd.refusedConnection.empty())
            std::fprintf(stderr, "velt: %s\n", backEnd.error.c_str());
        else
            std::fprintf(stderr, "velt: --connect %s: %s\n", backEnd.refusedConnection.c_str(),
                         backEnd.error.c_str());
        return 1;
    }
    simulator::SimulatedInstrument* const sim = backEnd.sim.get();
    std::unique_ptr<platform::StationService> station;
    if (!opt.stationRecipe.empty()) {
        std::string error;
        if (!(station = openStation(opt, sim, error))) {
            std::fprintf(stderr, "velt: --station %s\n", error.c_str());
            return 2;
        }
    }

    QApplication app(argc, argv);
    platform::qt::initApplicationLocale();
    QApplication::setApplicationName("VELT");
    QApplication::setApplicationVersion(kVersionString);
    platform::qt::applyTheme(app);

    platform::qt::QtEventLoop loop;
    platform::qt::QtPopupHandler popups;
    int status = 0;
    {
        platform::qt::PanelWindow window{panelTable()};
        gWindow = &window;
        popups.setParent(&window);
        platform::setPopupHandler(&popups);
        std::unique_ptr<simulator::SoltOperator> soltOperator;
        if (sim && opt.autoSolt) {
            soltOperator = std::make_unique<simulator::SoltOperator>(sim, &popups);
            platform::setPopupHandler(soltOperator.get());
        }
        if (opt.averaging > 0)
            loop.post([n = opt.averaging] {
                onceStarted([n] { platform::panel().setValue(PANEL_AVERAGING, n); });
            });
        for (const std::string& file : opt.references)
            loop.post([file] {
                onceStarted([file] {
                    if (addReferenceTrace(file) == 1) requestAcquire();
                });
            });
        if (opt.frequencyChannel >= 0)
            loop.post([channel = opt.frequencyChannel] {
                onceStarted([channel] { showFrequencyDomain(channel); });
            });
        platform::qt::QtPanelImager imager(&window);
        platform::setPanelImager(&imager);
        platform::setEventLoop(&loop);
        setDisplayPanel(showPanel);
        setEyeWindowOpener(openEye);
        platform::setEyePictureWriter(platform::qt::writeEyePng);
        gStatistics = std::make_unique<spc::RecordedStatistics>(
            opt.results, station ? station->recipeName() : std::string());
        setStatisticsWindowOpener(openStatistics);

        // The simulator's own window; a screenshot shows the panel alone.
        std::unique_ptr<QWidget> simWindow;
        if (sim && opt.screenshotPath.empty()) {
            simWindow.reset(createSimulatorControlWindow(*sim, &window));
            simWindow->show();
        }
        // The scheme is not saved; once start-up is done the light one is applied if asked.
        if (opt.light) loop.post([] { setColor(0); });
        if (!opt.screenshotPath.empty()) {
            const QString path = QString::fromStdString(opt.screenshotPath);
            const int ms = static_cast<int>(opt.screenshotAfter * 1000.0);
            // Counted from the moment the event loop runs, i.e. once start-up is complete.
            loop.post([path, ms] { QTimer::singleShot(ms, [path] { takeScreenshot(path); }); });
        }
        if (sim && opt.unplugAfter >= 0) {
            const int ms = static_cast<int>(opt.unplugAfter * 1000.0);
            simulator::SimulatedInstrument* device = sim;
            loop.post([device, ms] {
                QTimer::singleShot(
                    ms, [device] { device->setFault(simulator::Fault::Unplugged, true); });
            });
        }

        std::unique_ptr<platform::qt::StationBar> stationBar;
        if (station) {
            stationBar = std::make_unique<platform::qt::StationBar>(&window, *station);
            stationBar->offer(window.menuAction(MENUBAR_PLOT_STATISTICS));
            platform::setCertificateWriter(platform::qt::writeCertificatePdf);
            platform::qt::StationBar* bar = stationBar.get();
            loop.post([bar] { onceStarted([bar] { bar->start(); }); });
        }

        std::unique_ptr<results::RecordingQueue> recorder;
        if (auto r = results::recorderFor(opt, [](const std::string& m) { writeMessage(0, m, 0); }))
            recorder = std::make_unique<results::RecordingQueue>(std::move(r));
        RemoteControl control({sim, /*serve=*/false, recorder.get(), results::stationName(opt)});
        platform::qt::RemoteServer server(control, nullptr);
        gServer = &server;
        gControl = &control;
        gOptions = &opt;
        setRemoteSwitch(switchRemote);
        if (opt.remote)
            onceStarted(
                [] { platform::panel().setMenuChecked(MENUBAR_FILE_REMOTE, switchRemote(true)); });

        status = veltMain();

        stationBar.reset();
        setEyeWindowOpener(nullptr);
        gEyeWindow = nullptr; // a child of the window, deleted with it
        setStatisticsWindowOpener(nullptr);
        gStatisticsWindow = nullptr;
        setRemoteSwitch(nullptr);
        gServer = nullptr;
        server.close();
        setDisplayPanel(nullptr);
        platform::setPanelImager(nullptr);
        platform::setPopupHandler(nullptr);
        platform::setEventLoop(nullptr);
        gWindow = nullptr;
    }
    platform::setSerialDevice(nullptr);
    return status;
}
