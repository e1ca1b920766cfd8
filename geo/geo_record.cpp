#include "geo/geo_record.h"

#include <cstring>

namespace quokka::geo {

std::string_view GeoRecord::ReadText(const unsigned char *field, std::size_t size)
{
    const auto *begin = reinterpret_cast<const char *>(field);
    const void *nul = std::memchr(begin, 0, size);
    return {begin, nul ? static_cast<std::size_t>(static_cast<const char *>(nul) - begin) : size};
}

} // namespace quokka::geo
