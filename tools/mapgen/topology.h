#pragma once
// Country outlines read from a TopoJSON file (the world-atlas package): every country's
// rings as longitude/latitude points, and which countries share a border.
#include <QString>
#include <set>
#include <vector>

namespace quokka::tools::mapgen {

struct GeoPoint {
    double lon = 0;
    double lat = 0;
};

using Ring = std::vector<GeoPoint>;

struct Country {
    QString name;
    std::vector<Ring> rings; // outer rings and holes alike; filled even-odd
    std::set<int> neighbours; // indices of countries that share an arc with this one
};

// Reads the object "countries" of the topology at PATH; returns false with a reason in
// ERROR when the file cannot be read or is not such a topology.
bool ReadCountries(const QString &path, std::vector<Country> &countries, QString &error);

} // namespace quokka::tools::mapgen
