#include "table_row.h"

#include "base/little_endian.h"

#include <algorithm>
#include <cstring>

using quokka::WriteLe32;
using quokka::WriteLeDouble;

namespace quokka::tools::geotable {

void PutText(unsigned char *field, std::size_t size, std::string_view text)
{
    const std::size_t length = std::min({text.size(), kMaxText, size});
    std::memcpy(field, text.data(), length);
    if (length < size)
        field[length] = 0;
    for (std::size_t i = length + 1; i < size; ++i)
        field[i] = kFill;
}

Row EncodeRow(std::uint32_t first, std::uint32_t last, const Place &place)
{
    Row row{};
    WriteLe32(row.data(), first);
    WriteLe32(row.data() + 4, last);
    PutText(row.data() + kCountryCode, kCountryCodeSize, place.countryCode.substr(0, 2));
    PutText(row.data() + kCountryName, kCountryNameSize, place.countryName);
    PutText(row.data() + kRegion, kRegionSize, place.region);
    PutText(row.data() + kCity, kCitySize, place.city);
    WriteLeDouble(row.data() + kLatitude, place.latitude);
    WriteLeDouble(row.data() + kLongitude, place.longitude);
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

} // namespace quokka::tools::geotable
