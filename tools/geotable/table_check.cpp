#include "table_check.h"

#include "base/little_endian.h"
#include "table_row.h"

#include "geo/range_order.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <set>
#include <sstream>

using quokka::ReadLe32;
using quokka::ReadLeDouble;

namespace quokka::tools::geotable {
namespace {

class Checker {
public:
    explicit Checker(std::span<const unsigned char> table) : m_table(table) {}
    CheckResult run();

private:
    const unsigned char *row(std::size_t i) const { return m_table.data() + i * kRowSize; }
    void fault(std::size_t i, const std::string &what);
    void checkCoverage(std::size_t i);
    void checkText(std::size_t i, std::size_t offset, std::size_t size, const char *name);
    void checkNoLocation(std::size_t i);
    void checkLocated(std::size_t i);
    void countFull(const unsigned char *r);

    std::span<const unsigned char> m_table;
    CheckResult m_result;
    std::set<std::string> m_codes;
    bool m_anyLocated = false;
};

void Checker::fault(std::size_t i, const std::string &what)
{
    m_result.Add([&] {
        const unsigned char *r = row(i);
        return "row " + std::to_string(i) + " (" + DottedQuad(ReadLe32(r)) + "-"
            + DottedQuad(ReadLe32(r + 4)) + "): " + what;
    });
}

// Beyond the order every table needs (ForEachOrderFault, run once over all rows): coverage
// from the first covered address on without gaps, and equal neighbours merged.
void Checker::checkCoverage(std::size_t i)
{
    const std::uint32_t first = ReadLe32(row(i));
    if (i == 0 && first != kFirstCovered)
        fault(i, "the first row does not start at " + DottedQuad(kFirstCovered));
    if (i > 0) {
        const std::uint32_t previousLast = ReadLe32(row(i - 1) + 4);
        if (previousLast != 0xFFFFFFFF && first > previousLast + 1)
            fault(i, "leaves a gap after the previous row");
        if (std::memcmp(row(i) + kCountryCode, row(i - 1) + kCountryCode, kRowSize - kCountryCode) == 0)
            fault(i, "same place as the previous row (not merged)");
    }
}

void Checker::checkText(std::size_t i, std::size_t offset, std::size_t size, const char *name)
{
    const unsigned char *field = row(i) + offset;
    const std::string_view value = geo::GeoRecord::ReadText(field, size);
    for (unsigned char c : value) {
        if (c < 0x20 || c > 0x7E) {
            fault(i, std::string(name) + " is not plain ASCII");
            break;
        }
    }
    if (value.size() > kMaxText)
        fault(i, std::string(name) + " longer than 32 characters");
    for (std::size_t k = value.size() + 1; k < size; ++k) {
        if (field[k] != kFill) {
            fault(i, std::string(name) + " not filled with 0xFE after its NUL");
            break;
        }
    }
}

void Checker::checkNoLocation(std::size_t i)
{
    const unsigned char *r = row(i);
    ++m_result.figures.noLocationRows;
    if (geo::GeoRecord::ReadText(r + kCountryCode, kCountryCodeSize) != kNoLocation
        || geo::GeoRecord::ReadText(r + kRegion, kRegionSize) != kNoLocation
        || geo::GeoRecord::ReadText(r + kCity, kCitySize) != kNoLocation)
        fault(i, "a row without location whose texts are not all \"-\"");
    if (std::bit_cast<std::uint64_t>(ReadLeDouble(r + kLatitude)) != 0
        || std::bit_cast<std::uint64_t>(ReadLeDouble(r + kLongitude)) != 0)
        fault(i, "a row without location whose coordinates are not 0.0");
}

void Checker::checkLocated(std::size_t i)
{
    const unsigned char *r = row(i);
    const std::string_view code = geo::GeoRecord::ReadText(r + kCountryCode, kCountryCodeSize);
    if (code.size() != 2 || code[0] < 'A' || code[0] > 'Z' || code[1] < 'A' || code[1] > 'Z')
        fault(i, "country code is not two upper-case letters");
    m_codes.emplace(code);
    const double latitude = ReadLeDouble(r + kLatitude), longitude = ReadLeDouble(r + kLongitude);
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::fabs(latitude) > 90.0
        || std::fabs(longitude) > 180.0)
        fault(i, "coordinates out of range");
    if (latitude == 0.0 && longitude == 0.0)
        fault(i, "a located row with both coordinates 0.0");
    TableFigures &f = m_result.figures;
    if (!m_anyLocated) {
        f.latitudeMin = f.latitudeMax = latitude;
        f.longitudeMin = f.longitudeMax = longitude;
        m_anyLocated = true;
    }
    f.latitudeMin = std::fmin(f.latitudeMin, latitude);
    f.latitudeMax = std::fmax(f.latitudeMax, latitude);
    f.longitudeMin = std::fmin(f.longitudeMin, longitude);
    f.longitudeMax = std::fmax(f.longitudeMax, longitude);
}

void Checker::countFull(const unsigned char *r)
{
    TableFigures &f = m_result.figures;
    f.fullCountryNames += geo::GeoRecord::ReadText(r + kCountryName, kCountryNameSize).size() == kCountryNameSize;
    f.fullRegions += geo::GeoRecord::ReadText(r + kRegion, kRegionSize).size() == kRegionSize;
    f.fullCities += geo::GeoRecord::ReadText(r + kCity, kCitySize).size() == kMaxText;
}

CheckResult Checker::run()
{
    TableFigures &f = m_result.figures;
    f.bytes = m_table.size();
    f.rows = m_table.size() / kRowSize;
    f.maxProbes = std::bit_width(f.rows);
    if (m_table.size() % kRowSize != 0 || f.rows < 2) {
        m_result.Add([] { return "the table is not a whole number of 124-byte rows, at least two"; });
        return m_result;
    }
    if (f.maxProbes > kMaxProbes) {
        m_result.Add([] { return "too many rows: a lookup would need more than 22 probes"; });
    }
    const std::size_t dataRows = f.rows - 1;
    geo::ForEachOrderFault(m_table.first(dataRows * kRowSize), kRowSize, [this](std::size_t i, const char *what) {
        fault(i, what);
        return true;
    });
    for (std::size_t i = 0; i < dataRows; ++i) {
        checkCoverage(i);
        checkText(i, kCountryCode, kCountryCodeSize, "country code");
        checkText(i, kCountryName, kCountryNameSize, "country name");
        checkText(i, kRegion, kRegionSize, "region");
        checkText(i, kCity, kCitySize, "city");
        const std::string_view country = geo::GeoRecord::ReadText(row(i) + kCountryName, kCountryNameSize);
        if (country.empty())
            fault(i, "empty country name");
        else if (country == kNoLocation)
            checkNoLocation(i);
        else if (country[0] == '-')
            fault(i, "a located row whose country name starts with \"-\"");
        else
            checkLocated(i);
        countFull(row(i));
    }
    if (ReadLe32(row(dataRows - 1) + 4) != kLastCovered)
        fault(dataRows - 1, "the last data row does not end at " + DottedQuad(kLastCovered));
    if (std::memcmp(row(dataRows), TerminatingRow().data(), kRowSize) != 0)
        fault(dataRows, "the last row is not the terminating row");
    f.countryCodes = m_codes.size();
    return m_result;
}

} // namespace

CheckResult CheckTable(std::span<const unsigned char> table)
{
    return Checker(table).run();
}

std::string FormatFigures(const TableFigures &f)
{
    std::ostringstream out;
    out.precision(10);
    out << "bytes: " << f.bytes << "\n"
        << "rows: " << f.rows << " (" << (f.rows ? f.rows - 1 : 0) << " data rows and the terminating row)\n"
        << "rows without location: " << f.noLocationRows << "\n"
        << "distinct country codes: " << f.countryCodes << "\n"
        << "full country names: " << f.fullCountryNames << "\n"
        << "full regions: " << f.fullRegions << "\n"
        << "32-character cities: " << f.fullCities << "\n"
        << "latitude: " << f.latitudeMin << " to " << f.latitudeMax << "\n"
        << "longitude: " << f.longitudeMin << " to " << f.longitudeMax << "\n"
        << "most probes per lookup: " << f.maxProbes << "\n";
    return out.str();
}

} // namespace quokka::tools::geotable
