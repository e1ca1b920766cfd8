// The first result a worker hands over reaches its receiver, even when it is sent before the
// interface has begun to wait (its own process: the first use matters).
#include "base/worker.h"

#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <thread>

TEST(Worker, ItsFirstResultReachesTheInterface)
{
    const std::thread::id uiThread = std::this_thread::get_id();
    std::thread::id ranOn;
    QObject receiver;
    quokka::Worker worker(&receiver);
    QEventLoop loop;
    worker.Run<int>([](std::stop_token) { return 7; },
                    [&](int) {
                        ranOn = std::this_thread::get_id();
                        loop.quit();
                    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the result is sent by now
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(ranOn, uiThread) << "the result never reached the interface thread";
}
