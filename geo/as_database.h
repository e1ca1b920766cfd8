#pragma once
// The autonomous-system table in use: which network (AS number and organisation) announces an
// address. Like the geolocation table it is linked into the program or mapped from a file, and
// searched where it lies.
//
// Layout, all numbers 32-bit little-endian, IPv6 addresses 16 bytes in network order:
//   header  "QQASN\0\0\2", range count, AS count, name bytes, IPv6 range count (24 bytes)
//   ranges  range count x (first address, last address, AS index), sorted, not overlapping
//   ranges6 IPv6 range count x (first address, last address, AS index), the same
//   systems AS count x (AS number, name offset, name length)
//   names   the organisation names, UTF-8, each stored once
// A table of the first version ("QQASN\0\0\1", the last header field 0) has no IPv6 ranges
// and is read as such.
#include <cstddef>
#include "base/little_endian.h"
#include "geo/geo_database6.h"
#include "geo/sampled_search.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quokka::geo {

// The AS table linked into the program (geo/embedded_table.cpp); without it, an empty default.
std::span<const unsigned char> EmbeddedAsTable();

struct AsMatch {
    std::uint32_t number = 0;
    std::string_view name; // points into the table
};

class AsDatabase {
public:
    static constexpr std::size_t kHeaderSize = 24, kRangeSize = 12, kRange6Size = 36, kSystemSize = 12;
    static constexpr std::string_view kMagic{"QQASN\0\0\2", 8};
    static constexpr std::string_view kMagicWithoutIpv6{"QQASN\0\0\1", 8};

    // TABLE is used only when its header and sizes agree; otherwise the table is empty.
    explicit AsDatabase(std::span<const unsigned char> table);

    // The process-wide table: the file given to UseFile, else the embedded table.
    static const AsDatabase &Instance();
    // Maps PATH as the process-wide table. A file that is missing, not well formed or whose
    // ranges are not in order (OrderProblem) gets one message on standard error and leaves the
    // table empty.
    static bool UseFile(const std::string &path);
    // The file given to UseFile, empty while the linked-in table is in use; REFUSED tells
    // whether it failed its checks.
    static std::string FileInUse(bool *refused = nullptr);
    // Why TABLE cannot be used as a table; empty when it can. Reads only the header.
    static std::string Problem(std::span<const unsigned char> table);
    // The first range the search cannot rely on, as "range N (FIRST-LAST): what"; empty when
    // every range lies after the one before it. Reads every range.
    std::string OrderProblem() const;
    // Why TABLE, a whole file, cannot be used: a Problem or an OrderProblem; empty when it can.
    static std::string FileProblem(std::span<const unsigned char> table);
    // The table linked into the program; empty in builds without it.
    static std::span<const unsigned char> LinkedTable() { return EmbeddedAsTable(); }
    static constexpr const char *kTableName = "AS table";
    static constexpr const char *kWithoutTable = "networks will not be shown";

    std::size_t RangeCount() const { return m_rangeCount; }
    std::size_t Range6Count() const { return m_range6Count; }
    // The AS of the range holding KEY (host order), if any. A range pointing outside the
    // table's systems or names is no match.
    std::optional<AsMatch> FindKey(std::uint32_t key) const;
    // The same for an IPv6 address.
    std::optional<AsMatch> FindKey6(const Key6 &key) const;
    // Dotted-decimal IPv4 or IPv6 text.
    std::optional<AsMatch> Find(const char *address) const;

    // No range holds the key.
    static constexpr std::uint32_t kNoSystem = 0xFFFFFFFF;
    // FindKey for every key at once, as the index of each one's system: System(SYSTEMS[i]) is
    // FindKey(KEYS[i]) on a table whose ranges are in order (OrderProblem empty, as every table
    // in use is), SYSTEMS as long as KEYS. The searches run side by side; a long list first
    // searches every 16th range's first address, taken once (the first time), then the 16
    // ranges from the one found.
    void FindSystems(std::span<const std::uint32_t> keys, std::span<std::uint32_t> systems) const;
    // The same for IPv6 addresses and FindKey6.
    void FindSystems6(std::span<const Key6> keys, std::span<std::uint32_t> systems) const;
    // The AS of system INDEX; nothing for kNoSystem, or when it or its name lies outside the
    // table.
    std::optional<AsMatch> System(std::uint32_t index) const;
    // Asks for system INDEX's entry from memory, ahead of System.
    void PrefetchSystem(std::uint32_t index) const
    {
        if (index < m_systemCount)
            __builtin_prefetch(m_systems.data() + std::size_t(index) * kSystemSize);
    }
    // Asks for the start of system INDEX's name, reading its entry (asked for before).
    void PrefetchName(std::uint32_t index) const
    {
        if (index < m_systemCount) {
            const std::size_t offset = ReadLe32(m_systems.data() + std::size_t(index) * kSystemSize + 4);
            if (offset < m_names.size())
                __builtin_prefetch(m_names.data() + offset);
        }
    }

private:
    static constexpr std::size_t kSampleStride = 16;
    // The system index of the range holding KEY, or kNoSystem.
    std::uint32_t SystemOfKey(std::uint32_t key) const;

    std::span<const unsigned char> m_ranges, m_ranges6, m_systems, m_names;
    std::size_t m_rangeCount = 0, m_range6Count = 0, m_systemCount = 0;
    FirstSamples m_samples; // of the IPv4 ranges, every kSampleStride-th
};

} // namespace quokka::geo
