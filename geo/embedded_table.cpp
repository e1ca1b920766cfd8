#include "geo/geo_database.h"

#include <cstdint>

// Defined by embedded_table.S around the generated table file.
extern "C" const unsigned char quokka_geo_table_begin[];
extern "C" const std::uint64_t quokka_geo_table_size;

std::span<const unsigned char> EmbeddedGeoTable()
{
    return {quokka_geo_table_begin, static_cast<std::size_t>(quokka_geo_table_size)};
}

#include "geo/as_database.h"

std::span<const unsigned char> EmbeddedAsTable()
{
    return {};
}
