#pragma once
// Verifies every rule a finished geolocation table must keep (order, coverage, row layout,
// texts, coordinates, terminating row) and gathers the figures that describe it.
#include "table_file.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quokka::tools::geotable {

struct TableFigures {
    std::size_t bytes = 0;
    std::size_t rows = 0;              // the terminating row included
    std::size_t noLocationRows = 0;
    std::size_t countryCodes = 0;      // distinct codes of located rows
    std::size_t fullCountryNames = 0;  // 32 characters, no NUL
    std::size_t fullRegions = 0;
    std::size_t fullCities = 0;        // 32 characters, NUL in the field's last byte
    double latitudeMin = 0, latitudeMax = 0, longitudeMin = 0, longitudeMax = 0;
    int maxProbes = 0;                 // worst case of the binary search over all rows
};

struct CheckResult : tablefile::Faults {
    TableFigures figures;
};

// The most probes the lookup may need; a larger table is refused.
constexpr int kMaxProbes = 22;

CheckResult CheckTable(std::span<const unsigned char> table);
std::string FormatFigures(const TableFigures &figures);

} // namespace quokka::tools::geotable
