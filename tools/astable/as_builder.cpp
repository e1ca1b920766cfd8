#include "as_builder.h"

#include "base/little_endian.h"
#include "geo/as_database.h"
#include "table_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <utility>

using quokka::AppendLe32;

namespace quokka::tools::astable {
namespace {

using SystemKey = std::pair<std::uint32_t, std::string_view>; // AS number, name

struct Piece {
    std::uint32_t last;
    std::uint32_t system;
};

std::uint32_t Count(std::size_t n)
{
    if (n > std::numeric_limits<std::uint32_t>::max())
        throw std::runtime_error("the source is too large for the table's 32-bit counts");
    return static_cast<std::uint32_t>(n);
}

void Append(std::vector<unsigned char> &out, std::initializer_list<std::uint32_t> values)
{
    for (const std::uint32_t value : values)
        AppendLe32(out, value);
}

// Gives every address of SOURCE to the narrowest range holding it (the earlier line on a tie).
// Ranges are laid down narrowest first, each filling only what is still free.
std::map<std::uint32_t, Piece> LayDown(const std::vector<SourceRange> &source,
                                       const std::map<SystemKey, std::uint32_t> &systemOf,
                                       std::size_t &overlapping)
{
    std::vector<std::size_t> order(source.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return source[a].last - source[a].first < source[b].last - source[b].first;
    });
    std::map<std::uint32_t, Piece> laid; // by first address
    for (const std::size_t i : order) {
        const SourceRange &range = source[i];
        const std::uint32_t system = systemOf.at({range.number, range.name});
        bool lost = false;
        std::int64_t from = range.first;
        if (auto next = laid.upper_bound(range.first); next != laid.begin() && std::prev(next)->second.last >= range.first) {
            lost = true;
            from = std::int64_t(std::prev(next)->second.last) + 1;
        }
        while (from <= range.last) {
            const auto next = laid.lower_bound(std::uint32_t(from));
            const std::int64_t to = next == laid.end() || next->first > range.last ? range.last
                                                                                     : std::int64_t(next->first) - 1;
            if (from <= to)
                laid.emplace_hint(next, std::uint32_t(from), Piece{std::uint32_t(to), system});
            if (to == range.last)
                break;
            lost = true;
            from = std::int64_t(next->second.last) + 1;
        }
        overlapping += lost;
    }
    return laid;
}

} // namespace

std::vector<unsigned char> EncodeTable(const std::vector<SourceRange> &source, BuildFigures &figures)
{
    figures = BuildFigures{};
    figures.sourceRanges = source.size();
    std::map<SystemKey, std::uint32_t> systemOf;
    for (const SourceRange &range : source)
        systemOf.emplace(SystemKey{range.number, range.name}, 0);

    std::vector<unsigned char> systems;
    std::string names;
    std::unordered_map<std::string_view, std::uint32_t> offsetOf;
    std::uint32_t index = 0;
    for (auto &[key, system] : systemOf) {
        system = index++;
        const auto [at, added] = offsetOf.try_emplace(key.second, Count(names.size()));
        if (added)
            names += key.second;
        Append(systems, {key.first, at->second, Count(key.second.size())});
    }

    std::vector<unsigned char> ranges;
    std::optional<std::pair<std::uint32_t, Piece>> pending; // merged with its neighbours of the same system
    for (const auto &[first, piece] : LayDown(source, systemOf, figures.overlapping)) {
        if (pending && pending->second.system == piece.system && pending->second.last + 1 == first) {
            pending->second.last = piece.last;
            continue;
        }
        if (pending)
            Append(ranges, {pending->first, pending->second.last, pending->second.system});
        pending.emplace(first, piece);
    }
    if (pending)
        Append(ranges, {pending->first, pending->second.last, pending->second.system});

    figures.ranges = ranges.size() / geo::AsDatabase::kRangeSize;
    figures.systems = systemOf.size();
    figures.names = offsetOf.size();
    figures.nameBytes = names.size();
    std::vector<unsigned char> table(geo::AsDatabase::kMagic.begin(), geo::AsDatabase::kMagic.end());
    Append(table, {Count(figures.ranges), Count(figures.systems), Count(figures.nameBytes), 0});
    table.insert(table.end(), ranges.begin(), ranges.end());
    table.insert(table.end(), systems.begin(), systems.end());
    table.insert(table.end(), names.begin(), names.end());
    figures.bytes = table.size();
    return table;
}

BuildFigures BuildTable(const std::string &source, const std::string &path)
{
    BuildFigures figures;
    const std::vector<unsigned char> table = EncodeTable(ReadSource(source), figures);
    tablefile::TableWriter out(path);
    out.Write(table);
    out.Commit();
    return figures;
}

} // namespace quokka::tools::astable
