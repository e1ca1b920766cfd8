// `quokka-quokka --lookup` with a table file of the test's own, and with files that cannot
// be used: one message on standard error, "no match" lines, and a normal exit.
#include "small_table.h"
#include "test_support.h"

#include <gtest/gtest.h>

using namespace testgeo;

namespace {

class ProgramLookup : public ::testing::Test {
protected:
    static void TearDownTestSuite() { RemoveTempFiles(); }

    static int Lookup(const std::string &table, const std::string &addresses, std::string &out)
    {
        return testsupport::Run("QUOKKA_GEO_TABLE= '" QUOKKA_PROGRAM "' --geo-table '" + table + "' --lookup "
                                    + addresses + " 2>&1",
                                &out);
    }
};

} // namespace

TEST_F(ProgramLookup, PrintsRowsOfTheGivenTable)
{
    SmallTable table;
    table.row(Key(1, 0, 1, 0), Key(192, 0, 1, 255), At("GB", "United Kingdom of Great Britain and Northern Ireland", "England", "London", 51.50853, -0.12574))
        .row(Key(192, 0, 2, 0), Key(192, 0, 2, 255), At("CH", "Switzerland", "Zurich", "Zurich", 47.36667, 8.55))
        .noLocation(Key(192, 0, 3, 0), Key(223, 255, 255, 255))
        .terminate();
    std::string out;
    ASSERT_EQ(Lookup(table.writeFile("lab.bin"), "192.0.2.1 203.0.113.9 1.2.3.4 240.0.0.1", out), 0) << out;
    EXPECT_EQ(out, "192.0.2.1\t192.0.2.0-192.0.2.255\tCH\tSwitzerland\tZurich\tZurich\t47.36667\t8.55\n"
                   "203.0.113.9\t192.0.3.0-223.255.255.255\t-\t-\t-\t-\t0\t0\n"
                   "1.2.3.4\t1.0.1.0-192.0.1.255\tGB\tUnited Kingdom of Great Britain \tEngland\tLondon\t51.50853\t-0.12574\n"
                   "240.0.0.1\tno match\n");
}

TEST_F(ProgramLookup, BrokenTableFilesGiveOneMessageAndNoMatch)
{
    std::vector<unsigned char> rows = SmallTable().row(Key(1, 0, 1, 0), Key(223, 255, 255, 255), At("FR", "France", "", "Paris", 48.85, 2.35)).terminate().bytes();
    rows.resize(rows.size() - 1);
    for (const std::string &table : {WriteTempFile("cut.bin", rows), WriteTempFile("empty.bin", {}),
                                     std::string("/nonexistent/table.bin")}) {
        std::string out;
        EXPECT_EQ(Lookup(table, "192.0.2.1", out), 0) << out;
        EXPECT_NE(out.find("geolocation table " + table + " not used"), std::string::npos) << out;
        EXPECT_NE(out.find("192.0.2.1\tno match\n"), std::string::npos) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    }
}
