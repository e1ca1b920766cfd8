#pragma once
// IPv6 addresses as text, read for paths that handle millions of them: the usual forms (hex
// groups, one "::") without the C library, anything else through inet_pton.
#include "geo/geo_database6.h"

#include <arpa/inet.h>
#include <string>
#include <string_view>

namespace quokka::geo {

// Reads TEXT into KEY when it is hex groups with at most one "::" and no dotted IPv4 ending;
// false leaves the verdict to inet_pton (which may still take the text, or refuse it).
inline bool ParsePlainIpv6(std::string_view text, Key6 &key)
{
    if (text.size() < 2 || text.size() > 39)
        return false;
    std::uint16_t groups[8];
    int count = 0, gap = -1;
    std::size_t at = 0;
    if (text[0] == ':') {
        if (text[1] != ':')
            return false;
        gap = 0;
        at = 2;
    }
    while (at < text.size()) {
        unsigned value = 0;
        std::size_t digits = 0;
        for (; at < text.size() && digits < 5; ++at, ++digits) {
            const char c = text[at];
            const unsigned digit = c >= '0' && c <= '9' ? unsigned(c - '0')
                : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? unsigned((c | 0x20) - 'a' + 10)
                                                        : 16u;
            if (digit == 16)
                break;
            value = value << 4 | digit;
        }
        if (digits == 0 || digits > 4 || count == 8)
            return false;
        groups[count++] = std::uint16_t(value);
        if (at == text.size())
            break;
        if (text[at] != ':' || ++at == text.size())
            return false;
        if (text[at] == ':') {
            if (gap >= 0)
                return false;
            gap = count;
            ++at;
        }
    }
    if (gap < 0 ? count != 8 : count > 7)
        return false;
    std::uint16_t full[8] = {};
    const int tail = gap < 0 ? 0 : count - gap;
    for (int i = 0; i < count - tail; ++i)
        full[i] = groups[i];
    for (int i = 0; i < tail; ++i)
        full[8 - tail + i] = groups[count - tail + i];
    key.high = std::uint64_t(full[0]) << 48 | std::uint64_t(full[1]) << 32 | std::uint64_t(full[2]) << 16 | full[3];
    key.low = std::uint64_t(full[4]) << 48 | std::uint64_t(full[5]) << 32 | std::uint64_t(full[6]) << 16 | full[7];
    return true;
}

// Reads TEXT as an IPv6 address into KEY: exactly what inet_pton(AF_INET6) takes.
inline bool ParseIpv6(std::string_view text, Key6 &key)
{
    if (ParsePlainIpv6(text, key))
        return true;
    if (text.size() > 45 || text.find(':') == std::string_view::npos)
        return false;
    const std::string terminated(text); // inet_pton reads up to a NUL
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, terminated.c_str(), bytes) != 1)
        return false;
    key = Key6::FromBytes(bytes);
    return true;
}

} // namespace quokka::geo
