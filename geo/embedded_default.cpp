#include "geo/as_database.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"

namespace quokka::geo {

// The linked-in tables of a build without them: empty. These are weak definitions, so a
// program that links embedded_table.cpp (the program itself, when the tables are built) gets
// its tables, and every other program, test and tool simply links the geo core.
__attribute__((weak)) std::span<const unsigned char> EmbeddedGeoTable()
{
    return {};
}

__attribute__((weak)) std::span<const unsigned char> EmbeddedGeoTable6()
{
    return {};
}

__attribute__((weak)) std::span<const unsigned char> EmbeddedAsTable()
{
    return {};
}

} // namespace quokka::geo
