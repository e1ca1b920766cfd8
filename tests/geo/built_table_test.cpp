// The table the build made, against the source it was made from: the checker passes, and
// random addresses read the same place in both (after the same transliteration); and the
// interleaved search finds what the single one finds on all of it.
#include "ascii_text.h"
#include "country_names.h"
#include "find_keys_check.h"
#include "geo/geo_database.h"
#include "geo/mapped_file.h"
#include "mmdb_source.h"
#include "table_check.h"
#include "table_row.h"

#include <gtest/gtest.h>
#include <random>

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
