#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"

#include <cstdint>

// Defined by embedded_table.S around the generated table files.
extern "C" const unsigned char quokka_geo_table_begin[];
extern "C" const std::uint64_t quokka_geo_table_size;
extern "C" const unsigned char quokka_geo6_table_begin[];
extern "C" const std::uint64_t quokka_geo6_table_size;
extern "C" const unsigned char quokka_as_table_begin[];
extern "C" const std::uint64_t quokka_as_table_size;

namespace quokka::geo {

std::span<const unsigned char> EmbeddedGeoTable()
{
    return {quokka_geo_table_begin, static_cast<std::size_t>(quokka_geo_table_size)};
}

std::span<const unsigned char> EmbeddedGeoTable6()
{
    return {quokka_geo6_table_begin, static_cast<std::size_t>(quokka_geo6_table_size)};
}

std::span<const unsigned char> EmbeddedAsTable()
{
    return {quokka_as_table_begin, static_cast<std::size_t>(quokka_as_table_size)};
}

} // namespace quokka::geo
