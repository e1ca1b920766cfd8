// A call posted to the interface from a worker thread reaches it, even when that worker is
// the very first to post (its own process: the first use matters).
#include "base/wait.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

TEST(PostToInterface, AFirstPostFromAWorkerThreadReachesTheInterface)
{
    const std::thread::id uiThread = std::this_thread::get_id();
    std::thread::id ranOn;
    QEventLoop loop;
    std::thread([&] {
        quokka::PostToInterface([&] {
            ranOn = std::this_thread::get_id();
            loop.quit();
        });
    }).join();
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(ranOn, uiThread) << "the posted call never ran on the interface thread";
}
