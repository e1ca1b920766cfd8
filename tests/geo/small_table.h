#pragma once
// Small geolocation tables the tests build row by row, in memory or as files.
#include "table_row.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testgeo {

using quokka::tools::geotable::Place;

// Place of a located row with the given texts and coordinates.
Place At(const std::string &code, const std::string &country, const std::string &region,
         const std::string &city, double latitude, double longitude);
// The key of "a.b.c.d" in host order.
constexpr std::uint32_t Key(unsigned a, unsigned b, unsigned c, unsigned d)
{
    return a << 24 | b << 16 | c << 8 | d;
}

class SmallTable {
public:
    SmallTable &row(std::uint32_t first, std::uint32_t last, const Place &place);
    SmallTable &noLocation(std::uint32_t first, std::uint32_t last);
    SmallTable &terminate();
    const std::vector<unsigned char> &bytes() const { return m_bytes; }
    // Writes the table to a fresh file in the test's temporary folder and returns its path.
    std::string writeFile(const std::string &name) const;

private:
    void append(const quokka::tools::geotable::Row &row);
    std::vector<unsigned char> m_bytes;
};

// One range of a test AS table.
struct AsRange {
    std::uint32_t first, last, number;
    std::string name;
};
// An AS table in the program's layout: RANGES (sorted) each with a system and name of its own.
std::vector<unsigned char> AsTable(const std::vector<AsRange> &ranges);

// Writes BYTES to NAME in the temporary folder; returns the path.
std::string WriteTempFile(const std::string &name, const std::vector<unsigned char> &bytes);
// Removes the files WriteTempFile made in this process.
void RemoveTempFiles();

} // namespace testgeo
