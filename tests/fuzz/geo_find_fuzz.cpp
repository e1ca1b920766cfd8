// Fuzz target for the table search: a small table of rows in any order, with any ranges and
// stray bytes after the last whole row, searched with any address text. A row found must hold
// the address; on a table in order without overlaps, an address inside a row must be found.
#include "base/little_endian.h"
#include "geo/geo_database.h"
#include "tests/fuzz/fuzz_check.h"

#include <arpa/inet.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using quokka::ReadLe32;
using quokka::WriteLe32;
using quokka::geo::GeoDatabase;
using quokka::geo::GeoRecord;

namespace {

// Rows of the table: each starts with 8 bytes (first, last address) from the input; the
// rest of the row is a fill byte. A trailing byte count below a row is kept as stray bytes.
std::vector<unsigned char> TableFrom(const std::uint8_t *&data, std::size_t &size)
{
    std::vector<unsigned char> table;
    const std::size_t rows = size ? data[0] % 9 : 0;
    const std::size_t stray = size > 1 ? data[1] % GeoRecord::kSize : 0;
    const std::size_t skip = size >= 2 ? 2 : size;
    data += skip;
    size -= skip;
    for (std::size_t row = 0; row < rows && size >= 8; ++row) {
        std::vector<unsigned char> bytes(GeoRecord::kSize, static_cast<unsigned char>(row + 'A'));
        WriteLe32(bytes.data(), ReadLe32(data));
        WriteLe32(bytes.data() + 4, ReadLe32(data + 4));
        table.insert(table.end(), bytes.begin(), bytes.end());
        data += 8;
        size -= 8;
    }
    table.resize(table.size() + stray, 0x5A);
    return table;
}

bool InOrderWithoutOverlaps(const GeoDatabase &database, const std::vector<unsigned char> &table)
{
    for (std::size_t i = 0; i < database.RecordCount(); ++i) {
        const unsigned char *row = table.data() + i * GeoRecord::kSize;
        if (ReadLe32(row) > ReadLe32(row + 4))
            return false;
        if (i > 0 && ReadLe32(row - GeoRecord::kSize + 4) >= ReadLe32(row))
            return false;
    }
    return true;
}

bool AnyRowHolds(const GeoDatabase &database, const std::vector<unsigned char> &table, std::uint32_t key)
{
    for (std::size_t i = 0; i < database.RecordCount(); ++i) {
        const unsigned char *row = table.data() + i * GeoRecord::kSize;
        if (ReadLe32(row) <= key && key <= ReadLe32(row + 4))
            return true;
    }
    return false;
}

void CheckKey(const GeoDatabase &database, const std::vector<unsigned char> &table, std::uint32_t key)
{
    const unsigned char *row = database.FindKey(key);
    if (row != nullptr) {
        const std::size_t offset = std::size_t(row - table.data());
        Check(offset % GeoRecord::kSize == 0 && offset / GeoRecord::kSize < database.RecordCount());
        Check(ReadLe32(row) <= key && key <= ReadLe32(row + 4));
    } else if (InOrderWithoutOverlaps(database, table)) {
        Check(!AnyRowHolds(database, table, key));
    }
}

} // namespace

// The input: row count and stray byte count, the rows' ranges, then the address text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::vector<unsigned char> table = TableFrom(data, size);
    const GeoDatabase database({table.data(), table.size()});
    Check(database.RecordCount() == table.size() / GeoRecord::kSize);

    const std::string text(reinterpret_cast<const char *>(data), size);
    GeoRecord record;
    record.bytes.fill(0xEE);
    const GeoRecord untouched = record;
    in_addr parsed{};
    const bool valid = inet_pton(AF_INET, text.c_str(), &parsed) == 1;
    const std::uint32_t key = ntohl(parsed.s_addr);
    const bool found = database.Find(text.c_str(), record);
    Check(!found || valid);
    if (found) {
        Check(database.FindKey(key) != nullptr);
        Check(std::memcmp(record.bytes.data(), database.FindKey(key), GeoRecord::kSize) == 0);
        Check(record.FirstAddress() <= key && key <= record.LastAddress());
    } else {
        Check(record.bytes == untouched.bytes);
    }
    if (valid)
        CheckKey(database, table, key);
    // The range ends of every row, and the addresses beside them, are the likeliest mistakes.
    for (std::size_t i = 0; i < database.RecordCount(); ++i) {
        const unsigned char *row = table.data() + i * GeoRecord::kSize;
        for (const std::uint32_t end : {ReadLe32(row), ReadLe32(row + 4)}) {
            CheckKey(database, table, end);
            CheckKey(database, table, end - 1);
            CheckKey(database, table, end + 1);
        }
    }
    Check(!database.Find(nullptr, record));
    return 0;
}
