#pragma once
// A blocking call that cannot be interrupted (the C library's name resolver), waited for only
// as long as its caller wants it: closing the program must not wait for a resolver's time-out.
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <system_error>
#include <thread>

namespace quokka {

// Runs CALL on a thread of its own and waits for its result, or until STOP is requested,
// whichever comes first; on a stop, returns none at once. CALL then goes on alone until it
// returns and its result is dropped.
//
// That thread is the one thread of the program that may outlive its caller, and even the
// process's orderly end (exit() does not wait for it): the call it makes cannot be cut
// short, and waiting for it is exactly what a closing program must not do. It is safe
// because the thread owns everything it touches: CALL (which must hold its inputs by value,
// never a reference to its caller's objects) and the shared slot for the result. It reaches
// no Qt object, no event loop and nothing of the caller, so nothing it uses can go before it.
//
// A token that can never be stopped runs CALL on the calling thread.
template <class Result>
std::optional<Result> CallUnlessStopped(std::function<Result()> call, std::stop_token stop)
{
    if (!stop.stop_possible())
        return call();
    if (stop.stop_requested())
        return std::nullopt;
    struct Slot {
        std::mutex mutex;
        std::condition_variable_any filled;
        std::optional<Result> result;
    };
    auto slot = std::make_shared<Slot>();
    try {
        std::thread([slot, call = std::move(call)] {
            Result result = call();
            const std::lock_guard lock(slot->mutex);
            slot->result = std::move(result);
            slot->filled.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return std::nullopt; // no thread to be had: as if stopped, nothing is left running
    }
    std::unique_lock lock(slot->mutex);
    slot->filled.wait(lock, stop, [&slot] { return slot->result.has_value(); });
    return std::move(slot->result);
}

} // namespace quokka
