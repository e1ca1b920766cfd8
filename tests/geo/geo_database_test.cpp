// The table search on small tables: bounds, order, byte order of the key, the terminating
// row, the interleaved search on hostile tables, the text-field rules, the address reader, the
// lookup line and its stream, and table files that cannot be used.
#include "find_keys_check.h"
#include "geo/coordinate_text.h"
#include "geo/dotted_quad.h"
#include "geo/geo_database.h"
#include "geo/lookup_line.h"
#include "geo/lookup_stream.h"
#include "geo/sampled_search.h"
#include "small_table.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

using namespace quokka::geo;

using namespace testgeo;

namespace {

// Three located rows, a gap-free stretch without location, and the terminating row.
SmallTable ThreeCities()
{
    SmallTable table;
    table.row(Key(1, 0, 1, 0), Key(1, 0, 3, 255), At("CN", "China", "Fujian", "Fuzhou", 26.06139, 119.30611))
        .row(Key(1, 0, 4, 0), Key(9, 255, 255, 255), At("AU", "Australia", "Victoria", "Melbourne", -37.814, 144.96332))
        .noLocation(Key(10, 0, 0, 0), Key(10, 255, 255, 255))
        .row(Key(11, 0, 0, 0), Key(223, 255, 255, 255), At("DE", "Germany", "Hesse", "Frankfurt am Main", 50.11552, 8.68417))
        .terminate();
    return table;
}

std::string CityOf(const GeoDatabase &db, const char *address)
{
    GeoRecord record;
    return db.Find(address, record) ? std::string(record.City()) : "(no match)";
}

} // namespace

TEST(GeoDatabaseFind, FindsRowsByInclusiveBoundsAndNothingOutside)
{
    const SmallTable table = ThreeCities();
    const GeoDatabase db(table.bytes());
    EXPECT_EQ(db.RecordCount(), 5u);
    EXPECT_EQ(CityOf(db, "1.0.1.0"), "Fuzhou");         // the first row
    EXPECT_EQ(CityOf(db, "1.0.3.255"), "Fuzhou");       // its inclusive upper bound
    EXPECT_EQ(CityOf(db, "1.0.4.0"), "Melbourne");      // the next row
    EXPECT_EQ(CityOf(db, "1.0.0.255"), "(no match)");   // below the first row
    EXPECT_EQ(CityOf(db, "0.0.0.0"), "(no match)");     // key 0 never reaches the terminating row
    EXPECT_EQ(CityOf(db, "223.255.255.255"), "Frankfurt am Main");
    EXPECT_EQ(CityOf(db, "224.0.0.1"), "(no match)");   // above the last data row
    EXPECT_EQ(CityOf(db, "255.255.255.255"), "(no match)");
    EXPECT_EQ(CityOf(db, "10.1.2.3"), "-");
}

TEST(GeoDatabaseFind, EveryRowOfALargerTableIsFoundAtBothEndsAndTheTerminatorNever)
{
    // 1000 rows of 256 addresses each: every boundary, with the probe count of a real search.
    SmallTable table;
    for (std::uint32_t i = 0; i < 1000; ++i)
        table.row(Key(1, 0, 1, 0) + i * 256, Key(1, 0, 1, 255) + i * 256,
                  At("NZ", "New Zealand", "Row", std::to_string(i), -41.0, 174.0));
    table.terminate();
    const GeoDatabase db(table.bytes());
    for (std::uint32_t i = 0; i < 1000; ++i) {
        for (std::uint32_t key : {Key(1, 0, 1, 0) + i * 256, Key(1, 0, 1, 255) + i * 256}) {
            const unsigned char *row = db.FindKey(key);
            ASSERT_NE(row, nullptr) << key;
            EXPECT_EQ(row, table.bytes().data() + i * GeoRecord::kSize) << key;
        }
    }
    EXPECT_EQ(db.FindKey(0), nullptr);
    EXPECT_EQ(db.FindKey(Key(1, 0, 1, 0) + 1000 * 256), nullptr);
    EXPECT_EQ(db.FindKey(0xFFFFFFFF), nullptr);
}

TEST(GeoDatabaseFind, EmptyAndOneRowTables)
{
    const GeoDatabase empty(std::span<const unsigned char>{});
    GeoRecord record;
    EXPECT_FALSE(empty.Find("8.8.8.8", record));
    EXPECT_EQ(empty.FindKey(0), nullptr);

    SmallTable one;
    one.row(Key(8, 8, 8, 0), Key(8, 8, 8, 255), At("US", "United States", "California", "Mountain View", 37.38605, -122.08385));
    const GeoDatabase oneRow(one.bytes());
    EXPECT_EQ(CityOf(oneRow, "8.8.8.8"), "Mountain View");
    EXPECT_EQ(CityOf(oneRow, "8.8.7.255"), "(no match)");
    EXPECT_EQ(CityOf(oneRow, "8.8.9.0"), "(no match)");

    SmallTable oneAndTerminator = one;
    oneAndTerminator.terminate();
    const GeoDatabase withTerminator(oneAndTerminator.bytes());
    EXPECT_EQ(CityOf(withTerminator, "8.8.8.255"), "Mountain View");
    EXPECT_EQ(CityOf(withTerminator, "0.0.0.0"), "(no match)");
    EXPECT_EQ(CityOf(withTerminator, "9.0.0.0"), "(no match)");
}

TEST(GeoDatabaseFind, KeyIsInHostOrder)
{
    // 142.250.80.46 reversed is 46.80.250.142: each lands in its own row.
    SmallTable table;
    table.row(Key(1, 0, 1, 0), Key(46, 80, 250, 142), At("DE", "Germany", "Hesse", "Frankfurt am Main", 50.1, 8.7))
        .row(Key(46, 80, 250, 143), Key(223, 255, 255, 255), At("US", "United States", "California", "Mountain View", 37.4, -122.1))
        .terminate();
    const GeoDatabase db(table.bytes());
    EXPECT_EQ(CityOf(db, "142.250.80.46"), "Mountain View");
    EXPECT_EQ(CityOf(db, "46.80.250.142"), "Frankfurt am Main");
}

TEST(GeoDatabaseFind, CopiesTheWholeRowOrLeavesTheRecordUntouched)
{
    const SmallTable table = ThreeCities();
    const GeoDatabase db(table.bytes());
    GeoRecord record;
    ASSERT_TRUE(db.Find("1.0.2.3", record));
    EXPECT_TRUE(std::equal(record.bytes.begin(), record.bytes.end(), table.bytes().begin()));
    EXPECT_EQ(record.FirstAddress(), Key(1, 0, 1, 0));
    EXPECT_EQ(record.LastAddress(), Key(1, 0, 3, 255));
    EXPECT_EQ(record.CountryCode(), "CN");
    EXPECT_DOUBLE_EQ(record.Latitude(), 26.06139);
    EXPECT_DOUBLE_EQ(record.Longitude(), 119.30611);

    GeoRecord untouched;
    untouched.bytes.fill(0xAB);
    for (const char *text : {"224.0.0.1", "not an address", "1.2.3", "1.2.3.4.5", "256.1.1.1", "", " 1.0.1.0",
                             "::1", "1.0.1.0 "}) {
        EXPECT_FALSE(db.Find(text, untouched)) << text;
    }
    EXPECT_FALSE(db.Find(nullptr, untouched));
    EXPECT_TRUE(std::all_of(untouched.bytes.begin(), untouched.bytes.end(), [](unsigned char b) { return b == 0xAB; }));

    GeoRecord zero;
    EXPECT_FALSE(db.Find("0.0.0.0", zero));
    EXPECT_FALSE(zero.HasLocation());
    EXPECT_EQ(zero.CountryName(), ""); // "No Information"
    ASSERT_TRUE(db.Find("10.0.0.1", zero));
    EXPECT_FALSE(zero.HasLocation());
    EXPECT_EQ(zero.CountryName(), "-"); // "Not Found"
}

TEST(GeoRecordText, FullFieldsEndAtTheFieldAndTheFillIsNeverRead)
{
    SmallTable table;
    const std::string country32 = "United Kingdom of Great Britain ";
    const std::string region32 = "Wilayah Persekutuan Kuala Lumpur";
    const std::string city32 = "San Valentino in Abruzzo Citerio";
    table.row(Key(1, 0, 1, 0), Key(1, 0, 1, 255), At("GB", country32 + "and Northern Ireland", region32 + " extra", city32 + "re", 51.5, -0.12))
        .row(Key(1, 0, 2, 0), Key(1, 0, 2, 255), At("IT", "Italy", "", "Roma", 41.9, 12.5))
        .terminate();
    const GeoDatabase db(table.bytes());
    GeoRecord full;
    ASSERT_TRUE(db.Find("1.0.1.1", full));
    EXPECT_EQ(full.CountryName(), country32);
    EXPECT_EQ(full.Region(), region32);
    EXPECT_EQ(full.City(), city32);
    EXPECT_EQ(full.bytes[GeoRecord::kCity + 32], 0); // the city's NUL in the field's last byte

    GeoRecord shortTexts;
    ASSERT_TRUE(db.Find("1.0.2.1", shortTexts));
    EXPECT_EQ(shortTexts.CountryName(), "Italy");
    EXPECT_EQ(shortTexts.bytes[GeoRecord::kCountryName + 5], 0);
    EXPECT_EQ(shortTexts.bytes[GeoRecord::kCountryName + 6], 0xFE); // fill, not zero
    EXPECT_EQ(shortTexts.Region(), "");
    EXPECT_EQ(shortTexts.City(), "Roma");
    EXPECT_EQ(shortTexts.bytes[GeoRecord::kCity + 32], 0xFE);
}

TEST(LookupLine, PrintsTheRowOrNoMatchThenTheAsFields)
{
    const SmallTable table = ThreeCities();
    const GeoDatabase db(table.bytes());
    const std::vector<unsigned char> asBytes = AsTable({{Key(1, 0, 0, 0), Key(1, 0, 2, 255), 64500, "Example Net"},
                                                        {Key(240, 0, 0, 0), Key(240, 0, 0, 255), 64501, "Tab\tand\x1b"}});
    const AsDatabase as(asBytes);
    ASSERT_EQ(as.RangeCount(), 2u);
    const struct {
        const char *text, *line;
    } rows[] = {
        {"1.0.2.3", "1.0.2.3\t1.0.1.0-1.0.3.255\tCN\tChina\tFujian\tFuzhou\t26.06139\t119.30611\t64500\tExample Net"},
        {" 1.0.3.0\t", "1.0.3.0\t1.0.1.0-1.0.3.255\tCN\tChina\tFujian\tFuzhou\t26.06139\t119.30611\t\t"},
        {"10.9.9.9", "10.9.9.9\t10.0.0.0-10.255.255.255\t-\t-\t-\t-\t0\t0\t\t"},
        {"240.0.0.1", "240.0.0.1\tno match\t64501\tTab\u2409and\u241b"},
        {"example.com", "example.com\tno match\t\t"},
        {"", "\tno match\t\t"},
        {"a\tb\r\xc2\x85", "a\u2409b\u240d<U+0085>\tno match\t\t"},
        // Control characters among bytes read eight at a time.
        {"012\x7f" "456789abcdef", "012\u2421" "456789abcdef\tno match\t\t"},
        {"0123456789a\x1f" "cdef", "0123456789a\u241f" "cdef\tno match\t\t"},
        {"0123456789abcdef\xc3\xa9", "0123456789abcdef\xc3\xa9\tno match\t\t"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(LookupLine(db, as, row.text), row.line) << row.text;
}

namespace {

// Rows of 200 to 1000 addresses with gaps between some, some without location, and the
// terminating row: COUNT rows in all.
SmallTable OrderedRows(std::uint32_t count, std::mt19937 &random)
{
    SmallTable table;
    std::uint32_t next = Key(1, 0, 0, 0);
    for (std::uint32_t i = 0; i + 1 < count; ++i) {
        const std::uint32_t first = next + (i % 3 == 0 ? std::uint32_t(random() % 300) : 0);
        const std::uint32_t last = first + 199 + std::uint32_t(random() % 800);
        if (i % 5 == 0)
            table.noLocation(first, last);
        else
            table.row(first, last, At("NZ", "New Zealand", "Row", std::to_string(i), -41.0, 174.0));
        next = last + 1;
    }
    table.terminate();
    return table;
}

} // namespace

TEST(FindKeys, IsFindKeyOnOrderedTablesAndFindsOnlyHoldingRowsOnHostileOnes)
{
    std::mt19937 random(11);
    std::vector<unsigned char> unsorted(300 * GeoRecord::kSize);
    for (std::size_t at = 0; at < unsorted.size(); at += GeoRecord::kSize) {
        const std::uint32_t bounds[2] = {std::uint32_t(random() % 4096), std::uint32_t(random() % 4096)}; // overlapping, some first > last
        std::memcpy(&unsorted[at], bounds, sizeof bounds);
    }
    const std::vector<unsigned char> sorted = ThreeCities().bytes();
    const std::vector<unsigned char> truncated(sorted.begin(), sorted.end() - 50);
    SmallTable one;
    one.row(Key(8, 8, 8, 0), Key(8, 8, 8, 255), At("US", "United States", "", "", 37.4, -122.1));
    // Row counts around the samples' stride, so that the last run is whole, short or one row.
    const SmallTable nine = OrderedRows(9, random), longer = OrderedRows(1001, random), evenly = OrderedRows(1025, random);
    const struct {
        const char *name;
        std::span<const unsigned char> bytes;
        bool inOrder;
    } tables[] = {{"unsorted", unsorted, false}, {"truncated", truncated, true}, {"empty", {}, true},
                  {"one row", one.bytes(), true},   {"nine rows", nine.bytes(), true},  {"1001 rows", longer.bytes(), true},
                  {"1025 rows", evenly.bytes(), true}};
    for (const auto &table : tables) {
        const GeoDatabase db(table.bytes);
        std::vector<std::uint32_t> keys = BoundaryKeys(table.bytes);
        for (int i = 0; i < 33000; ++i)
            keys.push_back(i % 2 ? random() : Key(1, 0, 0, 0) + random() % 800000);
        keys.insert(keys.end(), {0u, 0xFFFFFFFFu, Key(8, 8, 8, 8)});
        // Fewer keys than searches under way, none, a count that leaves some idle, many more
        // (each finished search handing its place to the next key), and enough for the samples
        // to be taken and searched first.
        for (const std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(3), std::size_t(17), std::size_t(1000), keys.size()}) {
            const auto fault = FindKeysFault(db, std::span(keys).first(count), table.inOrder);
            EXPECT_FALSE(fault) << table.name << ", " << count << " keys: " << *fault;
        }
    }
}

// The samples are taken at once for a table in memory (the whole of a buffer just written),
// and only after enough keys for one that is not (pages of a mapping never touched).
TEST(FirstSamples, AreDueAtOnceOnlyForATableInMemory)
{
    const std::vector<unsigned char> written(64 * 4096, 1);
    EXPECT_TRUE(FirstSamples().Due(10, 100, written));
    const std::size_t length = 64 * 4096;
    void *untouched = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(untouched, MAP_FAILED);
    const std::span<const unsigned char> away(static_cast<const unsigned char *>(untouched), length);
    const FirstSamples samples;
    EXPECT_FALSE(samples.Due(10, 100, away));
    EXPECT_FALSE(samples.Due(89, 100, away));
    EXPECT_TRUE(samples.Due(1, 100, away));
    ::munmap(untouched, length);
}

// A long list of texts at once, as `--lookup -` answers a read, gives each text the line it
// gets alone: the bulk searches of both tables, the copied rows and the kept visible texts.
// The same texts twice streamed from a file on fresh tables (reads large enough to be answered
// on two threads, which both ask for the tables' samples at their first read; some lines ended
// by CRLF, the last one by nothing) give the same lines in the same order.
TEST(LookupLine, ALongListGivesEachTextItsOwnLine)
{
    std::mt19937 random(5);
    const SmallTable table = OrderedRows(1001, random);
    const GeoDatabase db(table.bytes());
    std::vector<AsRange> ranges;
    for (std::uint32_t i = 0; i < 2000; ++i)
        ranges.push_back({Key(1, 0, 0, 0) + i * 300, Key(1, 0, 0, 0) + i * 300 + 150, 64496 + i % 9,
                          i % 2 ? "Net " + std::to_string(i % 9) : "R\xc3\xa9seau\t" + std::to_string(i % 9)});
    const std::vector<unsigned char> asBytes = AsTable(ranges);
    const AsDatabase as(asBytes);
    std::vector<std::string> texts;
    for (int i = 0; i < 34000; ++i) {
        const std::uint32_t key = i % 3 ? Key(1, 0, 0, 0) + random() % 800000 : std::uint32_t(random());
        texts.push_back(i % 97 == 0 ? "not an address" : std::to_string(key >> 24) + "." + std::to_string(key >> 16 & 255)
                                                              + "." + std::to_string(key >> 8 & 255) + "." + std::to_string(key & 255));
    }
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    LookupLines lines(db, as);
    std::string out;
    lines.Append(views, out);
    std::size_t at = 0;
    for (const std::string &text : texts) {
        const std::size_t end = out.find('\n', at);
        ASSERT_NE(end, std::string::npos) << text;
        ASSERT_EQ(out.substr(at, end - at), LookupLine(db, as, text));
        at = end + 1;
    }
    EXPECT_EQ(at, out.size());

    std::string input;
    for (std::size_t i = 0; i < 2 * texts.size(); ++i)
        input += texts[i % texts.size()] + (i + 1 == 2 * texts.size() ? "" : i % 5 ? "\n" : "\r\n");
    out += out;
    const GeoDatabase freshDb(table.bytes());
    const AsDatabase freshAs(asBytes);
    LookupLines freshLines(freshDb, freshAs);
    const std::string inPath = WriteTempFile("stream-in.txt", {input.begin(), input.end()});
    const std::string outPath = WriteTempFile("stream-out.txt", {});
    const int in = ::open(inPath.c_str(), O_RDONLY), streamed = ::open(outPath.c_str(), O_RDWR);
    ASSERT_GE(in, 0);
    ASSERT_GE(streamed, 0);
    EXPECT_EQ(LookupStream(in, streamed, freshLines), StreamEnd::InputEnded);
    std::string written(out.size() + 1, '\0');
    EXPECT_EQ(::pread(streamed, written.data(), written.size(), 0), ssize_t(out.size()));
    written.resize(out.size());
    ::close(in);
    ::close(streamed);
    RemoveTempFiles();
    const auto [mine, theirs] = std::mismatch(written.begin(), written.end(), out.begin());
    EXPECT_TRUE(mine == written.end()) << "streamed lines differ from byte " << (mine - written.begin()) << ": "
                                       << std::string(mine, std::min(mine + 80, written.end()));
}

// A coordinate's text is std::to_chars's, byte for byte: on four-decimal values of either sign
// (every 7th of them, and the ends of the short path), on values just beside them and on
// values the short path leaves alone (more decimals, below 0.001, from 1000 on, zeros).
TEST(CoordinateText, IsWhatToCharsWrites)
{
    std::vector<double> values{0.0, -0.0, 0.001, 0.0009999, 0.0005, 0.0012, 999.9999, 1000.0, 1000.5,
                               180.0, -180.0, 90.0, 1e-300, 1e300, 37.77493, 5e-324, 0.1 + 0.2};
    for (std::uint32_t units = 0; units < 10000000; units += 7)
        values.push_back(double(units) / 10000);
    std::mt19937_64 random(5);
    for (int i = 0; i < 100000; ++i) {
        values.push_back(std::nextafter(double(random() % 10000000) / 10000, 0.0));
        values.push_back(double(random() % 1000000000) / 1000000);
    }
    for (const double value : std::vector<double>(values)) // each with its sign changed too
        values.push_back(-value);
    for (const double value : values) {
        char expected[32], written[32];
        const std::string_view want(expected, std::size_t(std::to_chars(expected, expected + 32, value).ptr - expected));
        ASSERT_EQ(std::string_view(written, std::size_t(WriteCoordinate(written, value) - written)), want);
    }
}

// The answers of a read large enough for two threads come while the input is still open: the
// second thread writes them as soon as they are ready, not when the next read comes.
TEST(LookupStream, AnswersALargeReadThroughAPipeBeforeTheInputEnds)
{
    std::mt19937 random(9);
    const SmallTable table = OrderedRows(1001, random);
    const GeoDatabase db(table.bytes());
    const AsDatabase as({});
    LookupLines lines(db, as);
    int in[2], out[2];
    ASSERT_EQ(::pipe(in), 0);
    ASSERT_EQ(::pipe(out), 0);
    constexpr int kLines = 6000; // in one read: the pipe holds them all before the stream starts
    std::string input;
    for (int i = 0; i < kLines; ++i)
        input += "1.0." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + "\n";
    ASSERT_EQ(::write(in[1], input.data(), input.size()), ssize_t(input.size()));
    StreamEnd end = StreamEnd::ReadFailed;
    std::thread stream([&] {
        end = LookupStream(in[0], out[1], lines);
        ::close(out[1]);
    });
    int answered = 0;
    char chunk[65536];
    for (pollfd ready{out[0], POLLIN, 0}; answered < kLines && ::poll(&ready, 1, 10000) == 1;) {
        const ssize_t n = ::read(out[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        answered += int(std::count(chunk, chunk + n, '\n'));
    }
    EXPECT_EQ(answered, kLines);
    ::close(in[1]);
    stream.join();
    EXPECT_EQ(end, StreamEnd::InputEnded);
    ::close(in[0]);
    ::close(out[0]);
}

TEST(DottedQuad, ReadsExactlyWhatInetPtonReads)
{
    // Near-addresses: random edits of random addresses, and random strings of address-like bytes.
    std::mt19937 random(5);
    const std::string alphabet = "0123456789.......  \t+-x:/\n\xff";
    const auto pick = [&](const std::string &from) { return from[random() % from.size()]; };
    int accepted = 0;
    for (int i = 0; i < 400000; ++i) {
        std::string text;
        if (i % 2) {
            text = std::to_string(random() % 300) + '.' + std::to_string(random() % 300) + '.'
                + std::to_string(random() % 300) + '.' + std::to_string(random() % 300);
            for (int edits = int(random() % 3); edits > 0; --edits) {
                const std::size_t at = random() % (text.size() + 1);
                if (random() % 2)
                    text.insert(at, 1, pick(alphabet));
                else if (at < text.size())
                    text.erase(at, 1);
            }
        } else {
            for (int length = int(random() % 18); length > 0; --length)
                text += pick(alphabet);
        }
        in_addr parsed{};
        const bool theirs = inet_pton(AF_INET, text.c_str(), &parsed) == 1;
        std::uint32_t key = 0;
        ASSERT_EQ(ParseDottedQuad(text, key), theirs) << '"' << text << '"';
        if (theirs) {
            ASSERT_EQ(key, ntohl(parsed.s_addr)) << text;
            ++accepted;
        }
    }
    EXPECT_GT(accepted, 50000);
    // Written back, every address reads the same as inet_ntop writes it.
    for (const std::uint32_t key : {0u, 0xFFFFFFFFu, Key(10, 0, 100, 9), std::uint32_t(random())}) {
        std::string text;
        AppendDottedQuad(text, key);
        char theirs[INET_ADDRSTRLEN];
        const in_addr address{htonl(key)};
        EXPECT_EQ(text, inet_ntop(AF_INET, &address, theirs, sizeof theirs));
    }
}

class GeoTableFile : public ::testing::Test {
protected:
    static void TearDownTestSuite() { RemoveTempFiles(); }

    // Uses PATH as the table and returns what was written to standard error.
    static std::string Use(const std::string &path, bool expectUsable)
    {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(GeoDatabase::UseFile(path), expectUsable) << path;
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(GeoTableFile, AGoodFileIsMappedAndSearched)
{
    const std::string path = ThreeCities().writeFile("good.bin");
    EXPECT_EQ(Use(path, true), "");
    EXPECT_EQ(CityOf(GeoDatabase::Instance(), "1.0.1.0"), "Fuzhou"); // the very first lookup
    EXPECT_EQ(GeoDatabase::Instance().RecordCount(), 5u);
}

TEST_F(GeoTableFile, BrokenFilesGiveOneMessageAndFindNothing)
{
    std::vector<unsigned char> bytes = ThreeCities().bytes();
    std::vector<unsigned char> truncated(bytes.begin(), bytes.end() - 50);
    std::vector<unsigned char> oneByteMore = bytes;
    oneByteMore.push_back(0);
    const struct {
        std::string path;
        const char *why;
    } cases[] = {
        {WriteTempFile("truncated.bin", truncated), "not a multiple of 124 bytes"},
        {WriteTempFile("longer.bin", oneByteMore), "not a multiple of 124 bytes"},
        {WriteTempFile("empty.bin", {}), "the file is empty"},
        {"/nonexistent/quokka/table.bin", "No such file or directory"},
        {"/tmp", "not a regular file"},
    };
    for (const auto &c : cases) {
        const std::string message = Use(c.path, false);
        EXPECT_NE(message.find(c.path), std::string::npos) << message;
        EXPECT_NE(message.find(c.why), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        EXPECT_EQ(GeoDatabase::Instance().RecordCount(), 0u);
        EXPECT_EQ(CityOf(GeoDatabase::Instance(), "1.0.1.0"), "(no match)");
    }
}
