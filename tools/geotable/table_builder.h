#pragma once
// Builds the geolocation table from the source: every network in address order, clipped to
// the covered span, neighbours with the same row merged, unlocated stretches as "-" rows, and
// the terminating row last.
#include "country_names.h"
#include "table_row.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace quokka::tools::geotable {

class AsciiText;
class MmdbSource;
struct SourcePlace;

// What a source record becomes in the table (no value: a record without location).
std::optional<Place> TablePlace(const SourcePlace &source, const CountryNames &names, AsciiText &ascii);

// Collects ranges in address order and emits merged rows to a sink.
class RowMerger {
public:
    using Sink = std::function<void(const Row &)>;
    explicit RowMerger(Sink sink) : m_sink(std::move(sink)) {}

    // Adds FIRST..LAST with the place of ROW (its addresses are ignored). Ranges must come in
    // address order; the part outside the covered span is dropped, a gap before it is filled
    // with a row without location.
    void Add(std::uint32_t first, std::uint32_t last, const Row &row);
    // Fills up to the end of the span, emits the last row and the terminating row.
    void Finish();
    std::size_t rowsEmitted() const { return m_emitted; }

private:
    void Append(std::uint32_t first, std::uint32_t last, const Row &row);

    Sink m_sink;
    std::optional<Row> m_pending;
    std::uint64_t m_next = kFirstCovered; // first address not yet covered
    std::size_t m_emitted = 0;
};

struct BuildFigures {
    std::size_t networks = 0;
    std::size_t sourceRecords = 0;
    std::size_t unlocatedRecords = 0;
    std::size_t distinctStrings = 0;
    std::size_t rows = 0;
};

// Writes the table for SOURCE to PATH (through a temporary file renamed at the end).
// Throws std::runtime_error on a source it cannot use or a file it cannot write.
BuildFigures BuildTable(const MmdbSource &source, const CountryNames &names, AsciiText &ascii,
                        const std::string &path);

} // namespace quokka::tools::geotable
