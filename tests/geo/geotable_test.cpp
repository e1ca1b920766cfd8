// The table builder's parts and the checker: text fields, merging and clipping of ranges,
// transliteration, country names, and a checker that catches each kind of broken table.
#include "base/little_endian.h"
#include "ascii_text.h"
#include "country_names.h"
#include "mmdb_source.h"
#include "small_table.h"
#include "table_builder.h"
#include "table_check.h"

#include <gtest/gtest.h>

using quokka::ReadLe32;
using quokka::ReadLeDouble;
using namespace quokka::geo;

using namespace testgeo;
using namespace quokka::tools::geotable;

namespace {

std::vector<unsigned char> Field(std::size_t size, std::string_view text)
{
    std::vector<unsigned char> field(size, 0xAA);
    PutText(field.data(), size, text);
    return field;
}

std::vector<unsigned char> Bytes(std::string_view text, std::initializer_list<unsigned char> tail)
{
    std::vector<unsigned char> bytes(text.begin(), text.end());
    bytes.insert(bytes.end(), tail);
    return bytes;
}

// Runs rows through the merger and returns the table it emits.
std::vector<unsigned char> Merge(const std::vector<std::tuple<std::uint32_t, std::uint32_t, Row>> &ranges)
{
    std::vector<unsigned char> table;
    RowMerger merger([&](const Row &row) { table.insert(table.end(), row.begin(), row.end()); });
    for (const auto &[first, last, row] : ranges)
        merger.Add(first, last, row);
    merger.Finish();
    return table;
}

Row Located(const char *city)
{
    return EncodeRow(0, 0, At("FR", "France", "Ile-de-France", city, 48.85341, 2.3488));
}

std::string FirstFault(const std::vector<unsigned char> &table)
{
    const CheckResult result = CheckTable(table);
    return result.faults.empty() ? "" : result.faults.front();
}

} // namespace

TEST(TableRowText, EndsWithOneNulThenFillOrFillsTheFieldAt32)
{
    EXPECT_EQ(Field(6, "Peru"), Bytes("Peru", {0, 0xFE}));
    EXPECT_EQ(Field(3, "CN"), Bytes("CN", {0}));
    EXPECT_EQ(Field(3, "-"), Bytes("-", {0, 0xFE}));
    EXPECT_EQ(Field(3, ""), Bytes("", {0, 0xFE, 0xFE}));
    const std::string name32 = "Venezuela (Bolivarian Republic o";
    EXPECT_EQ(Field(32, name32), Bytes(name32, {}));                       // full: no NUL
    EXPECT_EQ(Field(32, name32 + "f)"), Bytes(name32, {}));                // truncated
    EXPECT_EQ(Field(33, name32 + "f)"), Bytes(name32, {0}));               // city: NUL always
    std::vector<unsigned char> zurich = Bytes("Zurich", {0});
    zurich.resize(33, 0xFE);
    EXPECT_EQ(Field(33, "Zurich"), zurich);
}

TEST(TableRowLayout, LittleEndianAddressesAndPackedDoubles)
{
    const Row row = EncodeRow(Key(1, 0, 1, 0), Key(1, 0, 3, 255), At("CN", "China", "Fujian", "Fuzhou", 26.06139, 119.30611));
    const std::vector<unsigned char> head(row.begin(), row.begin() + 16);
    EXPECT_EQ(head, (std::vector<unsigned char>{0x00, 0x01, 0x00, 0x01, 0xFF, 0x03, 0x00, 0x01, 'C', 'N', 0, 'C', 'h', 'i', 'n', 'a'}));
    EXPECT_EQ(ReadLeDouble(row.data() + kLatitude), 26.06139);
    EXPECT_EQ(ReadLeDouble(row.data() + kLongitude), 119.30611);
    const Row end = TerminatingRow();
    EXPECT_EQ(std::vector<unsigned char>(end.begin() + 8, end.begin() + 12), (std::vector<unsigned char>{0, 0xFE, 0xFE, 0}));
}

TEST(RowMerger, ClipsToTheSpanFillsGapsAndMergesEqualNeighbours)
{
    const Row paris = Located("Paris"), lyon = Located("Lyon");
    const auto table = Merge({
        {Key(0, 0, 0, 0), Key(1, 0, 1, 255), paris},      // clipped to start at 1.0.1.0
        {Key(1, 0, 2, 0), Key(1, 0, 2, 255), paris},      // merged with the one before
        {Key(1, 0, 4, 0), Key(1, 0, 4, 255), lyon},       // the gap before it: no location
        {Key(1, 0, 5, 0), Key(1, 0, 5, 255), NoLocationRow(0, 0)},
        {Key(1, 0, 6, 0), Key(255, 255, 255, 255), lyon}, // clipped at 223.255.255.255
    });
    ASSERT_EQ(table.size(), 6 * kRowSize);
    const auto range = [&](std::size_t i) {
        return DottedQuad(ReadLe32(&table[i * kRowSize])) + "-" + DottedQuad(ReadLe32(&table[i * kRowSize + 4]));
    };
    EXPECT_EQ(range(0), "1.0.1.0-1.0.2.255");
    EXPECT_EQ(range(1), "1.0.3.0-1.0.3.255");
    EXPECT_EQ(GeoRecord::ReadText(&table[kRowSize + kCountryName], kCountryNameSize), "-");
    EXPECT_EQ(range(2), "1.0.4.0-1.0.4.255");
    EXPECT_EQ(range(3), "1.0.5.0-1.0.5.255");
    EXPECT_EQ(range(4), "1.0.6.0-223.255.255.255");
    EXPECT_TRUE(std::equal(table.end() - kRowSize, table.end(), TerminatingRow().begin()));
    EXPECT_TRUE(CheckTable(table).ok()) << FirstFault(table);
}

TEST(RowMerger, AnEmptySourceIsOneRowWithoutLocation)
{
    const auto table = Merge({});
    ASSERT_EQ(table.size(), 2 * kRowSize);
    EXPECT_EQ(ReadLe32(&table[0]), kFirstCovered);
    EXPECT_EQ(ReadLe32(&table[4]), kLastCovered);
    const CheckResult result = CheckTable(table);
    EXPECT_TRUE(result.ok()) << FirstFault(table);
    EXPECT_EQ(result.figures.noLocationRows, 1u);
}

TEST(TableCheck, FiguresOfAGoodTable)
{
    SmallTable table;
    table.row(Key(1, 0, 1, 0), Key(1, 0, 1, 255), At("GB", "United Kingdom of Great Britain and Northern Ireland", "England", "London", 51.50853, -0.12574))
        .noLocation(Key(1, 0, 2, 0), Key(1, 0, 2, 255))
        .row(Key(1, 0, 3, 0), Key(223, 255, 255, 255), At("AU", "Australia", "Queensland", "Brisbane", -27.46754, 153.02809))
        .terminate();
    const CheckResult result = CheckTable(table.bytes());
    ASSERT_TRUE(result.ok()) << FirstFault(table.bytes());
    EXPECT_EQ(result.figures.rows, 4u);
    EXPECT_EQ(result.figures.noLocationRows, 1u);
    EXPECT_EQ(result.figures.countryCodes, 2u);
    EXPECT_EQ(result.figures.fullCountryNames, 1u);
    EXPECT_EQ(result.figures.latitudeMin, -27.46754);
    EXPECT_EQ(result.figures.longitudeMax, 153.02809);
    EXPECT_EQ(result.figures.maxProbes, 3);
    EXPECT_NE(FormatFigures(result.figures).find("rows without location: 1"), std::string::npos);
}

TEST(TableCheck, CatchesEachKindOfBrokenTable)
{
    const Place paris = At("FR", "France", "Ile-de-France", "Paris", 48.85341, 2.3488);
    const Place lyon = At("FR", "France", "Auvergne-Rhone-Alpes", "Lyon", 45.74846, 4.84671);
    const auto good = [&] { return SmallTable().row(Key(1, 0, 1, 0), Key(9, 255, 255, 255), paris); };
    const auto rest = [&](SmallTable t) { return t.row(Key(10, 0, 0, 0), kLastCovered, lyon).terminate().bytes(); };
    ASSERT_TRUE(CheckTable(rest(good())).ok()) << FirstFault(rest(good()));

    std::vector<unsigned char> badFill = rest(good());
    badFill[kCountryName + 7] = 0x00; // zero fill after "France"
    std::vector<unsigned char> nonAscii = rest(good());
    nonAscii[kCity + 1] = 0xE9;
    std::vector<unsigned char> noTerminator = rest(good());
    noTerminator.resize(noTerminator.size() - kRowSize);
    std::vector<unsigned char> oddSize = rest(good());
    oddSize.pop_back();

    const struct {
        std::vector<unsigned char> table;
        const char *fault;
    } cases[] = {
        {rest(SmallTable().row(Key(1, 0, 0, 0), Key(9, 255, 255, 255), paris)), "does not start at 1.0.1.0"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), paris)), "not merged"},
        {SmallTable().row(Key(1, 0, 1, 0), Key(9, 255, 255, 255), paris).row(Key(10, 0, 0, 1), kLastCovered, lyon).terminate().bytes(), "leaves a gap"},
        {SmallTable().row(Key(1, 0, 1, 0), Key(9, 255, 255, 255), paris).row(Key(9, 0, 0, 0), kLastCovered, lyon).terminate().bytes(), "out of order or overlapping"},
        {SmallTable().row(Key(1, 0, 1, 0), Key(9, 255, 255, 255), paris).row(Key(10, 0, 0, 0), Key(200, 0, 0, 0), lyon).terminate().bytes(), "does not end at 223.255.255.255"},
        {SmallTable().row(Key(9, 0, 0, 0), Key(1, 0, 1, 0), paris).terminate().bytes(), "first address above last"},
        {badFill, "not filled with 0xFE"},
        {nonAscii, "not plain ASCII"},
        {noTerminator, "not the terminating row"},
        {oddSize, "whole number of 124-byte rows"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), At("FR", "France", "", "Nowhere", 0.0, 0.0))), "both coordinates 0.0"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), At("fr", "France", "", "Paris", 1.0, 1.0))), "two upper-case letters"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), At("FR", "", "", "Paris", 1.0, 1.0))), "empty country name"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), At("FR", "France", "", "Paris", 91.0, 1.0))), "out of range"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), At("-", "-", "-", "-", 0.0, 1.0))), "coordinates are not 0.0"},
        {rest(good().row(Key(10, 0, 0, 0), Key(10, 0, 0, 5), At("-", "-", "-", "Paris", 0.0, 0.0))), "texts are not all"},
    };
    for (const auto &c : cases) {
        const CheckResult result = CheckTable(c.table);
        EXPECT_FALSE(result.ok()) << c.fault;
        bool named = false;
        for (const std::string &fault : result.faults)
            named = named || fault.find(c.fault) != std::string::npos;
        EXPECT_TRUE(named) << "expected \"" << c.fault << "\", first fault: " << FirstFault(c.table);
    }
}

TEST(AsciiText, TransliteratesToPrintableAsciiOncePerString)
{
    AsciiText ascii;
    EXPECT_EQ(ascii("São Paulo"), "Sao Paulo");
    EXPECT_EQ(ascii("Zürich"), "Zurich");
    EXPECT_EQ(ascii("Москва"), "Moskva");
    EXPECT_EQ(ascii("Baku (Nərimanov)"), "Baku (Narimanov)");
    EXPECT_EQ(ascii("ʿAlma ash-Shaʿb"), "'Alma ash-Sha'b");
    EXPECT_EQ(ascii("Tab\there"), "Tab here");
    for (const char *text : {"東京", "Αθήνα", "Thane (• Vasant Vihar)", "القاهرة"}) {
        for (unsigned char c : ascii(text))
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << text;
    }
    const std::size_t seen = ascii.distinctStrings();
    ascii("Zürich");
    EXPECT_EQ(ascii.distinctStrings(), seen);
}

TEST(CountryNames, CommonNameElseNameInAsciiAndKosovo)
{
    AsciiText ascii;
    const CountryNames names = LoadCountryNames("/usr/share/iso-codes/json/iso_3166-1.json", ascii);
    EXPECT_EQ(names.at("TW"), "Taiwan");
    EXPECT_EQ(names.at("DE"), "Germany");
    EXPECT_EQ(names.at("CI"), "Cote d'Ivoire");
    EXPECT_EQ(names.at("XK"), "Kosovo");
    EXPECT_GE(names.size(), 249u);
    EXPECT_THROW(LoadCountryNames("/nonexistent.json", ascii), std::runtime_error);

    const SourcePlace plain{"CH", "Zürich", "Zürich", 47.36667, 8.55};
    const std::optional<Place> place = TablePlace(plain, names, ascii);
    ASSERT_TRUE(place);
    EXPECT_EQ(place->countryName, "Switzerland");
    EXPECT_EQ(place->city, "Zurich");
    EXPECT_FALSE(TablePlace(SourcePlace{"", "", "", 0, 0}, names, ascii));
    EXPECT_THROW(TablePlace(SourcePlace{"QQ", "", "", 1, 1}, names, ascii), std::runtime_error);
}

TEST(SourceCoordinate, SinglePrecisionReadsAsItsDecimal)
{
    MMDB_entry_data_s data{};
    data.type = MMDB_DATA_TYPE_FLOAT;
    data.float_value = 37.422f; // the float nearest 37.422 prints as 37.422001 with %f
    EXPECT_EQ(SourceCoordinate(data), 37.422);
    EXPECT_NE(double(37.422f), 37.422);
    data.float_value = -122.084999f;
    EXPECT_EQ(SourceCoordinate(data), -122.085);
    data.type = MMDB_DATA_TYPE_DOUBLE;
    data.double_value = 51.50853;
    EXPECT_EQ(SourceCoordinate(data), 51.50853);
}
