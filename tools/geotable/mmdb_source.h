#pragma once
// The source database (an IPv4 or IPv6 MaxMind DB file with country_code, state1, city,
// latitude and longitude), opened for walking its networks in address order and for reading
// places.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "geo/geo_database6.h"

#include <maxminddb.h>

namespace quokka::tools::geotable {

// A record of the source as it stands there (UTF-8 texts, the coordinates as stored).
struct SourcePlace {
    std::string countryCode;
    std::string region; // state1
    std::string city;
    double latitude = 0.0;
    double longitude = 0.0;
};

class MmdbSource {
public:
    // Opens PATH; throws std::runtime_error when it is not a MaxMind DB of IPv4 or IPv6.
    explicit MmdbSource(const std::string &path);
    ~MmdbSource();
    MmdbSource(const MmdbSource &) = delete;
    MmdbSource &operator=(const MmdbSource &) = delete;

    // Calls VISIT for every network of the tree in address order: FIRST..LAST with the
    // offset of its record in the data section, or no offset where the tree has no record.
    using Visitor = std::function<void(std::uint32_t first, std::uint32_t last,
                                       std::optional<std::uint32_t> record)>;
    // An IPv4 database only.
    void Walk(const Visitor &visit) const;
    // The same over the 128-bit tree of an IPv6 database.
    using Visitor6 = std::function<void(geo::Key6 first, geo::Key6 last, std::optional<std::uint32_t> record)>;
    void Walk6(const Visitor6 &visit) const;
    bool IsIpv6() const { return m_db.metadata.ip_version == 6; }

    // The record at OFFSET (from walk) or of ADDRESS (either family's text, via
    // MMDB_lookup_string).
    SourcePlace PlaceAt(std::uint32_t offset) const;
    std::optional<SourcePlace> Lookup(const char *address) const;

    const MMDB_s &Handle() const { return m_db; }

private:
    SourcePlace Read(MMDB_entry_s entry) const;

    MMDB_s m_db{};
};

// A coordinate of the source as a double: a single-precision value is taken as the decimal
// it was written from (its shortest round-trip text), so 37.422001f becomes 37.422001.
double SourceCoordinate(const MMDB_entry_data_s &data);

} // namespace quokka::tools::geotable
