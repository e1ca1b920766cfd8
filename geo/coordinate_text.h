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
            if (const unsigned fraction = units % 10000; fraction != 0) {
                // Four digits written, and as many kept as the last one that is not 0.
                *at++ = '.';
                at[0] = char('0' + fraction / 1000);
                at[1] = char('0' + fraction / 100 % 10);
                at[2] = char('0' + fraction / 10 % 10);
                at[3] = char('0' + fraction % 10);
                at += fraction % 10 != 0 ? 4 : fraction % 100 != 0 ? 3 : fraction % 1000 != 0 ? 2 : 1;
            }
            return at;
        }
    }
    return std::to_chars(at, at + 24, value).ptr;
}

} // namespace quokka::geo
