#include "small_table.h"

#include "base/little_endian.h"
#include "geo/as_database.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

using quokka::AppendLe32;
using namespace quokka::geo;
using namespace quokka::tools;

namespace testgeo {

Place At(const std::string &code, const std::string &country, const std::string &region,
         const std::string &city, double latitude, double longitude)
{
    return Place{code, country, region, city, latitude, longitude};
}

SmallTable &SmallTable::row(std::uint32_t first, std::uint32_t last, const Place &place)
{
    append(geotable::EncodeRow(first, last, place));
    return *this;
}

SmallTable &SmallTable::noLocation(std::uint32_t first, std::uint32_t last)
{
    append(geotable::NoLocationRow(first, last));
    return *this;
}

SmallTable &SmallTable::terminate()
{
    append(geotable::TerminatingRow());
    return *this;
}

void SmallTable::append(const geotable::Row &row)
{
    m_bytes.insert(m_bytes.end(), row.begin(), row.end());
}

std::string SmallTable::writeFile(const std::string &name) const
{
    return WriteTempFile(name, m_bytes);
}

namespace {


} // namespace

std::vector<unsigned char> AsTable(const std::vector<AsRange> &ranges)
{
    std::vector<unsigned char> bytes(AsDatabase::kMagic.begin(), AsDatabase::kMagic.end());
    std::uint32_t nameBytes = 0;
    for (const AsRange &range : ranges)
        nameBytes += std::uint32_t(range.name.size());
    for (const std::uint32_t value : {std::uint32_t(ranges.size()), std::uint32_t(ranges.size()), nameBytes, 0u})
        AppendLe32(bytes, value);
    for (std::uint32_t i = 0; i < ranges.size(); ++i) {
        for (const std::uint32_t value : {ranges[i].first, ranges[i].last, i})
            AppendLe32(bytes, value);
    }
    std::uint32_t offset = 0;
    for (const AsRange &range : ranges) {
        for (const std::uint32_t value : {range.number, offset, std::uint32_t(range.name.size())})
            AppendLe32(bytes, value);
        offset += std::uint32_t(range.name.size());
    }
    for (const AsRange &range : ranges)
        bytes.insert(bytes.end(), range.name.begin(), range.name.end());
    return bytes;
}

namespace {

std::filesystem::path TempDir()
{
    return std::filesystem::temp_directory_path() / ("quokka-geo-test-" + std::to_string(::getpid()));
}

} // namespace

void RemoveTempFiles()
{
    std::error_code ignored;
    std::filesystem::remove_all(TempDir(), ignored);
}

std::string WriteTempFile(const std::string &name, const std::vector<unsigned char> &bytes)
{
    const auto dir = TempDir();
    std::filesystem::create_directories(dir);
    const std::string path = (dir / name).string();
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file) {
        if (!bytes.empty())
            std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    return path;
}

} // namespace testgeo
