#include "geo/geo_database.h"

#include "base/little_endian.h"
#include "geo/dotted_quad.h"
#include "geo/range_order.h"
#include "geo/table_in_use.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <vector>

using quokka::ReadLe32;
namespace quokka::geo {

namespace {

// One search of FindKeys under way: FindKey's bounds, for the key at INDEX.
struct Search {
    std::int64_t low, high;
    std::uint32_t key;
    std::uint32_t index;
};

// How many searches FindKeys keeps under way: enough for each one's next row to arrive from
// memory while the others take a step.
constexpr int kInterleaved = 32;

// FindKeys searches the samples first in lists of kSampleRowsFrom keys or more once
// kSampleRowsAfter keys have been searched in bulk: taking them reads every page of the table,
// which only that many keys would read anyway. A stream read through a pipe comes in lists
// of a few thousand. A table whose pages are in memory already takes them at the first list.
constexpr std::size_t kSampleRowsFrom = 1024, kSampleRowsAfter = 32768;

} // namespace

const GeoDatabase &GeoDatabase::Instance()
{
    return TableInUse<GeoDatabase>::Instance();
}

bool GeoDatabase::UseFile(const std::string &path)
{
    return TableInUse<GeoDatabase>::UseFile(path);
}

std::string GeoDatabase::FileInUse(bool *refused)
{
    return TableInUse<GeoDatabase>::FileInUse(refused);
}

std::string GeoDatabase::FileProblem(std::span<const unsigned char> table)
{
    if (table.empty())
        return "the file is empty";
    if (table.size() % GeoRecord::kSize != 0)
        return "its size is not a multiple of 124 bytes";
    return OrderProblem(table);
}

std::size_t GeoDatabase::OrderedRows(std::span<const unsigned char> table)
{
    std::size_t rows = table.size() / GeoRecord::kSize;
    if (rows > 1 && ReadLe32(table.data() + (rows - 1) * GeoRecord::kSize + GeoRecord::kFirstAddress) == 0
        && ReadLe32(table.data() + (rows - 1) * GeoRecord::kSize + GeoRecord::kLastAddress) == 0)
        --rows; // the terminating row
    return rows;
}

std::string GeoDatabase::OrderProblem(std::span<const unsigned char> table)
{
    const std::size_t rows = OrderedRows(table);
    std::string problem;
    ForEachOrderFault(table.first(rows * GeoRecord::kSize), GeoRecord::kSize, [&](std::size_t row, const char *what) {
        const unsigned char *at = table.data() + row * GeoRecord::kSize;
        problem = "row " + std::to_string(row) + " (";
        AppendDottedQuad(problem, ReadLe32(at + GeoRecord::kFirstAddress));
        problem += '-';
        AppendDottedQuad(problem, ReadLe32(at + GeoRecord::kLastAddress));
        problem += std::string("): ") + what;
        return false;
    });
    return problem;
}

const unsigned char *GeoDatabase::FindKey(std::uint32_t key) const
{
    // 64-bit row numbers: a table file may hold more than 2^31 rows.
    const auto count = static_cast<std::int64_t>(RecordCount());
    std::int64_t low = 0;
    std::int64_t high = count - 1;
    while (low <= high) {
        const std::int64_t mid = low + (high - low) / 2;
        const unsigned char *row = m_table.data() + std::size_t(mid) * GeoRecord::kSize;
        const std::uint32_t first = ReadLe32(row + GeoRecord::kFirstAddress);
        const std::uint32_t last = ReadLe32(row + GeoRecord::kLastAddress);
        if (first <= key && key <= last)
            return row;
        if (last < key) {
            low = mid + 1;
        } else {
            if (mid == low)
                return nullptr;
            high = mid - 1;
        }
    }
    return nullptr;
}

void GeoDatabase::FindKeys(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows) const
{
    FindEach(keys, rows, [](std::size_t, const unsigned char *) {});
}

void GeoDatabase::FindKeys(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows,
                           std::span<GeoRecord> copies) const
{
    FindEach(keys, rows, [copies](std::size_t i, const unsigned char *row) {
        std::memcpy(copies[i].bytes.data(), row, GeoRecord::kSize);
    });
}

template <class Found>
void GeoDatabase::FindEach(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows, Found &&foundRow) const
{
    const unsigned char *const table = m_table.data();
    if (const std::size_t ordered = OrderedRows(m_table);
        keys.size() >= kSampleRowsFrom && ordered > 0 && m_samples.Due(keys.size(), kSampleRowsAfter, m_table)) {
        const Samples &samples = m_samples.Get(table, GeoRecord::kSize, ordered, kSampleStride);
        SearchSampled<GeoRecord::kSize, kSampleStride>(table, ordered, samples, InSearchOrder(keys),
                                                       [&](std::size_t i, const unsigned char *row) {
                                                           rows[i] = row;
                                                           if (row)
                                                               foundRow(i, row);
                                                       });
        return;
    }
    const auto count = static_cast<std::int64_t>(RecordCount());
    if (count == 0) {
        std::fill(rows.begin(), rows.begin() + std::ptrdiff_t(keys.size()), nullptr);
        return;
    }
    const auto nextRow = [table](const Search &s) {
        return table + std::size_t(s.low + (s.high - s.low) / 2) * GeoRecord::kSize;
    };
    // The row a search reads next is asked for one step ahead (its first 8 bytes may straddle
    // two cache lines). Written out at each place: GCC drops a prefetch left alone in a
    // function of its own as a call without effect.
    const std::span<const PendingKey> pending = InSearchOrder(keys);
    Search searches[kInterleaved];
    int active = 0;
    std::size_t next = 0;
    for (; active < kInterleaved && next < pending.size(); ++next) {
        Search &s = searches[active++];
        s = {0, count - 1, pending[next].key, pending[next].index};
        __builtin_prefetch(nextRow(s));
        __builtin_prefetch(nextRow(s) + 7);
    }
    while (active > 0) {
        for (int i = 0; i < active;) {
            // One step of FindKey's loop, computed with masks rather than branches: a branch
            // on a random key goes wrong half the time and stops the other searches with it.
            Search &s = searches[i];
            const std::int64_t mid = s.low + (s.high - s.low) / 2;
            const unsigned char *row = table + std::size_t(mid) * GeoRecord::kSize;
            const std::uint32_t first = ReadLe32(row + GeoRecord::kFirstAddress);
            const std::uint32_t last = ReadLe32(row + GeoRecord::kLastAddress);
            const unsigned right = last < s.key;
            const unsigned found = (right ^ 1u) & unsigned(first <= s.key);
            const unsigned ended = found | ((right ^ 1u) & unsigned(mid == s.low));
            const std::int64_t rightMask = -std::int64_t(right);
            s.low += (mid + 1 - s.low) & rightMask;
            s.high = mid - 1 + ((s.high - mid + 1) & rightMask);
            if ((ended | unsigned(s.low > s.high)) == 0) {
                __builtin_prefetch(nextRow(s));
                __builtin_prefetch(nextRow(s) + 7);
                ++i;
                continue;
            }
            rows[s.index] = found ? row : nullptr;
            if (found)
                foundRow(s.index, row);
            if (next < pending.size()) {
                s = {0, count - 1, pending[next].key, pending[next].index};
                ++next;
                __builtin_prefetch(nextRow(s));
                __builtin_prefetch(nextRow(s) + 7);
                ++i;
            } else {
                s = searches[--active]; // the last search moves here and takes its step next
            }
        }
    }
}

bool GeoDatabase::Find(const char *address, GeoRecord &record) const
{
    in_addr parsed{};
    if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1)
        return false;
    const unsigned char *row = FindKey(ntohl(parsed.s_addr));
    if (row == nullptr)
        return false;
    std::memcpy(record.bytes.data(), row, GeoRecord::kSize);
    return true;
}

} // namespace quokka::geo
