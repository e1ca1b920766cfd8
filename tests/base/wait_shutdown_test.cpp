// Closing the program asks running work to stop and ends waits without continuing them (its
// own process: the closing state is process-wide and stays set).
#include "base/wait.h"
#include "base/worker.h"
#include "stoppable_job.h"

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

TEST(Shutdown, AsksWorkToStopAndContinuesNothing)
{
    auto stopSeen = std::make_shared<std::atomic<bool>>(false);
    QObject context;
    bool delivered = false, waitContinued = false;
    quokka::Worker worker(&context);
    worker.Run<int>(
        JobUntilStopped(stopSeen),
        [&](int) { delivered = true; });
    quokka::After(300, &context, [&] { waitContinued = true; });
    QTimer::singleShot(100, [] { quokka::BeginShutdown(); });
    QEventLoop loop;
    QTimer::singleShot(600, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(stopSeen->load()) << "the work was asked to stop";
    EXPECT_FALSE(delivered) << "a closing program takes no more results";
    EXPECT_FALSE(waitContinued) << "a closing program continues no wait";
    EXPECT_TRUE(quokka::ShuttingDown());
}
