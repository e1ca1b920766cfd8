// The route monitor's timeline: the time it takes to repaint an hour of samples. (Its
// processor time per round and its statistics' memory are measured beside mtr, in the lab:
// tests/net/monitor_test.sh.)
#include "app/monitor_window.h"

#include <QElapsedTimer>
#include <QImage>
#include <gtest/gtest.h>

using namespace quokka::app;
using namespace quokka::app::monitor;

namespace {

// Samples at 1 s spaced over the hour before now, one in ten lost, at TTLS hops.
void FillHour(Statistics &statistics, int ttls, int rounds)
{
    const qint64 start = MonotonicMs() - qint64(rounds) * 1000;
    const QDateTime wall = QDateTime::currentDateTime();
    for (int round = 1; round <= rounds; ++round) {
        const qint64 at = start + qint64(round) * 1000;
        for (int ttl = 1; ttl <= ttls; ++ttl) {
            if (round % 10 == ttl % 10)
                statistics.Lost(round, ttl, at);
            else
                statistics.Answered(round, ttl, QStringLiteral("198.51.100.%1").arg(ttl), 10.0 + ttl + (round * 7 % 13),
                                    at, wall, false);
        }
    }
}

} // namespace

TEST(Bench, MonitorTimelineRepaintOfAnHour)
{
    Statistics statistics;
    FillHour(statistics, 1, 3600);
    Timeline timeline;
    timeline.resize(1000, 250);
    timeline.SetSpanMs(3'600'000);
    timeline.Show(&statistics, 1, QStringLiteral("198.51.100.1"));
    QImage image(timeline.size(), QImage::Format_RGB32);
    timeline.render(&image);
    constexpr int kRepaints = 50;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < kRepaints; ++i)
        timeline.render(&image);
    std::printf("monitor timeline, 1000x250, one hour of 3,600 samples: %.2f ms per repaint\n",
                double(clock.nsecsElapsed()) / 1e6 / kRepaints);
}
