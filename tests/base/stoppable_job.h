#pragma once
// A background job for the worker's tests: it runs until it is asked to stop, then notes
// in STOPSEEN that it saw the request and returns 1.
#include <atomic>
#include <chrono>
#include <memory>
#include <stop_token>
#include <thread>

inline auto JobUntilStopped(std::shared_ptr<std::atomic<bool>> stopSeen)
{
    return [stopSeen = std::move(stopSeen)](std::stop_token stop) {
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stopSeen->store(true);
        return 1;
    };
}
