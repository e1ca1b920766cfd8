// quokka-geotable: builds the geolocation table of IPv4 or of IPv6 (as the source database is)
// from the source database, or checks a table (an IPv6 table also against its source).
//   quokka-geotable --build SOURCE.mmdb ISO_3166-1.json TABLE
//   quokka-geotable --check TABLE
//   quokka-geotable --check IPV6_TABLE SOURCE.mmdb
#include "ascii_text.h"
#include "country_names.h"
#include "mmdb_source.h"
#include "table6.h"
#include "table_builder.h"
#include "table_check.h"
#include "table_file.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace quokka::tools;

namespace {

std::string Build(const std::vector<std::string> &operands)
{
    geotable::AsciiText ascii;
    const geotable::CountryNames names = geotable::LoadCountryNames(operands[1], ascii);
    const geotable::MmdbSource mmdb(operands[0]);
    char line[256];
    if (mmdb.IsIpv6()) {
        const geotable::Build6Figures f = geotable::BuildTable6(mmdb, names, ascii, operands[2]);
        std::snprintf(line, sizeof line, "%zu IPv6 ranges and %zu places from %zu networks and %zu source records "
                      "(%zu without location), %zu bytes", f.ranges, f.places, f.networks, f.sourceRecords,
                      f.unlocatedRecords, f.bytes);
        return line;
    }
    const geotable::BuildFigures f = geotable::BuildTable(mmdb, names, ascii, operands[2]);
    std::snprintf(line, sizeof line, "%zu rows from %zu networks and %zu source records (%zu without location), "
                  "%zu distinct texts", f.rows, f.networks, f.sourceRecords, f.unlocatedRecords, f.distinctStrings);
    return line;
}

// An IPv6 table of any format (its magic without the format byte), so that the IPv6 check
// names an older one.
bool IsTable6(std::span<const unsigned char> table)
{
    const auto &magic = quokka::geo::GeoDatabase6::kMagic;
    return table.size() >= magic.size() && std::memcmp(table.data(), magic.data(), magic.size() - 1) == 0;
}

// Either table's check, by the table's first bytes; SOURCE, when given, for an IPv6 table.
tablefile::Checker Check(const geotable::MmdbSource *source)
{
    return [source](std::span<const unsigned char> table, std::string &figures) -> tablefile::Faults {
        if (IsTable6(table)) {
            const geotable::Check6Result result = geotable::CheckTable6(table, source);
            figures = geotable::FormatFigures6(result.figures);
            return result;
        }
        const geotable::CheckResult result = geotable::CheckTable(table);
        figures = geotable::FormatFigures(result.figures);
        tablefile::Faults faults = result;
        if (source != nullptr)
            faults.Add([] { return std::string("only an IPv6 table is checked against a source"); });
        return faults;
    };
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--check") == 0) {
        try {
            const geotable::MmdbSource source(argv[3]);
            return tablefile::CheckTableFile("quokka-geotable", argv[2], Check(&source));
        } catch (const std::exception &e) {
            std::fprintf(stderr, "quokka-geotable: %s\n", e.what());
            return 1;
        }
    }
    return tablefile::RunTableTool(argc, argv, {"quokka-geotable", "SOURCE.mmdb ISO_3166-1.json TABLE", Build, Check(nullptr)});
}
