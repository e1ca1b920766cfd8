// Benchmark: lookups per second on the built table against libmaxminddb's
// MMDB_lookup_string on the source, one million random keys, the same keys for both.
#include "geo/geo_database.h"
#include "geo/mapped_file.h"
#include "table_row.h"

#include <maxminddb.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

template <typename F>
double Seconds(F &&work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    const MappedFile table(QUOKKA_GEO_TABLE_FILE);
    MMDB_s mmdb{};
    if (!table.error().empty() || MMDB_open(QUOKKA_GEO_SOURCE_MMDB, MMDB_MODE_MMAP, &mmdb) != MMDB_SUCCESS) {
        std::fprintf(stderr, "cannot open the table or the source\n");
        return 1;
    }
    const GeoDatabase db(table.bytes());
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
    ours = theirs = 0;
    const double ourSeconds = Seconds([&] {
        for (const std::string &address : addresses) {
            GeoRecord record;
            ours += db.Find(address.c_str(), record);
        }
    });
    const double theirSeconds = Seconds([&] {
        for (const std::string &address : addresses) {
            int gai = 0, error = 0;
            theirs += MMDB_lookup_string(&mmdb, address.c_str(), &gai, &error).found_entry;
        }
    });
    MMDB_close(&mmdb);
    std::printf("table: %zu rows; %d random addresses, %zu matched here, %zu found by libmaxminddb\n",
                db.RecordCount(), kLookups, ours, theirs);
    std::printf("GeoDatabase::Find:   %.0f lookups/s\n", kLookups / ourSeconds);
    std::printf("MMDB_lookup_string:  %.0f lookups/s\n", kLookups / theirSeconds);
    std::printf("ratio (ours / libmaxminddb): %.2f\n", theirSeconds / ourSeconds);
    return ours > 0 ? 0 : 1;
}
