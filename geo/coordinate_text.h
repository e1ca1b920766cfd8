#pragma once
// Latitudes and longitudes as text, for paths that write millions of them.
#include <charconv>
#include <cstdint>

namespace quokka::geo {

// Writes VALUE at AT (room for 24 characters) as std::to_chars writes it, the shortest text
// that reads back as VALUE, and returns its end. A value of 0.001 to 999.9999 with at most four
// decimals, as nearly every coordinate of a table is, is written without it: no other text of
// at most four decimals reads back as the same number, and no shorter text has more, so its
// digits without trailing zeros are the shortest; in that range fixed notation is never longer
// than scientific.
inline char *WriteCoordinate(char *at, double value)
{
    const double magnitude = value < 0 ? -value : value;
    if (magnitude >= 0.001 && magnitude < 1000) {
        const auto units = static_cast<std::uint32_t>(magnitude * 10000 + 0.5);
        if (double(units) / 10000 == magnitude) {
            if (value < 0)
                *at++ = '-';
            at = std::to_chars(at, at + 3, units / 10000).ptr;
            if (unsigned fraction = units % 10000; fraction != 0) {
                *at++ = '.';
                for (unsigned place = 1000; fraction != 0; place /= 10) {
                    *at++ = char('0' + fraction / place);
                    fraction %= place;
                }
            }
            return at;
        }
    }
    return std::to_chars(at, at + 24, value).ptr;
}

} // namespace quokka::geo
