#include "geo/as_database.h"
#include "geo/geo_database.h"

// Builds without the linked-in tables (the tests, and the program when the tables are off).
std::span<const unsigned char> EmbeddedGeoTable()
{
    return {};
}

std::span<const unsigned char> EmbeddedAsTable()
{
    return {};
}
