#include "as_source.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace quokka::tools::astable {
namespace {

[[noreturn]] void Malformed(std::size_t line, const std::string &what)
{
    throw std::runtime_error("line " + std::to_string(line) + ": " + what);
}

// A decimal number up to 2^32 - 1 followed by a comma; TEXT is moved past both.
std::uint32_t TakeNumber(std::string_view &text, std::size_t line, const char *field)
{
    const std::size_t end = text.find(',');
    const std::string_view digits = text.substr(0, end);
    std::uint32_t value = 0;
    const auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || digits.front() < '0' || digits.front() > '9' || error != std::errc()
        || at != digits.data() + digits.size())
        Malformed(line, std::string(field) + " is not a number from 0 to 4294967295");
    if (end == std::string_view::npos)
        Malformed(line, "fewer than four fields");
    text.remove_prefix(end + 1);
    return value;
}

// A decimal number up to 2^128 - 1 followed by a comma; TEXT is moved past both.
Address6 TakeNumber6(std::string_view &text, std::size_t line, const char *field)
{
    const std::size_t end = text.find(',');
    const std::string_view digits = text.substr(0, end);
    const Address6 most = ~Address6(0);
    Address6 value = 0;
    bool ok = !digits.empty() && digits.size() <= 39;
    for (const char c : digits) {
        if (c < '0' || c > '9' || value > (most - Address6(c - '0')) / 10) {
            ok = false;
            break;
        }
        value = value * 10 + Address6(c - '0');
    }
    if (!ok)
        Malformed(line, std::string(field) + " is not a number from 0 to 2^128 - 1");
    if (end == std::string_view::npos)
        Malformed(line, "fewer than four fields");
    text.remove_prefix(end + 1);
    return value;
}

std::string TakeName(std::string_view text, std::size_t line);

template <class Range, class Number>
Range ParseLine(std::string_view text, std::size_t line, Number (*take)(std::string_view &, std::size_t, const char *))
{
    Range range;
    range.line = line;
    range.first = take(text, line, "the first address");
    range.last = take(text, line, "the last address");
    range.number = TakeNumber(text, line, "the AS number");
    range.name = TakeName(text, line);
    if (range.first > range.last)
        Malformed(line, "the first address is above the last");
    if (!ValidName(range.name))
        Malformed(line, "the name is not valid UTF-8 or holds a control character");
    return range;
}

template <class Range>
std::vector<Range> ReadLines(const std::string &path, Range (*parse)(std::string_view, std::size_t))
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string text = std::move(whole).str();
    std::vector<Range> ranges;
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        try {
            ranges.push_back(parse(std::string_view(text).substr(at, end - at), ++line));
        } catch (const std::runtime_error &e) {
            throw std::runtime_error(path + ": " + e.what());
        }
        at = end + 1;
    }
    return ranges;
}

// The last field: bare (no comma or quote in it) or quoted with doubled inner quotes.
std::string TakeName(std::string_view text, std::size_t line)
{
    if (text.empty() || text.front() != '"') {
        if (text.find(',') != std::string_view::npos)
            Malformed(line, "more than four fields");
        if (text.find('"') != std::string_view::npos)
            Malformed(line, "a quote inside an unquoted name");
        return std::string(text);
    }
    std::string name;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '"') {
            name += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            name += '"';
            ++i;
        } else if (i + 1 == text.size()) {
            return name;
        } else {
            Malformed(line, "text after the closing quote of the name");
        }
    }
    Malformed(line, "the quoted name is not closed");
}

} // namespace

bool ValidName(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F)
            return false;
        if (byte < 0x80) {
            ++i;
            continue;
        }
        const int more = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : byte >= 0xC0 ? 1 : -1;
        if (more < 0 || byte > 0xF4 || i + more >= text.size())
            return false;
        std::uint32_t code = byte & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3F);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code < least[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

SourceRange ParseSourceLine(std::string_view text, std::size_t line)
{
    return ParseLine<SourceRange>(text, line, TakeNumber);
}

SourceRange6 ParseSourceLine6(std::string_view text, std::size_t line)
{
    return ParseLine<SourceRange6>(text, line, TakeNumber6);
}

std::vector<SourceRange> ReadSource(const std::string &path)
{
    return ReadLines(path, ParseSourceLine);
}

std::vector<SourceRange6> ReadSource6(const std::string &path)
{
    return ReadLines(path, ParseSourceLine6);
}

} // namespace quokka::tools::astable
