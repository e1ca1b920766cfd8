// quokka-geotable: builds the geolocation table from the source database, or checks a table.
//   quokka-geotable --build SOURCE.mmdb ISO_3166-1.json TABLE
//   quokka-geotable --check TABLE
#include "ascii_text.h"
#include "country_names.h"
#include "mmdb_source.h"
#include "table_builder.h"
#include "table_check.h"
#include "table_file.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace quokka::tools;

namespace {

std::string Build(const std::vector<std::string> &operands)
{
    geotable::AsciiText ascii;
    const geotable::CountryNames names = geotable::LoadCountryNames(operands[1], ascii);
    const geotable::MmdbSource mmdb(operands[0]);
    const geotable::BuildFigures f = geotable::BuildTable(mmdb, names, ascii, operands[2]);
    char line[256];
    std::snprintf(line, sizeof line, "%zu rows from %zu networks and %zu source records (%zu without location), "
                  "%zu distinct texts", f.rows, f.networks, f.sourceRecords, f.unlocatedRecords, f.distinctStrings);
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    return tablefile::RunTableTool(argc, argv, {"quokka-geotable", "SOURCE.mmdb ISO_3166-1.json TABLE", Build,
                                                tablefile::CheckWithFigures(geotable::CheckTable, geotable::FormatFigures)});
}
