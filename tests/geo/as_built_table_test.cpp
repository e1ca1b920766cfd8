// The AS table the build made, against the source it was made from: the checker passes, the
// program carries the same bytes, and addresses (random ones and every source range's ends)
// read the same AS in the table as in a plain reading of the source CSV.
#include "as_check.h"
#include "geo/as_database.h"
#include "geo/mapped_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace quokka::geo;
using namespace quokka::tools;

namespace {

struct CsvRow {
    std::uint32_t first, last, number;
    std::string name;
};

// The source read plainly: three numbers, then the name, unquoted when it starts with a quote.
std::vector<CsvRow> ReadCsv(const char *path)
{
    std::ifstream in(path);
    std::vector<CsvRow> rows;
    std::string line;
    while (std::getline(in, line)) {
        CsvRow row{};
        std::size_t at = 0;
        for (std::uint32_t *field : {&row.first, &row.last, &row.number}) {
            const std::size_t comma = line.find(',', at);
            *field = std::uint32_t(std::stoull(line.substr(at, comma - at)));
            at = comma + 1;
        }
        row.name = line.substr(at);
        if (!row.name.empty() && row.name.front() == '"') {
            row.name = row.name.substr(1, row.name.size() - 2);
            for (std::size_t q = row.name.find("\"\""); q != std::string::npos; q = row.name.find("\"\"", q + 1))
                row.name.erase(q, 1);
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

class BuiltAsTable : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_table = std::make_unique<MappedFile>(QUOKKA_AS_TABLE_FILE); }
    static void TearDownTestSuite() { s_table.reset(); }
    static std::unique_ptr<MappedFile> s_table;
};

std::unique_ptr<MappedFile> BuiltAsTable::s_table;

} // namespace

TEST_F(BuiltAsTable, PassesTheCheckerAndIsTheOneLinkedIn)
{
    ASSERT_TRUE(s_table->Error().empty()) << s_table->Error();
    const astable::CheckResult result = astable::CheckTable(s_table->Bytes());
    std::printf("%s", astable::FormatFigures(result.figures).c_str());
    EXPECT_TRUE(result.ok()) << (result.faults.empty() ? "" : result.faults.front());
    EXPECT_GT(result.figures.ranges, 100000u);
    EXPECT_GT(result.figures.systems, 10000u);

    const std::span<const unsigned char> linked = EmbeddedAsTable();
    ASSERT_EQ(linked.size(), s_table->Size());
    EXPECT_EQ(std::memcmp(linked.data(), s_table->Bytes().data(), linked.size()), 0);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(linked.data()) % 4096, 0u);
    EXPECT_EQ(AsDatabase::Instance().RangeCount(), result.figures.ranges);
}

TEST_F(BuiltAsTable, AgreesWithTheSourceOnRandomAddressesAndEveryRangeEnd)
{
    const std::vector<CsvRow> rows = ReadCsv(QUOKKA_AS_SOURCE_CSV);
    ASSERT_GT(rows.size(), 100000u);
    std::vector<std::uint32_t> probes;
    std::mt19937 random(20260617);
    for (int i = 0; i < 100000; ++i)
        probes.push_back(std::uint32_t(random()));
    for (const CsvRow &row : rows) {
        probes.push_back(row.first);
        probes.push_back(row.last);
    }
    std::sort(probes.begin(), probes.end());
    probes.erase(std::unique(probes.begin(), probes.end()), probes.end());

    // For each probe the narrowest source range holding it, the earlier line among equals.
    std::vector<const CsvRow *> expected(probes.size(), nullptr);
    for (const CsvRow &row : rows) {
        const auto from = std::lower_bound(probes.begin(), probes.end(), row.first);
        const auto to = std::upper_bound(from, probes.end(), row.last);
        for (auto p = from; p != to; ++p) {
            const CsvRow *&best = expected[p - probes.begin()];
            if (!best || row.last - row.first < best->last - best->first)
                best = &row;
        }
    }

    const AsDatabase db(s_table->Bytes());
    std::size_t matched = 0, mismatched = 0;
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const std::optional<AsMatch> found = db.FindKey(probes[i]);
        const CsvRow *want = expected[i];
        const bool same = want ? found && found->number == want->number && found->name == want->name : !found;
        matched += want != nullptr;
        if (!same && ++mismatched <= 10)
            ADD_FAILURE() << "address " << probes[i] << ": table AS" << (found ? found->number : 0)
                          << ", source AS" << (want ? want->number : 0);
    }
    std::printf("%zu addresses, %zu in a source range, %zu differ\n", probes.size(), matched, mismatched);
    EXPECT_EQ(mismatched, 0u);
}
