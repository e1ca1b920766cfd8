// The map window: markers and lines where the projection puts them, a repaint equal to the
// live drawing, the "Trace Route" replay (also when pressed again, hidden or outpaced), and
// each hop's details on its marker.
#include "geo_table_file.h"
#include "list_menu.h"
#include "map_pixels.h"
#include "base/visible_text.h"
#include "base/wait.h"
#include "geo/geo_database.h"
#include "geo/world_map.h"

#include <QElapsedTimer>
#include <QHelpEvent>
#include <QToolTip>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace quokka::geo;

using namespace mappixels;

namespace {

const QPoint kLondon(422, 220), kDusseldorf(438, 207), kFuzhou(720, 279), kBrisbane(804, 432),
    kSaoPaulo(306, 414), kMountainView(117, 244), kLondonColumn(422, 249), kLondonRow(421, 220);

class WorldMapTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static GeoTableFile table;
        table.Add("198.51.100.1", "198.51.100.1", "United Kingdom", 51.50853, -0.12574, "London")
            .Add("198.51.100.2", "198.51.100.2", "Germany", 51.221533, 6.77617, "Dusseldorf")
            .Add("198.51.100.3", "198.51.100.3", "China", 26.06139, 119.30611, "Fuzhou")
            .Add("198.51.100.4", "198.51.100.4", "Australia", -27.46754, 153.02809, "Brisbane")
            .Add("198.51.100.5", "198.51.100.5", "Brazil", -23.5475, -46.63611, "Sao Paulo")
            .Add("198.51.100.6", "198.51.100.6", "United States", 37.38605, -122.08385, "Mountain View")
            .Add("198.51.100.7", "198.51.100.7", "United Kingdom", 40.0, -0.1)        // London's column
            .Add("198.51.100.8", "198.51.100.8", "United Kingdom", 51.50853, -0.5)    // London's row
            .Add("198.51.100.10", "198.51.100.10", "-", 0.0, 0.0)
            .Add("198.51.100.11", "198.51.100.11", "Nowhere", std::nan(""), 10.0)
            .Use();
    }

    std::unique_ptr<CWorldMap> ShownMap(HomeLocation home)
    {
        auto map = std::make_unique<CWorldMap>();
        map->SetReplayStepMs(150);
        map->SetHome(home);
        map->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(map.get()));
        return map;
    }

    static GeoRecord Plot(CWorldMap &map, const char *address, bool destination = false)
    {
        return map.LookupAndPlot(GeoDatabase::Instance(), address, destination);
    }
};

QPointF Middle(QPoint a, QPoint b)
{
    return (QPointF(a) + QPointF(b)) / 2;
}

} // namespace

TEST_F(WorldMapTest, HasTheWindowsSizeAndButtons)
{
    CWorldMap map;
    EXPECT_EQ(map.objectName(), "worldMap");
    EXPECT_EQ(map.size(), QSize(899, 535));
    auto *traceRoute = map.findChild<QPushButton *>("traceRoute");
    ASSERT_TRUE(traceRoute);
    EXPECT_EQ(traceRoute->geometry(), QRect(650, 509, 120, 23));
    EXPECT_EQ(traceRoute->text(), "Trace Route");
    auto *allDone = map.findChild<QPushButton *>("allDone");
    ASSERT_TRUE(allDone);
    map.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&map));
    allDone->click();
    EXPECT_FALSE(map.isVisible()); // hidden, not destroyed
}

TEST_F(WorldMapTest, DrawsAMarkerOnEveryLocatedHopAndLinesBetweenThem)
{
    auto map = ShownMap({300, 150});
    const GeoRecord london = Plot(*map, "198.51.100.1");
    EXPECT_EQ(london.City(), "London");
    Plot(*map, "198.51.100.3");
    Plot(*map, "198.51.100.4");
    const std::vector<RouteSegment> expected{{300, 150, 422, 220}, {422, 220, 720, 279}, {720, 279, 804, 432}};
    EXPECT_EQ(map->RouteSegments(), expected);
    EXPECT_EQ(map->LastPoint(), kBrisbane);

    const QImage live = Live(map.get());
    EXPECT_TRUE(MarkerAt(live, {300, 150}, CWorldMap::kRed)); // home
    for (QPoint hop : {kLondon, kFuzhou, kBrisbane})
        EXPECT_TRUE(MarkerAt(live, hop, CWorldMap::kRed)) << hop.x() << "," << hop.y();
    EXPECT_TRUE(NearPixel(live, Middle(kLondon, kFuzhou), Reddish));
    EXPECT_TRUE(NearPixel(live, Middle(kFuzhou, kBrisbane), Reddish));
    EXPECT_TRUE(NearPixel(live, Middle({300, 150}, kLondon), Reddish));
    // The lines are thin: a few pixels beside one are untouched.
    EXPECT_FALSE(NearPixel(live, Middle(kLondon, kFuzhou) + QPointF(0, 6), Reddish));
    EXPECT_FALSE(MarkerAt(live, kSaoPaulo, CWorldMap::kRed));
}

TEST_F(WorldMapTest, DrawsNoLineToAPointInThePreviousRowOrColumn)
{
    auto map = ShownMap({300, 150});
    Plot(*map, "198.51.100.1");          // London
    Plot(*map, "198.51.100.7");          // same column
    EXPECT_EQ(map->RouteSegments().size(), 1u);
    EXPECT_EQ(map->LastPoint(), kLondonColumn);
    const QImage columnOnly = Live(map.get());
    EXPECT_TRUE(MarkerAt(columnOnly, kLondonColumn, CWorldMap::kRed));
    EXPECT_FALSE(NearPixel(columnOnly, QPointF(kLondon.x(), 236), Reddish)); // no line down the column
    Plot(*map, "198.51.100.8");          // London's row, but the previous point moved on
    EXPECT_EQ(map->RouteSegments().size(), 2u);
    Plot(*map, "198.51.100.1");          // back to London: same row as the previous point
    Plot(*map, "198.51.100.1");          // the same city twice: one marker, no segment
    EXPECT_EQ(map->RouteSegments().size(), 2u);
    EXPECT_EQ(map->LastPoint(), kLondon);

    EXPECT_TRUE(NearPixel(Live(map.get()), Middle(kLondonColumn, kLondonRow), Reddish));
}

TEST_F(WorldMapTest, ColoursTheDestinationGreen)
{
    auto map = ShownMap({300, 150});
    Plot(*map, "198.51.100.1");
    Plot(*map, "198.51.100.4", true);
    const QImage live = Live(map.get());
    EXPECT_TRUE(MarkerAt(live, kBrisbane, CWorldMap::kGreen));
    EXPECT_TRUE(MarkerAt(live, kLondon, CWorldMap::kRed));
}

TEST_F(WorldMapTest, HomeAtTheOriginShowsAQuarterMarkerAndStartsNoLine)
{
    auto map = ShownMap({0, 0});
    Plot(*map, "198.51.100.1");
    EXPECT_TRUE(map->RouteSegments().empty());
    const QImage live = Live(map.get());
    for (QPoint p : {QPoint(0, 0), QPoint(1, 1), QPoint(2, 2), QPoint(3, 0), QPoint(0, 3)})
        EXPECT_TRUE(IsRed(live.pixel(p))) << p.x() << "," << p.y();
    EXPECT_FALSE(Reddish(live.pixel(6, 0)));
    EXPECT_FALSE(NearPixel(live, Middle({0, 0}, kLondon), Reddish));
    EXPECT_TRUE(MarkerAt(live, kLondon, CWorldMap::kRed));
}

TEST_F(WorldMapTest, LeavesTheMapAloneForHopsWithoutAPlace)
{
    auto map = ShownMap({300, 150});
    const QImage before = Live(map.get());
    const GeoRecord dash = Plot(*map, "198.51.100.10");
    EXPECT_EQ(dash.CountryName(), "-");
    const GeoRecord none = Plot(*map, "198.51.100.99");
    EXPECT_EQ(none.bytes, GeoRecord{}.bytes); // untouched
    const GeoRecord nan = Plot(*map, "198.51.100.11");
    EXPECT_EQ(nan.CountryName(), "Nowhere");
    Plot(*map, "not an address");
    Plot(*map, nullptr);
    EXPECT_EQ(map->LastPoint(), QPoint(300, 150));
    EXPECT_TRUE(map->RouteSegments().empty());
    EXPECT_EQ(Live(map.get()), before);
}

TEST_F(WorldMapTest, ARepaintShowsWhatWasDrawnLive)
{
    auto map = ShownMap({300, 150});
    for (const char *hop : {"198.51.100.6", "198.51.100.1", "198.51.100.7", "198.51.100.2", "198.51.100.10",
                            "198.51.100.5"})
        Plot(*map, hop);
    Plot(*map, "198.51.100.3", true);
    const QImage live = Live(map.get());
    EXPECT_TRUE(MarkerAt(live, kFuzhou, CWorldMap::kGreen));
    EXPECT_TRUE(MarkerAt(live, kSaoPaulo, CWorldMap::kRed)); // not the destination: stays red
    const QImage painted = Painted(map.get());
    ASSERT_EQ(painted.size(), live.size());
    int different = 0;
    for (int y = 0; y < live.height(); ++y)
        for (int x = 0; x < live.width(); ++x)
            different += live.pixel(x, y) != painted.pixel(x, y);
    EXPECT_EQ(different, 0);
    // Hidden and shown again, the window paints the same picture.
    map->hide();
    map->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(map.get()));
    map->repaint();
    EXPECT_EQ(Live(map.get()), live);
}

TEST_F(WorldMapTest, ARepaintKeepsAnUnfinishedRouteRedToItsEnd)
{
    auto map = ShownMap({300, 150});
    Plot(*map, "198.51.100.1");
    Plot(*map, "198.51.100.3"); // the route never reached its destination
    const QImage painted = Painted(map.get());
    EXPECT_TRUE(MarkerAt(painted, kFuzhou, CWorldMap::kRed));
}

TEST_F(WorldMapTest, EachWindowKeepsItsOwnRoute)
{
    auto first = ShownMap({300, 150});
    Plot(*first, "198.51.100.1");
    Plot(*first, "198.51.100.3");
    const QImage firstPicture = Painted(first.get());
    auto second = ShownMap({300, 150});
    Plot(*second, "198.51.100.5");
    EXPECT_EQ(first->RouteSegments().size(), 2u);
    EXPECT_EQ(second->RouteSegments().size(), 1u);
    EXPECT_EQ(Painted(first.get()), firstPicture);
    EXPECT_FALSE(MarkerAt(Painted(second.get()), kFuzhou, CWorldMap::kRed));
}

// Each plotted hop's marker tells the details handed in for it; a hop without a place has
// no marker, and a marker without details tells nothing.
TEST_F(WorldMapTest, EachMarkerTellsItsHopsDetailsOnHover)
{
    auto map = ShownMap({300, 150});
    const char *addresses[] = {"198.51.100.1", "198.51.100.10", "198.51.100.3"};
    QList<QStringList> details;
    for (int hop = 0; hop < 3; ++hop) {
        GeoRecord record{};
        GeoDatabase::Instance().Find(addresses[hop], record);
        map->PlotHop(record, false, hop);
        details << QStringList{QStringLiteral("Hop %1").arg(hop + 1), QStringLiteral("Address: %1").arg(addresses[hop])};
    }
    details[2] << QStringLiteral("Host name: <img src=x><U+202E>.example");
    const auto hover = [&map](QPoint at) {
        QToolTip::showText(map->mapToGlobal(QPoint(1, 1)), QStringLiteral("none"), map.get());
        QHelpEvent help(QEvent::ToolTip, at, map->mapToGlobal(at));
        QApplication::sendEvent(map.get(), &help);
        return QToolTip::text();
    };
    EXPECT_FALSE(hover(kFuzhou).contains(QStringLiteral("Hop"))) << "no tooltip before its details";
    for (int hop = 0; hop < 3; ++hop)
        map->DescribeHop(hop, details[hop]);
    EXPECT_EQ(hover(kLondon + QPoint(4, -4)), quokka::PlainToolTipHtml(details[0]));
    const QString fuzhou = hover(kFuzhou);
    EXPECT_EQ(fuzhou, quokka::PlainToolTipHtml(details[2]));
    EXPECT_TRUE(fuzhou.contains(QStringLiteral("&lt;img src=x&gt;&lt;U+202E&gt;.example"))) << qPrintable(fuzhou);
    EXPECT_FALSE(hover(kBrisbane).contains(QStringLiteral("Hop"))) << "no marker there";
    EXPECT_EQ(hover(QPoint(303, 147)), quokka::PlainToolTipHtml({"Home", "Map point: 300, 150"}));

    details[0] << QStringLiteral("Host name: later.example"); // a name that came later
    map->DescribeHop(0, details[0]);
    EXPECT_TRUE(hover(kLondon).contains(QStringLiteral("Host name: later.example")));

    details[0] << QStringLiteral("Network: AS64500 ") + QString(500, u'x'); // wider than the screen: broken to fit
    map->DescribeHop(0, details[0]);
    EXPECT_TRUE(hover(kLondon).contains(QStringLiteral("x<br/>x")));
    const QWidget *label = testsupport::ShownToolTipLabel();
    ASSERT_TRUE(label);
    EXPECT_LE(label->width(), map->screen()->availableGeometry().width());
}
