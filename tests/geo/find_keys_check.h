#pragma once
// FindKeys held against FindKey: the keys around every row's bounds, and the first result
// where the two differ or a row does not hold its key.
#include "base/little_endian.h"
#include "geo/geo_database.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace testgeo {

// first-1, first, last and last+1 of every whole row of TABLE.
inline std::vector<std::uint32_t> BoundaryKeys(std::span<const unsigned char> table)
{
    std::vector<std::uint32_t> keys;
    for (std::size_t at = 0; at + quokka::geo::GeoRecord::kSize <= table.size(); at += quokka::geo::GeoRecord::kSize) {
        const std::uint32_t first = quokka::ReadLe32(table.data() + at + quokka::geo::GeoRecord::kFirstAddress);
        const std::uint32_t last = quokka::ReadLe32(table.data() + at + quokka::geo::GeoRecord::kLastAddress);
        keys.insert(keys.end(), {first - 1, first, last, last + 1});
    }
    return keys;
}

// Empty when FindKeys gives FindKey's row for every key, each row holding its key; else what
// went wrong first. On a table out of order (IN_ORDER false) only that each row found holds its
// key.
inline std::optional<std::string> FindKeysFault(const quokka::geo::GeoDatabase &db, std::span<const std::uint32_t> keys,
                                                bool inOrder = true)
{
    std::vector<const unsigned char *> rows(keys.size(), reinterpret_cast<const unsigned char *>(1));
    db.FindKeys(keys, rows);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const unsigned char *row = rows[i];
        if (inOrder && row != db.FindKey(keys[i]))
            return "key " + std::to_string(keys[i]) + " (at " + std::to_string(i) + "): not FindKey's row";
        if (row == reinterpret_cast<const unsigned char *>(1))
            return "key " + std::to_string(keys[i]) + ": no answer";
        if (row && !(quokka::ReadLe32(row) <= keys[i] && keys[i] <= quokka::ReadLe32(row + 4)))
            return "key " + std::to_string(keys[i]) + ": a row that does not hold it";
    }
    return std::nullopt;
}

} // namespace testgeo
