// Remote control over SCPI: the instrument's remote state (error queue, status registers, the
// operation in progress, the last INITiate's trace), one client's session, and the service a
// server drives. Commands run through the operations the panel's controls use.
#pragma once

#include "acquisition/acquire.h"
#include "app/results.h"
#include "app/scpi.h"
#include "platform/eye_service.h"
#include "platform/remote_service.h"
#include "setup/setup.h"

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace simulator {
class SimulatedInstrument;
}

struct RemoteContext {
    // The simulated instrument, whose stand-in operator may answer a new SOLT calibration.
    simulator::SimulatedInstrument* sim = nullptr;
    // "velt serve": SYSTem:EXIT ends the program.
    bool serve = false;
    // Where FETCh:ZONE? records the acquisition it judged (none: not recorded), and the name
    // the records give this station.
    results::RecordingQueue* recorder = nullptr;
    std::string station{};
};

// The command table's handlers: the one place that reads and writes the state below.
struct RemoteCommands;

// A status register of SCPI-99: the condition, the events latched on its rising edges, the mask
// that makes an event count in the status byte.
struct StatusRegister {
    int condition = 0;
    int event = 0;
    int enable = 0;
    void raise(int bits);
    void lower(int bits) { condition &= ~bits; }
    bool summary() const { return (event & enable) != 0; }
};

// What FETCh answers: the trace of the last INITiate in the units it was taken in.
struct RemoteTrace {
    Waveform x{}, y{};
    Setup setup{};
    bool valid = false;
};

// What remote control keeps of the instrument from one client to the next: the error queue and
// the status registers, the operation in progress (an INITiate or a new calibration, run by the
// timer thread), the line to calibrate before the next acquisition and the last trace.
class RemoteInstrument {
  public:
    explicit RemoteInstrument(RemoteContext context);
    // A job not yet started is taken back; a running one is stopped and waited for.
    ~RemoteInstrument();
    RemoteInstrument(const RemoteInstrument&) = delete;
    RemoteInstrument& operator=(const RemoteInstrument&) = delete;

    // Called on the GUI thread once an operation has ended (nullptr: no one to tell).
    void setWake(std::function<void()> wake);
    // True while an operation runs; one that has ended is finished here (its errors queued,
    // *OPC's bit set, its trace made the one FETCh answers).
    bool busy();
    std::size_t errorCount() const { return errors_.size(); }

  private:
    friend struct RemoteCommands;
    friend class RemoteSession;
    struct Operation;
    enum class Work { Acquisition, Calibration };

    void pushError(int code, const std::string& detail = "");
    std::string popError();
    void clearStatus();
    void start(Work work, bool display);
    void finish();
    int statusByte(bool messageAvailable) const;

    RemoteContext context_;
    std::deque<std::string> errors_;
    int esr_ = 0;                // event status register
    int ese_ = 0;                // its enable mask
    int sre_ = 0;                // service request enable
    StatusRegister oper_, ques_; // STATus:OPERation, STATus:QUEStionable
    bool opcArmed_ = false;      // *OPC: bit 0 of the ESR once the operation ends
    bool recalibrate_ = false;   // the line changed: the next INITiate calibrates it first
    bool abortAsked_ = false;    // ABORt, not the window, stopped the operation
    RemoteTrace traces_[2];      // the one FETCh answers, and the one an INITiate fills
    int shown_ = 0;
    std::uint64_t generation_ = 0; // acquisitions completed
    // The record of the shown acquisition: each FETCh:ZONE? adds its zone and sends it again.
    results::Record record_;
    std::uint64_t recorded_ = ~std::uint64_t{0}; // the generation record_ belongs to
    bool recording_ = true;
    std::string serial_, lot_, operator_;
    platform::EyeRequest eye_;      // CALCulate:EYE: what FETCh:EYE? computes
    std::unique_ptr<Operation> op_; // the operation in progress, or the last one
    std::shared_ptr<std::function<void()>> wake_;
};

// One client's session: its data format and display switch, and the line in hand.
class RemoteSession {
  public:
    using Step = platform::RemoteService::Step;
    explicit RemoteSession(RemoteInstrument& instrument);
    // Runs a line (without its line end) on the GUI thread as far as it can: a command that
    // must wait for the operation in progress stops it there (Waiting) until resume().
    Step start(std::string_view line, std::string& out);
    Step resume(std::string& out);
    // A line to its end, waiting for operations in progress: for harnesses without a server.
    std::string execute(std::string_view line);
    // A line longer than platform::kMaxRemoteLine arrived and was dropped.
    void lineTooLong();
    bool exitRequested() const { return exit_; }

  private:
    friend struct RemoteCommands;
    Step run(std::string& out);
    Step finishLine(std::string& out, bool reportParseError);

    RemoteInstrument& instrument_;
    bool binary_ = false; // FORMat REAL,32
    bool display_ = true; // DISPlay:ENABle: draw each acquisition
    bool exit_ = false;
    // The line in hand: its commands, the next to run, the header path a relative header
    // continues, whether a reply was given, and a syntax error behind the commands.
    std::vector<scpi::Command> commands_;
    std::size_t next_ = 0;
    std::string path_;
    bool asked_ = false;
    int parseError_ = 0;
    std::string parseWhy_;
};

// The service a server drives: the instrument's remote state, a session per client, their
// comings and goings in the log.
class RemoteControl : public platform::RemoteService {
  public:
    explicit RemoteControl(RemoteContext context) : instrument_(context) {}
    void connected(const std::string& peer) override;
    Step line(std::string_view text, std::string& out) override;
    Step resume(std::string& out) override;
    void lineTooLong() override;
    bool exitRequested() const override { return exit_; }
    void disconnected(const std::string& why) override;
    void setWake(std::function<void()> wake) override { instrument_.setWake(std::move(wake)); }
    // An INITiate or a calibration runs.
    bool operationRunning() { return instrument_.busy(); }
    // The indicator at the top of the panel: "REMOTE (port N)" while the server listens (empty
    // when it does not), the client's address while one is connected.
    void showListening(int port);
    void showStopped();

  private:
    std::string idle_;
    RemoteInstrument instrument_;
    std::optional<RemoteSession> session_;
    std::string peer_;
    bool exit_ = false;
};

// The log line for a server that listens: a warning when it is open beyond this machine.
std::string listeningMessage(const std::string& address, int port);

// A file a client names inside one of the program's data folders, opened so that nothing can
// lead it elsewhere before it is used: each folder on the way is opened without following a
// link, and the file is reached through the folder held open (its path names the open folder,
// not the way to it). A name without an extension gets the kind's.
class DataFile {
  public:
    DataFile() = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;
    // 0, or the SCPI error: -224 for a name that is empty, absolute, too long, holds "." or ".."
    // or a control character, or passes a symbolic link or something that is not a file; -256
    // for a file to read that is not there; -250 when the folder cannot be opened.
    int open(const char* folder, const std::string& name, std::string_view extension, bool reading);
    const std::string& path() const { return path_; }
    const std::string& leaf() const { return leaf_; }

  private:
    int folder_ = -1, file_ = -1;
    std::string path_, leaf_;
};
