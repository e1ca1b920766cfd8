#pragma once
// The geolocation table in use: the one linked into the program, or a table file mapped in
// its place. Rows are searched where they lie; nothing is parsed, indexed or copied.
#include "geo/geo_record.h"
#include "geo/sampled_search.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace quokka::geo {

// The table linked into the program (geo/embedded_table.cpp); without it, an empty default.
std::span<const unsigned char> EmbeddedGeoTable();

class GeoDatabase {
public:
    explicit GeoDatabase(std::span<const unsigned char> table) : m_table(table) {}

    // The process-wide table: the file given to UseFile, else the embedded table.
    static const GeoDatabase &Instance();
    // Maps PATH as the process-wide table. A file that is missing, empty, not a whole number
    // of rows or not in order (OrderProblem) gets one message on standard error and leaves the
    // table empty.
    static bool UseFile(const std::string &path);
    // The file given to UseFile, empty while the linked-in table is in use; REFUSED tells
    // whether it failed its checks.
    static std::string FileInUse(bool *refused = nullptr);
    // The first row of TABLE that the search cannot rely on, as "row N (FIRST-LAST): what";
    // empty when every row lies after the one before it. A last row of 0.0.0.0-0.0.0.0 ends
    // the table and is left out.
    static std::string OrderProblem(std::span<const unsigned char> table);
    // Why TABLE, a whole file, cannot be used: empty, not a whole number of rows, or an
    // OrderProblem; empty when it can.
    static std::string FileProblem(std::span<const unsigned char> table);
    // The table linked into the program; empty in builds without it.
    static std::span<const unsigned char> LinkedTable() { return EmbeddedGeoTable(); }
    static constexpr const char *kTableName = "geolocation table";
    static constexpr const char *kWithoutTable = "places will not be shown";

    std::size_t RecordCount() const { return m_table.size() / GeoRecord::kSize; }
    // Copies the row holding ADDRESS (dotted-decimal IPv4) into RECORD and returns true;
    // without a match RECORD is left as it was.
    bool Find(const char *address, GeoRecord &record) const;
    // The same search on a key in host order (a*2^24 + b*2^16 + c*2^8 + d).
    const unsigned char *FindKey(std::uint32_t key) const;
    // FindKey for every key at once: ROWS[i] = FindKey(KEYS[i]), ROWS as long as KEYS (fewer
    // than 2^32 keys), on a table in order (OrderProblem empty, as every table in use is); on
    // one out of order, ROWS[i] is a row holding KEYS[i] or nullptr. The searches are
    // interleaved so that the memory reads of many of them are under way together, and in a
    // long list taken in the order of the keys' top bits. Once 32768 keys have been searched in
    // lists of 1024 or more, such a list first searches every 8th row's first address, copied
    // once (the first time, reading every page of the table) into a list that mostly stays in
    // the processor's caches, then the 8 rows from the one found.
    void FindKeys(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows) const;
    // FindKeys that also copies each row found into COPIES[i] (as long as KEYS), where the
    // searches find them: a long list finds its rows in the order of the table, which reads
    // them much faster than the order of the keys would. Where no row holds the key, COPIES[i]
    // is left as it was.
    void FindKeys(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows,
                  std::span<GeoRecord> copies) const;

private:
    static constexpr std::size_t kSampleStride = 8;
    // The rows of TABLE a search can rely on: all but a terminating row of 0.0.0.0-0.0.0.0.
    static std::size_t OrderedRows(std::span<const unsigned char> table);
    // FindKeys, calling FOUND(i, row) for each key found.
    template <class Found>
    void FindEach(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows, Found &&found) const;

    std::span<const unsigned char> m_table;
    FirstSamples m_samples; // of the OrderedRows, every kSampleStride-th
};

} // namespace quokka::geo
