// The tables the build made, against the sources they were made from: the checkers pass, and
// random addresses read the same place in both (after the same transliteration); and the
// interleaved search finds what the single one finds on all of it. The IPv6 table is compared
// with python3-maxminddb's reading of its source.
#include "ascii_text.h"
#include "country_names.h"
#include "find_keys_check.h"
#include "base/net_address.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"
#include "geo/mapped_file.h"
#include "mmdb_source.h"
#include "table_check.h"
#include "table6.h"
#include "table_row.h"

#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

using namespace quokka::geo;
using namespace quokka::tools;

namespace {

constexpr const char *kIsoCountries = "/usr/share/iso-codes/json/iso_3166-1.json";

class BuiltTable : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_table = std::make_unique<MappedFile>(QUOKKA_GEO_TABLE_FILE);
        s_source = std::make_unique<geotable::MmdbSource>(QUOKKA_GEO_SOURCE_MMDB);
    }
    static void TearDownTestSuite()
    {
        s_source.reset();
        s_table.reset();
    }
    static GeoDatabase Database() { return GeoDatabase(s_table->Bytes()); }

    static std::unique_ptr<MappedFile> s_table;
    static std::unique_ptr<geotable::MmdbSource> s_source;
};

std::unique_ptr<MappedFile> BuiltTable::s_table;
std::unique_ptr<geotable::MmdbSource> BuiltTable::s_source;

std::string Truncated(const std::string &text)
{
    return text.substr(0, geotable::kMaxText);
}

float SourceFloat(const MMDB_s &db, const std::string &address, const char *key)
{
    int gaiError = 0, mmdbError = 0;
    MMDB_lookup_result_s result = MMDB_lookup_string(&db, address.c_str(), &gaiError, &mmdbError);
    MMDB_entry_data_s data{};
    MMDB_get_value(&result.entry, &data, key, nullptr);
    return data.type == MMDB_DATA_TYPE_FLOAT ? data.float_value : float(data.double_value);
}

} // namespace

TEST_F(BuiltTable, PassesTheChecker)
{
    ASSERT_TRUE(s_table->Error().empty()) << s_table->Error();
    const geotable::CheckResult result = geotable::CheckTable(s_table->Bytes());
    std::printf("%s", geotable::FormatFigures(result.figures).c_str());
    EXPECT_TRUE(result.ok()) << (result.faults.empty() ? "" : result.faults.front());
    EXPECT_LE(result.figures.maxProbes, 22);
}

TEST_F(BuiltTable, AgreesWithTheSourceOnTenThousandRandomAddresses)
{
    geotable::AsciiText ascii;
    const geotable::CountryNames names = geotable::LoadCountryNames(kIsoCountries, ascii);
    const GeoDatabase db = Database();
    std::mt19937 random(20260605);
    std::uniform_int_distribution<std::uint32_t> keys(geotable::kFirstCovered, geotable::kLastCovered);
    int located = 0, unlocated = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::string address = geotable::DottedQuad(keys(random));
        GeoRecord record;
        const bool found = db.Find(address.c_str(), record);
        const std::optional<geotable::SourcePlace> source = s_source->Lookup(address.c_str());
        if (!source) {
            ++unlocated;
            EXPECT_TRUE(!found || record.CountryName() == "-") << address;
            continue;
        }
        ++located;
        ASSERT_TRUE(found) << address;
        EXPECT_EQ(record.CountryCode(), source->countryCode) << address;
        EXPECT_EQ(record.CountryName(), Truncated(names.at(source->countryCode))) << address;
        EXPECT_EQ(record.Region(), Truncated(ascii(source->region))) << address;
        EXPECT_EQ(record.City(), Truncated(ascii(source->city))) << address;
        EXPECT_EQ(float(record.Latitude()), SourceFloat(s_source->Handle(), address, "latitude")) << address;
        EXPECT_EQ(float(record.Longitude()), SourceFloat(s_source->Handle(), address, "longitude")) << address;
        EXPECT_EQ(record.Latitude(), source->latitude) << address;
        EXPECT_EQ(record.Longitude(), source->longitude) << address;
    }
    std::printf("%d addresses located by the source, %d not\n", located, unlocated);
    EXPECT_GT(located, 9000);
}

TEST_F(BuiltTable, SpanEdgesAndBlocksWithoutLocation)
{
    const GeoDatabase db = Database();
    GeoRecord record;
    for (const char *outside : {"0.0.0.0", "0.255.255.255", "1.0.0.255", "224.0.0.1", "255.255.255.255"})
        EXPECT_FALSE(db.Find(outside, record)) << outside;
    ASSERT_TRUE(db.Find("1.0.1.0", record));
    EXPECT_EQ(record.FirstAddress(), geotable::kFirstCovered);
    ASSERT_TRUE(db.Find("223.255.255.255", record));
    EXPECT_EQ(record.LastAddress(), geotable::kLastCovered);
    EXPECT_TRUE(record.HasLocation());
    for (const char *none : {"10.1.2.3", "127.0.0.1", "172.16.0.1", "192.168.1.1", "100.64.0.1",
                             "192.0.2.1", "198.51.100.1", "203.0.113.1"}) {
        GeoRecord row;
        ASSERT_TRUE(db.Find(none, row)) << none;
        EXPECT_EQ(row.CountryName(), "-") << none;
        EXPECT_EQ(row.City(), "-") << none;
        EXPECT_EQ(row.Latitude(), 0.0) << none;
        EXPECT_EQ(row.Longitude(), 0.0) << none;
    }
}

TEST_F(BuiltTable, FindKeysIsFindKeyOnEveryRowBoundAndAMillionRandomKeys)
{
    const GeoDatabase db = Database();
    const std::vector<std::uint32_t> bounds = testgeo::BoundaryKeys(s_table->Bytes());
    const auto boundFault = testgeo::FindKeysFault(db, bounds);
    EXPECT_FALSE(boundFault) << *boundFault;
    std::mt19937 random(99);
    std::vector<std::uint32_t> keys(1000000);
    for (std::uint32_t &key : keys)
        key = std::uint32_t(random());
    const auto randomFault = testgeo::FindKeysFault(db, keys);
    EXPECT_FALSE(randomFault) << *randomFault;
    std::printf("%zu row bounds and %zu random keys: the same rows as FindKey\n", bounds.size(), keys.size());
}

std::size_t PlaceBytes6(std::span<const unsigned char> table)
{
    return GeoDatabase6(table).PlaceCount() * GeoRecord::kSize;
}

// The IPv6 table: its check against the source passes, and addresses held out from that check
// (random ones inside random ranges, never a range's first, middle or last address) read the
// country and city python3-maxminddb reads in the source.
TEST(BuiltTable6, AgreesWithPythonMaxminddbOnAThousandHeldOutAddresses)
{
    const MappedFile table(QUOKKA_GEO6_TABLE_FILE);
    ASSERT_TRUE(table.Error().empty()) << table.Error();
    const geotable::MmdbSource source(QUOKKA_GEO6_SOURCE_MMDB);
    const geotable::Check6Result check = geotable::CheckTable6(table.Bytes(), &source);
    std::printf("%s", geotable::FormatFigures6(check.figures).c_str());
    ASSERT_TRUE(check.ok()) << check.faults.front();
    // The comparison with the source sees places that are not the source's: every latitude
    // moved by its last bit.
    std::vector<unsigned char> changed(table.Bytes().begin(), table.Bytes().end());
    for (std::size_t place = changed.size() - PlaceBytes6(table.Bytes()); place < changed.size(); place += GeoRecord::kSize)
        changed[place + GeoRecord::kLatitude] ^= 0x01;
    const geotable::Check6Result changedCheck = geotable::CheckTable6(changed, &source);
    EXPECT_FALSE(changedCheck.ok());
    EXPECT_TRUE(geotable::CheckTable6(changed).ok()) << "the place itself is well formed";
    changed.clear();
    changed.shrink_to_fit();

    const GeoDatabase6 db(table.Bytes());
    std::mt19937_64 random(20260605);
    std::vector<std::string> addresses;
    while (addresses.size() < 1000) {
        const std::uint32_t range = std::uint32_t(random() % db.RangeCount());
        const Key6 first = db.RangeFirst(range), last = db.RangeLast(range);
        if (db.PlaceRow(range) == nullptr || first.high != last.high || last.low - first.low < 4)
            continue; // a range within one /64 leaves room for an address none of the checks took
        const Key6 address{first.high, first.low + 1 + random() % (last.low - first.low - 2)};
        if (address.low == first.low + (last.low - first.low) / 2)
            continue;
        addresses.push_back(quokka::NetAddress::V6(address.Bytes()).ToString());
    }
    const std::filesystem::path input = std::filesystem::temp_directory_path() / ("quokka-built6-" + std::to_string(::getpid()));
    {
        std::ofstream file(input);
        for (const std::string &address : addresses)
            file << address << '\n';
    }
    const std::string command = std::string("/usr/bin/python3 ") + QUOKKA_MMDB_READER + " " + QUOKKA_GEO6_SOURCE_MMDB + " <" + input.string();
    FILE *pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string theirs;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        theirs.append(buffer, n);
    ASSERT_EQ(::pclose(pipe), 0) << command;
    std::filesystem::remove(input);

    geotable::AsciiText ascii;
    std::istringstream lines(theirs);
    std::size_t compared = 0;
    for (std::string line; std::getline(lines, line); ++compared) {
        ASSERT_LT(compared, addresses.size());
        std::vector<std::string> fields;
        std::istringstream split(line);
        for (std::string field; std::getline(split, field, '\t');)
            fields.push_back(field);
        const std::string &address = addresses[compared];
        ASSERT_EQ(fields.size(), 6u) << line;
        ASSERT_EQ(fields[0], address);
        const unsigned char *row = db.FindKey(Key6::FromBytes(quokka::NetAddress::Parse(address)->V6Bytes()));
        ASSERT_NE(row, nullptr) << address;
        EXPECT_EQ(GeoRecord::ReadText(row + GeoRecord::kCountryCode, GeoRecord::kCountryCodeSize), fields[1]) << address;
        EXPECT_EQ(GeoRecord::ReadText(row + GeoRecord::kCity, GeoRecord::kCitySize), Truncated(ascii(fields[3]))) << address;
    }
    EXPECT_EQ(compared, addresses.size());
}
