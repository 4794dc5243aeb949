// SCPI text as remote clients send it: a line of commands split at ';', headers matched in long
// or short form whatever their case, and parameters read in the C locale. Pure.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace scpi {

// SCPI error codes with their standard texts.
enum Error {
    kNoError = 0,
    kCommandError = -100,
    kSyntaxError = -102,
    kDataTypeError = -104,
    kParameterNotAllowed = -108,
    kMissingParameter = -109,
    kUndefinedHeader = -113,
    kExecutionError = -200,
    kDataOutOfRange = -222,
    kIllegalParameterValue = -224,
    kDataStale = -230,
    kMassStorageError = -250,
    kFileNameNotFound = -256,
    kQueueOverflow = -350,
};
const char* errorText(int code);

struct Parameter {
    std::string text; // a quoted string without its quotes and with doubled quotes undone
    bool quoted = false;
};

struct Command {
    std::string header;    // as typed, without a leading ':' and the '?'
    bool absolute = false; // typed with a leading ':' (or a common command)
    bool query = false;
    std::vector<Parameter> params;
};

// Splits one line (no line end) into commands. kNoError, or the error of the first malformed
// command with `why`; `out` then holds the commands before it, which run before the error is
// reported, as a parser reading the line in order would.
int parseLine(std::string_view line, std::vector<Command>& out, std::string& why);

// Whether a typed header names a pattern such as "SYSTem:ERRor[:NEXT]" or "*IDN": each node in
// its long form or its short form (the capitals), any case; bracketed nodes may be left out.
bool headerMatches(std::string_view typed, std::string_view pattern);
// The short form of a pattern node: the capitals of "NORMalized" (what a query answers with).
std::string shortForm(std::string_view node);
// One keyword against a pattern node such as "DIFFerential", in the same way.
bool keywordMatches(std::string_view typed, std::string_view node);

enum class NumberRead { Ok, NotANumber, OutOfRange };
// A decimal number in the C locale (sign, point, exponent), nothing else; one beyond a double's
// range is OutOfRange.
NumberRead readNumber(std::string_view text, double& v);
// The same, finite numbers only.
bool toNumber(std::string_view text, double& v);
// ON, OFF, 1 or 0.
bool toBool(std::string_view text, bool& v);

} // namespace scpi
