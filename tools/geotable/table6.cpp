#include "table6.h"

#include "ascii_text.h"
#include "base/little_endian.h"
#include "base/net_address.h"
#include "mmdb_source.h"
#include "table_builder.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

using quokka::AppendLe32;
using quokka::ReadLe32;
using quokka::ReadLeDouble;
using quokka::geo::GeoDatabase6;
using quokka::geo::GeoRecord;
using quokka::geo::Key6;

namespace quokka::tools::geotable {
namespace {

std::uint32_t Count6(std::size_t n)
{
    if (n > std::numeric_limits<std::uint32_t>::max() - 1)
        throw std::runtime_error("the source is too large for the IPv6 table's 32-bit counts");
    return static_cast<std::uint32_t>(n);
}

std::string Text6(const Key6 &key)
{
    return NetAddress::V6(key.Bytes()).ToString();
}

// How many ranges the comparison with the source samples (at most).
constexpr std::size_t kSampledRanges = 20000;

class Checker6 {
public:
    Checker6(std::span<const unsigned char> table, const MmdbSource *source)
        : m_table(table), m_database(table), m_source(source)
    {
    }
    Check6Result Run();

private:
    void Fault(std::size_t range, const std::string &what)
    {
        m_result.Add([&] { return "range " + std::to_string(range) + " (" + Text6(m_database.RangeFirst(std::uint32_t(range))) + "): " + what; });
    }
    void CheckPlace(std::size_t place);
    void CheckLows(const unsigned char *lowRanges);
    void CompareWithSource(std::uint32_t range);

    std::span<const unsigned char> m_table;
    GeoDatabase6 m_database;
    const MmdbSource *m_source;
    AsciiText m_ascii;
    Check6Result m_result;
};

void Checker6::CheckPlace(std::size_t place)
{
    const unsigned char *row = m_table.data() + m_table.size() - (m_database.PlaceCount() - place) * GeoRecord::kSize;
    const auto fault = [&](const std::string &what) {
        m_result.Add([&] { return "place " + std::to_string(place) + ": " + what; });
    };
    if (ReadLe32(row) != 0 || ReadLe32(row + 4) != 0)
        fault("its IPv4 addresses are not 0");
    const std::pair<std::size_t, std::size_t> texts[] = {{kCountryCode, kCountryCodeSize}, {kCountryName, kCountryNameSize},
                                                         {kRegion, kRegionSize}, {kCity, kCitySize}};
    for (const auto &[offset, size] : texts) {
        for (const unsigned char c : GeoRecord::ReadText(row + offset, size)) {
            if (c < 0x20 || c > 0x7E) {
                fault("a text is not plain ASCII");
                break;
            }
        }
    }
    const std::string_view country = GeoRecord::ReadText(row + kCountryName, kCountryNameSize);
    const double latitude = ReadLeDouble(row + kLatitude), longitude = ReadLeDouble(row + kLongitude);
    if (country.empty())
        fault("empty country name");
    else if (country == kNoLocation && (latitude != 0.0 || longitude != 0.0))
        fault("a place without location whose coordinates are not 0.0");
    if (!std::isfinite(latitude) || !std::isfinite(longitude) || std::fabs(latitude) > 90.0 || std::fabs(longitude) > 180.0)
        fault("coordinates out of range");
}

// The list of ranges whose first address has a low half other than 0 (LOW RANGES, their low
// halves after them): each range in the table, after the one before it, and its low half not 0.
void Checker6::CheckLows(const unsigned char *lowRanges)
{
    const std::size_t count = m_database.LowCount();
    const unsigned char *lows = lowRanges + count * GeoDatabase6::kLowRangeSize;
    for (std::size_t low = 0; low < count; ++low) {
        const std::uint32_t range = ReadLe32(lowRanges + low * GeoDatabase6::kLowRangeSize);
        const auto fault = [&](const char *what) {
            m_result.Add([&] { return "low half " + std::to_string(low) + " (range " + std::to_string(range) + "): " + what; });
        };
        if (range >= m_database.RangeCount())
            fault("the range is not in the table");
        if (low > 0 && range <= ReadLe32(lowRanges + (low - 1) * GeoDatabase6::kLowRangeSize))
            fault("does not follow the previous one's range (out of order or repeated)");
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = value << 8 | lows[low * GeoDatabase6::kLowSize + std::size_t(i)];
        if (value == 0)
            fault("it is 0");
    }
}

// The source's place of the first, middle and last address of RANGE, against the table's.
void Checker6::CompareWithSource(std::uint32_t range)
{
    const Key6 first = m_database.RangeFirst(range), last = m_database.RangeLast(range);
    __extension__ typedef unsigned __int128 Address;
    const Address low = (Address(first.high) << 64) | first.low, high = (Address(last.high) << 64) | last.low;
    const Address between = low + (high - low) / 2;
    const Key6 middle{std::uint64_t(between >> 64), std::uint64_t(between)};
    for (const Key6 &address : {first, middle, last}) {
        ++m_result.figures.sampled;
        const std::string text = Text6(address);
        const unsigned char *row = m_database.FindKey(address);
        const std::optional<SourcePlace> source = m_source->Lookup(text.c_str());
        if (!source) {
            if (row != nullptr)
                Fault(range, text + " has a place here but none in the source");
            continue;
        }
        Row expected = NoLocationRow(0, 0);
        if (!source->countryCode.empty() && source->countryCode != "ZZ" && row != nullptr) {
            // The country's name comes from the names list, not the source: take the table's.
            const std::string country(GeoRecord::ReadText(row + kCountryName, kCountryNameSize));
            expected = EncodeRow(0, 0, Place{source->countryCode, country, m_ascii(source->region), m_ascii(source->city),
                                             source->latitude, source->longitude});
        }
        if (row == nullptr || std::memcmp(row, expected.data(), kRowSize) != 0)
            Fault(range, text + " does not have the source's place (" + source->countryCode + ", " + source->city + ")");
    }
}

Check6Result Checker6::Run()
{
    Table6Figures &f = m_result.figures;
    f.bytes = m_table.size();
    if (const std::string problem = GeoDatabase6::Problem(m_table); !problem.empty()) {
        m_result.Add([&] { return "the table cannot be read: " + problem; });
        return m_result;
    }
    f.ranges = m_database.RangeCount();
    f.places = m_database.PlaceCount();
    f.lows = m_database.LowCount();
    f.maxProbes = std::bit_width(f.ranges);
    if (f.ranges == 0) {
        m_result.Add([] { return "the table has no ranges"; });
        return m_result;
    }
    if (m_database.RangeFirst(0) != Key6{})
        Fault(0, "the first range does not start at ::");
    const unsigned char *indices = m_table.data() + GeoDatabase6::kHeaderSize + f.ranges * GeoDatabase6::kHighSize;
    CheckLows(indices + f.ranges * GeoDatabase6::kIndexSize);
    for (std::size_t range = 0; range < f.ranges; ++range) {
        const std::uint32_t place = ReadLe32(indices + range * GeoDatabase6::kIndexSize);
        if (place == GeoDatabase6::kNoPlace)
            ++f.rangesWithoutPlace;
        else if (place >= f.places)
            Fault(range, "its place " + std::to_string(place) + " is not in the table");
        if (range == 0)
            continue;
        if (m_database.RangeFirst(std::uint32_t(range)) <= m_database.RangeFirst(std::uint32_t(range - 1)))
            Fault(range, "does not start after the previous range starts (out of order or overlapping)");
        if (place == ReadLe32(indices + (range - 1) * GeoDatabase6::kIndexSize))
            Fault(range, "same place as the previous range (not merged)");
    }
    for (std::size_t place = 0; place < f.places; ++place)
        CheckPlace(place);
    if (m_source != nullptr && m_result.ok()) {
        const std::size_t step = std::max<std::size_t>(1, f.ranges / kSampledRanges);
        for (std::size_t range = 0; range < f.ranges; range += step)
            CompareWithSource(std::uint32_t(range));
    }
    return m_result;
}

} // namespace

std::vector<unsigned char> EncodeTable6(const std::vector<Range6> &ranges, const std::vector<Row> &places)
{
    std::vector<std::uint32_t> lowRanges;
    for (std::size_t range = 0; range < ranges.size(); ++range) {
        if (ranges[range].first.low != 0)
            lowRanges.push_back(Count6(range));
    }
    std::vector<unsigned char> table(GeoDatabase6::kMagic.begin(), GeoDatabase6::kMagic.end());
    AppendLe32(table, Count6(ranges.size()));
    AppendLe32(table, Count6(places.size()));
    AppendLe32(table, Count6(lowRanges.size()));
    AppendLe32(table, 0);
    const auto appendLe64 = [&table](std::uint64_t value) {
        AppendLe32(table, std::uint32_t(value));
        AppendLe32(table, std::uint32_t(value >> 32));
    };
    for (const Range6 &range : ranges)
        appendLe64(range.first.high);
    for (const Range6 &range : ranges)
        AppendLe32(table, range.place);
    for (const std::uint32_t range : lowRanges)
        AppendLe32(table, range);
    for (const std::uint32_t range : lowRanges)
        appendLe64(ranges[range].first.low);
    for (Row row : places) {
        std::memset(row.data(), 0, 8);
        table.insert(table.end(), row.begin(), row.end());
    }
    return table;
}

Build6Figures BuildTable6(const MmdbSource &source, const CountryNames &names, AsciiText &ascii, const std::string &path)
{
    Build6Figures figures;
    std::vector<Range6> ranges;
    std::vector<Row> places;
    std::map<Row, std::uint32_t> placeOfRow;                // each place stored once
    std::unordered_map<std::uint32_t, std::uint32_t> placeOfRecord; // by the record's data offset
    const auto placeOf = [&](const Row &row) {
        const auto [at, added] = placeOfRow.try_emplace(row, Count6(places.size()));
        if (added)
            places.push_back(row);
        return at->second;
    };
    source.Walk6([&](Key6 first, Key6, std::optional<std::uint32_t> record) {
        ++figures.networks;
        std::uint32_t place = GeoDatabase6::kNoPlace;
        if (record) {
            auto found = placeOfRecord.find(*record);
            if (found == placeOfRecord.end()) {
                const std::optional<Place> located = TablePlace(source.PlaceAt(*record), names, ascii);
                figures.unlocatedRecords += !located;
                found = placeOfRecord.emplace(*record, placeOf(located ? EncodeRow(0, 0, *located) : NoLocationRow(0, 0))).first;
            }
            place = found->second;
        }
        if (ranges.empty() || ranges.back().place != place)
            ranges.push_back({first, place});
    });
    figures.sourceRecords = placeOfRecord.size();
    figures.ranges = ranges.size();
    figures.places = places.size();
    const std::vector<unsigned char> table = EncodeTable6(ranges, places);
    figures.bytes = table.size();
    tablefile::TableWriter out(path);
    out.Write(table);
    out.Commit();
    return figures;
}

Check6Result CheckTable6(std::span<const unsigned char> table, const MmdbSource *source)
{
    return Checker6(table, source).Run();
}

std::string FormatFigures6(const Table6Figures &f)
{
    std::ostringstream out;
    out << "bytes: " << f.bytes << "\n"
        << "IPv6 ranges: " << f.ranges << " (" << f.rangesWithoutPlace << " without place)\n"
        << "ranges starting where the low half is not 0: " << f.lows << "\n"
        << "places: " << f.places << "\n"
        << "addresses compared with the source: " << f.sampled << "\n"
        << "most probes per lookup: " << f.maxProbes << "\n";
    return out.str();
}

} // namespace quokka::tools::geotable
