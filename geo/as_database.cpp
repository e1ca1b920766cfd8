#include "geo/as_database.h"

#include "geo/dotted_quad.h"
#include "geo/geo_database.h"
#include "geo/geo_record.h"
#include "geo/mapped_file.h"
#include "geo/range_order.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

struct FileTable {
    std::unique_ptr<MappedFile> file;
    std::unique_ptr<AsDatabase> database;
};

FileTable &UsedFile()
{
    static FileTable table;
    return table;
}

std::uint32_t U32(std::span<const unsigned char> bytes, std::size_t offset)
{
    return GeoRecord::ReadU32(bytes.data() + offset);
}

} // namespace

std::string AsDatabase::Problem(std::span<const unsigned char> table)
{
    if (table.size() < kHeaderSize)
        return "it is shorter than its header";
    if (std::memcmp(table.data(), kMagic.data(), kMagic.size()) != 0)
        return "it is not an AS table";
    const std::uint64_t ranges = U32(table, 8), systems = U32(table, 12), names = U32(table, 16);
    if (U32(table, 20) != 0)
        return "its header is not one this program reads";
    if (kHeaderSize + ranges * kRangeSize + systems * kSystemSize + names != table.size())
        return "its size does not match its header";
    return {};
}

AsDatabase::AsDatabase(std::span<const unsigned char> table)
{
    if (!Problem(table).empty())
        return;
    m_rangeCount = U32(table, 8);
    m_systemCount = U32(table, 12);
    m_ranges = table.subspan(kHeaderSize, m_rangeCount * kRangeSize);
    m_systems = table.subspan(kHeaderSize + m_ranges.size(), m_systemCount * kSystemSize);
    m_names = table.subspan(kHeaderSize + m_ranges.size() + m_systems.size());
}

const AsDatabase &AsDatabase::Instance()
{
    static const AsDatabase embedded(EmbeddedAsTable());
    if (const auto &used = UsedFile(); used.database)
        return *used.database;
    return embedded;
}

bool AsDatabase::UseFile(const std::string &path)
{
    FileTable used;
    used.file = std::make_unique<MappedFile>(path);
    std::string problem = used.file->error();
    if (problem.empty())
        problem = Problem(used.file->bytes());
    if (problem.empty())
        problem = AsDatabase(used.file->bytes()).OrderProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "quokka-quokka: AS table %s not used: %s; networks will not be shown\n",
                     path.c_str(), problem.c_str());
        used.file = std::make_unique<MappedFile>();
    }
    used.database = std::make_unique<AsDatabase>(used.file->bytes());
    UsedFile() = std::move(used);
    return problem.empty();
}

std::string AsDatabase::OrderProblem() const
{
    std::string problem;
    ForEachOrderFault(m_ranges, kRangeSize, [&](std::size_t range, const char *what) {
        problem = "range " + std::to_string(range) + " (";
        AppendDottedQuad(problem, U32(m_ranges, range * kRangeSize));
        problem += '-';
        AppendDottedQuad(problem, U32(m_ranges, range * kRangeSize + 4));
        problem += std::string("): ") + what;
        return false;
    });
    return problem;
}

std::optional<AsMatch> AsDatabase::FindKey(std::uint32_t key) const
{
    std::size_t low = 0, high = m_rangeCount; // the answer, if any, lies in [low, high)
    while (low < high) {
        const std::size_t mid = low + (high - low) / 2;
        const std::size_t at = mid * kRangeSize;
        if (U32(m_ranges, at + 4) < key) {
            low = mid + 1;
        } else if (key < U32(m_ranges, at)) {
            high = mid;
        } else {
            const std::uint32_t system = U32(m_ranges, at + 8);
            if (system >= m_systemCount)
                return std::nullopt;
            const std::uint32_t number = U32(m_systems, system * kSystemSize);
            const std::uint64_t offset = U32(m_systems, system * kSystemSize + 4);
            const std::uint64_t length = U32(m_systems, system * kSystemSize + 8);
            if (offset + length > m_names.size())
                return std::nullopt;
            return AsMatch{number, {reinterpret_cast<const char *>(m_names.data()) + offset, std::size_t(length)}};
        }
    }
    return std::nullopt;
}

std::optional<AsMatch> AsDatabase::Find(const char *address) const
{
    in_addr parsed{};
    if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1)
        return std::nullopt;
    return FindKey(ntohl(parsed.s_addr));
}
