// SHA-256 of a file or of bytes, as lowercase hex: the report's fingerprint of each file it
// keeps, so a later reader can tell the calibration used is the one on disk.
#pragma once

#include <string>
#include <string_view>

std::string sha256Hex(std::string_view bytes);
// Empty when the file cannot be read.
std::string sha256File(const std::string& path);
