// quokka-astable: builds the AS table from the source CSV file, or checks a table.
//   quokka-astable --build SOURCE.csv TABLE
//   quokka-astable --check TABLE
#include "as_builder.h"
#include "as_check.h"
#include "table_file.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace quokka::tools;

namespace {

std::string Build(const std::vector<std::string> &operands)
{
    const astable::BuildFigures f = astable::BuildTable(operands[0], operands[1]);
    char line[256];
    std::snprintf(line, sizeof line, "%zu bytes, %zu ranges from %zu source lines (%zu overlapping), "
                  "%zu AS entries, %zu distinct names (%zu bytes)", f.bytes, f.ranges, f.sourceRanges,
                  f.overlapping, f.systems, f.names, f.nameBytes);
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    return tablefile::RunTableTool(argc, argv, {"quokka-astable", "SOURCE.csv TABLE", Build,
                                                tablefile::CheckWithFigures(astable::CheckTable, astable::FormatFigures)});
}
