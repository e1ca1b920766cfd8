// Benchmark: lookups per second on the built table against libmaxminddb's
// MMDB_lookup_string on the source, one million random addresses as text, the same for all:
// one search at a time (GeoDatabase::Find), and the bulk path (the addresses read by
// ParseDottedQuad, then searched together by FindKeys: in batches of a few thousand, as
// `--lookup -` meets them in a read, and all at once).
#include "geo/dotted_quad.h"
#include "geo/geo_database.h"
#include "geo/mapped_file.h"
#include "table_row.h"

#include <maxminddb.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace quokka::geo;
using namespace quokka::tools;

namespace {

// The processor time WORK takes: on a shared machine, time spent waiting for the processor
// is not counted against either side.
template <typename F>
double Seconds(F &&work)
{
    const auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    };
    const double start = now();
    work();
    return now() - start;
}

// The bulk path, as a caller that looks up batch after batch keeps its buffers.
struct BulkPath {
    std::vector<std::uint32_t> keys;
    std::vector<const unsigned char *> rows;

    // Looks up ADDRESSES BATCH at a time: how many matched, and the row found for each (as
    // MMDB_lookup_string gives its entry, without reading it).
    std::size_t Run(const GeoDatabase &db, const std::vector<std::string> &addresses, std::size_t batch,
                    std::vector<const unsigned char *> &found)
    {
        keys.reserve(batch);
        rows.resize(batch);
        std::size_t matched = 0;
        found.clear();
        for (std::size_t at = 0; at < addresses.size(); at += batch) {
            keys.clear();
            for (std::size_t i = at; i < std::min(at + batch, addresses.size()); ++i) {
                std::uint32_t key = 0;
                if (ParseDottedQuad(addresses[i], key))
                    keys.push_back(key);
            }
            db.FindKeys(keys, rows);
            for (std::size_t i = 0; i < keys.size(); ++i) {
                matched += rows[i] != nullptr;
                found.push_back(rows[i]);
            }
        }
        return matched;
    }
};

} // namespace

int main()
{
    const MappedFile table(QUOKKA_GEO_TABLE_FILE);
    MMDB_s mmdb{};
    if (!table.Error().empty() || MMDB_open(QUOKKA_GEO_SOURCE_MMDB, MMDB_MODE_MMAP, &mmdb) != MMDB_SUCCESS) {
        std::fprintf(stderr, "cannot open the table or the source\n");
        return 1;
    }
    const GeoDatabase db(table.Bytes());
    constexpr int kLookups = 1000000;
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> keys;
    std::vector<std::string> addresses;
    addresses.reserve(kLookups);
    for (int i = 0; i < kLookups; ++i)
        addresses.push_back(geotable::DottedQuad(keys(random)));

    // One untimed pass over the same keys first, so neither pays for page faults in the
    // timed pass that the other does not.
    std::size_t ours = 0, theirs = 0;
    for (const std::string &address : addresses) {
        GeoRecord record;
        ours += db.Find(address.c_str(), record);
        int gai = 0, error = 0;
        theirs += MMDB_lookup_string(&mmdb, address.c_str(), &gai, &error).found_entry;
    }
    // The bulk path in batches of the size one read of `--lookup -` brings, and all at once.
    const std::size_t batches[2] = {16384, addresses.size()};
    std::vector<const unsigned char *> bulkFound[2];
    BulkPath paths[2];
    for (int b = 0; b < 2; ++b)
        paths[b].Run(db, addresses, batches[b], bulkFound[b]);
    // The fastest of three rounds of each, taken in turn, so that a busy moment of the
    // machine does not fall on one side only.
    std::size_t bulk[2] = {0, 0};
    double ourSeconds = 1e9, bulkSeconds[2] = {1e9, 1e9}, theirSeconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        ours = theirs = 0;
        for (int b = 0; b < 2; ++b)
            bulkSeconds[b] = std::min(bulkSeconds[b], Seconds([&] { bulk[b] = paths[b].Run(db, addresses, batches[b], bulkFound[b]); }));
        ourSeconds = std::min(ourSeconds, Seconds([&] {
            for (const std::string &address : addresses) {
                GeoRecord record;
                ours += db.Find(address.c_str(), record);
            }
        }));
        theirSeconds = std::min(theirSeconds, Seconds([&] {
            for (const std::string &address : addresses) {
                int gai = 0, error = 0;
                theirs += MMDB_lookup_string(&mmdb, address.c_str(), &gai, &error).found_entry;
            }
        }));
    }
    MMDB_close(&mmdb);
    // The bulk path must find the very rows the single search finds.
    std::size_t differing = 0;
    for (int b = 0; b < 2; ++b) {
        differing += bulkFound[b].size() == addresses.size() ? 0 : addresses.size();
        for (std::size_t i = 0; i < bulkFound[b].size() && differing == 0; ++i) {
            std::uint32_t key = 0;
            differing += !ParseDottedQuad(addresses[i], key) || db.FindKey(key) != bulkFound[b][i];
        }
    }
    std::printf("table: %zu rows; %d random addresses, %zu matched here (%zu and %zu in bulk), %zu found by libmaxminddb\n",
                db.RecordCount(), kLookups, ours, bulk[0], bulk[1], theirs);
    std::printf("fastest of 3 rounds, processor time:\n");
    std::printf("GeoDatabase::Find:            %.0f lookups/s\n", kLookups / ourSeconds);
    std::printf("bulk, 16384 at a time:        %.0f lookups/s\n", kLookups / bulkSeconds[0]);
    std::printf("bulk, all at once:            %.0f lookups/s\n", kLookups / bulkSeconds[1]);
    std::printf("MMDB_lookup_string:           %.0f lookups/s\n", kLookups / theirSeconds);
    std::printf("ratio (Find / libmaxminddb): %.2f\n", theirSeconds / ourSeconds);
    std::printf("ratio (bulk, 16384 at a time / libmaxminddb): %.2f\n", theirSeconds / bulkSeconds[0]);
    std::printf("ratio (bulk, all at once / libmaxminddb): %.2f\n", theirSeconds / bulkSeconds[1]);
    if (differing > 0)
        std::fprintf(stderr, "the bulk path and the single search disagree\n");
    return ours > 0 && bulk[0] == ours && bulk[1] == ours && differing == 0 ? 0 : 1;
}
