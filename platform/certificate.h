// The one-page certificate of a measurement as plain values; the program installs the writer
// that lays it out as a PDF (Qt's), so the core that fills it needs no graphics.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace platform {

struct CertificateZone {
    std::string name;
    double from = 0, to = 0;  // x, in the trace's unit
    double low = 0, high = 0; // the limits, in the trace's unit
    bool pass = false;
};

struct Certificate {
    bool letter = false; // A4 unless Letter
    std::string title, verdict;
    bool pass = false;
    std::vector<std::pair<std::string, std::string>> fields; // label, value
    std::vector<double> x, y;                                // the trace
    double xFrom = 0, xTo = 0;
    std::string xLabel, yLabel;
    std::vector<CertificateZone> zones;
    std::vector<std::vector<std::string>> table; // the zone table, its header first
    std::vector<std::string> notes;              // calibration, file fingerprints
};

using CertificateWriter = bool (*)(const Certificate& certificate, const std::string& path,
                                   std::string& error);
void setCertificateWriter(CertificateWriter writer);
// False with a message when no writer is installed or it failed.
bool writeCertificate(const Certificate& certificate, const std::string& path, std::string& error);

} // namespace platform
