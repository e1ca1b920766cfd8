// Geolocation table files that are not what the builder writes: rows out of order, rows whose
// bounds are swapped, random bytes, a table cut at a row boundary, more than 2^31 rows, and
// paths that are not files. The search may miss on a table out of order, but every search
// ends, and a row it returns always holds the address searched for; the program refuses a
// table file out of order with one message.
#include "base/little_endian.h"
#include "base/net_address.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"
#include "geo/mapped_file.h"
#include "small_table.h"
#include "table6.h"
#include "test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using quokka::ReadLe32;
using quokka::geo::GeoDatabase;
using quokka::geo::GeoDatabase6;
using quokka::geo::Key6;
using quokka::geo::GeoRecord;
using quokka::geo::MappedFile;
namespace geotable = quokka::tools::geotable;

using namespace testgeo;

namespace {

constexpr int kRows = 2000;
constexpr std::uint32_t kBase = Key(10, 0, 0, 0);

using Bytes = std::vector<unsigned char>;

// kRows adjacent /24 ranges from 10.0.0.0, each with a city named after its row.
// An IPv6 table of RANGES (first address, place index) with one place.
Bytes Table6(const std::vector<std::pair<const char *, std::uint32_t>> &ranges)
{
    std::vector<geotable::Range6> encoded;
    for (const auto &[first, place] : ranges)
        encoded.push_back({Key6::FromBytes(quokka::NetAddress::Parse(first)->V6Bytes()), place});
    return geotable::EncodeTable6(encoded, {geotable::EncodeRow(0, 0, At("XX", "Row country", "", "City", 1.0, 2.0))});
}

Bytes SortedRows()
{
    SmallTable table;
    for (int i = 0; i < kRows; ++i) {
        const std::uint32_t first = kBase + std::uint32_t(i) * 256;
        table.row(first, first + 255, At("XX", "Row country", "", "City " + std::to_string(i), 1.0, 2.0));
    }
    return table.bytes();
}

std::vector<geotable::Row> Split(const Bytes &bytes)
{
    std::vector<geotable::Row> rows(bytes.size() / GeoRecord::kSize);
    for (std::size_t i = 0; i < rows.size(); ++i)
        std::copy_n(bytes.begin() + std::ptrdiff_t(i * GeoRecord::kSize), GeoRecord::kSize, rows[i].begin());
    return rows;
}

Bytes Join(const std::vector<geotable::Row> &rows)
{
    Bytes bytes;
    for (const geotable::Row &row : rows)
        bytes.insert(bytes.end(), row.begin(), row.end());
    return bytes;
}

struct HostileTable {
    const char *why;
    Bytes bytes;
};

std::vector<HostileTable> TablesOutOfOrder()
{
    std::vector<geotable::Row> rows = Split(SortedRows());
    std::vector<geotable::Row> reversed(rows.rbegin(), rows.rend());
    std::vector<geotable::Row> shuffled = rows;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    std::vector<geotable::Row> neighboursSwapped = rows;
    for (std::size_t i = 0; i + 1 < rows.size(); i += 2)
        std::swap(neighboursSwapped[i], neighboursSwapped[i + 1]);
    std::vector<geotable::Row> boundsSwapped = rows;
    for (geotable::Row &row : boundsSwapped)
        std::swap_ranges(row.begin(), row.begin() + 4, row.begin() + 4);
    Bytes random(std::size_t(kRows) * GeoRecord::kSize);
    std::mt19937 bytes(11);
    std::generate(random.begin(), random.end(), [&bytes] { return static_cast<unsigned char>(bytes()); });
    return {
        {"reversed", Join(reversed)},
        {"shuffled", Join(shuffled)},
        {"each pair of neighbours swapped", Join(neighboursSwapped)},
        {"first and last address swapped in every row", Join(boundsSwapped)},
        {"random bytes", random},
        {"every byte 0xFF", Bytes(std::size_t(kRows) * GeoRecord::kSize, 0xFF)},
    };
}

// Every row's bounds and their neighbours, the ends of the key space, and random keys.
std::vector<std::uint32_t> ProbeKeys()
{
    std::vector<std::uint32_t> keys = {0, 1, kBase - 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
    for (int i = 0; i < kRows; ++i) {
        const std::uint32_t first = kBase + std::uint32_t(i) * 256;
        keys.insert(keys.end(), {first, first + 128, first + 255});
    }
    std::mt19937 random(3);
    for (int i = 0; i < 20000; ++i)
        keys.push_back(std::uint32_t(random()));
    return keys;
}

std::uint32_t U32(const unsigned char *p)
{
    return ReadLe32(p);
}

// Searches TABLE for every probe key; returns how many were found. Each found row must lie
// in the table on a row boundary and hold the key.
int SearchAll(const Bytes &table, const std::vector<std::uint32_t> &keys)
{
    const GeoDatabase db(table);
    int found = 0;
    for (const std::uint32_t key : keys) {
        const unsigned char *row = db.FindKey(key);
        if (!row)
            continue;
        ++found;
        const std::ptrdiff_t offset = row - table.data();
        EXPECT_TRUE(offset >= 0 && std::size_t(offset) < table.size() && offset % GeoRecord::kSize == 0) << key;
        EXPECT_LE(U32(row + GeoRecord::kFirstAddress), key);
        EXPECT_GE(U32(row + GeoRecord::kLastAddress), key);
    }
    return found;
}

class HostileGeoFile : public ::testing::Test {
protected:
    static void TearDownTestSuite() { RemoveTempFiles(); }

    // `quokka-quokka OPTION TABLE --lookup ADDRESSES`, bounded by `timeout`: exit status,
    // standard output and standard error apart.
    static int Lookup(const std::string &table, const std::vector<std::string> &addresses, std::string &out,
                      std::string &err, const std::string &option = "--geo-table")
    {
        const std::string errFile = WriteTempFile("stderr.txt", {});
        std::string command = "LC_ALL=C QUOKKA_GEO_TABLE= QUOKKA_GEO_TABLE_IPV6= QUOKKA_AS_TABLE= timeout 30 '" QUOKKA_PROGRAM "' " + option
            + " '" + table + "' --lookup";
        for (const std::string &address : addresses)
            command += ' ' + address;
        const int status = testsupport::Run(command + " 2>'" + errFile + "'", &out);
        std::ifstream in(errFile);
        std::ostringstream text;
        text << in.rdbuf();
        err = text.str();
        return status;
    }
};

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(HostileGeoTable, EverySearchEndsAndAnyRowFoundHoldsItsKey)
{
    const std::vector<std::uint32_t> keys = ProbeKeys();
    // The sorted table, as the builder writes it: every row's keys are found.
    const auto covered = std::count_if(keys.begin(), keys.end(),
                                       [](std::uint32_t k) { return k >= kBase && k - kBase < kRows * 256u; });
    EXPECT_EQ(SearchAll(SortedRows(), keys), covered);
    const auto start = std::chrono::steady_clock::now();
    for (const HostileTable &table : TablesOutOfOrder()) {
        SCOPED_TRACE(table.why);
        SearchAll(table.bytes, keys);
    }
    // About 26,000 searches of at most 11 steps per table.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// The IPv6 table linked into the program is not checked at start-up: on random starts and
// place indices every search ends, and a place found lies inside the table.
TEST(HostileGeoTable, AnIpv6TableOfRandomRangesGivesPlacesInsideItOrNone)
{
    std::mt19937_64 random(66);
    Bytes bytes(GeoDatabase6::kHeaderSize + 500 * (GeoDatabase6::kHighSize + GeoDatabase6::kIndexSize)
                + 7 * (GeoDatabase6::kLowRangeSize + GeoDatabase6::kLowSize) + 3 * GeoRecord::kSize);
    for (unsigned char &byte : bytes)
        byte = static_cast<unsigned char>(random());
    std::copy(GeoDatabase6::kMagic.begin(), GeoDatabase6::kMagic.end(), bytes.begin());
    quokka::WriteLe32(bytes.data() + 8, 500);
    quokka::WriteLe32(bytes.data() + 12, 3);
    quokka::WriteLe32(bytes.data() + 16, 7); // low halves of random ranges
    for (std::size_t i = 0; i < 500; i += 2) // some indices inside the places
        quokka::WriteLe32(bytes.data() + GeoDatabase6::kHeaderSize + 500 * GeoDatabase6::kHighSize + i * 4, std::uint32_t(i % 3));
    const GeoDatabase6 db(bytes);
    ASSERT_EQ(db.RangeCount(), 500u);
    std::vector<Key6> keys(20000);
    for (Key6 &key : keys)
        key = {random(), random()};
    std::vector<std::uint32_t> ranges(keys.size());
    db.FindRanges(keys, ranges);
    const unsigned char *places = bytes.data() + bytes.size() - 3 * GeoRecord::kSize;
    std::size_t placed = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        ASSERT_TRUE(ranges[i] == GeoDatabase6::kNoRange || ranges[i] < 500u) << ranges[i];
        if (const unsigned char *row = db.PlaceRow(ranges[i])) {
            ++placed;
            ASSERT_TRUE(row == places || row == places + GeoRecord::kSize || row == places + 2 * GeoRecord::kSize);
        }
    }
    EXPECT_GT(placed, 0u);
}

TEST(HostileGeoTable, ATableCutAtARowBoundaryFindsTheRowsItStillHas)
{
    Bytes cut = SortedRows();
    cut.resize(cut.size() / 2 / GeoRecord::kSize * GeoRecord::kSize); // no terminating row either
    const GeoDatabase db(cut);
    const std::uint32_t keptRows = std::uint32_t(cut.size() / GeoRecord::kSize);
    for (std::uint32_t i = 0; i < std::uint32_t(kRows); ++i) {
        const unsigned char *row = db.FindKey(kBase + i * 256 + 7);
        if (i < keptRows)
            EXPECT_EQ(row, cut.data() + i * GeoRecord::kSize) << i;
        else
            EXPECT_EQ(row, nullptr) << i;
    }
}

TEST_F(HostileGeoFile, PathsThatAreNotFilesGiveOneMessageWithoutWaiting)
{
    const std::string fifo = WriteTempFile("fifo.bin", {}) + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string loop = fifo + ".loop";
    ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
    const struct {
        std::string path;
        const char *why;
    } cases[] = {
        {fifo, "not a regular file"},                    // opening it for reading would wait for a writer
        {"/dev/zero", "not a regular file"},             // endless
        {loop, "Too many levels of symbolic links"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const auto start = std::chrono::steady_clock::now();
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(GeoDatabase::UseFile(c.path));
        const std::string message = ::testing::internal::GetCapturedStderr();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_EQ(GeoDatabase::Instance().RecordCount(), 0u);

        std::string out, err;
        EXPECT_EQ(Lookup(c.path, {"10.0.0.1"}, out, err), 0) << err;
        EXPECT_EQ(out, "10.0.0.1\tno match\t\t\n"); // no row, and private addresses have no AS
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(c.why), std::string::npos) << err;
    }
}

TEST_F(HostileGeoFile, TheProgramRefusesATableOutOfOrderOrOverlappingWithOneMessage)
{
    const Place place = At("XX", "Row country", "", "City", 1.0, 2.0);
    struct Refused {
        const char *why;
        Bytes bytes;
        const char *fault; // after "not used: "
        const char *option = "--geo-table";
    };
    const Bytes good6 = Table6({{"::", GeoDatabase6::kNoPlace}, {"2001:db8::", 0}, {"2001:db8:1::", GeoDatabase6::kNoPlace}});
    std::vector<Refused> cases = {
        {"a wider row around a narrower one",
         SmallTable().row(Key(10, 0, 0, 0), Key(10, 0, 255, 255), place).row(Key(10, 0, 1, 0), Key(10, 0, 1, 255), place).terminate().bytes(),
         "row 1 (10.0.1.0-10.0.1.255): does not start after the previous one ends (out of order or overlapping)"},
        {"a row whose bounds are swapped",
         SmallTable().row(Key(10, 0, 0, 255), Key(10, 0, 0, 0), place).terminate().bytes(),
         "row 0 (10.0.0.255-10.0.0.0): first address above last address"},
        {"AS ranges out of order", AsTable({{Key(10, 0, 1, 0), Key(10, 0, 1, 255), 64496, "B"}, {Key(10, 0, 0, 0), Key(10, 0, 0, 255), 64497, "A"}}),
         "range 1 (10.0.0.0-10.0.0.255): does not start after the previous one ends", "--as-table"},
        {"AS ranges overlapping", AsTable({{Key(10, 0, 0, 0), Key(10, 0, 1, 0), 64496, "B"}, {Key(10, 0, 1, 0), Key(10, 0, 1, 255), 64497, "A"}}),
         "range 1 (10.0.1.0-10.0.1.255): does not start after the previous one ends", "--as-table"},
        {"IPv6 ranges out of order", Table6({{"::", 0}, {"2001:db8:1::", GeoDatabase6::kNoPlace}, {"2001:db8::", 0}}),
         "range 2 (2001:db8::): does not start after the previous range starts", "--geo-table-ipv6"},
        {"IPv6 ranges overlapping", Table6({{"::", 0}, {"2001:db8::", GeoDatabase6::kNoPlace}, {"2001:db8::", 0}}),
         "range 2 (2001:db8::): does not start after the previous range starts", "--geo-table-ipv6"},
        {"an IPv6 range's place beyond the places", Table6({{"::", GeoDatabase6::kNoPlace}, {"2001:db8::", 1}}),
         "range 1 (2001:db8::): its place 1 is not in the table", "--geo-table-ipv6"},
        {"an IPv6 table cut short", Bytes(good6.begin(), good6.end() - 30), "its size does not match its header", "--geo-table-ipv6"},
        {"random bytes as an IPv6 table", Bytes(good6.size(), 0x5a), "it is not an IPv6 geolocation table", "--geo-table-ipv6"},
    };
    for (HostileTable &table : TablesOutOfOrder())
        cases.push_back({table.why, std::move(table.bytes), ": row "});
    for (const Refused &c : cases) {
        SCOPED_TRACE(c.why);
        const std::string path = WriteTempFile("disorder.bin", c.bytes);
        std::string out, err;
        const bool geo = c.option == std::string("--geo-table"), geo6 = c.option == std::string("--geo-table-ipv6");
        const std::vector<std::string> addresses = geo6 ? std::vector<std::string>{"2001:db8::1", "2001:db8:1::1"}
                                                        : std::vector<std::string>{"10.0.0.1", "10.0.1.1"};
        EXPECT_EQ(Lookup(path, addresses, out, err, c.option), 0) << err;
        const char *kind = geo ? "geolocation" : geo6 ? "IPv6 geolocation" : "AS";
        const char *without = geo ? "places" : geo6 ? "places of IPv6 addresses" : "networks";
        EXPECT_EQ(err.rfind(std::string("quokka-quokka: ") + kind + " table " + path + " not used", 0), 0u) << err;
        EXPECT_NE(err.find(c.fault), std::string::npos) << err;
        EXPECT_NE(err.find(std::string("; ") + without + " will not be shown\n"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        if (!geo && !geo6)
            EXPECT_EQ(Lines(out).size(), 2u) << out;
        else
            EXPECT_EQ(out, addresses[0] + "\tno match\t\t\n" + addresses[1] + "\tno match\t\t\n");
    }
}

// 2^31 + 2 rows of zeros (a sparse file) whose last row holds 10.0.0.0/24: the search walks
// to the very end, past every 32-bit row number. The program refuses the file all the same,
// at its second row, without reading the rest.
TEST_F(HostileGeoFile, ATableOfMoreThan2To31RowsIsSearchedToItsEndAndRefusedByTheProgram)
{
    const std::size_t rows = (std::size_t(1) << 31) + 2;
    const std::string path = WriteTempFile("huge-sparse.bin", {});
    const geotable::Row last = geotable::EncodeRow(Key(10, 0, 0, 0), Key(10, 0, 0, 255), At("XX", "Far", "", "End", 1.0, 2.0));
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        const bool made = ::ftruncate(fd, off_t(rows * GeoRecord::kSize)) == 0
            && ::pwrite(fd, last.data(), last.size(), off_t((rows - 1) * GeoRecord::kSize)) == ssize_t(last.size());
        ::close(fd);
        if (!made) {
            std::remove(path.c_str());
            GTEST_SKIP() << "the temporary folder's file system holds no sparse file of 266 GB";
        }
    }
    std::string out, err;
    EXPECT_EQ(Lookup(path, {"10.0.0.7"}, out, err), 0) << err;
    EXPECT_NE(err.find("not used: row 1 (0.0.0.0-0.0.0.0): does not start after the previous one ends"), std::string::npos) << err;
    EXPECT_EQ(out, "10.0.0.7\tno match\t\t\n");
    {
        const MappedFile file(path);
        std::remove(path.c_str()); // the mapping keeps it for the searches
        ASSERT_EQ(file.Error(), "");
        const GeoDatabase db(file.Bytes());
        ASSERT_EQ(db.RecordCount(), rows);
        const unsigned char *lastRow = file.Bytes().data() + (rows - 1) * GeoRecord::kSize;
        EXPECT_EQ(db.FindKey(Key(10, 0, 0, 7)), lastRow);
        const std::uint32_t keys[] = {Key(10, 0, 0, 7), Key(10, 0, 1, 0)};
        const unsigned char *found[2] = {};
        db.FindKeys(keys, found);
        EXPECT_EQ(found[0], lastRow);
        EXPECT_EQ(found[1], nullptr);
    }
}

TEST_F(HostileGeoFile, TheProgramFindsTheRowsOfATableCutAtARowBoundary)
{
    Bytes cut = SortedRows();
    cut.resize(std::size_t(kRows / 2) * GeoRecord::kSize);
    std::string out, err;
    EXPECT_EQ(Lookup(WriteTempFile("cut-at-row.bin", cut), {"10.0.0.1", "10.3.231.200", "10.3.232.0", "10.7.207.255"},
                     out, err),
              0)
        << err;
    EXPECT_EQ(err, "");
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_NE(lines[0].find("\t10.0.0.0-10.0.0.255\tXX\tRow country\t\tCity 0\t"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\tCity 999\t"), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2], "10.3.232.0\tno match\t\t");
    EXPECT_EQ(lines[3], "10.7.207.255\tno match\t\t");
}

// A table file is not the checked ASCII the builder writes: its texts reach `--lookup` lines
// with their control characters visible, so each address keeps one line of its columns and
// nothing in a table drives the terminal. Printable text keeps its bytes.
TEST_F(HostileGeoFile, TheTableTextsShowTheirControlCharactersInLookupLines)
{
    const struct {
        const char *country, *region, *city;
        const char *shown; // country, region and city as the line shows them
    } rows[] = {
        {"Line feed", "North\nSouth", "East", "Line feed\tNorth\u240aSouth\tEast"},
        {"Escape", "Title", "\x1b]0;owned\x07\x1b[2J", "Escape\tTitle\t\u241b]0;owned\u2407\u241b[2J"},
        {"Tab\there", "CR\rDEL\x7f", "C1 \xc2\x9b" "2J", "Tab\u2409here\tCR\u240dDEL\u2421\tC1 <U+009B>2J"},
        {"Bidi", "\xe2\x80\xae" "desrever", "Z\xc3\xbcrich", "Bidi\t<U+202E>desrever\tZ\xc3\xbcrich"},
    };
    SmallTable table;
    std::vector<std::string> addresses, expected;
    for (std::uint32_t i = 0; i < std::size(rows); ++i) {
        const std::uint32_t first = kBase + i * 256;
        table.row(first, first + 255, At("XX", rows[i].country, rows[i].region, rows[i].city, 1.0, 2.0));
        addresses.push_back(geotable::DottedQuad(first + 1));
        expected.push_back(addresses.back() + '\t' + geotable::DottedQuad(first) + '-'
                           + geotable::DottedQuad(first + 255) + "\tXX\t" + rows[i].shown + "\t1\t2\t\t");
    }
    std::string out, err;
    EXPECT_EQ(Lookup(table.writeFile("hostile-texts.bin"), addresses, out, err), 0) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(Lines(out), expected);
}
