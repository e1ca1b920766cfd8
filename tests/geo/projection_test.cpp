// The projection of latitude and longitude onto the world map picture.
#include "geo/projection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using quokka::geo::MapPoint;
using quokka::geo::ProjectToMap;

namespace {

MapPoint At(double latitude, double longitude)
{
    const auto point = ProjectToMap(latitude, longitude);
    EXPECT_TRUE(point.has_value()) << latitude << ", " << longitude;
    return point.value_or(MapPoint{-1, -1});
}

} // namespace

TEST(Projection, PlacesTheWorkedExamplesOfEveryQuadrant)
{
    EXPECT_EQ(At(26.06139, 119.30611), (MapPoint{720, 279}));   // Fuzhou, north-east
    EXPECT_EQ(At(37.38605, -122.08385), (MapPoint{117, 244}));  // Mountain View, north-west
    EXPECT_EQ(At(-27.46754, 153.02809), (MapPoint{804, 432}));  // Brisbane, south-east
    EXPECT_EQ(At(-23.5475, -46.63611), (MapPoint{306, 414}));   // Sao Paulo, south-west
    EXPECT_EQ(At(51.50853, -0.12574), (MapPoint{422, 220}));    // London
    EXPECT_EQ(At(51.221533, 6.77617), (MapPoint{438, 207}));    // Dusseldorf
    EXPECT_EQ(At(0.0, -10.0), (MapPoint{397, 353}));
}

TEST(Projection, StepsFourteenPixelsAcrossThePrimeMeridianAt51Point5North)
{
    const MapPoint west = At(51.5, -0.001);
    const MapPoint east = At(51.5, 0.001);
    EXPECT_EQ(west.y, 220);
    EXPECT_EQ(east.y, 206);
    EXPECT_EQ(west.x, 422);
    EXPECT_EQ(east.x, 422);
}

TEST(Projection, CountsTheEquatorAsNorthAndThePrimeMeridianAsEast)
{
    EXPECT_EQ(At(0.0, 0.0), (MapPoint{422, 353}));
    // On the prime meridian the north-east scale 2.86 applies: trunc(10 * 2.86) = 28.
    EXPECT_EQ(At(10.0, 0.0), (MapPoint{422, 325}));
    // South of the equator on the prime meridian the scale is 2.5 + 0 * 0.002667.
    EXPECT_EQ(At(-10.0, 0.0), (MapPoint{422, 378}));
}

TEST(Projection, UsesWholeDegreesOfLongitudeInTheScaleAndTruncatesTowardZero)
{
    // North-west at 100.9 W: f = 100 * 0.002667 + 2.6 = 2.8667, trunc(2.8667 * 40) = 114.
    EXPECT_EQ(At(40.0, -100.9), (MapPoint{170, 239}));
    // South-west at 100.9 W: f = 2.5 + 100 * 0.002667 = 2.7667, trunc(2.7667 * -40) = -110.
    EXPECT_EQ(At(-40.0, -100.9), (MapPoint{170, 463}));
    // South-east: f = 100 * 0.002667 + 2.5; x = 422 + trunc(252.25) = 674.
    EXPECT_EQ(At(-40.0, 100.9), (MapPoint{674, 463}));
    // x truncates toward zero on both sides: -2.5 * 0.3 = -0.75 -> 0.
    EXPECT_EQ(At(10.0, -0.3).x, 422);
    EXPECT_EQ(At(10.0, 0.3).x, 422);
}

TEST(Projection, GivesNothingForCoordinatesThatAreNotPlaces)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(ProjectToMap(nan, 10.0));
    EXPECT_FALSE(ProjectToMap(10.0, nan));
    EXPECT_FALSE(ProjectToMap(inf, 10.0));
    EXPECT_FALSE(ProjectToMap(10.0, -inf));
    EXPECT_FALSE(ProjectToMap(90.5, 10.0));
    EXPECT_FALSE(ProjectToMap(10.0, 1e12));
    EXPECT_TRUE(ProjectToMap(90.0, 180.0));
    EXPECT_TRUE(ProjectToMap(-90.0, -180.0));
}
