#pragma once
// Writing the 124-byte rows of the geolocation table (whose layout and readers are GeoRecord's):
// little-endian addresses, ASCII texts ended by one NUL and filled with 0xFE, packed doubles.
#include "geo/geo_record.h"
#include "table_file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quokka::tools::geotable {

constexpr std::size_t kRowSize = geo::GeoRecord::kSize;
constexpr std::size_t kCountryCode = geo::GeoRecord::kCountryCode, kCountryCodeSize = geo::GeoRecord::kCountryCodeSize;
constexpr std::size_t kCountryName = geo::GeoRecord::kCountryName, kCountryNameSize = geo::GeoRecord::kCountryNameSize;
constexpr std::size_t kRegion = geo::GeoRecord::kRegion, kRegionSize = geo::GeoRecord::kRegionSize;
constexpr std::size_t kCity = geo::GeoRecord::kCity, kCitySize = geo::GeoRecord::kCitySize;
constexpr std::size_t kLatitude = geo::GeoRecord::kLatitude, kLongitude = geo::GeoRecord::kLongitude;
constexpr std::size_t kMaxText = 32;
constexpr unsigned char kFill = 0xFE;

// The table covers exactly this span; the row without location reads "-".
constexpr std::uint32_t kFirstCovered = 0x01000100; // 1.0.1.0
constexpr std::uint32_t kLastCovered = 0xDFFFFFFF;  // 223.255.255.255
constexpr std::string_view kNoLocation = "-";

using Row = std::array<unsigned char, kRowSize>;

// A place as the table stores it; texts already plain ASCII.
struct Place {
    std::string countryCode;
    std::string countryName;
    std::string region;
    std::string city;
    double latitude = 0.0;
    double longitude = 0.0;
};

// The row for FIRST..LAST (inclusive) at PLACE; texts are truncated to 32 characters.
Row EncodeRow(std::uint32_t first, std::uint32_t last, const Place &place);
// The row for a range the source does not locate: "-" texts, coordinates 0.0.
Row NoLocationRow(std::uint32_t first, std::uint32_t last);
// The row that ends the table: addresses 0, every text empty, coordinates 0.0.
Row TerminatingRow();

// Writes TEXT into a field of SIZE bytes: truncated to 32 characters, then one NUL when it
// is shorter than the field, then 0xFE up to the field's end.
void PutText(unsigned char *field, std::size_t size, std::string_view text);
using tablefile::DottedQuad;

} // namespace quokka::tools::geotable
