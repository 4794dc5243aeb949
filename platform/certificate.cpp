#include "platform/certificate.h"

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

} // namespace platform
