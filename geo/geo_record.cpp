#include "geo/geo_record.h"

#include <bit>
#include <cstring>

std::string_view GeoRecord::text(std::size_t offset, std::size_t size) const
{
    const auto *begin = reinterpret_cast<const char *>(bytes.data() + offset);
    const void *nul = std::memchr(begin, 0, size);
    return {begin, nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - begin) : size};
}

std::uint32_t GeoRecord::readU32(std::size_t offset) const
{
    const unsigned char *p = bytes.data() + offset;
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16
        | std::uint32_t(p[3]) << 24;
}

double GeoRecord::readDouble(std::size_t offset) const
{
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | bytes[offset + std::size_t(i)];
    return std::bit_cast<double>(bits);
}
