// A worker that finishes before the interface thread starts waiting must still wake it, even
// when that worker is the very first to signal (its own process: the first use matters).
#include "wait.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

TEST(RunOffUiThread, AWakeUpFirstSentFromAWorkerThreadReachesTheInterface)
{
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        quokka::BeginShutdown(); // frees the stuck wait so the test can report
    });
    watchdog.start(5000);

    std::thread([] { quokka::NotifyWorkDone(); }).join();
    const auto result = quokka::RunOffUiThread<int>([](std::stop_token) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return 7;
    });
    EXPECT_FALSE(timedOut) << "the wait was never woken";
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(*result, 7);
}
