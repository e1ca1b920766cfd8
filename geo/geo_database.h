#pragma once
// The geolocation table in use: the one linked into the program, or a table file mapped in
// its place. Rows are searched where they lie; nothing is parsed, indexed or copied.
#include "geo/geo_record.h"

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
    // than 2^32 keys). The searches take the same steps; they are interleaved so that the
    // memory reads of many of them are under way together, and in a long list they start in
    // the order of the keys' top bits, so that those under way together probe nearby rows.
    void FindKeys(std::span<const std::uint32_t> keys, std::span<const unsigned char *> rows) const;

private:
    std::span<const unsigned char> m_table;
};

} // namespace quokka::geo
