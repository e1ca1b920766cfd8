// Benchmark: lookups per second on the built table against libmaxminddb's
// MMDB_lookup_string on the source, one million random addresses as text, the same for all:
// one search at a time (GeoDatabase::Find), and the bulk path (the addresses read by
// ParseDottedQuad, then searched together by FindKeys: in batches of a few thousand, as
// `--lookup -` meets them in a read, and all at once). The same for the IPv6 table against its
// source: one million random addresses of the prefixes where the source's networks lie, read by
// ParseIpv6 and searched one at a time (FindRange) and in bulk (FindRanges).
#include "base/net_address.h"
#include "geo/dotted_quad.h"
#include "geo/geo_database.h"
#include "geo/geo_database6.h"
#include "geo/ipv6_text.h"
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

// The IPv6 lookups; false when the bulk path and the single search disagree.
bool Ipv6Bench()
{
    const MappedFile table(QUOKKA_GEO6_TABLE_FILE);
    MMDB_s mmdb{};
    if (!table.Error().empty() || MMDB_open(QUOKKA_GEO6_SOURCE_MMDB, MMDB_MODE_MMAP, &mmdb) != MMDB_SUCCESS) {
        std::fprintf(stderr, "cannot open the IPv6 table or its source\n");
        return false;
    }
    const GeoDatabase6 db(table.Bytes());
    constexpr int kLookups = 1000000;
    static const unsigned kTops[] = {0x2001, 0x2400, 0x2600, 0x2a00, 0x2800, 0x2c00};
    std::mt19937 random(8);
    std::vector<std::string> addresses;
    for (int i = 0; i < kLookups; ++i) {
        const unsigned top = kTops[random() % std::size(kTops)];
        char text[64];
        std::snprintf(text, sizeof text, "%x:%x:%x:%x::%x", top | (top == 0x2001 ? 0 : unsigned(random() % 0x1000)),
                      unsigned(random() % 0x10000), unsigned(random() % 0x10000), unsigned(random() % 0x10000),
                      unsigned(random() % 0x10000));
        addresses.emplace_back(text);
    }
    const auto parsed = [](const std::string &address) {
        Key6 key;
        ParseIpv6(address, key);
        return key;
    };
    const auto single = [&] {
        std::size_t found = 0;
        for (const std::string &address : addresses)
            found += db.FindKey(parsed(address)) != nullptr;
        return found;
    };
    std::vector<Key6> keys;
    std::vector<std::uint32_t> ranges, all;
    const auto bulk = [&](std::size_t batch) {
        std::size_t found = 0;
        all.clear();
        for (std::size_t at = 0; at < addresses.size(); at += batch) {
            keys.clear();
            for (std::size_t i = at; i < std::min(at + batch, addresses.size()); ++i)
                keys.push_back(parsed(addresses[i]));
            ranges.resize(keys.size());
            db.FindRanges(keys, ranges);
            for (const std::uint32_t range : ranges) {
                found += db.PlaceRow(range) != nullptr;
                all.push_back(range);
            }
        }
        return found;
    };
    const auto theirs = [&] {
        std::size_t found = 0;
        for (const std::string &address : addresses) {
            int gai = 0, error = 0;
            found += MMDB_lookup_string(&mmdb, address.c_str(), &gai, &error).found_entry;
        }
        return found;
    };
    std::size_t counts[4] = {single(), bulk(16384), bulk(addresses.size()), theirs()}; // untimed, for the page cache
    double seconds[4] = {1e9, 1e9, 1e9, 1e9};
    for (int round = 0; round < 3; ++round) {
        seconds[0] = std::min(seconds[0], Seconds([&] { counts[0] = single(); }));
        seconds[1] = std::min(seconds[1], Seconds([&] { counts[1] = bulk(16384); }));
        seconds[2] = std::min(seconds[2], Seconds([&] { counts[2] = bulk(addresses.size()); }));
        seconds[3] = std::min(seconds[3], Seconds([&] { counts[3] = theirs(); }));
    }
    MMDB_close(&mmdb);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < addresses.size(); ++i)
        differing += db.FindRange(Key6::FromBytes(quokka::NetAddress::Parse(addresses[i])->V6Bytes())) != all[i];
    std::printf("IPv6 table: %zu ranges, %zu places; %d random addresses, %zu placed here (%zu and %zu in bulk), "
                "%zu found by libmaxminddb\n", db.RangeCount(), db.PlaceCount(), kLookups, counts[0], counts[1], counts[2],
                counts[3]);
    std::printf("fastest of 3 rounds, processor time:\n");
    std::printf("GeoDatabase6, one at a time:  %.0f lookups/s\n", kLookups / seconds[0]);
    std::printf("bulk, 16384 at a time:        %.0f lookups/s\n", kLookups / seconds[1]);
    std::printf("bulk, all at once:            %.0f lookups/s\n", kLookups / seconds[2]);
    std::printf("MMDB_lookup_string:           %.0f lookups/s\n", kLookups / seconds[3]);
    std::printf("ratio (one at a time / libmaxminddb): %.2f\n", seconds[3] / seconds[0]);
    std::printf("ratio (bulk, 16384 at a time / libmaxminddb): %.2f\n", seconds[3] / seconds[1]);
    std::printf("ratio (bulk, all at once / libmaxminddb): %.2f\n", seconds[3] / seconds[2]);
    if (differing > 0)
        std::fprintf(stderr, "the IPv6 bulk path and the single search disagree on %zu addresses\n", differing);
    return differing == 0 && counts[1] == counts[0] && counts[2] == counts[0];
}

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
    const bool ipv6 = Ipv6Bench();
    return ours > 0 && bulk[0] == ours && bulk[1] == ours && differing == 0 && ipv6 ? 0 : 1;
}
