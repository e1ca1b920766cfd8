#pragma once
// IPv6 addresses as text, read for paths that handle millions of them: the usual forms (hex
// groups, one "::") without the C library, anything else through inet_pton.
#include "geo/geo_database6.h"

#include <arpa/inet.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <string>
#include <string_view>

namespace quokka::geo {

// Reads TEXT into KEY when it is hex groups with at most one "::" and no dotted IPv4 ending;
// false leaves the verdict to inet_pton (which may still take the text, or refuse it).
// Without branches on the characters, whose group lengths a processor cannot guess: the colons
// and stray characters are marked 16 at a time, then each group is read as the (up to) four
// bytes before its end at once, and kept in a list until its place is known.
inline bool ParsePlainIpv6(std::string_view text, Key6 &key)
{
    const std::size_t size = text.size();
    if (size < 2 || size > 39)
        return false;
    // The text where it lies; one shorter than 16 characters copied into 16 bytes.
    unsigned char padded[16] = {};
    const unsigned char *chars = reinterpret_cast<const unsigned char *>(text.data());
    if (size < 16) {
        std::memcpy(padded, chars, size);
        chars = padded;
    }
    std::uint64_t colons = 0, known = 0; // a bit for each colon, and for each colon or hex digit
#if defined(__SSE2__)
    const std::size_t readable = size < 16 ? 16 : size;
    // The first, the last and (past 32) the middle 16 bytes: together, every character.
    const auto mark = [&](std::size_t at) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars + at));
        const __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
        const __m128i colon = _mm_cmpeq_epi8(c, _mm_set1_epi8(':'));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
        const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
        colons |= std::uint64_t(unsigned(_mm_movemask_epi8(colon))) << at;
        known |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_or_si128(colon, _mm_or_si128(digit, letter))))) << at;
    };
    mark(0);
    mark(readable - 16);
    if (readable > 32)
        mark(16);
#else
    for (std::size_t at = 0; at < size; ++at) {
        const unsigned char c = chars[at], lower = c | 0x20;
        const bool colon = c == ':';
        colons |= std::uint64_t(colon) << at;
        known |= std::uint64_t(colon | (c >= '0' && c <= '9') | (lower >= 'a' && lower <= 'f')) << at;
    }
#endif
    const std::uint64_t inText = (std::uint64_t(1) << size) - 1;
    colons &= inText;
    const bool faults = (known & inText) != inText;
    // One "::" at most (":::" holds two); a single colon may not begin or end the text.
    const std::uint64_t pairs = colons & colons >> 1;
    const std::uint64_t ends = 1 | std::uint64_t(1) << (size - 1);
    if (faults || (pairs & (pairs - 1)) != 0 || (colons & ends & ~(pairs | pairs << 1)) != 0)
        return false;
    // No group of five digits or more.
    const std::uint64_t digitBits = inText & ~colons;
    if ((digitBits & digitBits >> 1 & digitBits >> 2 & digitBits >> 3 & digitBits >> 4) != 0)
        return false;
    const std::size_t gapEnd = pairs != 0 ? std::size_t(__builtin_ctzll(pairs)) + 1 : 64; // its second colon
    // Of the four characters read before a group's end, the ones its length keeps.
    static constexpr std::uint32_t kKept[5] = {0, 0xFF000000u, 0xFFFF0000u, 0xFFFFFF00u, 0xFFFFFFFFu};
    // Each group's value where it stands (an empty one overwritten by the next), and how many
    // come before the "::" (all of them without one).
    std::uint16_t groups[8];
    unsigned count = 0, headCount = 0;
    std::size_t from = 0;
    for (std::uint64_t rest = colons;; rest &= rest - 1) {
        if (count == 8) // a ninth group
            return false;
        const std::size_t end = rest != 0 ? std::size_t(__builtin_ctzll(rest)) : size;
        const std::size_t length = end - from;
        // The four characters before END, the first lowest; near the text's start, its first
        // four moved up to end at END (all four out for an empty first group).
        std::uint32_t digits;
        if (end >= 4) [[likely]] {
            std::memcpy(&digits, chars + end - 4, sizeof digits);
        } else {
            std::uint32_t first;
            std::memcpy(&first, chars, sizeof first);
            digits = std::uint32_t(std::uint64_t(first) << 8 * (4 - end));
        }
        digits &= kKept[length];
        digits = (digits & 0x0F0F0F0F) + (digits >> 6 & 0x01010101) * 9;
        const std::uint32_t pairs16 = (digits & 0x00FF00FF) << 4 | (digits >> 8 & 0x00FF00FF);
        groups[count] = std::uint16_t((pairs16 & 0xFF) << 8 | (pairs16 >> 16 & 0xFF));
        count += length > 0;
        headCount += length > 0 && end < gapEnd;
        from = end + 1;
        if (rest == 0)
            break;
    }
    if (pairs == 0 ? count != 8 : count > 7)
        return false;
    // The groups before the "::" at the front, those after it at the back, zeros between.
    std::uint16_t words[8] = {};
    for (unsigned i = 0; i < headCount; ++i)
        words[i] = groups[i];
    for (unsigned i = headCount; i < count; ++i)
        words[8 - count + i] = groups[i];
    key.high = std::uint64_t(words[0]) << 48 | std::uint64_t(words[1]) << 32 | std::uint64_t(words[2]) << 16 | words[3];
    key.low = std::uint64_t(words[4]) << 48 | std::uint64_t(words[5]) << 32 | std::uint64_t(words[6]) << 16 | words[7];
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
