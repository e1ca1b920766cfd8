#pragma once
// The bulk search of the IPv4 tables' ranges: records of a fixed size, each beginning with its
// first and last address (32-bit little-endian), in order and not overlapping. A list of every
// kStride-th record's first address, small enough to stay in the processor's caches, is
// searched first (only among the samples of the key's /16, found in an index), then the
// kStride records from the one found. The searches of many keys run side by side: while one
// waits for a record from memory the others compare theirs.
#include "base/little_endian.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace quokka::geo {

// The first addresses of every STRIDE-th record of a table, and where those of each /16 begin.
struct Samples {
    static constexpr int kIndexShift = 16;
    std::vector<std::uint32_t> firsts;
    // starts[t]: how many of FIRSTS lie below t << kIndexShift; the last one is their count.
    std::vector<std::uint32_t> starts;
    // How many halvings find, for any key, the last sample at or below it among those of its
    // /16 and the one before them: the most any /16 needs.
    std::size_t steps = 0;

    void Index()
    {
        starts.assign((std::size_t(1) << (32 - kIndexShift)) + 1, 0);
        for (const std::uint32_t first : firsts)
            ++starts[(first >> kIndexShift) + 1];
        for (std::size_t top = 1; top < starts.size(); ++top)
            starts[top] += starts[top - 1];
        for (std::size_t top = 0; top + 1 < starts.size(); ++top) {
            const std::size_t length = starts[top + 1] - (starts[top] > 0 ? starts[top] - 1 : 0);
            while ((std::size_t(1) << steps) < length)
                ++steps;
        }
    }
};

// A table's Samples, taken the first time they are asked for. A copy of the table's search
// starts without them and takes its own.
class FirstSamples {
public:
    FirstSamples() : m_state(std::make_unique<State>()) {}
    FirstSamples(const FirstSamples &) : FirstSamples() {}
    FirstSamples &operator=(const FirstSamples &)
    {
        m_state = std::make_unique<State>();
        return *this;
    }

    // Whether the samples are worth taking for a bulk search of KEYS keys in the records
    // RECORDS: once AFTER keys have been asked for in bulk, this call's included, or when they
    // are taken already; or at once when RECORDS lie in memory already (the first call looks),
    // as a table read lately does: then taking them reads nothing from the disk.
    bool Due(std::size_t keys, std::size_t after, std::span<const unsigned char> records) const
    {
        if (m_state->asked.fetch_add(keys, std::memory_order_relaxed) + keys >= after)
            return true;
        std::call_once(m_state->looked, [&] { m_state->inMemory = InMemory(records); });
        return m_state->inMemory;
    }

    // The samples of the COUNT records of SIZE bytes at RECORDS; the same table every time.
    const Samples &Get(const unsigned char *records, std::size_t size, std::size_t count, std::size_t stride) const
    {
        std::call_once(m_state->once, [&] {
            // On a large table each sample is a miss of its own, and its page's first: the
            // records kAhead samples on are asked for from memory first, so that the misses
            // overlap instead of following one another.
            constexpr std::size_t kAhead = 16;
            std::vector<std::uint32_t> &firsts = m_state->samples.firsts;
            firsts.reserve(count / stride + 1);
            for (std::size_t at = 0; at < count; at += stride) {
                if (at + kAhead * stride < count)
                    __builtin_prefetch(records + (at + kAhead * stride) * size);
                firsts.push_back(ReadLe32(records + at * size));
            }
            m_state->samples.Index();
        });
        return m_state->samples;
    }

private:
    // Whether all but at most a 64th of the pages of BYTES are in memory.
    static bool InMemory(std::span<const unsigned char> bytes)
    {
        const auto pageSize = std::uintptr_t(::sysconf(_SC_PAGESIZE));
        const auto start = reinterpret_cast<std::uintptr_t>(bytes.data()) & ~(pageSize - 1);
        const std::uintptr_t length = reinterpret_cast<std::uintptr_t>(bytes.data()) + bytes.size() - start;
        std::vector<unsigned char> pages((length + pageSize - 1) / pageSize);
        if (bytes.empty() || ::mincore(reinterpret_cast<void *>(start), length, pages.data()) != 0)
            return false;
        const auto missing = std::size_t(std::count_if(pages.begin(), pages.end(), [](unsigned char page) { return (page & 1) == 0; }));
        return missing <= pages.size() / 64;
    }

    struct State {
        std::once_flag once, looked;
        bool inMemory = false;
        Samples samples;
        std::atomic<std::size_t> asked{0};
    };
    std::unique_ptr<State> m_state;
};

// A key of a bulk search and where its answer goes.
struct PendingKey {
    std::uint32_t key;
    std::uint32_t index;
};

// KEYS with their indices, by their top kOrderBits bits (one counting pass) from kOrderFrom keys
// on, else as they come. Searches taken in this order read the records of one part of the
// table after another: the first read of each page of a large table is what a random key costs
// most, and pages met in rising order are mapped faster. The list is the calling thread's,
// kept from call to call (bulk callers come back with batches of one size) and valid until
// the next call.
inline std::span<const PendingKey> InSearchOrder(std::span<const std::uint32_t> keys)
{
    constexpr std::size_t kOrderFrom = 4096;
    constexpr int kOrderBits = 12, kShift = 32 - kOrderBits;
    thread_local std::vector<PendingKey> pending;
    pending.resize(keys.size());
    if (keys.size() < kOrderFrom) {
        for (std::size_t i = 0; i < keys.size(); ++i)
            pending[i] = {keys[i], std::uint32_t(i)};
        return pending;
    }
    std::vector<std::uint32_t> starts((1u << kOrderBits) + 1, 0);
    for (const std::uint32_t key : keys)
        ++starts[(key >> kShift) + 1];
    for (std::size_t bucket = 1; bucket < starts.size(); ++bucket)
        starts[bucket] += starts[bucket - 1];
    for (std::size_t i = 0; i < keys.size(); ++i)
        pending[starts[keys[i] >> kShift]++] = {keys[i], std::uint32_t(i)};
    return pending;
}

// For each of KEYS, FOUND(index, record): the record of RECORDS (COUNT records of kSize bytes,
// in order, SAMPLES of their every kStride-th first address) that holds the key, or nullptr.
// The keys go in groups: while the runs of one group are asked for from memory, every
// record's first address at once, the group before it searches its runs. FOUND is called in
// the order the keys are searched, each record asked for whole from memory a group before.
template <std::size_t kSize, std::size_t kStride, class Found>
void SearchSampled(const unsigned char *records, std::size_t count, const Samples &samples,
                   std::span<const PendingKey> keys, Found &&found)
{
    constexpr std::size_t kGroup = 16;
    if (samples.firsts.empty()) {
        for (const PendingKey &key : keys)
            found(key.index, nullptr);
        return;
    }
    const std::uint32_t *const sampled = samples.firsts.data();
    const std::uint32_t *const starts = samples.starts.data();
    const auto first = [records](std::size_t record) { return ReadLe32(records + record * kSize); };
    // The run of each key of the group at FROM: the record of the last sample at or below the
    // key (the first sample when all lie above it). The search starts from the last sample
    // of the /16s before the key's, which lies below the key, and halves the stretch above it
    // up to the end of the key's /16, the same number of times for every key (a halving of a
    // stretch of one changes nothing). Each run's first addresses are asked for (a record's
    // first 8 bytes may straddle two cache lines), or its bytes whole when records are small.
    const auto findRuns = [&](std::size_t from, std::size_t *base) {
        const std::size_t n = std::min(kGroup, keys.size() - from);
        std::size_t stretch[kGroup];
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint32_t top = keys[from + j].key >> Samples::kIndexShift;
            base[j] = starts[top] > 0 ? starts[top] - 1 : 0;
            stretch[j] = starts[top + 1] - base[j];
        }
        for (std::size_t step = 0; step < samples.steps; ++step) {
            for (std::size_t j = 0; j < n; ++j) {
                const std::size_t half = stretch[j] / 2;
                base[j] += half & -std::size_t(sampled[base[j] + half] <= keys[from + j].key);
                stretch[j] -= half;
            }
        }
        for (std::size_t j = 0; j < n; ++j) {
            base[j] *= kStride;
            const unsigned char *run = records + base[j] * kSize;
            const std::size_t length = std::min(kStride, count - base[j]);
            if constexpr (kSize >= 64) {
                for (std::size_t at = 0; at < length * kSize; at += kSize) {
                    __builtin_prefetch(run + at);
                    __builtin_prefetch(run + at + 7);
                }
            } else {
                for (std::size_t at = 0; at < length * kSize; at += 64)
                    __builtin_prefetch(run + at);
                __builtin_prefetch(run + length * kSize - 1);
            }
        }
    };
    std::size_t runs[2][kGroup];
    // The records found for the group before, each asked for whole, handed to FOUND one group
    // later, when they are there.
    const unsigned char *held[kGroup];
    std::size_t heldFrom = 0, heldCount = 0;
    const auto hand = [&] {
        for (std::size_t j = 0; j < heldCount; ++j)
            found(keys[heldFrom + j].index, held[j]);
    };
    if (!keys.empty())
        findRuns(0, runs[0]);
    for (std::size_t from = 0, group = 0; from < keys.size(); from += kGroup, group ^= 1) {
        if (from + kGroup < keys.size())
            findRuns(from + kGroup, runs[group ^ 1]);
        std::size_t *base = runs[group];
        const std::size_t n = std::min(kGroup, keys.size() - from);
        // The last record of each run at or below its key; a record past the table's end counts
        // as above every key.
        for (std::size_t length = kStride; length > 1;) {
            const std::size_t half = length / 2;
            for (std::size_t j = 0; j < n; ++j) {
                const std::size_t probe = base[j] + half;
                const bool up = (probe < count) & (first(std::min(probe, count - 1)) <= keys[from + j].key);
                base[j] += half & -std::size_t(up);
            }
            length -= half;
        }
        hand();
        for (std::size_t j = 0; j < n; ++j) {
            const std::uint32_t key = keys[from + j].key;
            const unsigned char *record = records + base[j] * kSize;
            const std::uint32_t last = ReadLe32(record + 4);
            const bool holds = (first(base[j]) <= key) & (key <= last);
            held[j] = holds ? record : nullptr;
            for (std::size_t at = 64; at < kSize; at += 64)
                __builtin_prefetch(record + at);
            if constexpr (kSize > 8)
                __builtin_prefetch(record + kSize - 1);
        }
        heldFrom = from;
        heldCount = n;
    }
    hand();
}

} // namespace quokka::geo
