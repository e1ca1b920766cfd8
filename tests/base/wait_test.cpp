// The responsive wait: two seconds on the monotonic clock, during which timers fire and input
// is handled with the processor idle, and which no other window's own event loop can hold
// up; and blocking work done on a thread of its own, its result handed to the interface.
#include "base/wait.h"
#include "base/worker.h"
#include "stoppable_job.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <atomic>
#include <thread>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop until QUIT is called, or for at most TIMEOUTMS.
void RunLoop(QEventLoop &loop, int timeoutMs = 10000)
{
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

TEST(WaitWithMessagePump, LastsTwoSecondsHandlesTimersAndInputAndIdles)
{
    QLineEdit edit;
    edit.show();
    qint64 timerFiredAt = -1;
    QElapsedTimer clock;
    QTimer::singleShot(300, [&] { timerFiredAt = clock.elapsed(); });
    QTimer::singleShot(500, [&] { QTest::keyClicks(&edit, QStringLiteral("typed")); });

    QObject context;
    QEventLoop loop;
    qint64 elapsed = -1;
    const double cpuBefore = CpuSeconds();
    clock.start();
    quokka::WaitWithMessagePump(quokka::Timings{}.hopWaitMs, &context, [&] {
        elapsed = clock.elapsed();
        loop.quit();
    });
    RunLoop(loop);
    const double cpu = CpuSeconds() - cpuBefore;

    EXPECT_GE(elapsed, 2000);
    EXPECT_LT(elapsed, 4000);
    // A coarse timer may fire a little early, and it was armed before the clock started.
    EXPECT_GE(timerFiredAt, 0) << "the timer fired";
    EXPECT_LT(timerFiredAt, 2000) << "the timer fired during the wait";
    EXPECT_EQ(edit.text(), QStringLiteral("typed")) << "input was handled during the wait";
    EXPECT_LT(cpu, 0.05 * double(elapsed) / 1000.0) << "the wait must not spin";
    std::printf("wait: %lld ms of wall time, %.1f ms of processor time\n", elapsed, cpu * 1000);
}

TEST(WaitWithMessagePump, KeepsItsTimeWhileAnotherWindowRunsItsOwnLoop)
{
    // A modal box opens 50 ms into a 300 ms wait and stays for a second: the wait still ends
    // on time, inside the box's loop, and so do waits that overlap it.
    QObject context;
    QElapsedTimer clock;
    qint64 waitEnded = -1, overlappingEnded = -1, boxClosed = -1;
    QTimer::singleShot(50, [&] {
        QDialog box;
        QTimer::singleShot(1000, &box, &QDialog::accept);
        box.exec();
        boxClosed = clock.elapsed();
    });
    QTimer::singleShot(100, [&] { quokka::After(300, &context, [&] { overlappingEnded = clock.elapsed(); }); });
    QEventLoop loop;
    clock.start();
    quokka::After(300, &context, [&] { waitEnded = clock.elapsed(); });
    QTimer::singleShot(1500, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_GE(waitEnded, 300);
    EXPECT_LT(waitEnded, 700) << "the box's loop held the wait up";
    EXPECT_GE(overlappingEnded, 400);
    EXPECT_LT(overlappingEnded, 800);
    EXPECT_GE(boxClosed, 1000);
}

TEST(WaitWithMessagePump, EndsWithoutContinuingWhenItsContextGoes)
{
    auto context = std::make_unique<QObject>();
    bool continued = false;
    quokka::After(100, context.get(), [&] { continued = true; });
    QTimer::singleShot(50, [&] { context.reset(); });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(continued);
}

TEST(Worker, HandsTheResultToTheOwnersThreadWhileTheInterfaceRuns)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);
    const std::thread::id uiThread = std::this_thread::get_id();
    QObject receiver;
    quokka::Worker worker(&receiver);
    QEventLoop loop;
    std::optional<int> result;
    std::thread::id deliveredOn;
    worker.Run<int>(
        [uiThread](std::stop_token) {
            EXPECT_NE(std::this_thread::get_id(), uiThread);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return 42;
        },
        [&](int value) {
            result = value;
            deliveredOn = std::this_thread::get_id();
            loop.quit();
        });
    RunLoop(loop);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, 42);
    EXPECT_EQ(deliveredOn, uiThread);
    EXPECT_GE(ticks, 5) << "timers kept firing while the work ran";
}

TEST(Worker, RunsJobsInTurnAndMissesNoneThatEndAtOnce)
{
    QObject receiver;
    quokka::Worker worker(&receiver);
    std::vector<int> results;
    QEventLoop loop;
    for (int i = 0; i < 200; ++i)
        worker.Run<int>([i](std::stop_token) { return i; },
                        [&](int value) {
                            results.push_back(value);
                            if (results.size() == 200)
                                loop.quit();
                        });
    RunLoop(loop, 5000);
    ASSERT_EQ(results.size(), 200u);
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(results[std::size_t(i)], i);
}

TEST(Worker, GoingAsksTheJobToStopWaitsForNothingAndHandsNothingOver)
{
    QObject receiver;
    bool delivered = false;
    auto stopSeen = std::make_shared<std::atomic<bool>>(false);
    auto finallyRan = std::make_shared<std::atomic<bool>>(false);
    QElapsedTimer clock;
    {
        quokka::Worker worker(&receiver);
        worker.Run<int>(
            JobUntilStopped(stopSeen),
            [&](int) { delivered = true; });
        worker.Finally([finallyRan] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a helper's slow end
            *finallyRan = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        clock.start();
    }
    EXPECT_LT(clock.elapsed(), 100) << "the worker's end waited for its thread";
    EXPECT_TRUE(quokka::WaitForWorkers());
    EXPECT_TRUE(stopSeen->load()) << "the job was asked to stop";
    EXPECT_TRUE(finallyRan->load()) << "what Finally posted ran after the worker went";
    QEventLoop loop;
    QTimer::singleShot(200, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_FALSE(delivered);
}
