// The responsive wait: two seconds on the monotonic clock, during which timers fire and
// input is handled, with the processor idle; and blocking work moved off the interface thread.
#include "wait.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

TEST(WaitWithMessagePump, LastsTwoSecondsHandlesTimersAndInputAndIdles)
{
    qunsetenv("QUOKKA_TEST_WAIT_MS");
    QLineEdit edit;
    edit.show();
    qint64 timerFiredAt = -1;
    QElapsedTimer clock;
    QTimer::singleShot(300, [&] { timerFiredAt = clock.elapsed(); });
    QTimer::singleShot(500, [&] { QTest::keyClicks(&edit, QStringLiteral("typed")); });

    const double cpuBefore = CpuSeconds();
    clock.start();
    WaitWithMessagePump();
    const qint64 elapsed = clock.elapsed();
    const double cpu = CpuSeconds() - cpuBefore;

    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 4000);
    EXPECT_GE(timerFiredAt, 300);
    EXPECT_LT(timerFiredAt, 2000) << "the timer fired during the wait";
    EXPECT_EQ(edit.text(), QStringLiteral("typed")) << "input was handled during the wait";
    EXPECT_LT(cpu, 0.05 * double(elapsed) / 1000.0) << "the wait must not spin";
    std::printf("wait: %lld ms of wall time, %.1f ms of processor time\n", elapsed, cpu * 1000);
}

TEST(WaitWithMessagePump, NestedWaitsEachLastTheirTime)
{
    QElapsedTimer inner;
    QTimer::singleShot(100, [&] {
        inner.start();
        quokka::WaitFor(300);
        EXPECT_GE(inner.elapsed(), 300);
    });
    QElapsedTimer outer;
    outer.start();
    quokka::WaitFor(200);
    // The outer wait cannot return before the nested one that started inside it has ended.
    EXPECT_GE(outer.elapsed(), 400);
}

TEST(RunOffUiThread, ReturnsTheResultWhileTheInterfaceRuns)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const std::thread::id uiThread = std::this_thread::get_id();
    const auto result = quokka::RunOffUiThread<int>([uiThread](std::stop_token) {
        EXPECT_NE(std::this_thread::get_id(), uiThread);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return 42;
    });
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, 42);
    EXPECT_GE(ticks, 5) << "timers kept firing while the work ran";
}

TEST(RunOffUiThread, WorkThatEndsAtOnceIsNotMissed)
{
    for (int i = 0; i < 200; ++i) {
        const auto result = quokka::RunOffUiThread<int>([i](std::stop_token) { return i; });
        ASSERT_TRUE(result.has_value());
        ASSERT_EQ(*result, i);
    }
}
