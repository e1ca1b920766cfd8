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

template <class Address>
struct Piece {
    Address last;
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

void AppendAddress(std::vector<unsigned char> &out, std::uint32_t address)
{
    AppendLe32(out, address);
}

// An IPv6 address: 16 bytes in network order.
void AppendAddress(std::vector<unsigned char> &out, Address6 address)
{
    for (int shift = 120; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>(address >> shift));
}

// Gives every address of SOURCE to the narrowest range holding it (the earlier line on a tie).
// Ranges are laid down narrowest first, each filling only what is still free.
template <class Address>
std::map<Address, Piece<Address>> LayDown(const std::vector<SourceRangeOf<Address>> &source,
                                          const std::map<SystemKey, std::uint32_t> &systemOf, std::size_t &overlapping)
{
    std::vector<std::size_t> order(source.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return source[a].last - source[a].first < source[b].last - source[b].first;
    });
    std::map<Address, Piece<Address>> laid; // by first address
    for (const std::size_t i : order) {
        const SourceRangeOf<Address> &range = source[i];
        const std::uint32_t system = systemOf.at({range.number, range.name});
        Address from = range.first;
        bool lost = false, done = false;
        if (auto next = laid.upper_bound(range.first); next != laid.begin() && std::prev(next)->second.last >= range.first) {
            lost = true;
            done = std::prev(next)->second.last >= range.last;
            if (!done)
                from = std::prev(next)->second.last + 1;
        }
        // Pieces laid before are disjoint: fill the stretches between those inside the range.
        while (!done) {
            const auto next = laid.lower_bound(from);
            if (next == laid.end() || next->first > range.last) {
                laid.emplace_hint(next, from, Piece<Address>{range.last, system});
                break;
            }
            lost = true;
            if (next->first > from)
                laid.emplace_hint(next, from, Piece<Address>{Address(next->first - 1), system});
            done = next->second.last >= range.last;
            from = next->second.last + 1;
        }
        overlapping += lost;
    }
    return laid;
}

// The ranges of SOURCE as the table stores them: laid down, neighbours of one system merged.
template <class Address>
std::vector<unsigned char> EncodeRanges(const std::vector<SourceRangeOf<Address>> &source,
                                        const std::map<SystemKey, std::uint32_t> &systemOf, std::size_t &overlapping,
                                        std::size_t &count)
{
    std::vector<unsigned char> ranges;
    const auto append = [&](const std::pair<Address, Piece<Address>> &range) {
        AppendAddress(ranges, range.first);
        AppendAddress(ranges, range.second.last);
        AppendLe32(ranges, range.second.system);
        ++count;
    };
    std::optional<std::pair<Address, Piece<Address>>> pending; // merged with its neighbours of the same system
    for (const auto &[first, piece] : LayDown(source, systemOf, overlapping)) {
        if (pending && pending->second.system == piece.system && pending->second.last + 1 == first) {
            pending->second.last = piece.last;
            continue;
        }
        if (pending)
            append(*pending);
        pending.emplace(first, piece);
    }
    if (pending)
        append(*pending);
    return ranges;
}

} // namespace

std::vector<unsigned char> EncodeTable(const std::vector<SourceRange> &source, BuildFigures &figures)
{
    return EncodeTable(source, {}, figures);
}

std::vector<unsigned char> EncodeTable(const std::vector<SourceRange> &source, const std::vector<SourceRange6> &source6,
                                       BuildFigures &figures)
{
    figures = BuildFigures{};
    figures.sourceRanges = source.size() + source6.size();
    std::map<SystemKey, std::uint32_t> systemOf;
    for (const SourceRange &range : source)
        systemOf.emplace(SystemKey{range.number, range.name}, 0);
    for (const SourceRange6 &range : source6)
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

    const std::vector<unsigned char> ranges = EncodeRanges(source, systemOf, figures.overlapping, figures.ranges);
    const std::vector<unsigned char> ranges6 = EncodeRanges(source6, systemOf, figures.overlapping, figures.ranges6);
    figures.systems = systemOf.size();
    figures.names = offsetOf.size();
    figures.nameBytes = names.size();
    std::vector<unsigned char> table(geo::AsDatabase::kMagic.begin(), geo::AsDatabase::kMagic.end());
    Append(table, {Count(figures.ranges), Count(figures.systems), Count(figures.nameBytes), Count(figures.ranges6)});
    table.insert(table.end(), ranges.begin(), ranges.end());
    table.insert(table.end(), ranges6.begin(), ranges6.end());
    table.insert(table.end(), systems.begin(), systems.end());
    table.insert(table.end(), names.begin(), names.end());
    figures.bytes = table.size();
    return table;
}

BuildFigures BuildTable(const std::string &source, const std::string &source6, const std::string &path)
{
    BuildFigures figures;
    const std::vector<unsigned char> table
        = EncodeTable(ReadSource(source), source6.empty() ? std::vector<SourceRange6>{} : ReadSource6(source6), figures);
    tablefile::TableWriter out(path);
    out.Write(table);
    out.Commit();
    return figures;
}

} // namespace quokka::tools::astable
