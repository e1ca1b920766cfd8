// Figures: one full repaint of a map with 29 segments (against a map with no route), and
// one LookupAndPlot (against the table search alone).
#include "geo/geo_database.h"
#include "geo_table_file.h"
#include "geo/world_map.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace quokka::geo;

namespace {

// Microseconds per call of FN, over COUNT calls.
template <class Fn>
double MicrosPerCall(int count, Fn fn)
{
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        fn(i);
    return double(clock.nsecsElapsed()) / 1000.0 / count;
}

std::string Address(int i)
{
    return "10." + std::to_string((i >> 16) & 255) + "." + std::to_string((i >> 8) & 255) + "."
        + std::to_string(i & 255);
}

} // namespace

TEST(MapBench, RepaintOf29SegmentsAndOneLookupAndPlot)
{
    // 100,000 rows, one address each, on places spread round the world.
    static GeoTableFile table;
    const int rows = 100000;
    for (int i = 0; i < rows; ++i)
        table.Add(Address(i), Address(i), "Somewhere", -60.0 + (i * 7919 % 12000) / 100.0,
                  -160.0 + double(std::int64_t(i) * 104729 % 32000) / 100.0);
    table.Use();
    ASSERT_EQ(GeoDatabase::Instance().RecordCount(), std::size_t(rows));

    CWorldMap empty, routed;
    for (CWorldMap *map : {&empty, &routed}) {
        map->SetHome({300, 150});
        map->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(map));
    }
    for (int hop = 0; routed.RouteSegments().size() < 29; ++hop)
        routed.LookupAndPlot(GeoDatabase::Instance(), Address(hop * 3301 % rows).c_str(), false);
    ASSERT_EQ(routed.RouteSegments().size(), 29u);

    const int repaints = 100;
    const double routedUs = MicrosPerCall(repaints, [&](int) { routed.repaint(); });
    const double emptyUs = MicrosPerCall(repaints, [&](int) { empty.repaint(); });
    std::printf("repaint, 29 segments: %.1f us; map without a route: %.1f us; ratio %.2f\n", routedUs,
                emptyUs, routedUs / emptyUs);

    CWorldMap plotting;
    plotting.SetHome({300, 150});
    plotting.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&plotting));
    const int lookups = 200;
    const double plotUs = MicrosPerCall(lookups, [&](int i) {
        plotting.LookupAndPlot(GeoDatabase::Instance(), Address(i * 7 % rows).c_str(), false);
    });
    const double findUs = MicrosPerCall(lookups * 100, [&](int i) {
        GeoRecord found;
        GeoDatabase::Instance().Find(Address(i * 7 % rows).c_str(), found);
    });
    std::printf("LookupAndPlot: %.1f us; table search alone: %.2f us; ratio %.1f\n", plotUs, findUs,
                plotUs / findUs);
    EXPECT_GT(plotting.RouteSegments().size(), 0u);
}
