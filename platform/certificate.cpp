#include "platform/certificate.h"
#include "platform/eye_picture.h"
#include "platform/spc_chart.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<CertificateWriter> gWriter{nullptr};
} // namespace

void setCertificateWriter(CertificateWriter writer) {
    gWriter.store(writer);
}

bool writeCertificate(const Certificate& certificate, const std::string& path, std::string& error) {
    const CertificateWriter writer = gWriter.load();
    if (!writer) {
        error = "no PDF writer in this program";
        return false;
    }
    return writer(certificate, path, error);
}

namespace {
std::atomic<EyePictureWriter> gEyeWriter{nullptr};
} // namespace

void setEyePictureWriter(EyePictureWriter writer) {
    gEyeWriter.store(writer);
}

bool writeEyePicture(const EyePicture& picture, const std::string& path, std::string& error) {
    const EyePictureWriter writer = gEyeWriter.load();
    if (!writer) {
        error = "no picture writer in this program";
        return false;
    }
    return writer(picture, path, error);
}

namespace {
std::atomic<SpcChartWriter> gSpcWriter{nullptr};
} // namespace

void setSpcChartWriter(SpcChartWriter writer) {
    gSpcWriter.store(writer);
}

bool writeSpcChart(const SpcChart& chart, const std::string& path, std::string& error) {
    const SpcChartWriter writer = gSpcWriter.load();
    if (!writer) {
        error = "no chart writer in this program";
        return false;
    }
    return writer(chart, path, error);
}

} // namespace platform
