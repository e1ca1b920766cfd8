// Closing the program ends waits and running work at once (its own process: the closing
// state is process-wide and stays set).
#include "wait.h"

#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(Shutdown, EndsAWaitAndAbandonsWorkWithoutWaitingForIt)
{
    auto stopSeen = std::make_shared<std::atomic<bool>>(false);
    QTimer::singleShot(100, [] { quokka::BeginShutdown(); });
    QElapsedTimer clock;
    clock.start();
    const auto result = quokka::RunOffUiThread<int>([stopSeen](std::stop_token stop) {
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stopSeen->store(true);
        return 1;
    });
    EXPECT_FALSE(result.has_value());
    EXPECT_LT(clock.elapsed(), 500);
    for (int i = 0; i < 100 && !stopSeen->load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(stopSeen->load()) << "the work was asked to stop";

    clock.restart();
    EXPECT_FALSE(quokka::WaitFor(2000));
    WaitWithMessagePump();
    EXPECT_LT(clock.elapsed(), 100) << "waits return at once once the program is closing";
    EXPECT_TRUE(quokka::ShuttingDown());
}
