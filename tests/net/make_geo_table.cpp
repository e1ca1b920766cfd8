// Writes a small geolocation table file for tests, one row per input line:
//   FIRST LAST CC|Country|Region|City<TAB>LATITUDE LONGITUDE
// The rows must come in address order. Without --ipv6 the addresses are dotted and the table is
// the IPv4 one (the terminating row added at the end); with --ipv6 they are IPv6 addresses and
// the table is the IPv6 one, where the stretches between and after the rows have no place.
//   make_geo_table [--ipv6] OUTPUT < rows
#include "table6.h"
#include "table_row.h"

#include "base/net_address.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace geotable = quokka::tools::geotable;
using quokka::geo::GeoDatabase6;
using quokka::geo::Key6;

namespace {

quokka::NetAddress Address(const std::string &text, bool v6)
{
    const auto address = quokka::NetAddress::Parse(text);
    if (!address || address->IsV6() != v6)
        throw std::runtime_error("not an IPv" + std::string(v6 ? "6" : "4") + " address: " + text);
    return *address;
}

std::uint32_t Key(const std::string &dotted) { return Address(dotted, false).V4HostOrder(); }

Key6 Key6Of(const std::string &text) { return Key6::FromBytes(Address(text, true).V6Bytes()); }

// The address after KEY; false past the last one.
bool Next(Key6 &key)
{
    if (++key.low != 0)
        return true;
    return ++key.high != 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool v6 = argc == 3 && std::string(argv[1]) == "--ipv6";
    if (argc != 2 && !v6) {
        std::fprintf(stderr, "usage: make_geo_table [--ipv6] OUTPUT < rows\n");
        return 2;
    }
    std::vector<geotable::Row> rows;
    std::vector<geotable::Range6> ranges;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (line.empty())
            continue;
        std::istringstream in(line);
        std::string first, last, text;
        geotable::Place place;
        in >> first >> last >> std::ws;
        std::getline(in, text, '\t');
        in >> place.latitude >> place.longitude;
        std::istringstream fields(text);
        for (std::string *field : {&place.countryCode, &place.countryName, &place.region, &place.city})
            std::getline(fields, *field, '|');
        if (!v6) {
            rows.push_back(geotable::EncodeRow(Key(first), Key(last), place));
            continue;
        }
        // Each row is a range of its own place, followed by one without place up to the next.
        if (!ranges.empty() && ranges.back().first == Key6Of(first))
            ranges.pop_back();
        ranges.push_back({Key6Of(first), std::uint32_t(rows.size())});
        rows.push_back(geotable::EncodeRow(0, 0, place));
        Key6 after = Key6Of(last);
        if (Next(after))
            ranges.push_back({after, GeoDatabase6::kNoPlace});
    }
    std::vector<unsigned char> table;
    if (v6) {
        table = geotable::EncodeTable6(ranges, rows);
    } else {
        rows.push_back(geotable::TerminatingRow());
        for (const geotable::Row &row : rows)
            table.insert(table.end(), row.begin(), row.end());
    }
    std::ofstream out(v6 ? argv[2] : argv[1], std::ios::binary);
    out.write(reinterpret_cast<const char *>(table.data()), std::streamsize(table.size()));
    return out ? 0 : 1;
}
