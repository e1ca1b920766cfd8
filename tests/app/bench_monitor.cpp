// Figures for the route monitor: the processor time a session spends per round of a 10-hop
// route at 1 s (its thread and its statistics, the socket's own cost aside), the memory the
// statistics hold after 10,000 rounds of 30 hops, and the timeline's repaint of an hour of
// samples.
#include "app/monitor_window.h"
#include "scripted_round_source.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QImage>
#include <gtest/gtest.h>
#include <ctime>
#include <malloc.h>

using namespace quokka::app;
using namespace quokka::app::monitor;
using namespace testmonitor;

namespace {

double ProcessCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

QString TenHops(int, int ttl)
{
    return ttl >= 10 ? QString::fromLatin1(kDestination) : QStringLiteral("198.51.100.%1").arg(ttl);
}

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

TEST(Bench, MonitorProcessorTimePerRound)
{
    auto seen = std::make_shared<Seen>();
    Session session(QString::fromLatin1(kDestination), ExplorationServices{},
                    [seen](const QString &) { return std::make_unique<ScriptedSource>(TenHops, seen); });
    session.Start();
    ASSERT_TRUE(WaitFor([&] { return session.RoundsResolved() >= 1; }));
    const double cpu = ProcessCpuMs();
    const int first = session.RoundsResolved();
    QElapsedTimer wall;
    wall.start();
    QEventLoop loop;
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const int rounds = session.RoundsResolved() - first;
    const double perRound = (ProcessCpuMs() - cpu) / std::max(rounds, 1);
    std::printf("monitor, 10 hops at 1 s: %.3f ms of processor time per round over %d rounds (%.3f%% of one core)\n",
                perRound, rounds, perRound * rounds / double(wall.elapsed()) * 100.0);
}

TEST(Bench, MonitorMemoryAfterTenThousandRounds)
{
    const std::size_t before = ::mallinfo2().uordblks;
    {
        Statistics statistics;
        FillHour(statistics, 30, 10'000);
        const std::size_t after = ::mallinfo2().uordblks;
        std::printf("monitor statistics, 30 hops after 10,000 rounds: %.2f MiB\n", double(after - before) / (1024.0 * 1024.0));
    }
}

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
