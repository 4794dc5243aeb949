// Shared file helpers: C-locale numbers, bounded reading, checked and atomic writes.
#include "files/file_io.h"

#include "platform/log.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace files {

std::string startFolder(std::atomic<int>& firstTime, const char* folder) {
    return firstTime.exchange(0) == 1 ? std::string(folder) : std::string();
}

bool serialTextAccepted(std::string_view serial) {
    for (char ch : serial) {
        const auto c = static_cast<unsigned char>(ch);
        // ispunct of the POSIX locale: printable ASCII that is neither a letter, a digit nor a
        // blank. Bytes above 127 (letters of other scripts) pass.
        const bool punct = c > 32 && c < 127 && !(c >= '0' && c <= '9') &&
                           !(c >= 'A' && c <= 'Z') && !(c >= 'a' && c <= 'z');
        if (punct && c != '(' && c != ')' && c != '-') return false;
    }
    return true;
}

void appendFixed(std::string& out, double v, int decimals) {
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {
        out += "nan";
        return;
    }
    out.append(buf, r.ptr);
}

void appendInt(std::string& out, int v) {
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void skipBlanks(std::string_view& s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
}

namespace {
// from_chars takes no leading plus; the scanf formats of the files did.
std::string_view withoutPlus(std::string_view s) {
    if (s.size() > 1 && s.front() == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
    return s;
}
} // namespace

bool parseInt(std::string_view& s, int& v) {
    skipBlanks(s);
    std::string_view t = withoutPlus(s);
    int out = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), out);
    if (r.ec != std::errc()) return false;
    v = out;
    s = std::string_view(r.ptr, static_cast<std::size_t>(t.data() + t.size() - r.ptr));
    return true;
}

bool parseReal(std::string_view& s, double& v, bool allowNonFinite) {
    skipBlanks(s);
    std::string_view t = withoutPlus(s);
    double out = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), out);
    if (r.ec != std::errc()) return false;
    if (!allowNonFinite && !std::isfinite(out)) return false;
    v = out;
    s = std::string_view(r.ptr, static_cast<std::size_t>(t.data() + t.size() - r.ptr));
    return true;
}

std::vector<Line> splitLines(std::string_view text, std::size_t maxLines) {
    std::vector<Line> lines;
    while (!text.empty() && lines.size() < maxLines) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Line l;
        l.tooLong = line.size() > kMaxLineLength;
        l.text.assign(line.substr(0, kMaxLineLength));
        lines.push_back(std::move(l));
    }
    return lines;
}

ReadStatus readLines(const std::string& path, std::size_t maxLines, std::vector<Line>& lines) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return ReadStatus::OpenFailed;
    // Enough for every line at full length with CR LF, and one byte to see a longer last line.
    const std::size_t cap = maxLines * (kMaxLineLength + 2) + 1;
    std::string text(cap, '\0');
    const std::size_t n = std::fread(text.data(), 1, cap, f);
    text.resize(n);
    const bool readError = std::ferror(f) != 0;
    if (std::fclose(f) != 0 || readError) return ReadStatus::CloseFailed;
    lines = splitLines(text, maxLines);
    return ReadStatus::Ok;
}

// Writes all of text to an open stream and flushes it: false when any byte did not get out.
static bool writeAll(std::FILE* f, std::string_view text) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) return false;
    return std::fflush(f) == 0 && std::ferror(f) == 0;
}

ReplacingFile::ReplacingFile(const std::string& path) : path_(path) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    std::error_code ec;
    // A link is replaced, never written through: where it leads is not the name the user gave.
    const fs::file_status st = fs::symlink_status(target, ec);
    if (fs::exists(st) && !fs::is_regular_file(st) && !fs::is_symlink(st)) {
        f_ = std::fopen(path.c_str(), "wb");
        return;
    }
    // Beside the target, so the rename stays on one file system and is atomic.
    temporary_ = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    fd_ = mkstemp(temporary_.data());
    if (fd_ < 0) {
        temporary_.clear();
        return;
    }
    f_ = fdopen(fd_, "wb");
    if (!f_) {
        close(fd_);
        unlink(temporary_.c_str());
        temporary_.clear();
        return;
    }
    // mkstemp makes the file private; a user's file is as readable as any other.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
}

ReplacingFile::~ReplacingFile() {
    if (f_) std::fclose(f_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

ReplaceStatus ReplacingFile::commit() {
    if (!f_) return ReplaceStatus::OpenFailed;
    const bool synced =
        std::fflush(f_) == 0 && std::ferror(f_) == 0 && (temporary_.empty() || fsync(fd_) == 0);
    const bool closed = std::fclose(f_) == 0;
    f_ = nullptr;
    if (!synced) return ReplaceStatus::WriteFailed;
    if (!closed) return ReplaceStatus::CloseFailed;
    if (temporary_.empty()) return ReplaceStatus::Ok;
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) return ReplaceStatus::WriteFailed;
    temporary_.clear();
    return ReplaceStatus::Ok;
}

ReplaceStatus replaceFile(const std::string& path, std::string_view text) {
    ReplacingFile file(path);
    if (!file.opened()) return ReplaceStatus::OpenFailed;
    if (!writeAll(file.stream(), text)) return ReplaceStatus::WriteFailed;
    return file.commit();
}

std::optional<WriteFailure> writeParts(ReplacingFile& out, std::initializer_list<FilePart> parts,
                                       WriteFailure closeFailure) {
    for (const FilePart& part : parts)
        if (!writeAll(out.stream(), part.text)) return part.failure;
    if (out.commit() != ReplaceStatus::Ok) return closeFailure;
    return std::nullopt;
}

int reportWrite(std::optional<WriteFailure> failure, const char* success) {
    if (failure) {
        writeMessage(failure->code, failure->text, 0);
        return failure->result;
    }
    writeMessage(0, success, 0);
    return 1;
}

ReadResult readWhole(const std::string& path, std::size_t maxBytes, std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return ReadResult::OpenFailed;
    std::array<char, 65536> chunk;
    ReadResult result = ReadResult::Ok;
    for (;;) {
        const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), f);
        text.append(chunk.data(), n);
        if (text.size() > maxBytes) {
            result = ReadResult::TooLarge;
            break;
        }
        if (n < chunk.size()) break;
    }
    if (result == ReadResult::Ok && std::ferror(f)) result = ReadResult::ReadFailed;
    if (std::fclose(f) != 0 && result == ReadResult::Ok) result = ReadResult::CloseFailed;
    return result;
}

} // namespace files
