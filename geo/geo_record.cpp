#include "geo/geo_record.h"

#include <bit>
#include <cstring>

double GeoRecord::ReadDouble(const unsigned char *at)
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | at[i];
    return std::bit_cast<double>(bits);
}

std::string_view GeoRecord::ReadText(const unsigned char *field, std::size_t size)
{
    const auto *begin = reinterpret_cast<const char *>(field);
    const void *nul = std::memchr(begin, 0, size);
    return {begin, nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - begin) : size};
}
