// The simulated instrument: a serial back end that speaks the instrument's wire protocol byte
// for byte, with a physical model of the step source, sampler and device under test.
#pragma once

#include "platform/serial_device.h"

#include <complex>
#include <memory>
#include <string>
#include <vector>

namespace simulator {

// What is plugged into one channel (a line pair, numbered like the stimulus channels 0..9).
enum class Connection { Device, Short, Open, Load, Through };

enum class Fault {
    NoDevice,       // open fails
    WrongHandshake, // the second "i" is answered with something other than "."
    ShortRead,      // a sweep delivers fewer than 2048 bytes
    LostAck,        // acknowledgement bytes are not sent
    Unplugged       // every call after open fails / returns nothing
};

struct ImpedancePoint {
    double distance; // metres along the line, one way, from the front connector
    double ohms;
};

class SimulatedInstrument : public platform::SerialDevice {
  public:
    explicit SimulatedInstrument(const std::string& modelCode = "QSB020");
    ~SimulatedInstrument() override;

    // One of QSA002, QSA004, QSB008, QSA012, QSB016, QSB020; false for anything else.
    bool setModel(const std::string& modelCode);
    std::string modelCode() const;
    int speedClass() const;
    bool hasChannel(int stimulusChannel) const;

    // Device under test: the built-in default scenario, or a description file / text.
    // On failure the previous scenario stays and error names the line and what is wrong.
    void useDefaultScenario();
    bool loadScenarioFile(const std::string& path, std::string& error);
    bool loadScenarioText(const std::string& text, std::string& error);

    // The device under test of a channel in words, for the control window.
    std::string deviceDescription(int stimulusChannel) const;

    // What is connected to a channel; may change while running. A through joins two channels:
    // setting THROUGH on one sets both, setting anything else on one end of a through puts the
    // other end back to the device.
    void setConnection(int stimulusChannel, Connection c);
    Connection connection(int stimulusChannel) const;
    // Parses "CH=WHAT" as given on the command line (e.g. "2=OPEN", "7=THROUGH").
    bool applyConnectionOption(const std::string& option, std::string& error);

    // Real-time pacing of the 435000-baud link (interactive use); off by default.
    void setPaced(bool paced);
    void setFault(Fault fault, bool on);
    bool faultActive(Fault fault) const;
    // Where the noise starts: the same seed gives the same noise, sweep for sweep (0, the
    // default, is the one fixed start every run had before).
    void setSeed(std::uint64_t seed);
    // Sampler noise (a few counts, deterministic); on by default.
    void setNoise(bool on);
    bool noise() const;

    // Ground truth for the current configuration, reference plane at the front connector. The
    // profile is a step-wise list of points; its last point is the ending (infinite ohms for an
    // open, 0 for a short, 50 where a through reaches the other port's instrument).
    std::vector<ImpedancePoint> impedanceProfile(int stimulusChannel) const;
    void sParameters(int stimulusChannel, std::vector<double>& frequencyGHz,
                     std::vector<std::complex<double>>& s11,
                     std::vector<std::complex<double>>& s21) const;
    // The same at given frequencies (GHz), for comparing with a measurement bin by bin.
    void sParametersAt(int stimulusChannel, const std::vector<double>& frequencyGHz,
                       std::vector<std::complex<double>>& s11,
                       std::vector<std::complex<double>>& s21) const;

    // Commands that arrived while another exchange was incomplete, or malformed framing.
    int protocolViolations() const;
    long sweepsServed() const;

    // SerialDevice.
    int open(int deviceIndex) override;
    int setBaudRate(int baud) override;
    int setDataCharacteristics(int wordLength, int stopBits, int parity) override;
    int setFlowControl(int flow, std::uint8_t xon, std::uint8_t xoff) override;
    int setTimeouts(int readMs, int writeMs) override;
    int write(const std::uint8_t* data, std::size_t count, std::size_t* written) override;
    int read(std::uint8_t* data, std::size_t count, std::size_t* received) override;
    int close() override;
    // A bridge serial of its own, so records tell a simulated measurement from a real one.
    std::string serialNumber() const override { return "SIM-" + modelCode(); }

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace simulator
