// Writes a small geolocation table file for tests, one row per input line:
//   FIRST LAST CC|Country|Region|City<TAB>LATITUDE LONGITUDE   (addresses dotted)
// The rows must come in address order; the terminating row is added at the end.
//   make_geo_table OUTPUT < rows
#include "geo/geo_record.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

using quokka::WriteLe32;
using quokka::WriteLeDouble;
using quokka::geo::GeoRecord;

namespace {

std::uint32_t Key(const std::string &dotted)
{
    in_addr a{};
    if (inet_pton(AF_INET, dotted.c_str(), &a) != 1)
        throw std::runtime_error("not an address: " + dotted);
    return ntohl(a.s_addr);
}

// A text shorter than its field ends with one NUL and is filled with 0xFE.
void PutText(GeoRecord &r, std::size_t at, std::size_t size, const std::string &text)
{
    std::memset(r.bytes.data() + at, 0xFE, size);
    const std::size_t n = std::min(text.size(), size);
    std::memcpy(r.bytes.data() + at, text.data(), n);
    if (n < size)
        r.bytes[at + n] = 0;
}

GeoRecord Row(std::uint32_t first, std::uint32_t last, const std::string &places, double lat, double lon)
{
    std::string field[4];
    std::istringstream in(places);
    for (auto &f : field)
        std::getline(in, f, '|');
    GeoRecord r;
    WriteLe32(r.bytes.data() + GeoRecord::kFirstAddress, first);
    WriteLe32(r.bytes.data() + GeoRecord::kLastAddress, last);
    PutText(r, GeoRecord::kCountryCode, GeoRecord::kCountryCodeSize, field[0]);
    PutText(r, GeoRecord::kCountryName, GeoRecord::kCountryNameSize, field[1]);
    PutText(r, GeoRecord::kRegion, GeoRecord::kRegionSize, field[2]);
    PutText(r, GeoRecord::kCity, GeoRecord::kCitySize - 1, field[3]);
    r.bytes[GeoRecord::kCity + GeoRecord::kCitySize - 1] = field[3].size() >= 32 ? 0 : 0xFE;
    WriteLeDouble(r.bytes.data() + GeoRecord::kLatitude, lat);
    WriteLeDouble(r.bytes.data() + GeoRecord::kLongitude, lon);
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_geo_table OUTPUT < rows\n");
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty())
            continue;
        std::istringstream in(line);
        std::string first, last, places;
        double lat = 0, lon = 0;
        in >> first >> last;
        in >> std::ws;
        std::getline(in, places, '\t');
        in >> lat >> lon;
        const GeoRecord r = Row(Key(first), Key(last), places, lat, lon);
        out.write(reinterpret_cast<const char *>(r.bytes.data()), GeoRecord::kSize);
    }
    const GeoRecord end = Row(0, 0, "|||", 0, 0);
    out.write(reinterpret_cast<const char *>(end.bytes.data()), GeoRecord::kSize);
    return out ? 0 : 1;
}
