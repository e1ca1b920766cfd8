#pragma once
// A small geolocation table written by a test and used as the process-wide table.
#include <QTemporaryDir>
#include <cstdint>
#include <string>
#include <vector>

class GeoTableFile {
public:
    // One row for FIRST..LAST (dotted-decimal IPv4) with a country name and a place.
    GeoTableFile &Add(const std::string &first, const std::string &last, const std::string &country,
                      double latitude, double longitude, const std::string &city = "Somewhere");
    // Writes the rows (sorted by first address) and makes them the process-wide table.
    void Use();

private:
    struct Row {
        std::uint32_t first, last;
        std::string country, city;
        double latitude, longitude;
    };
    std::vector<Row> m_rows;
    QTemporaryDir m_dir;
};
