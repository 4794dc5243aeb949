// Remote control over SCPI: one client's session, its commands run through the operations the
// panel's controls use, with the IEEE 488.2 error queue and status registers.
#pragma once

#include "platform/remote_service.h"

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace simulator {
class SimulatedInstrument;
}

struct RemoteContext {
    // The simulated instrument, whose stand-in operator may answer a new SOLT calibration.
    simulator::SimulatedInstrument* sim = nullptr;
    // "velt serve": SYSTem:EXIT ends the program.
    bool serve = false;
};

class RemoteSession {
  public:
    explicit RemoteSession(RemoteContext context);
    // Runs one line (without its line end) on the GUI thread and returns the replies of its
    // queries, ';'-joined and ended by a newline, or "" when it asked nothing.
    std::string execute(std::string_view line);
    // A line longer than platform::kMaxRemoteLine arrived and was dropped.
    void lineTooLong();
    bool exitRequested() const { return exit_; }

    // Status, for the commands.
    void pushError(int code, const std::string& detail = "");
    std::string popError();
    std::size_t errorCount() const { return errors_.size(); }
    int esr = 0;         // event status register
    int ese = 0;         // its enable mask
    bool binary = false; // FORMat REAL,32
    bool display = true; // DISPlay:ENABle: draw each acquisition
    // The line changed: the next acquisition calibrates it first, as the tick does.
    bool recalibrate = false;
    bool exit_ = false;
    RemoteContext context;

  private:
    std::deque<std::string> errors_;
};

// The service a server drives: a session per client, its comings and goings in the log.
class RemoteControl : public platform::RemoteService {
  public:
    explicit RemoteControl(RemoteContext context) : context_(context) {}
    void connected(const std::string& peer) override;
    std::string line(std::string_view text) override;
    void lineTooLong() override;
    bool exitRequested() const override { return exit_; }
    void disconnected(const std::string& why) override;
    // The indicator at the top of the panel: "REMOTE (port N)" while the server listens (empty
    // when it does not), the client's address while one is connected.
    void showListening(int port);
    void showStopped();

  private:
    std::string idle_;
    RemoteContext context_;
    std::optional<RemoteSession> session_;
    std::string peer_;
    bool exit_ = false;
};

// The log line for a server that listens: a warning when it is open beyond this machine.
std::string listeningMessage(const std::string& address, int port);

// A name inside one of the program's data folders, as a path: false (nothing is touched) for an
// absolute name, one with "..", an empty one, or one whose folder leads out through a link.
bool dataFilePath(const std::string& folder, const std::string& name, std::string& path);
