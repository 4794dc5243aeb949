// What the file commands share: C-locale numbers, bounded line reading, checked and atomic
// writes, the serial-text rule for default file names and the one-shot dialog folders.
#pragma once

#include <atomic>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace files {

// Lines of every text format are at most this long (the line buffers hold 128 bytes).
constexpr std::size_t kMaxLineLength = 127;

// The first dialog of a family opens in its folder beside user.ini, later ones wherever the
// dialog was left ("" leaves it to the dialog). The flag goes to 0 even when the user cancels.
std::string startFolder(std::atomic<int>& firstTime, const char* folder);

// A serial text may name a file when it holds no POSIX punctuation other than ( ) and -.
bool serialTextAccepted(std::string_view serial);

// Fixed-point text with the given decimals, always with a decimal point whatever the locale.
void appendFixed(std::string& out, double v, int decimals);
void appendInt(std::string& out, int v);

// Parsers in the C locale. Each consumes what it read from the front of s; leading blanks and
// tabs are skipped. A number out of range, "inf" or "nan" (unless allowed) is no number.
bool parseInt(std::string_view& s, int& v);
bool parseReal(std::string_view& s, double& v, bool allowNonFinite = false);
void skipBlanks(std::string_view& s);

struct Line {
    std::string text; // without its line end (LF or CR LF)
    bool tooLong = false;
};

enum class ReadStatus { Ok, OpenFailed, CloseFailed };

// Reads at most maxLines lines of a file; a longer line is kept cut and marked. Reading stops
// after a bounded number of bytes, so no file, however large, is taken into memory whole.
ReadStatus readLines(const std::string& path, std::size_t maxLines, std::vector<Line>& lines);
std::vector<Line> splitLines(std::string_view text, std::size_t maxLines);

enum class ReadResult { Ok, OpenFailed, TooLarge, ReadFailed, CloseFailed };
// A whole file of at most maxBytes into text (TooLarge beyond: text then holds the start only).
ReadResult readWhole(const std::string& path, std::size_t maxBytes, std::string& text);

enum class ReplaceStatus { Ok, OpenFailed, WriteFailed, CloseFailed };

// A file written beside its target and renamed over it by commit(): until then, and after any
// failure, the target keeps what it had. A device or pipe is written in place (renaming over
// it would replace the node); a symbolic link is replaced, not followed. Destroyed without a
// commit, the temporary file is removed.
class ReplacingFile {
  public:
    explicit ReplacingFile(const std::string& path);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool opened() const { return f_ != nullptr; }
    std::FILE* stream() const { return f_; }
    // Flushes to the disk, closes and renames: WriteFailed or CloseFailed leave the target as
    // it was.
    ReplaceStatus commit();

  private:
    std::string path_, temporary_;
    std::FILE* f_ = nullptr;
    int fd_ = -1;
};

// Replaces path by text without ever leaving it half written (a ReplacingFile).
ReplaceStatus replaceFile(const std::string& path, std::string_view text);

// How a writer reports that a part of its file, or the close, failed: the log code, its own
// result and the log text.
struct WriteFailure {
    int code;
    int result;
    const char* text;
};
struct FilePart {
    std::string_view text;
    WriteFailure failure;
};
// Writes the parts in order, each flushed before the next so that a full disk is reported where
// it struck, then commits. The first failure comes back; none when the file is in place.
std::optional<WriteFailure> writeParts(ReplacingFile& out, std::initializer_list<FilePart> parts,
                                       WriteFailure closeFailure);
// Logs the failure (returning its result) or the success (returning 1).
int reportWrite(std::optional<WriteFailure> failure, const char* success);

} // namespace files
