#pragma once
// The IPv6 geolocation table in use: the one linked into the program, or a table file mapped in
// its place. Like the IPv4 table it is searched where it lies.
//
// Layout (numbers little-endian; an address's halves are its first and last 8 bytes read as
// 64-bit numbers, so that 2001:db8:: has the high half 0x20010db800000000):
//   header      "QQGEO6\0\2", range count, place count, low count (32-bit each), 4 bytes 0
//   highs       range count x the high half of the range's first address (64-bit), never falling
//   places      range count x place index (32-bit; 0xFFFFFFFF: no place, an address the source
//               leaves out)
//   low ranges  low count x a range whose first address has a low half other than 0 (32-bit),
//               rising; every other range starts where its low half is 0
//   lows        low count x that range's low half (64-bit, not 0)
//   rows        place count x a 124-byte geolocation row (GeoRecord) whose two IPv4 addresses
//               are 0, each place stored once
// The first addresses (high and low half) rise strictly: a range ends where the next one starts,
// the last one at ffff:...:ffff; addresses before the first start have none. Almost every range
// of a real source starts on a /64 boundary, so 8 bytes of start per range suffice.
#include "geo/geo_record.h"

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace quokka::geo {

// An IPv6 address as a search key: its 16 bytes as two 64-bit halves, compared as one number.
struct Key6 {
    std::uint64_t high = 0, low = 0;

    static Key6 FromBytes(const unsigned char *networkOrder);
    static Key6 FromBytes(const std::array<std::uint8_t, 16> &bytes) { return FromBytes(bytes.data()); }
    std::array<std::uint8_t, 16> Bytes() const;
    friend auto operator<=>(const Key6 &, const Key6 &) = default;
};

// The IPv6 table linked into the program (geo/embedded_table.cpp); without it, an empty default.
std::span<const unsigned char> EmbeddedGeoTable6();

class GeoDatabase6 {
public:
    static constexpr std::size_t kHeaderSize = 24, kHighSize = 8, kIndexSize = 4, kLowRangeSize = 4, kLowSize = 8;
    static constexpr std::uint32_t kNoPlace = 0xFFFFFFFF;
    static constexpr std::uint32_t kNoRange = 0xFFFFFFFF;
    static constexpr std::array<unsigned char, 8> kMagic{'Q', 'Q', 'G', 'E', 'O', '6', 0, 2};

    // TABLE is used only when its header and size agree; otherwise the table is empty.
    explicit GeoDatabase6(std::span<const unsigned char> table);

    // The process-wide table: the file given to UseFile, else the embedded table.
    static const GeoDatabase6 &Instance();
    // Maps PATH as the process-wide table; a file with a FileProblem gets one message on
    // standard error and leaves the table empty.
    static bool UseFile(const std::string &path);
    // The file given to UseFile, empty while the linked-in table is in use; REFUSED tells
    // whether it failed its checks.
    static std::string FileInUse(bool *refused = nullptr);
    // Why TABLE cannot be used as a table; empty when it can. Reads only the header.
    static std::string Problem(std::span<const unsigned char> table);
    // The first fault the search cannot live with, as "low half N (range R): what" for the list
    // of low halves (a range outside the table or not after the one before, a low half of 0),
    // else as "range N (START): what" (a start not above the one before it, a place index
    // outside the table); empty when none.
    std::string OrderProblem() const;
    // Why TABLE, a whole file, cannot be used: a Problem or an OrderProblem; empty when it can.
    static std::string FileProblem(std::span<const unsigned char> table);
    static std::span<const unsigned char> LinkedTable() { return EmbeddedGeoTable6(); }
    static constexpr const char *kTableName = "IPv6 geolocation table";
    static constexpr const char *kWithoutTable = "places of IPv6 addresses will not be shown";

    std::size_t RangeCount() const { return m_rangeCount; }
    std::size_t PlaceCount() const { return m_placeCount; }
    // How many ranges start where the low half is not 0.
    std::size_t LowCount() const { return m_lowCount; }

    // The range holding KEY, or kNoRange before the first start (and in an empty table).
    std::uint32_t FindRange(Key6 key) const;
    // FindRange for every key at once: RANGES[i] = FindRange(KEYS[i]), RANGES as long as KEYS.
    // Every search over one table takes the same number of steps, so they run side by side,
    // each one's next high half asked for from memory while the others compare theirs. A long
    // list goes through a guide built once (the first time) that stays in the processor's
    // caches: every 4096th high half, then the 256 of every 16th high half that follow the one
    // found, then the 16 high halves of the table that follow that one.
    void FindRanges(std::span<const Key6> keys, std::span<std::uint32_t> ranges) const;
    // The row of the place of the range holding KEY; nullptr for no range or no place.
    const unsigned char *FindKey(Key6 key) const { return PlaceRow(FindRange(key)); }

    Key6 RangeFirst(std::uint32_t range) const { return {High(range), Low(range)}; }
    // The range's last address: one below the next start, or ffff:...:ffff for the last range.
    Key6 RangeLast(std::uint32_t range) const;
    // The row of RANGE's place; nullptr for kNoRange, a range without place or an index
    // outside the table.
    const unsigned char *PlaceRow(std::uint32_t range) const;

private:
    struct Guide;
    std::uint64_t High(std::size_t range) const;
    // The low half of RANGE's first address: from the list of low halves, else 0.
    std::uint64_t Low(std::size_t range) const;
    // RANGE is the last one whose high half is at or below KEY's: the last one starting at or
    // below KEY, stepping back over the ones of KEY's high half whose low half lies above.
    std::uint32_t Settle(std::size_t range, const Key6 &key) const;
    const Guide &GuideBuilt() const;
    void SearchGuided(std::span<const Key6> keys, std::span<std::uint32_t> ranges) const;

    std::span<const unsigned char> m_highs, m_places, m_lowRanges, m_lows, m_rows;
    mutable std::once_flag m_guided;
    mutable std::shared_ptr<const Guide> m_guide;
    std::size_t m_rangeCount = 0, m_placeCount = 0, m_lowCount = 0;
};

} // namespace quokka::geo
