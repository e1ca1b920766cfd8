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

// Whether the range start at START lies at or below KEY; without branches, which a random key
// would send the wrong way half the time.
bool StartNotAbove(const unsigned char *start, const Key6 &key)
{
    const std::uint64_t high = ReadBe64(start), low = ReadBe64(start + 8);
    return (high < key.high) | ((high == key.high) & (low <= key.low));
}

std::string AddressText(const Key6 &key)
{
    return NetAddress::V6(key.Bytes()).ToString();
}

// How many bulk searches run side by side.
constexpr std::size_t kSideBySide = 32;
// From this many keys on, FindRanges searches the samples first.
constexpr std::size_t kSampleFrom = 4096;

} // namespace

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
    if (table.size() < kHeaderSize)
        return "it is shorter than its header";
    if (std::memcmp(table.data(), kMagic.data(), kMagic.size()) != 0)
        return "it is not an IPv6 geolocation table";
    const std::uint64_t ranges = ReadLe32(table, 8), places = ReadLe32(table, 12);
    if (kHeaderSize + ranges * (kStartSize + kIndexSize) + places * GeoRecord::kSize != table.size())
        return "its size does not match its header";
    return {};
}

GeoDatabase6::GeoDatabase6(std::span<const unsigned char> table)
{
    if (!Problem(table).empty())
        return;
    m_rangeCount = ReadLe32(table, 8);
    m_placeCount = ReadLe32(table, 12);
    m_starts = table.subspan(kHeaderSize, m_rangeCount * kStartSize);
    m_places = table.subspan(kHeaderSize + m_starts.size(), m_rangeCount * kIndexSize);
    m_rows = table.subspan(kHeaderSize + m_starts.size() + m_places.size());
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
    const auto fault = [this](std::size_t range, const std::string &what) {
        return "range " + std::to_string(range) + " (" + AddressText(RangeFirst(std::uint32_t(range))) + "): " + what;
    };
    for (std::size_t range = 0; range < m_rangeCount; ++range) {
        if (range > 0 && RangeFirst(std::uint32_t(range)) <= RangeFirst(std::uint32_t(range - 1)))
            return fault(range, "does not start after the previous range starts (out of order or overlapping)");
        const std::uint32_t place = ReadLe32(m_places, range * kIndexSize);
        if (place != kNoPlace && place >= m_placeCount)
            return fault(range, "its place " + std::to_string(place) + " is not in the table");
    }
    return {};
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

std::uint32_t GeoDatabase6::FindRange(Key6 key) const
{
    std::uint32_t range = kNoRange;
    FindRanges({&key, 1}, {&range, 1});
    return range;
}

const std::vector<Key6> &GeoDatabase6::Samples() const
{
    std::call_once(m_sampled, [this] {
        m_samples.reserve(m_rangeCount / kSampleStride + 1);
        for (std::size_t range = 0; range < m_rangeCount; range += kSampleStride)
            m_samples.push_back(RangeFirst(std::uint32_t(range)));
    });
    return m_samples;
}

// FindRanges through the samples: the last sample at or below each key (searched side by side
// as below, in memory the caches hold), then the starts from that sample to the next one, a
// start past the table's end counting as above every key.
void GeoDatabase6::SearchSamples(std::span<const Key6> keys, std::span<std::uint32_t> ranges) const
{
    const std::vector<Key6> &samples = Samples();
    const unsigned char *const starts = m_starts.data();
    const std::size_t count = m_rangeCount;
    for (std::size_t from = 0; from < keys.size(); from += kSideBySide) {
        const std::size_t n = std::min(kSideBySide, keys.size() - from);
        const Key6 *key = keys.data() + from;
        std::size_t base[kSideBySide] = {};
        for (std::size_t length = samples.size(); length > 1;) {
            const std::size_t half = length / 2;
            for (std::size_t j = 0; j < n; ++j) {
                const Key6 &sample = samples[base[j] + half];
                const bool up = (sample.high < key[j].high) | ((sample.high == key[j].high) & (sample.low <= key[j].low));
                base[j] += half & -std::size_t(up);
            }
            length -= half;
        }
        for (std::size_t j = 0; j < n; ++j) {
            base[j] *= kSampleStride;
            __builtin_prefetch(starts + (base[j] + kSampleStride / 2) * kStartSize);
        }
        for (std::size_t length = kSampleStride; length > 1;) {
            const std::size_t half = length / 2;
            for (std::size_t j = 0; j < n; ++j) {
                const std::size_t probe = base[j] + half;
                const bool up = probe < count && StartNotAbove(starts + probe * kStartSize, key[j]);
                base[j] += half & -std::size_t(up);
                __builtin_prefetch(starts + std::min(base[j] + (length - half) / 2, count - 1) * kStartSize);
            }
            length -= half;
        }
        for (std::size_t j = 0; j < n; ++j) {
            ranges[from + j] = StartNotAbove(starts + base[j] * kStartSize, key[j]) ? std::uint32_t(base[j]) : kNoRange;
            __builtin_prefetch(m_places.data() + base[j] * kIndexSize); // PlaceRow reads it next
        }
    }
}

void GeoDatabase6::FindRanges(std::span<const Key6> keys, std::span<std::uint32_t> ranges) const
{
    if (keys.size() >= kSampleFrom && m_rangeCount > 0) {
        SearchSamples(keys, ranges);
        return;
    }
    const unsigned char *const starts = m_starts.data();
    const std::size_t count = m_rangeCount;
    for (std::size_t from = 0; from < keys.size(); from += kSideBySide) {
        const std::size_t n = std::min(kSideBySide, keys.size() - from);
        const Key6 *key = keys.data() + from;
        if (count == 0) {
            std::fill_n(ranges.begin() + std::ptrdiff_t(from), n, kNoRange);
            continue;
        }
        // Each search keeps the last start known to lie at or below its key (BASE) and halves
        // the stretch above it; the stretch is the same length for all of them at every step.
        std::size_t base[kSideBySide] = {};
        std::size_t length = count;
        while (length > 1) {
            const std::size_t half = length / 2;
            for (std::size_t j = 0; j < n; ++j) {
                const bool up = StartNotAbove(starts + (base[j] + half) * kStartSize, key[j]);
                base[j] += half & -std::size_t(up);
                __builtin_prefetch(starts + (base[j] + (length - half) / 2) * kStartSize);
            }
            length -= half;
        }
        for (std::size_t j = 0; j < n; ++j)
            ranges[from + j] = StartNotAbove(starts + base[j] * kStartSize, key[j]) ? std::uint32_t(base[j]) : kNoRange;
    }
}

} // namespace quokka::geo
