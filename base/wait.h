#pragma once
// Waiting without freezing and without holding anything up: the responsive pause between
// hops, and blocking work (name resolution, WHOIS, a probe) done on a thread of its own. Both
// hand their continuation to the interface thread's event queue, so whichever event loop runs
// there (the program's own, a modal box's, a menu's) carries them on at their own pace.
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <thread>

namespace quokka {

// The pause after each listed hop and between the two drawings of a replayed segment.
constexpr int kHopWaitMs = 2000;
// Its length in this process: kHopWaitMs, or QUOKKA_TEST_WAIT_MS when a test shortens it.
int HopWaitMs();

// True once the program has begun to close: pending waits and work end without continuing.
bool ShuttingDown();
// Marks the program as closing and asks all background work to stop.
void BeginShutdown();

// Runs CALL on the interface thread, from any thread, once the events queued before it are done.
void PostToInterface(std::function<void()> call);

// Calls THEN on the interface thread after MS milliseconds of the monotonic clock (never
// earlier), unless CONTEXT has gone or the program is closing by then.
void After(int ms, QObject *context, std::function<void()> then);

// The state a background job shares with the thread that runs it.
struct BackgroundJob {
    std::stop_source stop;
    // Asks the job to stop when the program begins to close.
    std::optional<std::stop_callback<std::function<void()>>> onShutdown;
};
std::shared_ptr<BackgroundJob> NewBackgroundJob();

// Runs WORK on a thread of its own while the interface keeps running, then hands its result
// to DONE on the interface thread, unless CONTEXT has gone or the program is closing by then.
// The returned source asks WORK to stop through its stop token; closing the program asks too.
// The thread is not waited for: a job that ignores its token finishes on its own and its
// result is dropped.
template <class Result>
std::stop_source RunInBackground(QObject *context, std::function<Result(std::stop_token)> work,
                                 std::function<void(Result)> done)
{
    auto job = NewBackgroundJob();
    std::thread([job, context = QPointer<QObject>(context), work = std::move(work), done = std::move(done)]() mutable {
        auto result = std::make_shared<Result>(work(job->stop.get_token()));
        PostToInterface([context, done = std::move(done), result] {
            if (context && !ShuttingDown())
                done(std::move(*result));
        });
    }).detach();
    return job->stop;
}

} // namespace quokka

// The responsive 2000 ms wait: THEN runs once it is over, unless CONTEXT has gone or the
// program is closing. Nothing blocks meanwhile, so no other window can hold the wait up.
void WaitWithMessagePump(QObject *context, std::function<void()> then);
