// Fuzz target for the IPv6 table reader: a table of up to 8 ranges with any high halves, place
// indices and list of low halves laid out from the input (or the input's bytes taken as they
// are), searched with the address text that follows and around every range start. Whatever
// the bytes, a search ends inside the table and a place row lies inside it; on a table its
// own check passes, every search finds the last range starting at or below the address.
#include "base/little_endian.h"
#include "geo/geo_database6.h"
#include "geo/ipv6_text.h"
#include "tests/fuzz/fuzz_check.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using quokka::geo::GeoDatabase6;
using quokka::geo::GeoRecord;
using quokka::geo::Key6;

namespace {

struct Input {
    const std::uint8_t *data;
    std::size_t size;

    std::uint8_t Byte()
    {
        if (size == 0)
            return 0;
        --size;
        return *data++;
    }
};

void AppendLe64(std::vector<unsigned char> &bytes, std::uint64_t value)
{
    quokka::AppendLe32(bytes, std::uint32_t(value));
    quokka::AppendLe32(bytes, std::uint32_t(value >> 32));
}

// The table: a first byte with bit 7 set takes the rest of the input as the table's bytes.
// Otherwise its bits give the range count (0-7, 8 when 0 with bit 6), the places (0-2) come from
// the second and the low halves (0-3) from the third; each range's high half rises from the one
// before by a byte shifted by a byte (wrapping, so that some fall), its place is a byte (255: no
// place; others modulo one more than the places, so some point past them); each low half names
// a range by a byte (some past the table) and is 8 bytes.
std::vector<unsigned char> TableFrom(Input &in, bool &laidOut)
{
    const std::uint8_t shape = in.Byte();
    laidOut = (shape & 0x80) == 0;
    if (!laidOut) {
        std::vector<unsigned char> bytes(in.data, in.data + in.size);
        in.size = 0;
        return bytes;
    }
    const std::uint32_t ranges = (shape & 7) != 0 ? shape & 7 : (shape & 0x40 ? 8 : 0);
    const std::uint32_t places = in.Byte() % 3, lows = in.Byte() % 4;
    std::vector<unsigned char> table(GeoDatabase6::kMagic.begin(), GeoDatabase6::kMagic.end());
    quokka::AppendLe32(table, ranges);
    quokka::AppendLe32(table, places);
    quokka::AppendLe32(table, lows);
    quokka::AppendLe32(table, 0);
    std::uint64_t high = 0;
    for (std::uint32_t i = 0; i < ranges; ++i) {
        const std::uint8_t step = in.Byte();
        high += std::uint64_t(step) << (in.Byte() % 64);
        AppendLe64(table, high);
    }
    for (std::uint32_t i = 0; i < ranges; ++i) {
        const std::uint8_t place = in.Byte();
        quokka::AppendLe32(table, place == 255 ? GeoDatabase6::kNoPlace : place % (places + 1));
    }
    for (std::uint32_t i = 0; i < lows; ++i)
        quokka::AppendLe32(table, in.Byte() % (ranges + 2));
    for (std::uint32_t i = 0; i < lows; ++i) {
        std::uint64_t low = 0;
        for (int b = 0; b < 8; ++b)
            low = low << 8 | in.Byte();
        AppendLe64(table, low);
    }
    table.resize(table.size() + places * GeoRecord::kSize, 0x5A);
    return table;
}

// The last range starting at or below KEY, by going through all of them.
std::uint32_t LastAtOrBelow(const GeoDatabase6 &database, const Key6 &key)
{
    std::uint32_t found = GeoDatabase6::kNoRange;
    for (std::uint32_t range = 0; range < database.RangeCount(); ++range) {
        if (database.RangeFirst(range) <= key)
            found = range;
    }
    return found;
}

void CheckFound(const GeoDatabase6 &database, const std::vector<unsigned char> &table, bool usable, const Key6 &key,
                std::uint32_t range)
{
    Check(range == GeoDatabase6::kNoRange || range < database.RangeCount());
    if (usable)
        Check(range == LastAtOrBelow(database, key));
    if (const unsigned char *row = database.PlaceRow(range)) {
        Check(row >= table.data() && row + GeoRecord::kSize <= table.data() + table.size());
        Check(std::size_t(table.data() + table.size() - row) % GeoRecord::kSize == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    Input in{data, size};
    bool laidOut = false;
    const std::vector<unsigned char> table = TableFrom(in, laidOut);
    const std::string problem = GeoDatabase6::Problem(table), fileProblem = GeoDatabase6::FileProblem(table);
    const GeoDatabase6 database(table);
    Check(problem.empty() || !laidOut);
    Check(problem.empty() || (database.RangeCount() == 0 && database.PlaceCount() == 0 && fileProblem == problem));
    const bool usable = fileProblem.empty();
    Check(usable == (problem.empty() && database.OrderProblem().empty()));

    // The address text after the table, then every range start and the addresses beside it.
    std::vector<Key6> keys;
    Key6 parsed;
    if (quokka::geo::ParseIpv6(std::string(reinterpret_cast<const char *>(in.data), in.size), parsed))
        keys.push_back(parsed);
    keys.push_back({0, 0});
    keys.push_back({~0ull, ~0ull});
    for (std::uint32_t range = 0; range < database.RangeCount(); ++range) {
        const Key6 first = database.RangeFirst(range), last = database.RangeLast(range);
        if (usable && range + 1 < database.RangeCount()) {
            const Key6 next = database.RangeFirst(range + 1);
            Check(first <= last && (last.low == ~0ull ? Key6{last.high + 1, 0} : Key6{last.high, last.low + 1}) == next);
        }
        keys.insert(keys.end(), {first, last, {first.high - (first.low == 0), first.low - 1}, {last.high + (last.low == ~0ull), last.low + 1}});
    }
    for (const Key6 &key : keys)
        CheckFound(database, table, usable, key, database.FindRange(key));
    // The same keys in a short list, and (when the first byte's bit 5 is set, so that not every
    // run pays for it) in one long enough for the guided search.
    std::vector<Key6> many = keys;
    while ((data[0] & 0x20) != 0 && many.size() < 4096)
        many.insert(many.end(), keys.begin(), keys.end());
    std::vector<std::uint32_t> found(many.size());
    database.FindRanges(many, found);
    for (std::size_t i = 0; i < keys.size(); ++i)
        CheckFound(database, table, usable, keys[i], found[i]);
    database.FindRanges(std::span(many).first(keys.size()), std::span(found).first(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i)
        CheckFound(database, table, usable, keys[i], found[i]);
    return 0;
}
