// The IPv6 tables on small hand-made ones: the geolocation table through its builder's encoding,
// reader, search (one and bulk) and check; the AS table's IPv6 ranges; lookup lines of IPv6
// and mixed input; the IPv6 text reader.
#include "as_builder.h"
#include "base/net_address.h"
#include "geo/as_database.h"
#include "geo/geo_database6.h"
#include "geo/ipv6_text.h"
#include "geo/lookup_line.h"
#include "small_table.h"
#include "table6.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

using namespace quokka::geo;
using namespace quokka::tools;
using namespace testgeo;
using geotable::Range6;

namespace {

Key6 K(const char *text)
{
    return Key6::FromBytes(quokka::NetAddress::Parse(text).value().V6Bytes());
}

const std::vector<geotable::Row> &Places()
{
    static const std::vector<geotable::Row> places{
        geotable::EncodeRow(0, 0, At("US", "United States", "California", "Los Angeles", 34.05, -118.24)),
        geotable::NoLocationRow(0, 0),
    };
    return places;
}

// Ranges 0..4: Los Angeles, no location, no place, Los Angeles, no place to the end. Nothing
// before 2001:db8::.
std::vector<Range6> Ranges()
{
    return {{K("2001:db8::"), 0}, {K("2001:db8:0:1::"), 1}, {K("2001:db8:1::"), GeoDatabase6::kNoPlace},
            {K("2001:db8:2::"), 0}, {K("2001:db8:3::"), GeoDatabase6::kNoPlace}};
}

std::vector<unsigned char> Table(const std::vector<Range6> &ranges = Ranges())
{
    return geotable::EncodeTable6(ranges, Places());
}

// The search by hand: the last range starting at or below KEY.
std::uint32_t Reference(const std::vector<Key6> &starts, Key6 key)
{
    const auto above = std::upper_bound(starts.begin(), starts.end(), key);
    return above == starts.begin() ? GeoDatabase6::kNoRange : std::uint32_t(above - starts.begin() - 1);
}

} // namespace

TEST(GeoTable6, FindsRangesAtTheirEdgesAndNothingBeforeTheFirst)
{
    const std::vector<unsigned char> bytes = Table();
    ASSERT_EQ(GeoDatabase6::FileProblem(bytes), "");
    const GeoDatabase6 db(bytes);
    const std::uint32_t none = GeoDatabase6::kNoRange;
    const struct {
        const char *address;
        std::uint32_t range;
        const char *last;
    } rows[] = {
        {"::", none, ""},
        {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", none, ""},
        {"2001:db8::", 0, "2001:db8::ffff:ffff:ffff:ffff"},
        {"2001:db8::ffff:ffff:ffff:ffff", 0, "2001:db8::ffff:ffff:ffff:ffff"},
        {"2001:db8:0:1::", 1, "2001:db8:0:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8:0:8000::5", 1, "2001:db8:0:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8:1::1", 2, "2001:db8:1:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8:2::", 3, "2001:db8:2:ffff:ffff:ffff:ffff:ffff"},
        {"2001:db8:3::", 4, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
        {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 4, "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
    };
    for (const auto &row : rows) {
        const std::uint32_t range = db.FindRange(K(row.address));
        EXPECT_EQ(range, row.range) << row.address;
        if (range != none && range == row.range) {
            EXPECT_EQ(quokka::NetAddress::V6(db.RangeLast(range).Bytes()).ToString(), row.last) << row.address;
        }
    }
    EXPECT_EQ(db.FindKey(K("2001:db8::1")), db.PlaceRow(0));
    EXPECT_EQ(db.FindKey(K("2001:db8:1::1")), nullptr); // a range without place
    EXPECT_EQ(db.FindKey(K("2001:db8:2::1")), db.PlaceRow(0)); // a place stored once
}

TEST(GeoTable6, BulkSearchIsTheSingleSearchOnTablesOfEverySize)
{
    std::mt19937_64 random(6);
    for (const std::size_t count : {0, 1, 2, 3, 33, 64, 65, 1000}) {
        std::vector<Key6> starts;
        for (std::size_t i = 0; i < count; ++i)
            starts.push_back({random() % 64, random()});
        std::sort(starts.begin(), starts.end());
        starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
        std::vector<Range6> ranges;
        for (const Key6 &start : starts)
            ranges.push_back({start, std::uint32_t(ranges.size() % 2)});
        const std::vector<unsigned char> bytes = Table(ranges);
        ASSERT_EQ(GeoDatabase6::FileProblem(bytes), "");
        const GeoDatabase6 db(bytes);
        std::vector<Key6> keys{{0, 0}, {~0ull, ~0ull}};
        for (const Key6 &start : starts)
            keys.insert(keys.end(), {start, {start.high - (start.low == 0), start.low - 1}});
        for (int i = 0; i < 5000; ++i)
            keys.push_back({random() % 66, random()});
        // A long list goes through the sampled starts, a short one (and a single key) not.
        for (const std::size_t length : {keys.size(), std::size_t(100)}) {
            std::vector<std::uint32_t> found(length);
            db.FindRanges(std::span(keys).first(length), found);
            for (std::size_t i = 0; i < length; ++i) {
                ASSERT_EQ(found[i], Reference(starts, keys[i])) << count << " ranges, " << length << " keys, key " << i;
                ASSERT_EQ(db.FindRange(keys[i]), found[i]) << count << " ranges, key " << i;
            }
        }
    }
}

TEST(GeoTable6, BrokenTablesAreRefusedWithOneMessage)
{
    const std::vector<unsigned char> good = Table();
    // Ranges 1 and 2 start where the low half is not 0: the list of them lies after the places.
    const std::vector<unsigned char> lows = Table({{K("2001:db8::"), 0}, {K("2001:db8::5"), 1}, {K("2001:db8::9"), 0}});
    const std::size_t lowRanges = GeoDatabase6::kHeaderSize + 3 * (GeoDatabase6::kHighSize + GeoDatabase6::kIndexSize);
    const std::size_t lowHalves = lowRanges + 2 * GeoDatabase6::kLowRangeSize;
    const auto with = [](std::vector<unsigned char> table, std::size_t at, std::initializer_list<unsigned char> bytes) {
        std::copy(bytes.begin(), bytes.end(), table.begin() + std::ptrdiff_t(at));
        return table;
    };
    // The high halves are little-endian: byte 2 of 2001:db8:1::'s is its 1.
    const std::size_t highs = GeoDatabase6::kHeaderSize, indices = highs + 5 * GeoDatabase6::kHighSize;
    const std::vector<unsigned char> high1(good.begin() + highs + 8, good.begin() + highs + 16);
    std::vector<unsigned char> overlap = good; // range 2 starts where range 1 does
    std::copy(high1.begin(), high1.end(), overlap.begin() + highs + 16);
    const struct {
        const char *name;
        std::vector<unsigned char> table;
        const char *problem;
    } rows[] = {
        {"garbage", std::vector<unsigned char>(200, 'x'), "it is not an IPv6 geolocation table"},
        {"short", std::vector<unsigned char>(good.begin(), good.begin() + 10), "it is shorter than its header"},
        {"older", with(good, 7, {1}), "it is an IPv6 geolocation table of an older format (1); this program reads format 2"},
        {"cut", std::vector<unsigned char>(good.begin(), good.end() - 1), "its size does not match its header"},
        {"count", with(good, 8, {6}), "its size does not match its header"},
        {"low count", with(good, 16, {1}), "its size does not match its header"},
        {"order", with(good, highs + 16 + 2, {0}), "range 2 (2001:db8::): does not start after the previous range starts (out of order or overlapping)"},
        {"overlap", overlap, "range 2 (2001:db8:0:1::): does not start after the previous range starts (out of order or overlapping)"},
        {"low order", with(lows, lowHalves + 8, {4}), "range 2 (2001:db8::4): does not start after the previous range starts (out of order or overlapping)"},
        {"place", with(good, indices + 4, {2, 0, 0, 0}), "range 1 (2001:db8:0:1::): its place 2 is not in the table"},
        {"low repeated", with(lows, lowRanges + 4, {1}), "low half 1 (range 1): does not follow the previous one's range (out of order or repeated)"},
        {"low outside", with(lows, lowRanges + 4, {3}), "low half 1 (range 3): the range is not in the table"},
        {"low 0", with(lows, lowHalves, {0}), "low half 0 (range 1): it is 0"},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(GeoDatabase6::FileProblem(row.table), row.problem) << row.name;
        EXPECT_FALSE(geotable::CheckTable6(row.table).ok()) << row.name;
        const std::string path = WriteTempFile(std::string(row.name) + ".bin6", row.table);
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(GeoDatabase6::UseFile(path));
        const std::string message = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(message, "quokka-quokka: IPv6 geolocation table " + path + " not used: " + row.problem
                               + "; places of IPv6 addresses will not be shown\n");
        EXPECT_EQ(GeoDatabase6::Instance().RangeCount(), 0u) << row.name;
    }
    RemoveTempFiles();
}

TEST(GeoTable6, TheCheckWantsCoverageFromTheStartAndMergedNeighbours)
{
    std::vector<Range6> ranges = Ranges();
    EXPECT_FALSE(geotable::CheckTable6(Table(ranges)).ok()); // nothing from :: on
    ranges.insert(ranges.begin(), {K("::"), GeoDatabase6::kNoPlace});
    const geotable::Check6Result good = geotable::CheckTable6(Table(ranges));
    EXPECT_TRUE(good.ok()) << (good.faults.empty() ? "" : good.faults[0]);
    ranges.insert(ranges.begin() + 2, {K("2001:db8:0:0:8000::"), 0});
    const geotable::Check6Result unmerged = geotable::CheckTable6(Table(ranges));
    ASSERT_EQ(unmerged.faultCount, 1u);
    EXPECT_EQ(unmerged.faults[0], "range 2 (2001:db8:0:0:8000::): same place as the previous range (not merged)");
}

TEST(AsTable6, IpSixRangesAreLaidDownFoundAndOrdered)
{
    const astable::Address6 base = astable::Address6(0x20010db8) << 96;
    const std::vector<astable::SourceRange6> source6{
        {base, base + 0xffff, 64496, "Wide", 1},
        {base + 0x100, base + 0x1ff, 64497, "Narrow", 2}, // wins inside the wide one
        {~astable::Address6(0) - 1, ~astable::Address6(0), 64498, "Top", 3},
    };
    astable::BuildFigures figures;
    const std::vector<unsigned char> table = astable::EncodeTable({{1, 2, 64496, "Wide", 1}}, source6, figures);
    ASSERT_EQ(AsDatabase::FileProblem(table), "");
    const AsDatabase as(table);
    EXPECT_EQ(as.Range6Count(), 4u);
    const struct {
        const char *address;
        std::uint32_t number; // 0: none
    } rows[] = {
        {"2001:db7:ffff:ffff:ffff:ffff:ffff:ffff", 0}, {"2001:db8::", 64496}, {"2001:db8::ff", 64496},
        {"2001:db8::100", 64497}, {"2001:db8::1ff", 64497}, {"2001:db8::200", 64496}, {"2001:db8::ffff", 64496},
        {"2001:db8::1:0", 0}, {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:fffe", 64498}, {"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", 64498},
    };
    for (const auto &row : rows) {
        const std::optional<AsMatch> match = as.Find(row.address);
        EXPECT_EQ(match ? match->number : 0, row.number) << row.address;
    }
    std::vector<unsigned char> swapped = table; // IPv6 ranges 1 and 2 change places
    const std::size_t at = AsDatabase::kHeaderSize + AsDatabase::kRangeSize + AsDatabase::kRange6Size;
    std::swap_ranges(swapped.begin() + std::ptrdiff_t(at), swapped.begin() + std::ptrdiff_t(at + AsDatabase::kRange6Size),
                     swapped.begin() + std::ptrdiff_t(at + AsDatabase::kRange6Size));
    EXPECT_EQ(AsDatabase::FileProblem(swapped),
              "IPv6 range 2 (2001:db8::100-2001:db8::1ff): does not start after the previous one ends (out of order or overlapping)");
    std::vector<unsigned char> firstVersion = table; // the old magic with IPv6 ranges
    firstVersion[7] = 1;
    EXPECT_EQ(AsDatabase::FileProblem(firstVersion), "its header is not one this program reads");
}

TEST(LookupLine6, IpSixAndMixedInputGiveTheSameFields)
{
    SmallTable v4;
    v4.row(Key(1, 0, 1, 0), Key(1, 0, 3, 255), At("CN", "China", "Fujian", "Fuzhou", 26.06139, 119.30611)).terminate();
    const GeoDatabase geo(v4.bytes());
    const std::vector<unsigned char> table6 = Table();
    const GeoDatabase6 geo6(table6);
    const astable::Address6 base = astable::Address6(0x20010db8) << 96;
    astable::BuildFigures figures;
    const std::vector<unsigned char> asBytes = astable::EncodeTable(
        {{Key(1, 0, 1, 0), Key(1, 0, 1, 255), 64500, "Four", 1}}, {{base, base + 0xff, 64496, "Six\tTab", 1}}, figures);
    const AsDatabase as(asBytes);
    const std::string_view texts[] = {"2001:db8::1", " 2001:DB8:0:1::9\t", "2001:db8:1::1", "2001:db7::", "1.0.1.1",
                                      "2001:db8::g", "[2001:db8::1]", "::ffff:1.0.1.1"};
    LookupLines lines(geo, geo6, as);
    std::string out;
    lines.Append(texts, out);
    EXPECT_EQ(out,
              "2001:db8::1\t2001:db8::-2001:db8::ffff:ffff:ffff:ffff\tUS\tUnited States\tCalifornia\tLos Angeles\t34.05\t-118.24\t64496\tSix\u2409Tab\n"
              "2001:DB8:0:1::9\t2001:db8:0:1::-2001:db8:0:ffff:ffff:ffff:ffff:ffff\t-\t-\t-\t-\t0\t0\t\t\n"
              "2001:db8:1::1\tno match\t\t\n"
              "2001:db7::\tno match\t\t\n"
              "1.0.1.1\t1.0.1.0-1.0.3.255\tCN\tChina\tFujian\tFuzhou\t26.06139\t119.30611\t64500\tFour\n"
              "2001:db8::g\tno match\t\t\n"
              "[2001:db8::1]\tno match\t\t\n"
              "::ffff:1.0.1.1\tno match\t\t\n");
    EXPECT_EQ(LookupLine(geo, as, "2001:db8::1"), "2001:db8::1\tno match\t64496\tSix\u2409Tab"); // no IPv6 table
}

TEST(Ipv6Text, ReadsExactlyWhatInetPtonReads)
{
    std::vector<std::string> texts{"::", "::1", "1::", "1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7::", "::2:3:4:5:6:7:8",
                                   "1:2:3:4:5:6:7:8:9", "1:2:3:4::5:6:7:8", "1::2::3", ":::", "1:::2", ":1::", "1::2:",
                                   "12345::", "0000:ABCD:ef01::", "::ffff:1.2.3.4", "1::1.2.3.4", "::1.2.3", "g::",
                                   "1:2:3:4:5:6:7", ":", "", " ::1", "::1 ", "fe80::1%eth0", "[::1]"};
    std::mt19937 random(4);
    const std::string alphabet = "0123456789abcdefABCDEF::::..g";
    for (int i = 0; i < 200000; ++i) {
        std::string text;
        const std::size_t length = random() % 42;
        for (std::size_t k = 0; k < length; ++k)
            text += alphabet[random() % alphabet.size()];
        texts.push_back(text);
    }
    for (int i = 0; i < 50000; ++i) { // valid ones, with a run of zero groups left out
        std::array<std::uint8_t, 16> bytes{};
        for (std::uint8_t &byte : bytes)
            byte = random() % 3 == 0 ? 0 : std::uint8_t(random());
        texts.push_back(quokka::NetAddress::V6(bytes).ToString());
    }
    for (const std::string &text : texts) {
        unsigned char expected[16];
        const bool valid = inet_pton(AF_INET6, text.c_str(), expected) == 1;
        Key6 key{1, 2};
        ASSERT_EQ(ParseIpv6(text, key), valid) << text;
        if (valid) {
            ASSERT_EQ(key, Key6::FromBytes(expected)) << text;
            // Plain hex groups never need the C library.
            ASSERT_EQ(ParsePlainIpv6(text, key), text.find('.') == std::string::npos) << text;
        }
    }
}
