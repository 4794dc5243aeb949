// SCPI parsing by hand over bounded text: no regular expressions, no allocation per character.
#include "app/scpi.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace scpi {

namespace {

struct ErrorText {
    int code;
    const char* text;
};
constexpr ErrorText kErrorTexts[] = {
    {kNoError, "No error"},
    {kCommandError, "Command error"},
    {kSyntaxError, "Syntax error"},
    {kDataTypeError, "Data type error"},
    {kParameterNotAllowed, "Parameter not allowed"},
    {kMissingParameter, "Missing parameter"},
    {kUndefinedHeader, "Undefined header"},
    {kExecutionError, "Execution error"},
    {kDataOutOfRange, "Data out of range"},
    {kIllegalParameterValue, "Illegal parameter value"},
    {kDataStale, "Data corrupt or stale"},
    {kMassStorageError, "Mass storage error"},
    {kFileNameNotFound, "File name not found"},
    {kQueueOverflow, "Queue overflow"},
};

char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool isHeaderChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '*';
}

void skipSpace(std::string_view s, std::size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

struct Node {
    std::string_view name;
    bool optional;
};

// "[SENSe:]AVERage[:COUNt]" into SENSe (optional), AVERage, COUNt (optional).
std::vector<Node> patternNodes(std::string_view pattern) {
    std::vector<Node> nodes;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] == ':') {
            ++i;
            continue;
        }
        const bool optional = pattern[i] == '[';
        if (optional) ++i;
        while (i < pattern.size() && pattern[i] == ':') ++i;
        const std::size_t from = i;
        while (i < pattern.size() && pattern[i] != ':' && pattern[i] != '[' && pattern[i] != ']')
            ++i;
        nodes.push_back({pattern.substr(from, i - from), optional});
        if (optional)
            while (i < pattern.size() && pattern[i] != ']') ++i;
        if (i < pattern.size() && pattern[i] == ']') ++i;
    }
    return nodes;
}

// Typed nodes against pattern nodes from `at`, optional ones skippable.
bool matchNodes(std::string_view typed, const std::vector<Node>& nodes, std::size_t at) {
    if (at == nodes.size()) return typed.empty();
    if (!typed.empty()) {
        const std::size_t colon = typed.find(':');
        const std::string_view head = typed.substr(0, colon);
        const std::string_view rest =
            colon == std::string_view::npos ? std::string_view{} : typed.substr(colon + 1);
        if (keywordMatches(head, nodes[at].name) && matchNodes(rest, nodes, at + 1)) return true;
    }
    return nodes[at].optional && matchNodes(typed, nodes, at + 1);
}

} // namespace

const char* errorText(int code) {
    for (const ErrorText& e : kErrorTexts)
        if (e.code == code) return e.text;
    return "Error";
}

std::string shortForm(std::string_view node) {
    std::size_t n = 0;
    while (n < node.size() && !std::islower(static_cast<unsigned char>(node[n]))) ++n;
    return std::string(node.substr(0, n));
}

bool keywordMatches(std::string_view typed, std::string_view node) {
    if (typed.size() != shortForm(node).size() && typed.size() != node.size()) return false;
    for (std::size_t i = 0; i < typed.size(); ++i)
        if (upper(typed[i]) != upper(node[i])) return false;
    return true;
}

bool headerMatches(std::string_view typed, std::string_view pattern) {
    if (!pattern.empty() && pattern.front() == '*') {
        if (typed.size() != pattern.size()) return false;
        for (std::size_t i = 0; i < typed.size(); ++i)
            if (upper(typed[i]) != upper(pattern[i])) return false;
        return true;
    }
    return matchNodes(typed, patternNodes(pattern), 0);
}

int parseLine(std::string_view line, std::vector<Command>& out, std::string& why) {
    out.clear();
    std::size_t i = 0;
    for (;;) {
        skipSpace(line, i);
        if (i == line.size()) return kNoError;
        Command c;
        if (line[i] == ':') {
            c.absolute = true;
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && isHeaderChar(line[i])) ++i;
        c.header = std::string(line.substr(start, i - start));
        if (!c.header.empty() && c.header.front() == '*') c.absolute = true;
        if (i < line.size() && line[i] == '?') {
            c.query = true;
            ++i;
        }
        if (c.header.empty() || c.header.back() == ':' ||
            c.header.find("::") != std::string::npos) {
            why = "a header was expected at character " + std::to_string(start + 1);
            return kSyntaxError;
        }
        const std::size_t afterHeader = i;
        skipSpace(line, i);
        if (i < line.size() && line[i] != ';') {
            if (i == afterHeader) {
                why = "unexpected character after the header";
                return kSyntaxError;
            }
            // Parameters: comma-separated, strings in single or double quotes.
            for (;;) {
                skipSpace(line, i);
                Parameter p;
                if (i < line.size() && (line[i] == '"' || line[i] == '\'')) {
                    const char q = line[i++];
                    p.quoted = true;
                    for (;;) {
                        if (i == line.size()) {
                            why = "a string is not closed";
                            return kSyntaxError;
                        }
                        if (line[i] == q) {
                            if (i + 1 < line.size() && line[i + 1] == q) {
                                p.text += q;
                                i += 2;
                                continue;
                            }
                            ++i;
                            break;
                        }
                        p.text += line[i++];
                    }
                } else {
                    const std::size_t from = i;
                    while (i < line.size() && line[i] != ',' && line[i] != ';' && line[i] != ' ' &&
                           line[i] != '\t' && line[i] != '"' && line[i] != '\'')
                        ++i;
                    p.text = std::string(line.substr(from, i - from));
                    if (p.text.empty()) {
                        why = "a parameter is empty";
                        return kSyntaxError;
                    }
                }
                c.params.push_back(std::move(p));
                skipSpace(line, i);
                if (i < line.size() && line[i] == ',') {
                    ++i;
                    continue;
                }
                break;
            }
            if (i < line.size() && line[i] != ';') {
                why = "unexpected character after a parameter";
                return kSyntaxError;
            }
        }
        out.push_back(std::move(c));
        if (i < line.size()) ++i; // the ';'
    }
}

NumberRead readNumber(std::string_view text, double& v) {
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    // Letters that from_chars would take as a number are words here.
    if (first != last && !std::isdigit(static_cast<unsigned char>(*first)) && *first != '-' &&
        *first != '.')
        return NumberRead::NotANumber;
    const auto r = std::from_chars(first, last, v);
    if (r.ptr != last) return NumberRead::NotANumber;
    if (r.ec == std::errc::result_out_of_range) return NumberRead::OutOfRange;
    if (r.ec != std::errc() || !std::isfinite(v)) return NumberRead::NotANumber;
    return NumberRead::Ok;
}

bool toNumber(std::string_view text, double& v) {
    return readNumber(text, v) == NumberRead::Ok;
}

bool toBool(std::string_view text, bool& v) {
    if (keywordMatches(text, "ON") || text == "1") {
        v = true;
        return true;
    }
    if (keywordMatches(text, "OFF") || text == "0") {
        v = false;
        return true;
    }
    return false;
}

} // namespace scpi
