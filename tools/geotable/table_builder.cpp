#include "table_builder.h"

#include "ascii_text.h"
#include "base/little_endian.h"
#include "mmdb_source.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

using quokka::WriteLe32;

namespace quokka::tools::geotable {

std::optional<Place> TablePlace(const SourcePlace &source, const CountryNames &names, AsciiText &ascii)
{
    if (source.countryCode.empty() || source.countryCode == "ZZ")
        return std::nullopt;
    const auto name = names.find(source.countryCode);
    if (name == names.end())
        throw std::runtime_error("no country name for the code \"" + source.countryCode + "\"");
    return Place{source.countryCode, name->second, ascii(source.region), ascii(source.city),
                 source.latitude, source.longitude};
}

void RowMerger::Add(std::uint32_t first, std::uint32_t last, const Row &row)
{
    if (last < m_next || first > kLastCovered)
        return;
    const std::uint32_t from = std::max<std::uint64_t>(first, m_next);
    const std::uint32_t to = std::min(last, kLastCovered);
    if (from > m_next)
        Append(std::uint32_t(m_next), from - 1, NoLocationRow(0, 0));
    Append(from, to, row);
}

void RowMerger::Append(std::uint32_t first, std::uint32_t last, const Row &row)
{
    if (m_pending && std::memcmp(m_pending->data() + kCountryCode, row.data() + kCountryCode,
                                 kRowSize - kCountryCode) == 0) {
        WriteLe32(m_pending->data() + 4, last);
    } else {
        if (m_pending) {
            m_sink(*m_pending);
            ++m_emitted;
        }
        m_pending = row;
        WriteLe32(m_pending->data(), first);
        WriteLe32(m_pending->data() + 4, last);
    }
    m_next = std::uint64_t(last) + 1;
}

void RowMerger::Finish()
{
    if (m_next <= kLastCovered)
        Append(std::uint32_t(m_next), kLastCovered, NoLocationRow(0, 0));
    if (m_pending) {
        m_sink(*m_pending);
        ++m_emitted;
        m_pending.reset();
    }
    m_sink(TerminatingRow());
    ++m_emitted;
}

BuildFigures BuildTable(const MmdbSource &source, const CountryNames &names, AsciiText &ascii,
                        const std::string &path)
{
    tablefile::TableWriter out(path);
    RowMerger merger([&](const Row &row) { out.Write(row); });

    BuildFigures figures;
    const Row noLocation = NoLocationRow(0, 0);
    std::unordered_map<std::uint32_t, Row> rowOfRecord; // by the record's data offset
    source.Walk([&](std::uint32_t first, std::uint32_t last, std::optional<std::uint32_t> record) {
        ++figures.networks;
        if (!record) {
            merger.Add(first, last, noLocation);
            return;
        }
        auto found = rowOfRecord.find(*record);
        if (found == rowOfRecord.end()) {
            const std::optional<Place> place = TablePlace(source.PlaceAt(*record), names, ascii);
            figures.unlocatedRecords += !place;
            found = rowOfRecord.emplace(*record, place ? EncodeRow(0, 0, *place) : noLocation).first;
        }
        merger.Add(first, last, found->second);
    });
    merger.Finish();

    figures.sourceRecords = rowOfRecord.size();
    figures.distinctStrings = ascii.distinctStrings();
    figures.rows = merger.rowsEmitted();
    out.Commit();
    return figures;
}

} // namespace quokka::tools::geotable
