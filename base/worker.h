#pragma once
// One thread for blocking work (name resolution, WHOIS, probes): jobs run on it one after the
// other, and each result comes back to the owner's thread as a queued call, carried on by
// whichever event loop runs there. The owner's end asks the work to stop and waits for
// nothing: the thread ends on its own once the job under way and what Finally posted are
// done, so a job must own what it uses (its inputs by value, never a reference to its owner).
// The program's orderly end waits for those threads (WaitForWorkers).
#include <QObject>
#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>

namespace quokka {

class Worker {
public:
    // RECEIVER gets the results; it must outlive this worker (make the worker its member).
    explicit Worker(QObject *receiver);
    // Asks the work to stop and hands nothing more over; returns at once.
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // JOB runs on the worker's thread; DONE then runs on the receiver's thread with its result,
    // unless a stop was asked for meanwhile (by RequestStop, the worker's end, or the program
    // closing).
    template <class Result>
    void Run(std::function<Result(std::stop_token)> job, std::function<void(Result)> done)
    {
        Post([job = std::move(job), done = std::move(done), queue = m_queue.get(), stop = m_stop.get_token()] {
            if (stop.stop_requested())
                return; // a job not yet begun when the stop came is not begun at all
            auto result = std::make_shared<Result>(job(stop));
            Deliver(*queue, [done, result, stop] {
                if (!stop.stop_requested())
                    done(std::move(*result));
            });
        });
    }

    // No further result is handed over; the job under way is asked to stop through its token.
    void RequestStop();
    // CALL runs on the worker's thread after the jobs before it, also once a stop has been
    // asked for or the worker has gone: for what must go on the thread it was used on.
    void Finally(std::function<void()> call) { Post(std::move(call)); }

    struct Queue; // the jobs not yet run, shared with the thread

private:
    void Post(std::function<void()> call);
    // Queues CALL to the receiver's thread, unless the worker has gone.
    static void Deliver(Queue &queue, std::function<void()> call);

    std::shared_ptr<Queue> m_queue;
    std::stop_source m_stop;
    std::stop_callback<std::function<void()>> m_onShutdown;
};

// Waits until every worker thread has ended, at most LIMIT; true when none is left. The
// program's end calls it once its windows have gone, so no thread outlives the process's
// orderly end.
bool WaitForWorkers(std::chrono::milliseconds limit = std::chrono::seconds(5));

} // namespace quokka
