#pragma once
// IPv4 addresses as dotted-decimal text, read and written without the C library's help, for
// paths that handle millions of them.
#include <cstdint>
#include <string>
#include <string_view>

namespace quokka::geo {

// Reads TEXT as an address in host order into KEY. Takes exactly what inet_pton(AF_INET)
// takes: four decimal parts of 0 to 255 joined by dots, no part with a leading zero, nothing
// before, between or after.
inline bool ParseDottedQuad(std::string_view text, std::uint32_t &key)
{
    std::uint32_t result = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at == text.size() || text[at] != '.')
                return false;
            ++at;
        }
        const std::size_t begin = at;
        std::uint32_t value = 0;
        while (at < text.size() && at - begin < 3 && static_cast<unsigned char>(text[at] - '0') < 10)
            value = value * 10 + std::uint32_t(text[at++] - '0');
        const std::size_t digits = at - begin;
        if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0'))
            return false;
        result = result << 8 | value;
    }
    if (at != text.size())
        return false;
    key = result;
    return true;
}

// Appends KEY as dotted-decimal text.
inline void AppendDottedQuad(std::string &out, std::uint32_t key)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned part = (key >> shift) & 255;
        if (part >= 100)
            out += char('0' + part / 100);
        if (part >= 10)
            out += char('0' + part / 10 % 10);
        out += char('0' + part % 10);
        if (shift > 0)
            out += '.';
    }
}

} // namespace quokka::geo
