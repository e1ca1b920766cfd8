#pragma once
// The source of the AS table: CSV files of "first,last,AS number,organisation" lines, the
// addresses as decimal numbers (32-bit for IPv4, 128-bit for IPv6), the organisation quoted when it holds a comma or a quote
// (a quote inside doubled).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quokka::tools::astable {

__extension__ typedef unsigned __int128 Address6;

template <class Address>
struct SourceRangeOf {
    Address first = 0, last = 0; // inclusive, as numbers
    std::uint32_t number = 0;
    std::string name;            // UTF-8
    std::size_t line = 0;        // 1-based, for messages
};
using SourceRange = SourceRangeOf<std::uint32_t>;
using SourceRange6 = SourceRangeOf<Address6>;

// TEXT is valid UTF-8 (no overlong forms, surrogates or code points above U+10FFFF) without
// NUL or other ASCII control characters: a name is one line of text.
bool ValidName(std::string_view text);

// Parses one line (without its newline). Throws std::runtime_error naming LINE when the line
// is not exactly four well-formed fields, a number is out of range, first is above last or the
// name is not valid UTF-8.
SourceRange ParseSourceLine(std::string_view text, std::size_t line);
// The same for a line of IPv6 ranges (addresses from 0 to 2^128 - 1).
SourceRange6 ParseSourceLine6(std::string_view text, std::size_t line);

// Every line of the file at PATH; the last line may lack its newline. Throws
// std::runtime_error when the file cannot be read or a line is malformed.
std::vector<SourceRange> ReadSource(const std::string &path);
std::vector<SourceRange6> ReadSource6(const std::string &path);

} // namespace quokka::tools::astable
