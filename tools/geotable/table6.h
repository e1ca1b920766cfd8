#pragma once
// The IPv6 geolocation table (layout in geo/geo_database6.h): built from an IPv6 source,
// checked, and compared with its source.
#include "country_names.h"
#include "table_check.h"
#include "table_row.h"

#include "geo/geo_database6.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quokka::tools::geotable {

class AsciiText;
class MmdbSource;

// A range of the IPv6 table: its first address and the index of its place (kNoPlace: none).
struct Range6 {
    geo::Key6 first;
    std::uint32_t place = geo::GeoDatabase6::kNoPlace;
};

// The table file of RANGES (rising starts) and PLACES (rows whose addresses are ignored and
// written as 0). Throws std::runtime_error when a count does not fit 32 bits.
std::vector<unsigned char> EncodeTable6(const std::vector<Range6> &ranges, const std::vector<Row> &places);

struct Build6Figures {
    std::size_t networks = 0;
    std::size_t sourceRecords = 0;
    std::size_t unlocatedRecords = 0;
    std::size_t ranges = 0;
    std::size_t places = 0;
    std::size_t bytes = 0;
};

// Writes the IPv6 table for SOURCE (an IPv6 database) to PATH: every network in address order,
// neighbours of one place merged, a record without location as the "-" place (as in the IPv4
// table), a stretch the source leaves out as a range without place.
Build6Figures BuildTable6(const MmdbSource &source, const CountryNames &names, AsciiText &ascii,
                          const std::string &path);

struct Table6Figures {
    std::size_t bytes = 0;
    std::size_t ranges = 0;
    std::size_t rangesWithoutPlace = 0;
    std::size_t lows = 0;     // ranges whose first address has a low half other than 0
    std::size_t places = 0;
    std::size_t sampled = 0;  // addresses compared with the source
    int maxProbes = 0;
};

struct Check6Result : tablefile::Faults {
    Table6Figures figures;
};

// Every rule of a finished IPv6 table: its header and size, starts rising from ::, the list of
// starts with a low half in order and inside the table, place
// indices inside the table, neighbours of one place merged, place rows as the IPv4 table's
// rows (addresses 0, plain ASCII texts, coordinates in range). With SOURCE, also the first,
// last and middle address of a sample of ranges give the source's place.
Check6Result CheckTable6(std::span<const unsigned char> table, const MmdbSource *source = nullptr);
std::string FormatFigures6(const Table6Figures &figures);

} // namespace quokka::tools::geotable
