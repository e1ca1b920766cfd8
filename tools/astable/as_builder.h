#pragma once
// Builds the AS table (layout in geo/as_database.h) from the source ranges. Each (AS number,
// name) pair becomes one system, in number order; each name text is stored once. The ranges
// are written in address order without overlap: where source ranges overlap, the narrower one
// wins, as routing prefers the more specific announcement, and between equally wide ones the
// earlier line. Neighbouring ranges of the same system are merged.
#include "as_source.h"

#include <cstddef>
#include <string>
#include <vector>

namespace quokka::tools::astable {

struct BuildFigures {
    std::size_t sourceRanges = 0;
    std::size_t overlapping = 0; // source ranges that gave up addresses to another
    std::size_t ranges = 0;
    std::size_t ranges6 = 0;
    std::size_t systems = 0;
    std::size_t names = 0;       // distinct texts
    std::size_t nameBytes = 0;
    std::size_t bytes = 0;
};

// The table for SOURCE (IPv4) and SOURCE6 (IPv6; none in the first form). Throws
// std::runtime_error when it would not fit the layout's counts.
std::vector<unsigned char> EncodeTable(const std::vector<SourceRange> &source, BuildFigures &figures);
std::vector<unsigned char> EncodeTable(const std::vector<SourceRange> &source, const std::vector<SourceRange6> &source6,
                                       BuildFigures &figures);

// Writes the table for the CSV files at SOURCE and SOURCE6 (IPv6; none when empty) to PATH
// (through a temporary file renamed at the end). Throws std::runtime_error on a malformed
// source or a file it cannot write.
BuildFigures BuildTable(const std::string &source, const std::string &source6, const std::string &path);

} // namespace quokka::tools::astable
