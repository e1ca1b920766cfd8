#include "geo/geo_database.h"

#include "geo/mapped_file.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

std::unique_ptr<MappedFile> &FileTable()
{
    static std::unique_ptr<MappedFile> file;
    return file;
}

} // namespace

const GeoDatabase &GeoDatabase::Instance()
{
    static GeoDatabase embedded(EmbeddedGeoTable());
    if (const auto &file = FileTable())
        return *file->database;
    return embedded;
}

bool GeoDatabase::UseFile(const std::string &path)
{
    auto file = std::make_unique<MappedFile>(path);
    std::string problem = file->error();
    if (problem.empty() && file->size() == 0)
        problem = "the file is empty";
    else if (problem.empty() && file->size() % GeoRecord::kSize != 0)
        problem = "its size is not a multiple of 124 bytes";
    if (!problem.empty()) {
        std::fprintf(stderr, "quokka-quokka: geolocation table %s not used: %s; places will not be shown\n",
                     path.c_str(), problem.c_str());
        file = std::make_unique<MappedFile>();
    }
    file->database = std::make_unique<GeoDatabase>(file->bytes());
    FileTable() = std::move(file);
    return problem.empty();
}

const unsigned char *GeoDatabase::FindKey(std::uint32_t key) const
{
    const auto count = static_cast<std::int32_t>(RecordCount());
    std::int32_t low = 0;
    std::int32_t high = count - 1;
    while (low <= high) {
        const std::int32_t mid = low + (high - low) / 2;
        const unsigned char *row = m_table.data() + std::size_t(mid) * GeoRecord::kSize;
        const std::uint32_t first = GeoRecord::ReadU32(row + GeoRecord::kFirstAddress);
        const std::uint32_t last = GeoRecord::ReadU32(row + GeoRecord::kLastAddress);
        if (first <= key && key <= last)
            return row;
        if (last < key) {
            low = mid + 1;
        } else {
            if (mid == low)
                return nullptr;
            high = mid - 1;
        }
    }
    return nullptr;
}

bool GeoDatabase::Find(const char *address, GeoRecord &record) const
{
    in_addr parsed{};
    if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1)
        return false;
    const unsigned char *row = FindKey(ntohl(parsed.s_addr));
    if (row == nullptr)
        return false;
    std::memcpy(record.bytes.data(), row, GeoRecord::kSize);
    return true;
}
