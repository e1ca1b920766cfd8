#include "geo/geo_database.h"

#include "geo/mapped_file.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<MappedFile> &FileTable()
{
    static std::unique_ptr<MappedFile> file;
    return file;
}

// One search of FindKeys under way: FindKey's bounds, for the key at INDEX.
struct Search {
    std::int32_t low, high;
    std::uint32_t key;
    std::size_t index;
};

// How many searches FindKeys keeps under way: enough for each one's next row to arrive from
// memory while the others take a step.
constexpr int kInterleaved = 16;

} // namespace

const GeoDatabase &GeoDatabase::Instance()
{
    static GeoDatabase embedded(EmbeddedGeoTable());
    if (const auto &file = FileTable())
        return *file->database;
    return embedded;
}

bool GeoDatabase::UseFile(const std::string &path)
{
    auto file = std::make_unique<MappedFile>(path);
    std::string problem = file->error();
    if (problem.empty() && file->size() == 0)
        problem = "the file is empty";
    else if (problem.empty() && file->size() % GeoRecord::kSize != 0)
        problem = "its size is not a multiple of 124 bytes";
    if (!problem.empty()) {
        std::fprintf(stderr, "quokka-quokka: geolocation table %s not used: %s; places will not be shown\n",
                     path.c_str(), problem.c_str());
        file = std::make_unique<MappedFile>();
    }
    file->database = std::make_unique<GeoDatabase>(file->bytes());
    FileTable() = std::move(file);
    return problem.empty();
}

const unsigned char *GeoDatabase::FindKey(std::uint32_t key) const
{
    const auto count = static_cast<std::int32_t>(RecordCount());
    std::int32_t low = 0;
    std::int32_t high = count - 1;
    while (low <= high) {
        const std::int32_t mid = low + (high - low) / 2;
        const unsigned char *row = m_table.data() + std::size_t(mid) * GeoRecord::kSize;
        const std::uint32_t first = GeoRecord::ReadU32(row + GeoRecord::kFirstAddress);
        const std::uint32_t last = GeoRecord::ReadU32(row + GeoRecord::kLastAddress);
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
    const unsigned char *const table = m_table.data();
    const auto count = static_cast<std::int32_t>(RecordCount());
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
    Search searches[kInterleaved];
    int active = 0;
    std::size_t next = 0;
    for (; active < kInterleaved && next < keys.size(); ++next) {
        Search &s = searches[active++];
        s = {0, count - 1, keys[next], next};
        __builtin_prefetch(nextRow(s));
        __builtin_prefetch(nextRow(s) + 7);
    }
    while (active > 0) {
        for (int i = 0; i < active;) {
            // One step of FindKey's loop, computed with masks rather than branches: a branch
            // on a random key goes wrong half the time and stops the other searches with it.
            Search &s = searches[i];
            const std::int32_t mid = s.low + (s.high - s.low) / 2;
            const unsigned char *row = table + std::size_t(mid) * GeoRecord::kSize;
            const std::uint32_t first = GeoRecord::ReadU32(row + GeoRecord::kFirstAddress);
            const std::uint32_t last = GeoRecord::ReadU32(row + GeoRecord::kLastAddress);
            const unsigned right = last < s.key;
            const unsigned found = (right ^ 1u) & unsigned(first <= s.key);
            const unsigned ended = found | ((right ^ 1u) & unsigned(mid == s.low));
            const std::int32_t rightMask = -std::int32_t(right);
            s.low += (mid + 1 - s.low) & rightMask;
            s.high = mid - 1 + ((s.high - mid + 1) & rightMask);
            if ((ended | unsigned(s.low > s.high)) == 0) {
                __builtin_prefetch(nextRow(s));
                __builtin_prefetch(nextRow(s) + 7);
                ++i;
                continue;
            }
            rows[s.index] = found ? row : nullptr;
            if (next < keys.size()) {
                s = {0, count - 1, keys[next], next};
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
