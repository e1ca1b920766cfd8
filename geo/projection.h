#pragma once
// Where a latitude and longitude land on the world map picture, in map pixels. The map
// window plots hops with it and the map generator draws the outlines with it, so every
// hop lands on its place in the picture.
#include <optional>

namespace quokka::geo {

struct MapPoint {
    int x = 0;
    int y = 0;
    friend bool operator==(const MapPoint &, const MapPoint &) = default;
};

// The world map picture: its size and where the prime meridian and the equator lie.
constexpr int kMapWidth = 900;
constexpr int kMapHeight = 536;
constexpr int kPrimeMeridianX = 422;
constexpr int kEquatorY = 353;

// 2.5 pixels per degree of longitude; the vertical scale depends on the quadrant: 2.86 in
// the north-east, 2.6 + 0.002667 per whole degree of longitude in the north-west and
// 2.5 + 0.002667 per whole degree in the south. Latitude 0 counts as north and longitude 0
// as east. Gives nothing for coordinates that are not numbers, latitudes beyond the poles
// and longitudes beyond a full turn either way (longitudes past 180 are the land drawn at
// the picture's right edge, which starts again at 168.8 W).
std::optional<MapPoint> ProjectToMap(double latitude, double longitude);

} // namespace quokka::geo
