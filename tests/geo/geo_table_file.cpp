#include "geo_table_file.h"

#include "geo/geo_database.h"

#include <QFile>
#include <algorithm>
#include <arpa/inet.h>
#include <bit>
#include <cstring>
#include <stdexcept>

using namespace quokka::geo;

namespace {

std::uint32_t Key(const std::string &dotted)
{
    in_addr parsed{};
    if (inet_pton(AF_INET, dotted.c_str(), &parsed) != 1)
        throw std::invalid_argument(dotted);
    return ntohl(parsed.s_addr);
}

void PutLittleEndian(unsigned char *at, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = static_cast<unsigned char>(value >> (8 * i));
}

} // namespace

GeoTableFile &GeoTableFile::Add(const std::string &first, const std::string &last, const std::string &country,
                                double latitude, double longitude, const std::string &city)
{
    m_rows.push_back({Key(first), Key(last), country, city, latitude, longitude});
    return *this;
}

void GeoTableFile::Use()
{
    std::sort(m_rows.begin(), m_rows.end(), [](const Row &a, const Row &b) { return a.first < b.first; });
    QByteArray table;
    for (const Row &row : m_rows) {
        unsigned char bytes[GeoRecord::kSize] = {};
        PutLittleEndian(bytes + GeoRecord::kFirstAddress, row.first, 4);
        PutLittleEndian(bytes + GeoRecord::kLastAddress, row.last, 4);
        std::memcpy(bytes + GeoRecord::kCountryCode, "ZZ", 2);
        std::memcpy(bytes + GeoRecord::kCountryName, row.country.data(),
                    std::min(row.country.size(), GeoRecord::kCountryNameSize));
        std::memcpy(bytes + GeoRecord::kCity, row.city.data(), std::min(row.city.size(), GeoRecord::kCitySize));
        PutLittleEndian(bytes + GeoRecord::kLatitude, std::bit_cast<std::uint64_t>(row.latitude), 8);
        PutLittleEndian(bytes + GeoRecord::kLongitude, std::bit_cast<std::uint64_t>(row.longitude), 8);
        table.append(reinterpret_cast<const char *>(bytes), sizeof bytes);
    }
    const QString path = m_dir.filePath(QStringLiteral("table.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(table) != table.size())
        throw std::runtime_error("cannot write the table");
    file.close();
    GeoDatabase::UseFile(path.toStdString());
}
