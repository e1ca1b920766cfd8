#include "geo/geo_database6.h"

#include "base/little_endian.h"
#include "base/net_address.h"
#include "geo/table_in_use.h"

#include <algorithm>
#include <cstring>

using quokka::ReadLe32;
namespace quokka::geo {

namespace {

std::uint64_t ReadBe64(const unsigned char *at)
{
    std::uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return __builtin_bswap64(value);
}

std::uint64_t ReadLe64(const unsigned char *at)
{
    return qFromLittleEndian<quint64>(at);
}

std::string AddressText(const Key6 &key)
{
    return NetAddress::V6(key.Bytes()).ToString();
}

// How many bulk searches run side by side.
constexpr std::size_t kSideBySide = 32;
// From this many keys on, FindRanges goes through the guide.
constexpr std::size_t kGuideFrom = 4096;
// The guide keeps every kFineStride-th high half, and of those every kCoarseStride-th.
constexpr std::size_t kFineStride = 16, kCoarseStride = 256;

// One level of the guide for all kSideBySide searches at once: each BASE moves to the last of
// the LENGTH entries of LEVEL from it that lies at or below its key's high half.
[[gnu::always_inline]] inline void DescendLevel(const std::uint64_t *level, std::size_t length,
                                                std::size_t (&base)[kSideBySide],
                                                const std::uint64_t (&keyHigh)[kSideBySide])
{
    for (; length > 1;) {
        const std::size_t half = length / 2;
        #pragma GCC unroll 32
        for (std::size_t j = 0; j < kSideBySide; ++j)
            base[j] += half & -std::size_t(level[base[j] + half] <= keyHigh[j]);
        length -= half;
    }
}

} // namespace

// Every kFineStride-th high half of the table (FINE, made up with the highest number to a whole
// number of kCoarseStride), and every kCoarseStride-th of those (COARSE).
struct GeoDatabase6::Guide {
    std::vector<std::uint64_t> coarse, fine;
};

Key6 Key6::FromBytes(const unsigned char *networkOrder)
{
    return {ReadBe64(networkOrder), ReadBe64(networkOrder + 8)};
}

std::array<std::uint8_t, 16> Key6::Bytes() const
{
    std::array<std::uint8_t, 16> bytes{};
    for (int i = 0; i < 8; ++i) {
        bytes[std::size_t(i)] = std::uint8_t(high >> (56 - 8 * i));
        bytes[std::size_t(8 + i)] = std::uint8_t(low >> (56 - 8 * i));
    }
    return bytes;
}

std::string GeoDatabase6::Problem(std::span<const unsigned char> table)
{
    if (table.size() >= kMagic.size() && std::memcmp(table.data(), kMagic.data(), kMagic.size() - 1) == 0
        && table[kMagic.size() - 1] < kMagic.back())
        return "it is an IPv6 geolocation table of an older format (" + std::to_string(table[kMagic.size() - 1])
            + "); this program reads format " + std::to_string(kMagic.back());
    if (table.size() < kHeaderSize)
        return "it is shorter than its header";
    if (std::memcmp(table.data(), kMagic.data(), kMagic.size()) != 0)
        return "it is not an IPv6 geolocation table";
    const std::uint64_t ranges = ReadLe32(table, 8), places = ReadLe32(table, 12), lows = ReadLe32(table, 16);
    if (kHeaderSize + ranges * (kHighSize + kIndexSize) + lows * (kLowRangeSize + kLowSize) + places * GeoRecord::kSize
        != table.size())
        return "its size does not match its header";
    return {};
}

GeoDatabase6::GeoDatabase6(std::span<const unsigned char> table)
{
    if (!Problem(table).empty())
        return;
    m_rangeCount = ReadLe32(table, 8);
    m_placeCount = ReadLe32(table, 12);
    m_lowCount = ReadLe32(table, 16);
    std::size_t at = kHeaderSize;
    const auto take = [&](std::size_t size) {
        const std::span<const unsigned char> part = table.subspan(at, size);
        at += size;
        return part;
    };
    m_highs = take(m_rangeCount * kHighSize);
    m_places = take(m_rangeCount * kIndexSize);
    m_lowRanges = take(m_lowCount * kLowRangeSize);
    m_lows = take(m_lowCount * kLowSize);
    m_rows = take(m_placeCount * GeoRecord::kSize);
}

const GeoDatabase6 &GeoDatabase6::Instance()
{
    return TableInUse<GeoDatabase6>::Instance();
}

bool GeoDatabase6::UseFile(const std::string &path)
{
    return TableInUse<GeoDatabase6>::UseFile(path);
}

std::string GeoDatabase6::FileInUse(bool *refused)
{
    return TableInUse<GeoDatabase6>::FileInUse(refused);
}

std::string GeoDatabase6::FileProblem(std::span<const unsigned char> table)
{
    std::string problem = Problem(table);
    return problem.empty() ? GeoDatabase6(table).OrderProblem() : problem;
}

std::string GeoDatabase6::OrderProblem() const
{
    for (std::size_t low = 0; low < m_lowCount; ++low) {
        const std::uint32_t range = ReadLe32(m_lowRanges, low * kLowRangeSize);
        const auto fault = [&](const std::string &what) {
            return "low half " + std::to_string(low) + " (range " + std::to_string(range) + "): " + what;
        };
        if (range >= m_rangeCount)
            return fault("the range is not in the table");
        if (low > 0 && range <= ReadLe32(m_lowRanges, (low - 1) * kLowRangeSize))
            return fault("does not follow the previous one's range (out of order or repeated)");
        if (ReadLe64(m_lows.data() + low * kLowSize) == 0)
            return fault("it is 0");
    }
    const auto fault = [this](std::size_t range, const std::string &what) {
        return "range " + std::to_string(range) + " (" + AddressText(RangeFirst(std::uint32_t(range))) + "): " + what;
    };
    Key6 previous;
    std::size_t nextLow = 0; // the low halves in step with the ranges, without searching them
    for (std::size_t range = 0; range < m_rangeCount; ++range) {
        Key6 first{High(range), 0};
        if (nextLow < m_lowCount && ReadLe32(m_lowRanges, nextLow * kLowRangeSize) == range)
            first.low = ReadLe64(m_lows.data() + nextLow++ * kLowSize);
        if (range > 0 && first <= previous)
            return fault(range, "does not start after the previous range starts (out of order or overlapping)");
        previous = first;
        const std::uint32_t place = ReadLe32(m_places, range * kIndexSize);
        if (place != kNoPlace && place >= m_placeCount)
            return fault(range, "its place " + std::to_string(place) + " is not in the table");
    }
    return {};
}

std::uint64_t GeoDatabase6::High(std::size_t range) const
{
    return ReadLe64(m_highs.data() + range * kHighSize);
}

std::uint64_t GeoDatabase6::Low(std::size_t range) const
{
    std::size_t first = 0, length = m_lowCount;
    while (length > 0) {
        const std::size_t half = length / 2;
        if (ReadLe32(m_lowRanges, (first + half) * kLowRangeSize) < range) {
            first += half + 1;
            length -= half + 1;
        } else {
            length = half;
        }
    }
    if (first < m_lowCount && ReadLe32(m_lowRanges, first * kLowRangeSize) == range)
        return ReadLe64(m_lows.data() + first * kLowSize);
    return 0;
}

Key6 GeoDatabase6::RangeLast(std::uint32_t range) const
{
    if (std::size_t(range) + 1 >= m_rangeCount)
        return {~std::uint64_t(0), ~std::uint64_t(0)};
    const Key6 next = RangeFirst(range + 1);
    return {next.high - (next.low == 0), next.low - 1};
}

const unsigned char *GeoDatabase6::PlaceRow(std::uint32_t range) const
{
    if (range >= m_rangeCount)
        return nullptr;
    const std::uint32_t place = ReadLe32(m_places, std::size_t(range) * kIndexSize);
    if (place >= m_placeCount)
        return nullptr;
    return m_rows.data() + std::size_t(place) * GeoRecord::kSize;
}

std::uint32_t GeoDatabase6::Settle(std::size_t range, const Key6 &key) const
{
    for (;; --range) {
        if (High(range) < key.high || Low(range) <= key.low)
            return std::uint32_t(range);
        if (range == 0)
            return kNoRange;
    }
}

std::uint32_t GeoDatabase6::FindRange(Key6 key) const
{
    std::uint32_t range = kNoRange;
    FindRanges({&key, 1}, {&range, 1});
    return range;
}

const GeoDatabase6::Guide &GeoDatabase6::GuideBuilt() const
{
    std::call_once(m_guided, [this] {
        auto guide = std::make_shared<Guide>();
        const std::size_t fine = (m_rangeCount + kFineStride - 1) / kFineStride;
        guide->fine.reserve(fine + kCoarseStride);
        for (std::size_t range = 0; range < m_rangeCount; range += kFineStride)
            guide->fine.push_back(High(range));
        guide->fine.resize((fine + kCoarseStride - 1) / kCoarseStride * kCoarseStride, ~std::uint64_t(0));
        for (std::size_t at = 0; at < guide->fine.size(); at += kCoarseStride)
            guide->coarse.push_back(guide->fine[at]);
        m_guide = std::move(guide);
    });
    return *m_guide;
}

// FindRanges through the guide: the last coarse entry at or below each key's high half (searched
// side by side as below, in memory the caches hold), then the fine entries from there to the
// next coarse one, then the high halves of the table from the fine entry found to the next one.
// A high half past the table's end reads as the last one, which leaves the result in the table.
void GeoDatabase6::SearchGuided(std::span<const Key6> keys, std::span<std::uint32_t> ranges) const
{
    const Guide &guide = GuideBuilt();
    const std::uint64_t *const coarse = guide.coarse.data(), *const fine = guide.fine.data();
    const unsigned char *const highs = m_highs.data();
    const std::size_t last = m_rangeCount - 1;
    for (std::size_t from = 0; from < keys.size(); from += kSideBySide) {
        // Always kSideBySide searches, the last ones of a short batch repeating its first key,
        // so that each step is laid out for all of them without a loop.
        const std::size_t n = std::min(kSideBySide, keys.size() - from);
        std::uint64_t keyHigh[kSideBySide];
        #pragma GCC unroll 32
        for (std::size_t j = 0; j < kSideBySide; ++j)
            keyHigh[j] = keys[from + (j < n ? j : 0)].high;
        std::size_t base[kSideBySide] = {};
        DescendLevel(coarse, guide.coarse.size(), base, keyHigh);
        #pragma GCC unroll 32
        for (std::size_t j = 0; j < kSideBySide; ++j) {
            base[j] *= kCoarseStride;
            __builtin_prefetch(fine + base[j] + kCoarseStride / 2);
        }
        DescendLevel(fine, kCoarseStride, base, keyHigh);
        #pragma GCC unroll 32
        for (std::size_t j = 0; j < kSideBySide; ++j) {
            base[j] *= kFineStride;
            const unsigned char *window = highs + std::min(base[j], last) * kHighSize;
            __builtin_prefetch(window);
            __builtin_prefetch(window + kFineStride * kHighSize - 1);
        }
        for (std::size_t length = kFineStride; length > 1;) {
            const std::size_t half = length / 2;
            #pragma GCC unroll 32
            for (std::size_t j = 0; j < kSideBySide; ++j)
                base[j] += half & -std::size_t(ReadLe64(highs + std::min(base[j] + half, last) * kHighSize) <= keyHigh[j]);
            length -= half;
        }
        const Key6 *key = keys.data() + from;
        for (std::size_t j = 0; j < n; ++j) {
            const std::size_t range = std::min(base[j], last);
            const std::uint64_t high = ReadLe64(highs + range * kHighSize);
            ranges[from + j] = high > key[j].high ? kNoRange
                : high == key[j].high && m_lowCount > 0 ? Settle(range, key[j])
                                                        : std::uint32_t(range);
            __builtin_prefetch(m_places.data() + range * kIndexSize); // PlaceRow reads it next
        }
    }
}

void GeoDatabase6::FindRanges(std::span<const Key6> keys, std::span<std::uint32_t> ranges) const
{
    if (m_rangeCount == 0) {
        std::fill_n(ranges.begin(), keys.size(), kNoRange);
        return;
    }
    if (keys.size() >= kGuideFrom) {
        SearchGuided(keys, ranges);
        return;
    }
    const unsigned char *const highs = m_highs.data();
    for (std::size_t from = 0; from < keys.size(); from += kSideBySide) {
        const std::size_t n = std::min(kSideBySide, keys.size() - from);
        const Key6 *key = keys.data() + from;
        // Each search keeps the last high half known to lie at or below its key's (BASE) and
        // halves the stretch above it; the stretch is the same length for all of them at every
        // step.
        std::size_t base[kSideBySide] = {};
        std::size_t length = m_rangeCount;
        while (length > 1) {
            const std::size_t half = length / 2;
            for (std::size_t j = 0; j < n; ++j) {
                base[j] += half & -std::size_t(ReadLe64(highs + (base[j] + half) * kHighSize) <= key[j].high);
                __builtin_prefetch(highs + (base[j] + (length - half) / 2) * kHighSize);
            }
            length -= half;
        }
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint64_t high = ReadLe64(highs + base[j] * kHighSize);
            ranges[from + j] = high > key[j].high ? kNoRange
                : high == key[j].high && m_lowCount > 0 ? Settle(base[j], key[j])
                                                        : std::uint32_t(base[j]);
        }
    }
}

} // namespace quokka::geo
