// The AS table from source line to lookup: the CSV parser, the builder's ordering, overlaps,
// merging and sharing of names, the checker on each kind of broken table, and the reader on
// the same broken tables (no crash, no match).
#include "base/little_endian.h"
#include "as_builder.h"
#include "as_check.h"
#include "as_source.h"
#include "geo/as_database.h"
#include "small_table.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <sstream>

using quokka::ReadLe32;
using quokka::WriteLe32;

using namespace quokka::geo;
using namespace quokka::tools::astable;

namespace {

std::vector<SourceRange> Parse(const std::vector<std::string> &lines)
{
    std::vector<SourceRange> source;
    for (const std::string &line : lines)
        source.push_back(ParseSourceLine(line, source.size() + 1));
    return source;
}

std::vector<unsigned char> Table(const std::vector<std::string> &lines, BuildFigures *figures = nullptr)
{
    BuildFigures ignored;
    return EncodeTable(Parse(lines), figures ? *figures : ignored);
}

// The table's ranges as "first-last AS<number> name", read back through the reader.
std::vector<std::string> Ranges(const std::vector<unsigned char> &table)
{
    const AsDatabase db(table);
    std::vector<std::string> ranges;
    for (std::size_t i = 0; i < db.RangeCount(); ++i) {
        const unsigned char *range = table.data() + AsDatabase::kHeaderSize + i * AsDatabase::kRangeSize;
        const std::uint32_t first = ReadLe32(range), last = ReadLe32(range + 4);
        const std::optional<AsMatch> atFirst = db.FindKey(first), atLast = db.FindKey(last);
        if (!atFirst || !atLast || atFirst->number != atLast->number || atFirst->name != atLast->name)
            return {"range " + std::to_string(i) + " does not read back"};
        std::ostringstream text;
        text << first << "-" << last << " AS" << atFirst->number << " " << atFirst->name;
        ranges.push_back(text.str());
    }
    return ranges;
}

std::string Faults(const CheckResult &result)
{
    std::string all;
    for (const std::string &fault : result.faults)
        all += fault + "\n";
    return all;
}

} // namespace

TEST(AsSource, ParsesNamesBareAndQuoted)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"16777216,16777471,13335,Cloudflare", "Cloudflare"},
        {"1,2,3,\"Cloudflare, Inc.\"", "Cloudflare, Inc."},
        {"1,2,3,\"LLC \"\"SPUTNIK\"\"\"", "LLC \"SPUTNIK\""},
        {"1,2,3,\"a\"\",\"\"b\"", "a\",\"b"},
        {"1,2,3,\"\"", ""},
        {"0,4294967295,4294967295,Zürich Ōsaka", "Zürich Ōsaka"},
    };
    for (const auto &[line, name] : rows) {
        const SourceRange range = ParseSourceLine(line, 1);
        EXPECT_EQ(range.name, name) << line;
    }
    const SourceRange range = ParseSourceLine("16777216,16777471,13335,x", 9);
    EXPECT_EQ(range.first, 16777216u);
    EXPECT_EQ(range.last, 16777471u);
    EXPECT_EQ(range.number, 13335u);
    EXPECT_EQ(range.line, 9u);
}

TEST(AsSource, RefusesMalformedLinesNamingThem)
{
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "the first address is not a number"},
        {"1,2,3", "fewer than four fields"},
        {"1,2,3,a,b", "more than four fields"},
        {"1,2,3,a\"b", "a quote inside an unquoted name"},
        {"1,2,3,\"a", "the quoted name is not closed"},
        {"1,2,3,\"a\"b", "text after the closing quote"},
        {"-1,2,3,a", "the first address is not a number"},
        {"1,4294967296,3,a", "the last address is not a number"},
        {"1,2,0x3,a", "the AS number is not a number"},
        {"5,4,3,a", "the first address is above the last"},
        {"1,2,3,a\xC3", "not valid UTF-8"},
        {"1,2,3,\xC0\xAF", "not valid UTF-8"},     // overlong
        {"1,2,3,\xED\xA0\x80", "not valid UTF-8"}, // surrogate
        {"1,2,3,\xF4\x90\x80\x80", "not valid UTF-8"}, // above U+10FFFF
        {"1,2,3,a\rb", "control character"},
        {std::string("1,2,3,a\0b", 9), "control character"},
    };
    for (const auto &[line, message] : rows) {
        try {
            ParseSourceLine(line, 7);
            ADD_FAILURE() << "accepted: " << line;
        } catch (const std::runtime_error &e) {
            EXPECT_EQ(std::string(e.what()).rfind("line 7: ", 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << line << ": " << e.what();
        }
    }
}

TEST(AsSource, ReadsAFileAndNamesTheFaultyLine)
{
    const std::string good = testgeo::WriteTempFile("good.csv", {'1', ',', '2', ',', '3', ',', 'a', '\n', '4', ',', '5', ',', '6', ',', 'b'});
    const std::vector<SourceRange> source = ReadSource(good);
    ASSERT_EQ(source.size(), 2u); // the last line without its newline
    EXPECT_EQ(source[1].name, "b");
    const std::string bad = testgeo::WriteTempFile("bad.csv", {'1', ',', '2', ',', '3', ',', 'a', '\n', '\n'});
    try {
        ReadSource(bad);
        ADD_FAILURE() << "an empty line accepted";
    } catch (const std::runtime_error &e) {
        EXPECT_EQ(std::string(e.what()), bad + ": line 2: the first address is not a number from 0 to 4294967295");
    }
    EXPECT_THROW(ReadSource(bad + ".missing"), std::runtime_error);
    testgeo::RemoveTempFiles();
}

TEST(AsBuild, OrdersRangesAndGivesOverlapsToTheNarrowerRange)
{
    struct Case {
        const char *what;
        std::vector<std::string> source;
        std::vector<std::string> ranges;
        std::size_t overlapping;
    };
    const std::vector<Case> cases = {
        {"out of order", {"20,29,2,B", "10,19,1,A"}, {"10-19 AS1 A", "20-29 AS2 B"}, 0},
        {"nested", {"0,100,1,A", "50,60,2,B"}, {"0-49 AS1 A", "50-60 AS2 B", "61-100 AS1 A"}, 1},
        {"crossing", {"0,50,1,A", "40,60,2,B"}, {"0-39 AS1 A", "40-60 AS2 B"}, 1},
        {"equally wide: the earlier line", {"0,10,1,A", "5,15,2,B"}, {"0-10 AS1 A", "11-15 AS2 B"}, 1},
        {"repeated line", {"0,10,1,A", "0,10,1,A"}, {"0-10 AS1 A"}, 1},
        {"neighbours merged", {"0,9,1,A", "10,19,1,A", "21,30,1,A"}, {"0-19 AS1 A", "21-30 AS1 A"}, 0},
        {"nested in its own AS", {"0,100,1,A", "50,60,1,A"}, {"0-100 AS1 A"}, 1},
        {"ends of the address space", {"0,4294967295,1,A", "4294967295,4294967295,2,B", "0,0,3,C"},
         {"0-0 AS3 C", "1-4294967294 AS1 A", "4294967295-4294967295 AS2 B"}, 1},
        {"empty", {}, {}, 0},
    };
    for (const Case &c : cases) {
        BuildFigures figures;
        const std::vector<unsigned char> table = Table(c.source, &figures);
        EXPECT_EQ(Ranges(table), c.ranges) << c.what;
        EXPECT_EQ(figures.overlapping, c.overlapping) << c.what;
        EXPECT_EQ(figures.bytes, table.size()) << c.what;
        const CheckResult check = CheckTable(table);
        EXPECT_TRUE(check.ok()) << c.what << ": " << Faults(check);
    }
}

TEST(AsBuild, StoresEachPairOnceAndEachNameOnce)
{
    BuildFigures figures;
    const auto table = Table({"0,9,64500,\"Example, Inc.\"", "20,29,64500,\"Example, Inc.\"", "30,39,64501,\"Example, Inc.\"",
                              "40,49,64500,\"Other \"\"x\"\"\"", "50,59,64500,\"Other \"\"x\"\"\""}, &figures);
    EXPECT_EQ(figures.systems, 3u);   // (64500, Example), (64500, Other), (64501, Example)
    EXPECT_EQ(figures.names, 2u);
    EXPECT_EQ(figures.nameBytes, std::string("Example, Inc.Other \"x\"").size());
    EXPECT_EQ(Ranges(table), (std::vector<std::string>{"0-9 AS64500 Example, Inc.", "20-29 AS64500 Example, Inc.",
                                                        "30-39 AS64501 Example, Inc.", "40-59 AS64500 Other \"x\""}));
    const CheckResult check = CheckTable(table);
    ASSERT_TRUE(check.ok()) << Faults(check);
    EXPECT_EQ(check.figures.ranges, 4u);
    EXPECT_EQ(check.figures.systems, 3u);
    EXPECT_EQ(check.figures.names, 2u);
    EXPECT_EQ(check.figures.addresses, 50u);
    EXPECT_NE(FormatFigures(check.figures).find("AS entries: 3"), std::string::npos);
}

// The base table: ranges 10-19, 20-29, 30-39 of AS 1 "Ab", AS 2 "AbAb", AS 3 "Ab"; the names
// are "AbAbAb". Each row breaks it one way; the checker must name the fault, and the reader,
// where a lookup KEY is given, must answer no match without reading outside the table.
TEST(AsCheck, CatchesEachKindOfBrokenTableAndTheReaderMatchesNothingThere)
{
    using Bytes = std::vector<unsigned char>;
    const Bytes base = Table({"10,19,1,Ab", "20,29,2,AbAb", "30,39,3,Ab"});
    ASSERT_EQ(base.size(), 24u + 3 * 12 + 3 * 12 + 6);
    const auto put = [](std::size_t at, std::uint32_t value) {
        return [=](Bytes &b) { WriteLe32(b.data() + at, value); };
    };
    const auto range = [](int i, int field) { return 24 + 12 * i + 4 * field; };
    const auto system = [](int i, int field) { return 60 + 12 * i + 4 * field; };
    constexpr std::size_t kNames = 96;
    constexpr std::uint32_t kNoKey = ~0u;

    struct Case {
        const char *what;
        std::function<void(Bytes &)> breakIt;
        const char *fault;
        std::uint32_t key; // looked up in the broken table: no match
    };
    const std::vector<Case> cases = {
        {"short", [](Bytes &b) { b.resize(20); }, "shorter than its header", 15},
        {"wrong magic", [](Bytes &b) { b[4] = 'X'; }, "not an AS table", 15},
        {"a byte too many", [](Bytes &b) { b.push_back(0); }, "size does not match", 15},
        {"a byte too few", [](Bytes &b) { b.pop_back(); }, "size does not match", 15},
        {"range count too high", put(8, 4), "size does not match", 15},
        {"huge system count", put(12, 0xFFFFFFFF), "size does not match", 15},
        {"first version with IPv6 ranges", [&](Bytes &b) { b[7] = 1; put(20, 1)(b); }, "header is not one", 15},
        {"first above last", put(range(1, 0), 35), "first address above last", kNoKey},
        {"overlapping", put(range(1, 0), 19), "does not start after the previous", kNoKey},
        {"out of order", [&](Bytes &b) { put(range(0, 0), 40)(b); put(range(0, 1), 49)(b); }, "does not start after the previous", kNoKey},
        {"AS index out of range", put(range(0, 2), 3), "AS index out of range", 15},
        {"entry no range uses", put(range(2, 2), 1), "no range refers to it", kNoKey},
        {"name span too long", put(system(1, 2), 5), "lies outside the names", 25},
        {"name offset far out", put(system(1, 1), 0xFFFFFFFF), "lies outside the names", 25},
        {"name not UTF-8", [](Bytes &b) { b[kNames] = 0xFF; }, "not valid UTF-8", kNoKey},
        {"NUL in a name", [](Bytes &b) { b[kNames + 1] = 0; }, "not valid UTF-8", kNoKey},
        {"pair stored twice", put(system(2, 0), 1), "same number and name are stored twice", kNoKey},
        {"name stored twice", put(system(1, 2), 2), "its name is stored twice", kNoKey},
        {"bytes outside every name", [&](Bytes &b) { put(system(1, 1), 3)(b); put(system(1, 2), 3)(b); }, "begins no name", kNoKey},
    };
    ASSERT_TRUE(CheckTable(base).ok()) << Faults(CheckTable(base));
    const AsDatabase good(base);
    ASSERT_TRUE(good.FindKey(25));
    EXPECT_EQ(good.FindKey(25)->name, "AbAb");
    for (const Case &c : cases) {
        Bytes broken = base;
        c.breakIt(broken);
        const CheckResult check = CheckTable(broken);
        EXPECT_NE(Faults(check).find(c.fault), std::string::npos) << c.what << ":\n" << Faults(check);
        if (c.key != kNoKey) {
            EXPECT_FALSE(AsDatabase(broken).FindKey(c.key)) << c.what;
        }
    }
}

TEST(AsDatabase, UsesAFileOnlyWhenItIsATable)
{
    const std::vector<unsigned char> table = Table({"3221225984,3221226239,64496,\"Documentation, Net\""});
    std::vector<unsigned char> truncated(table.begin(), table.end() - 1);
    EXPECT_FALSE(AsDatabase::UseFile(testgeo::WriteTempFile("truncated.bin", truncated)));
    EXPECT_EQ(AsDatabase::Instance().RangeCount(), 0u);
    EXPECT_FALSE(AsDatabase::Instance().Find("192.0.2.1"));
    EXPECT_FALSE(AsDatabase::UseFile(testgeo::WriteTempFile("missing.bin", {}) + ".missing"));

    ASSERT_TRUE(AsDatabase::UseFile(testgeo::WriteTempFile("good.bin", table)));
    const std::optional<AsMatch> match = AsDatabase::Instance().Find("192.0.2.1");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->number, 64496u);
    EXPECT_EQ(match->name, "Documentation, Net");
    for (const char *outside : {"192.0.1.255", "192.0.3.0", "not an address", "::1"})
        EXPECT_FALSE(AsDatabase::Instance().Find(outside)) << outside;
    EXPECT_FALSE(AsDatabase::Instance().Find(nullptr));
    testgeo::RemoveTempFiles();
}

// The bulk searches against the single ones, on both families: ranges with gaps between them
// and some of one address, keys at and beside every bound and random ones, in lists shorter
// and longer than the one from which the samples are searched first.
TEST(AsDatabase, FindSystemsIsFindKeyForEachFamily)
{
    std::mt19937 random(7);
    std::vector<SourceRange> source;
    std::vector<SourceRange6> source6;
    std::uint32_t next = 5;
    for (std::uint32_t i = 0; i < 3000; ++i) {
        const std::uint32_t first = next + random() % 3, last = first + (i % 7 == 0 ? 0 : random() % 500);
        source.push_back({first, last, 64496 + i % 40, "AS " + std::to_string(i % 40), i + 1});
        source6.push_back({Address6(first) << 80, (Address6(last) << 80) + 0xffff, 64496 + i % 40,
                           "AS " + std::to_string(i % 40), i + 1});
        next = last + 2;
    }
    BuildFigures figures;
    const std::vector<unsigned char> table = EncodeTable(source, source6, figures);
    ASSERT_EQ(AsDatabase::FileProblem(table), "");
    const AsDatabase as(table);
    std::vector<std::uint32_t> keys{0, 0xFFFFFFFF};
    for (const SourceRange &range : source)
        keys.insert(keys.end(), {range.first - 1, range.first, range.last, range.last + 1});
    for (int i = 0; i < 3000; ++i)
        keys.push_back(random() % (next + 10));
    std::vector<Key6> keys6{{0, 0}, {~0ull, ~0ull}};
    const auto key6 = [](Address6 address) { return Key6{std::uint64_t(address >> 64), std::uint64_t(address)}; };
    for (const SourceRange6 &range : source6)
        keys6.insert(keys6.end(), {key6(range.first - 1), key6(range.first), key6(range.last), key6(range.last + 1)});
    while (keys6.size() < keys.size())
        keys6.push_back({std::uint64_t(random() % (next + 10)) << 16 | random() % 2, std::uint64_t(random()) << 32});
    const auto number = [](const std::optional<AsMatch> &match) { return match ? std::to_string(match->number) : "none"; };
    for (const std::size_t count : {std::size_t(0), std::size_t(1), std::size_t(33), keys.size()}) {
        std::vector<std::uint32_t> systems(count, 7), systems6(count, 7);
        as.FindSystems(std::span(keys).first(count), systems);
        as.FindSystems6(std::span(keys6).first(count), systems6);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(number(as.System(systems[i])), number(as.FindKey(keys[i]))) << count << " keys, key " << keys[i];
            ASSERT_EQ(number(as.System(systems6[i])), number(as.FindKey6(keys6[i])))
                << count << " keys, IPv6 key " << i << " " << keys6[i].high;
        }
    }
}
