#pragma once
// Waiting without freezing: the responsive pause between hops, and blocking work (name
// resolution, WHOIS, a probe) moved off the interface thread while the interface runs on.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

namespace quokka {

// The pause after each listed hop and between the two drawings of a replayed segment.
constexpr int kHopWaitMs = 2000;

// True once the program has begun to close: waits return at once and runs stop early.
bool ShuttingDown();
// Marks the program as closing and ends every wait in progress.
void BeginShutdown();

// Runs the interface's event loop for MS milliseconds of the monotonic clock, or until the
// program closes. Returns false when it ended because the program is closing.
bool WaitFor(int ms);

// Runs the interface's event loop until DONE is set by another thread (which then calls
// NotifyWorkDone) or the program closes. Returns false in the second case.
bool WaitUntil(const std::atomic<bool> &done);
// Wakes every WaitUntil so it looks at its flag again; callable from any thread.
void NotifyWorkDone();

// Runs WORK on a thread of its own while the interface keeps running. Returns its result,
// or nothing when the program began to close first: the thread is then asked to stop
// through its stop token and left to finish on its own.
template <class Result>
std::optional<Result> RunOffUiThread(std::function<Result(std::stop_token)> work)
{
    struct State {
        std::atomic<bool> done{false};
        std::optional<Result> result;
        std::stop_source stop;
    };
    auto state = std::make_shared<State>();
    std::thread([state, work = std::move(work)] {
        state->result = work(state->stop.get_token());
        state->done.store(true, std::memory_order_release);
        NotifyWorkDone();
    }).detach();
    if (!WaitUntil(state->done)) {
        state->stop.request_stop();
        return std::nullopt;
    }
    return std::move(state->result);
}

} // namespace quokka

// The 2000 ms responsive wait; test runs may shorten it with QUOKKA_TEST_WAIT_MS.
void WaitWithMessagePump();
