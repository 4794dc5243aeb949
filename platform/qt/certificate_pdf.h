// The certificate as a one-page vector PDF, light scheme, through Qt's PDF writer.
#pragma once

#include "platform/certificate.h"

namespace platform::qt {

bool writeCertificatePdf(const platform::Certificate& certificate, const std::string& path,
                         std::string& error);

} // namespace platform::qt
