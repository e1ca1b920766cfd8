#include "geo/as_database.h"

#include "base/little_endian.h"
#include "base/net_address.h"
#include "geo/dotted_quad.h"
#include "geo/geo_database6.h"
#include "geo/range_order.h"
#include "geo/table_in_use.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

using quokka::ReadLe32;
namespace quokka::geo {

namespace {

Key6 RangeKey6(std::span<const unsigned char> ranges6, std::size_t at)
{
    return Key6::FromBytes(ranges6.data() + at);
}

// From this many keys on, FindSystems searches the samples first.
constexpr std::size_t kSampleRangesFrom = 1024;
// How many IPv6 searches of FindSystems6 run side by side.
constexpr std::size_t kSystemSearches6 = 32;

} // namespace

std::string AsDatabase::Problem(std::span<const unsigned char> table)
{
    if (table.size() < kHeaderSize)
        return "it is shorter than its header";
    const bool withIpv6 = std::memcmp(table.data(), kMagic.data(), kMagic.size()) == 0;
    if (!withIpv6 && std::memcmp(table.data(), kMagicWithoutIpv6.data(), kMagicWithoutIpv6.size()) != 0)
        return "it is not an AS table";
    const std::uint64_t ranges = ReadLe32(table, 8), systems = ReadLe32(table, 12), names = ReadLe32(table, 16);
    const std::uint64_t ranges6 = ReadLe32(table, 20);
    if (!withIpv6 && ranges6 != 0)
        return "its header is not one this program reads";
    if (kHeaderSize + ranges * kRangeSize + ranges6 * kRange6Size + systems * kSystemSize + names != table.size())
        return "its size does not match its header";
    return {};
}

AsDatabase::AsDatabase(std::span<const unsigned char> table)
{
    if (!Problem(table).empty())
        return;
    m_rangeCount = ReadLe32(table, 8);
    m_systemCount = ReadLe32(table, 12);
    m_range6Count = ReadLe32(table, 20);
    m_ranges = table.subspan(kHeaderSize, m_rangeCount * kRangeSize);
    m_ranges6 = table.subspan(kHeaderSize + m_ranges.size(), m_range6Count * kRange6Size);
    m_systems = table.subspan(kHeaderSize + m_ranges.size() + m_ranges6.size(), m_systemCount * kSystemSize);
    m_names = table.subspan(kHeaderSize + m_ranges.size() + m_ranges6.size() + m_systems.size());
}

const AsDatabase &AsDatabase::Instance()
{
    return TableInUse<AsDatabase>::Instance();
}

bool AsDatabase::UseFile(const std::string &path)
{
    return TableInUse<AsDatabase>::UseFile(path);
}

std::string AsDatabase::FileInUse(bool *refused)
{
    return TableInUse<AsDatabase>::FileInUse(refused);
}

std::string AsDatabase::FileProblem(std::span<const unsigned char> table)
{
    std::string problem = Problem(table);
    return problem.empty() ? AsDatabase(table).OrderProblem() : problem;
}

std::string AsDatabase::OrderProblem() const
{
    std::string problem;
    ForEachOrderFault(m_ranges, kRangeSize, [&](std::size_t range, const char *what) {
        problem = "range " + std::to_string(range) + " (";
        AppendDottedQuad(problem, ReadLe32(m_ranges, range * kRangeSize));
        problem += '-';
        AppendDottedQuad(problem, ReadLe32(m_ranges, range * kRangeSize + 4));
        problem += std::string("): ") + what;
        return false;
    });
    for (std::size_t range = 0; problem.empty() && range < m_range6Count; ++range) {
        const Key6 first = RangeKey6(m_ranges6, range * kRange6Size);
        const Key6 last = RangeKey6(m_ranges6, range * kRange6Size + 16);
        const char *what = nullptr;
        if (first > last)
            what = "first address above last address";
        else if (range > 0 && first <= RangeKey6(m_ranges6, (range - 1) * kRange6Size + 16))
            what = "does not start after the previous one ends (out of order or overlapping)";
        if (what != nullptr)
            problem = "IPv6 range " + std::to_string(range) + " (" + NetAddress::V6(first.Bytes()).ToString() + "-"
                + NetAddress::V6(last.Bytes()).ToString() + "): " + what;
    }
    return problem;
}

std::optional<AsMatch> AsDatabase::FindKey(std::uint32_t key) const
{
    return System(SystemOfKey(key));
}

std::uint32_t AsDatabase::SystemOfKey(std::uint32_t key) const
{
    std::size_t low = 0, high = m_rangeCount; // the answer, if any, lies in [low, high)
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const std::size_t at = mid * kRangeSize;
        if (ReadLe32(m_ranges, at + 4) < key) {
            low = mid + 1;
        } else if (key < ReadLe32(m_ranges, at)) {
            high = mid;
        } else {
            return ReadLe32(m_ranges, at + 8);
        }
    }
    return kNoSystem;
}

std::optional<AsMatch> AsDatabase::FindKey6(const Key6 &key) const
{
    std::size_t lowest = 0, highest = m_range6Count; // the answer, if any, lies in [lowest, highest)
    while (lowest < highest) {
        const std::size_t mid = lowest + (highest - lowest) / 2;
        const std::size_t at = mid * kRange6Size;
        if (RangeKey6(m_ranges6, at + 16) < key)
            lowest = mid + 1;
        else if (key < RangeKey6(m_ranges6, at))
            highest = mid;
        else
            return System(ReadLe32(m_ranges6, at + 32));
    }
    return std::nullopt;
}

void AsDatabase::FindSystems(std::span<const std::uint32_t> keys, std::span<std::uint32_t> systems) const
{
    if (keys.size() < kSampleRangesFrom || m_rangeCount == 0) {
        for (std::size_t i = 0; i < keys.size(); ++i)
            systems[i] = SystemOfKey(keys[i]);
        return;
    }
    const Samples &samples = m_samples.Get(m_ranges.data(), kRangeSize, m_rangeCount, kSampleStride);
    SearchSampled<kRangeSize, kSampleStride>(m_ranges.data(), m_rangeCount, samples, InSearchOrder(keys),
                                             [&](std::size_t i, const unsigned char *range) {
                                                 systems[i] = range ? ReadLe32(range + 8) : kNoSystem;
                                                 PrefetchSystem(systems[i]);
                                             });
}

void AsDatabase::FindSystems6(std::span<const Key6> keys, std::span<std::uint32_t> systems) const
{
    const unsigned char *const ranges = m_ranges6.data();
    const std::size_t count = m_range6Count;
    const auto firstNotAbove = [ranges](std::size_t range, const Key6 &key) {
        const Key6 first = Key6::FromBytes(ranges + range * kRange6Size);
        return (first.high < key.high) | ((first.high == key.high) & (first.low <= key.low));
    };
    for (std::size_t from = 0; from < keys.size(); from += kSystemSearches6) {
        const std::size_t n = std::min(kSystemSearches6, keys.size() - from);
        const Key6 *key = keys.data() + from;
        if (count == 0) {
            std::fill_n(systems.begin() + std::ptrdiff_t(from), n, kNoSystem);
            continue;
        }
        // The last range starting at or below each key, by halving the stretch above the last
        // one known to, which is as long for every search at each step; each one's next range
        // is asked for from memory while the others compare theirs.
        std::size_t base[kSystemSearches6] = {};
        for (std::size_t length = count; length > 1;) {
            const std::size_t half = length / 2;
            for (std::size_t j = 0; j < n; ++j) {
                base[j] += half & -std::size_t(firstNotAbove(base[j] + half, key[j]));
                __builtin_prefetch(ranges + (base[j] + (length - half) / 2) * kRange6Size);
            }
            length -= half;
        }
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t at = base[j] * kRange6Size;
            const bool holds = firstNotAbove(base[j], key[j]) && !(RangeKey6(m_ranges6, at + 16) < key[j]);
            systems[from + j] = holds ? ReadLe32(m_ranges6, at + 32) : kNoSystem;
            PrefetchSystem(systems[from + j]);
        }
    }
}

// System INDEX; nothing when it or its name lies outside the table.
std::optional<AsMatch> AsDatabase::System(std::uint32_t index) const
{
    if (index >= m_systemCount)
        return std::nullopt;
    const std::uint32_t number = ReadLe32(m_systems, std::size_t(index) * kSystemSize);
    const std::uint64_t offset = ReadLe32(m_systems, std::size_t(index) * kSystemSize + 4);
    const std::uint64_t length = ReadLe32(m_systems, std::size_t(index) * kSystemSize + 8);
    if (offset + length > m_names.size())
        return std::nullopt;
    return AsMatch{number, {reinterpret_cast<const char *>(m_names.data()) + offset, std::size_t(length)}};
}

std::optional<AsMatch> AsDatabase::Find(const char *address) const
{
    const std::optional<NetAddress> parsed = address ? NetAddress::Parse(address) : std::nullopt;
    if (!parsed)
        return std::nullopt;
    if (parsed->IsV6())
        return FindKey6(Key6::FromBytes(parsed->V6Bytes()));
    return FindKey(parsed->V4HostOrder());
}

} // namespace quokka::geo
