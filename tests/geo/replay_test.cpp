// The "Trace Route" replay: each segment green for the hop wait and red again, a final green
// marker, and no harm when it is pressed again, the window hidden or destroyed, or new hops
// arrive during its waits.
#include "geo_table_file.h"
#include "map_pixels.h"
#include "base/wait.h"
#include "geo/geo_database.h"
#include "geo/world_map.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace quokka::geo;

using namespace mappixels;

namespace {

const QPoint kHome(300, 150), kLondon(422, 220), kFuzhou(720, 279), kBrisbane(804, 432), kSaoPaulo(306, 414);

// Looks at the window's live picture every 20 ms, also inside the replay's waits.
class Sampler {
public:
    explicit Sampler(std::function<void(const QImage &)> look)
        : m_look(std::move(look))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (m_window && m_window->isVisible())
                m_look(Live(m_window));
        });
    }
    void Start(QWidget *window)
    {
        m_window = window;
        m_timer.start(20);
    }

private:
    std::function<void(const QImage &)> m_look;
    QPointer<QWidget> m_window;
    QTimer m_timer;
};

class ReplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static GeoTableFile table;
        table.Add("198.51.100.1", "198.51.100.1", "United Kingdom", 51.50853, -0.12574)
            .Add("198.51.100.3", "198.51.100.3", "China", 26.06139, 119.30611)
            .Add("198.51.100.4", "198.51.100.4", "Australia", -27.46754, 153.02809)
            .Add("198.51.100.5", "198.51.100.5", "Brazil", -23.5475, -46.63611)
            .Use();
    }
    // A map whose replay keeps each segment green for STEP_MS (short, unless a case checks
    // the designed two seconds).
    static std::unique_ptr<CWorldMap> MapWithRoute(std::initializer_list<const char *> hops, int stepMs = 300)
    {
        auto map = std::make_unique<CWorldMap>();
        map->SetReplayStepMs(stepMs);
        map->SetHome({kHome.x(), kHome.y()});
        map->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(map.get()));
        for (const char *hop : hops) {
            map->LookupAndPlot(GeoDatabase::Instance(), hop, false);
        }
        return map;
    }
};

// Presses "Trace Route" and runs the event loop until no replay is left in the window, or
// the window has gone.
void ReplayToTheEnd(QPointer<CWorldMap> map)
{
    map->OnTraceRoute();
    QElapsedTimer clock;
    clock.start();
    while (map && map->IsReplaying() && clock.elapsed() < 30000)
        QTest::qWait(10);
}

QPointF Middle(QPoint a, QPoint b)
{
    return (QPointF(a) + QPointF(b)) / 2;
}

} // namespace

TEST_F(ReplayTest, TurnsEachSegmentGreenInTurnAndRedAgainThenMarksTheEnd)
{
    auto map = MapWithRoute({"198.51.100.1", "198.51.100.3", "198.51.100.4"});
    const QPointF middles[] = {Middle(kHome, kLondon), Middle(kLondon, kFuzhou), Middle(kFuzhou, kBrisbane)};
    std::vector<int> greenOrder; // which segment was green, sample by sample
    Sampler sampler([&](const QImage &image) {
        int green = -1, count = 0;
        for (int i = 0; i < 3; ++i)
            if (NearPixel(image, middles[i], Greenish)) {
                green = i;
                ++count;
            }
        EXPECT_LE(count, 1) << "one replay shows one green segment at a time";
        if (green >= 0 && (greenOrder.empty() || greenOrder.back() != green))
            greenOrder.push_back(green);
    });
    sampler.Start(map.get());
    ReplayToTheEnd(map.get());
    EXPECT_EQ(greenOrder, (std::vector<int>{0, 1, 2}));
    const QImage after = Live(map.get());
    for (const QPointF &middle : middles) {
        EXPECT_TRUE(NearPixel(after, middle, Reddish));
        EXPECT_FALSE(NearPixel(after, middle, Greenish));
    }
    EXPECT_TRUE(MarkerAt(after, kBrisbane, CWorldMap::kGreen));
    EXPECT_EQ(Painted(map.get()), after);
}

TEST_F(ReplayTest, APressDuringAReplayStartsItOver)
{
    auto map = MapWithRoute({"198.51.100.1", "198.51.100.3"});
    const QPointF middles[] = {Middle(kHome, kLondon), Middle(kLondon, kFuzhou)};
    std::vector<int> greenOrder;
    Sampler sampler([&](const QImage &image) {
        const bool first = NearPixel(image, middles[0], Greenish), second = NearPixel(image, middles[1], Greenish);
        EXPECT_FALSE(first && second) << "one replay at a time";
        const int green = first ? 0 : second ? 1 : -1;
        if (green >= 0 && (greenOrder.empty() || greenOrder.back() != green))
            greenOrder.push_back(green);
    });
    sampler.Start(map.get());
    QTimer::singleShot(450, map.get(), [&map] { map->OnTraceRoute(); }); // on the second segment
    ReplayToTheEnd(map.get());
    EXPECT_EQ(greenOrder, (std::vector<int>{0, 1, 0, 1}));
}

TEST_F(ReplayTest, TheFinalGreenMarkerGoesOnceTheRouteGrowsPastIt)
{
    // Pressed during a run: the replay ends on an intermediate hop, and the run goes on.
    auto map = MapWithRoute({"198.51.100.1"});
    ReplayToTheEnd(map.get());
    EXPECT_TRUE(MarkerAt(Live(map.get()), kLondon, CWorldMap::kGreen));
    map->LookupAndPlot(GeoDatabase::Instance(), "198.51.100.3", true);
    const QImage after = Live(map.get());
    EXPECT_TRUE(MarkerAt(after, kLondon, CWorldMap::kRed)) << "London is no longer the end of the route";
    EXPECT_TRUE(MarkerAt(after, kFuzhou, CWorldMap::kGreen));
    EXPECT_EQ(Painted(map.get()), after);
}

TEST_F(ReplayTest, TheButtonStartsAReplay)
{
    auto map = MapWithRoute({"198.51.100.1", "198.51.100.3"});
    EXPECT_TRUE(MarkerAt(Live(map.get()), kFuzhou, CWorldMap::kRed));
    QTest::mouseClick(map->findChild<QPushButton *>("traceRoute"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(MarkerAt(Live(map.get()), kFuzhou, CWorldMap::kGreen), 5000);
    EXPECT_FALSE(map->IsReplaying());
}

TEST_F(ReplayTest, AnEmptyRouteReplaysNothing)
{
    auto map = MapWithRoute({});
    const QImage before = Live(map.get());
    ReplayToTheEnd(map.get());
    EXPECT_EQ(Live(map.get()), before);
    EXPECT_EQ(Painted(map.get()), before);
}

TEST_F(ReplayTest, SurvivesASecondPressNewHopsAndHidingDuringItsWaits)
{
    auto map = MapWithRoute({"198.51.100.1", "198.51.100.3"});
    std::unique_ptr<CWorldMap> newer;
    int step = 0;
    QTimer meddler;
    QObject::connect(&meddler, &QTimer::timeout, [&] {
        switch (step++) {
        case 0: // pressed again: the replay starts over
            map->OnTraceRoute();
            break;
        case 1: { // the exploration goes on, and a new one starts with a window of its own
            map->LookupAndPlot(GeoDatabase::Instance(), "198.51.100.4", true);
            newer = MapWithRoute({"198.51.100.5"});
            break;
        }
        case 2:
            map->hide();
            break;
        default:
            meddler.stop();
        }
    });
    meddler.start(60);
    ReplayToTheEnd(map.get());
    meddler.stop();

    EXPECT_FALSE(map->IsReplaying());
    EXPECT_EQ(map->RouteSegments().size(), 3u);
    ASSERT_TRUE(newer);
    EXPECT_EQ(newer->RouteSegments().size(), 1u);
    map->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(map.get()));
    map->repaint();
    const QImage picture = Live(map.get());
    for (const QPointF &middle : {Middle(kHome, kLondon), Middle(kLondon, kFuzhou), Middle(kFuzhou, kBrisbane)})
        EXPECT_TRUE(NearPixel(picture, middle, Reddish));
    EXPECT_TRUE(MarkerAt(picture, kBrisbane, CWorldMap::kGreen));
    EXPECT_FALSE(NearPixel(picture, Middle(kHome, kSaoPaulo), Reddish)); // the newer window's route
}

TEST_F(ReplayTest, EndsQuietlyWhenItsWindowIsDestroyedDuringAWait)
{
    QPointer<CWorldMap> map = MapWithRoute({"198.51.100.1", "198.51.100.3"}).release();
    QTimer::singleShot(50, [&] { delete map.data(); });
    ReplayToTheEnd(map);
    EXPECT_TRUE(map.isNull());
}

TEST_F(ReplayTest, ShowsEachSegmentGreenForTheRealTwoSeconds)
{
    auto map = MapWithRoute({"198.51.100.1"}, quokka::Timings{}.hopWaitMs);
    const QPointF middle = Middle(kHome, kLondon);
    bool greenAfterOneSecond = false;
    QTimer::singleShot(1000, [&] { greenAfterOneSecond = NearPixel(Live(map.get()), middle, Greenish); });
    QElapsedTimer clock;
    clock.start();
    ReplayToTheEnd(map.get());
    EXPECT_GE(clock.elapsed(), 2000);
    EXPECT_TRUE(greenAfterOneSecond);
    EXPECT_TRUE(NearPixel(Live(map.get()), middle, Reddish));
    EXPECT_TRUE(MarkerAt(Live(map.get()), kLondon, CWorldMap::kGreen));
}
