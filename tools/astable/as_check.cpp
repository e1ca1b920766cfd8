#include "as_check.h"

#include "base/little_endian.h"
#include "as_source.h"
#include "geo/as_database.h"
#include "geo/geo_record.h"
#include "geo/range_order.h"

#include <algorithm>
#include <bit>
#include <set>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

using quokka::ReadLe32;

namespace quokka::tools::astable {
namespace {

using tablefile::DottedQuad;

class Checker {
public:
    explicit Checker(std::span<const unsigned char> table) : m_table(table) {}
    CheckResult run();

private:
    void checkRanges();
    void checkRanges6();
    void checkSystem(std::uint32_t i);
    void checkNameSpans();

    std::span<const unsigned char> m_table, m_ranges, m_ranges6, m_systems, m_names;
    CheckResult m_result;
    std::vector<bool> m_used;                                  // by system index
    std::set<std::pair<std::uint32_t, std::string_view>> m_pairs; // AS number and name
    std::unordered_map<std::string_view, std::uint32_t> m_offsetOf; // of each name text
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_spans;  // of the distinct texts
};

void Checker::checkRanges()
{
    const auto rangeFault = [this](std::size_t i, const char *what) {
        m_result.Add([&] {
            const std::size_t at = i * geo::AsDatabase::kRangeSize;
            return "range " + std::to_string(i) + " (" + DottedQuad(ReadLe32(m_ranges, at)) + "-"
                + DottedQuad(ReadLe32(m_ranges, at + 4)) + "): " + what;
        });
        return true;
    };
    geo::ForEachOrderFault(m_ranges, geo::AsDatabase::kRangeSize, rangeFault);
    const std::size_t systems = m_used.size();
    for (std::size_t i = 0; i < m_result.figures.ranges; ++i) {
        const std::size_t at = i * geo::AsDatabase::kRangeSize;
        const std::uint32_t first = ReadLe32(m_ranges, at), last = ReadLe32(m_ranges, at + 4), system = ReadLe32(m_ranges, at + 8);
        if (first <= last)
            m_result.figures.addresses += std::uint64_t(last) - first + 1;
        if (system >= systems)
            rangeFault(i, "AS index out of range");
        else
            m_used[system] = true;
    }
}

// The IPv6 ranges: the order the reader checks, AS indexes inside the table.
void Checker::checkRanges6()
{
    if (const std::string order = geo::AsDatabase(m_table).OrderProblem(); !order.empty())
        m_result.Add([&] { return order; });
    const std::size_t systems = m_used.size();
    for (std::size_t i = 0; i < m_result.figures.ranges6; ++i) {
        const std::uint32_t system = ReadLe32(m_ranges6, i * geo::AsDatabase::kRange6Size + 32);
        if (system >= systems)
            m_result.Add([&] { return "IPv6 range " + std::to_string(i) + ": AS index out of range"; });
        else
            m_used[system] = true;
    }
}

void Checker::checkSystem(std::uint32_t i)
{
    const std::size_t at = std::size_t(i) * geo::AsDatabase::kSystemSize;
    const std::uint32_t number = ReadLe32(m_systems, at), offset = ReadLe32(m_systems, at + 4), length = ReadLe32(m_systems, at + 8);
    const auto fault = [&](const char *what) {
        m_result.Add([&] { return "AS entry " + std::to_string(i) + " (AS" + std::to_string(number) + "): " + what; });
    };
    if (!m_used[i])
        fault("no range refers to it");
    if (std::uint64_t(offset) + length > m_names.size()) {
        fault("its name lies outside the names");
        return;
    }
    const std::string_view name(reinterpret_cast<const char *>(m_names.data()) + offset, length);
    if (!ValidName(name))
        fault("its name is not valid UTF-8 or holds a control character");
    if (!m_pairs.emplace(number, name).second)
        fault("the same number and name are stored twice");
    const auto [known, added] = m_offsetOf.try_emplace(name, offset);
    if (added)
        m_spans.emplace_back(offset, length);
    else if (known->second != offset)
        fault("its name is stored twice");
}

// The distinct names lie end to end and fill the names exactly.
void Checker::checkNameSpans()
{
    std::sort(m_spans.begin(), m_spans.end());
    std::uint64_t end = 0;
    for (const auto &[offset, length] : m_spans) {
        if (offset != end) {
            m_result.Add([&] { return "names: byte " + std::to_string(end) + " begins no name or names overlap"; });
            return;
        }
        end = std::uint64_t(offset) + length;
    }
    if (end != m_names.size())
        m_result.Add([&] { return "names: bytes after the last name"; });
}

CheckResult Checker::run()
{
    TableFigures &f = m_result.figures;
    f.bytes = m_table.size();
    if (const std::string problem = geo::AsDatabase::Problem(m_table); !problem.empty()) {
        m_result.Add([&] { return "the table is not usable: " + problem; });
        return m_result;
    }
    f.ranges = ReadLe32(m_table, 8);
    f.systems = ReadLe32(m_table, 12);
    f.nameBytes = ReadLe32(m_table, 16);
    f.ranges6 = ReadLe32(m_table, 20);
    f.maxProbes = std::bit_width(f.ranges);
    m_ranges = m_table.subspan(geo::AsDatabase::kHeaderSize, f.ranges * geo::AsDatabase::kRangeSize);
    m_ranges6 = m_table.subspan(geo::AsDatabase::kHeaderSize + m_ranges.size(), f.ranges6 * geo::AsDatabase::kRange6Size);
    m_systems = m_table.subspan(geo::AsDatabase::kHeaderSize + m_ranges.size() + m_ranges6.size(),
                                f.systems * geo::AsDatabase::kSystemSize);
    m_names = m_table.subspan(geo::AsDatabase::kHeaderSize + m_ranges.size() + m_ranges6.size() + m_systems.size());
    m_used.assign(f.systems, false);
    checkRanges();
    checkRanges6();
    for (std::uint32_t i = 0; i < f.systems; ++i)
        checkSystem(i);
    checkNameSpans();
    f.names = m_offsetOf.size();
    return m_result;
}

} // namespace

CheckResult CheckTable(std::span<const unsigned char> table)
{
    return Checker(table).run();
}

std::string FormatFigures(const TableFigures &f)
{
    std::ostringstream out;
    out << "bytes: " << f.bytes << "\n"
        << "ranges: " << f.ranges << "\n"
        << "IPv6 ranges: " << f.ranges6 << "\n"
        << "AS entries: " << f.systems << "\n"
        << "distinct names: " << f.names << " (" << f.nameBytes << " bytes)\n"
        << "addresses covered: " << f.addresses << "\n"
        << "most probes per lookup: " << f.maxProbes << "\n";
    return out.str();
}

} // namespace quokka::tools::astable
