#include "table_row.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace geotable {

void PutText(unsigned char *field, std::size_t size, std::string_view text)
{
    const std::size_t length = std::min({text.size(), kMaxText, size});
    std::memcpy(field, text.data(), length);
    if (length < size)
        field[length] = 0;
    for (std::size_t i = length + 1; i < size; ++i)
        field[i] = kFill;
}

void PutDouble(unsigned char *at, double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<unsigned char>(bits >> (8 * i));
}

Row EncodeRow(std::uint32_t first, std::uint32_t last, const Place &place)
{
    Row row{};
    PutU32(row.data(), first);
    PutU32(row.data() + 4, last);
    PutText(row.data() + kCountryCode, kCountryCodeSize, place.countryCode.substr(0, 2));
    PutText(row.data() + kCountryName, kCountryNameSize, place.countryName);
    PutText(row.data() + kRegion, kRegionSize, place.region);
    PutText(row.data() + kCity, kCitySize, place.city);
    PutDouble(row.data() + kLatitude, place.latitude);
    PutDouble(row.data() + kLongitude, place.longitude);
    return row;
}

Row NoLocationRow(std::uint32_t first, std::uint32_t last)
{
    const std::string dash(kNoLocation);
    return EncodeRow(first, last, Place{dash, dash, dash, dash, 0.0, 0.0});
}

Row TerminatingRow()
{
    return EncodeRow(0, 0, Place{});
}

} // namespace geotable
