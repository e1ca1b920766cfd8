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
// bytes before its end at once.
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
    const std::size_t starts[3] = {0, readable - 16, readable > 32 ? std::size_t(16) : std::size_t(0)};
    for (const std::size_t at : starts) {
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars + at));
        const __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
        const __m128i colon = _mm_cmpeq_epi8(c, _mm_set1_epi8(':'));
        const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
        const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
        colons |= std::uint64_t(unsigned(_mm_movemask_epi8(colon))) << at;
        known |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_or_si128(colon, _mm_or_si128(digit, letter))))) << at;
    }
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
    const std::size_t gapEnd = pairs != 0 ? std::size_t(__builtin_ctzll(pairs)) + 1 : 64; // its second colon
    // The groups before the "::" (all of them without one) and those after it, as numbers.
    __extension__ typedef unsigned __int128 Groups;
    Groups head = 0, tail = 0;
    unsigned count = 0, headCount = 0, longest = 0;
    std::size_t from = 0;
    for (std::uint64_t rest = colons;; rest &= rest - 1) {
        const std::size_t end = rest != 0 ? std::size_t(__builtin_ctzll(rest)) : size;
        const unsigned length = unsigned(end - from);
        // The four characters before END (at the text's start, its first four moved up to end
        // at END) as their values, the first lowest.
        const std::size_t end4 = end < 4 ? 4 : end;
        const unsigned char *four = chars + end4 - 4;
        const std::uint64_t read = std::uint64_t(four[0]) | std::uint64_t(four[1]) << 8 | std::uint64_t(four[2]) << 16
            | std::uint64_t(four[3]) << 24;
        std::uint32_t digits = std::uint32_t(read << 8 * (end4 - end)); // all four out for an empty first group
        digits = (digits & 0x0F0F0F0F) + (digits >> 6 & 0x01010101) * 9;
        digits &= std::uint32_t(0xFFFFFFFF00000000ull >> (8 * (length < 4 ? length : 4)));
        const std::uint32_t pairs16 = (digits & 0x00FF00FF) << 4 | (digits >> 8 & 0x00FF00FF);
        const Groups group = (pairs16 & 0xFF) << 8 | (pairs16 >> 16 & 0xFF);
        const bool inHead = length > 0 && end < gapEnd, inTail = length > 0 && end > gapEnd;
        head = inHead ? head << 16 | group : head;
        tail = inTail ? tail << 16 | group : tail;
        count += length > 0;
        headCount += inHead;
        longest = length > longest ? length : longest;
        from = end + 1;
        if (rest == 0)
            break;
    }
    if (longest > 4 || (pairs == 0 ? count != 8 : count > 7))
        return false;
    const unsigned gapBits = 8 * (8 - headCount); // half the shift: a shift by 128 would not do
    const Groups address = (head << gapBits) << gapBits | tail;
    key.high = std::uint64_t(address >> 64);
    key.low = std::uint64_t(address);
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
