#include "geo/lookup_line.h"

#include <charconv>

namespace {

std::string DottedQuad(std::uint32_t a)
{
    return std::to_string(a >> 24) + '.' + std::to_string((a >> 16) & 255) + '.'
        + std::to_string((a >> 8) & 255) + '.' + std::to_string(a & 255);
}

// The shortest decimal text that reads back as the same double.
std::string Shortest(double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace

std::string LookupLine(const GeoDatabase &database, const std::string &address)
{
    GeoRecord record;
    if (!database.Find(address.c_str(), record))
        return address + "\tno match";
    std::string line = address;
    for (const std::string &field :
         {DottedQuad(record.firstAddress()) + '-' + DottedQuad(record.lastAddress()),
          std::string(record.countryCode()), std::string(record.countryName()),
          std::string(record.region()), std::string(record.city()), Shortest(record.latitude()),
          Shortest(record.longitude())})
        line += '\t' + field;
    return line;
}
