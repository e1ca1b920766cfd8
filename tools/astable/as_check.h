#pragma once
// Verifies every rule a finished AS table must keep (header and sizes, ranges in order without
// overlap, indexes and name spans inside the table, names once each and valid) and gathers the
// figures that describe it.
#include "table_file.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quokka::tools::astable {

struct TableFigures {
    std::size_t bytes = 0;
    std::size_t ranges = 0;
    std::size_t ranges6 = 0;
    std::size_t systems = 0;
    std::size_t names = 0;       // distinct texts
    std::size_t nameBytes = 0;
    std::uint64_t addresses = 0; // covered by the ranges
    int maxProbes = 0;           // worst case of the binary search over the ranges
};

struct CheckResult : tablefile::Faults {
    TableFigures figures;
};

CheckResult CheckTable(std::span<const unsigned char> table);
std::string FormatFigures(const TableFigures &figures);

} // namespace quokka::tools::astable
