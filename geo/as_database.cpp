#include "geo/as_database.h"

#include "base/little_endian.h"
#include "geo/dotted_quad.h"
#include "geo/range_order.h"
#include "geo/table_in_use.h"

#include <arpa/inet.h>
#include <cstring>

using quokka::ReadLe32;
namespace quokka::geo {

namespace {

} // namespace

std::string AsDatabase::Problem(std::span<const unsigned char> table)
{
    if (table.size() < kHeaderSize)
        return "it is shorter than its header";
    if (std::memcmp(table.data(), kMagic.data(), kMagic.size()) != 0)
        return "it is not an AS table";
    const std::uint64_t ranges = ReadLe32(table, 8), systems = ReadLe32(table, 12), names = ReadLe32(table, 16);
    if (ReadLe32(table, 20) != 0)
        return "its header is not one this program reads";
    if (kHeaderSize + ranges * kRangeSize + systems * kSystemSize + names != table.size())
        return "its size does not match its header";
    return {};
}

AsDatabase::AsDatabase(std::span<const unsigned char> table)
{
    if (!Problem(table).empty())
        return;
    m_rangeCount = ReadLe32(table, 8);
    m_systemCount = ReadLe32(table, 12);
    m_ranges = table.subspan(kHeaderSize, m_rangeCount * kRangeSize);
    m_systems = table.subspan(kHeaderSize + m_ranges.size(), m_systemCount * kSystemSize);
    m_names = table.subspan(kHeaderSize + m_ranges.size() + m_systems.size());
}

const AsDatabase &AsDatabase::Instance()
{
    return TableInUse<AsDatabase>::Instance();
}

bool AsDatabase::UseFile(const std::string &path)
{
    return TableInUse<AsDatabase>::UseFile(path);
}

std::string AsDatabase::FileProblem(std::span<const unsigned char> table)
{
    std::string problem = Problem(table);
    return problem.empty() ? AsDatabase(table).OrderProblem() : problem;
}

std::string AsDatabase::OrderProblem() const
{
    std::string problem;
    ForEachOrderFault(m_ranges, kRangeSize, [&](std::size_t range, const char *what) {
        problem = "range " + std::to_string(range) + " (";
        AppendDottedQuad(problem, ReadLe32(m_ranges, range * kRangeSize));
        problem += '-';
        AppendDottedQuad(problem, ReadLe32(m_ranges, range * kRangeSize + 4));
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
        if (ReadLe32(m_ranges, at + 4) < key) {
            low = mid + 1;
        } else if (key < ReadLe32(m_ranges, at)) {
            high = mid;
        } else {
            const std::uint32_t system = ReadLe32(m_ranges, at + 8);
            if (system >= m_systemCount)
                return std::nullopt;
            const std::uint32_t number = ReadLe32(m_systems, system * kSystemSize);
            const std::uint64_t offset = ReadLe32(m_systems, system * kSystemSize + 4);
            const std::uint64_t length = ReadLe32(m_systems, system * kSystemSize + 8);
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

} // namespace quokka::geo
