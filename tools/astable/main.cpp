// quokka-astable: builds the AS table from the source CSV files, or checks a table.
//   quokka-astable --build SOURCE.csv TABLE               IPv4 ranges only
//   quokka-astable --build SOURCE.csv SOURCE6.csv TABLE   IPv4 and IPv6 ranges
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
    const bool withIpv6 = operands.size() == 3;
    const astable::BuildFigures f
        = astable::BuildTable(operands[0], withIpv6 ? operands[1] : std::string(), operands.back());
    char ranges6[64] = "";
    if (withIpv6)
        std::snprintf(ranges6, sizeof ranges6, " and %zu IPv6 ranges", f.ranges6);
    char line[320];
    std::snprintf(line, sizeof line, "%zu bytes, %zu ranges%s from %zu source lines (%zu overlapping), "
                  "%zu AS entries, %zu distinct names (%zu bytes)", f.bytes, f.ranges, ranges6, f.sourceRanges,
                  f.overlapping, f.systems, f.names, f.nameBytes);
    return line;
}

} // namespace

int main(int argc, char **argv)
{
    // The IPv6 source is an optional second operand, which the usage line leaves out.
    const bool withIpv6 = argc == 5 && std::string(argv[1]) == "--build";
    return tablefile::RunTableTool(argc, argv, {"quokka-astable", withIpv6 ? "SOURCE.csv SOURCE6.csv TABLE" : "SOURCE.csv TABLE",
                                                Build, tablefile::CheckWithFigures(astable::CheckTable, astable::FormatFigures)});
}
