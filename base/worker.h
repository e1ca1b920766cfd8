#pragma once
// One thread for blocking work (name resolution, WHOIS, probes): jobs run on it one after the
// other, and each result comes back to the owner's thread as a queued call, carried on by
// whichever event loop runs there. The owner's destruction asks the work to stop and waits
// for the thread, so no job outlives its owner (a resolver call that a job has given up on
// goes on alone: CallUnlessStopped).
#include <QObject>
#include <QThread>
#include <functional>
#include <memory>
#include <stop_token>

namespace quokka {

class Worker {
public:
    // RECEIVER gets the results; it must outlive this worker (make the worker its member).
    explicit Worker(QObject *receiver);
    // Asks the work to stop, then waits for the job under way to end.
    ~Worker();
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;

    // JOB runs on the worker's thread; DONE then runs on the receiver's thread with its result,
    // unless a stop was asked for meanwhile (by RequestStop, or by the program closing).
    template <class Result>
    void Run(std::function<Result(std::stop_token)> job, std::function<void(Result)> done)
    {
        Post([job = std::move(job), done = std::move(done), receiver = m_receiver, stop = m_stop.get_token()] {
            if (stop.stop_requested())
                return; // a job not yet begun when the stop came is not begun at all
            auto result = std::make_shared<Result>(job(stop));
            if (stop.stop_requested())
                return;
            QMetaObject::invokeMethod(
                receiver,
                [done, result, stop] {
                    if (!stop.stop_requested())
                        done(std::move(*result));
                },
                Qt::QueuedConnection);
        });
    }

    // No further result is handed over; the job under way is asked to stop through its token.
    void RequestStop();
    // CALL runs on the worker's thread after the jobs before it, also once a stop has been
    // asked for: the worker's end waits for it. For what must go on the thread it was used on.
    void Finally(std::function<void()> call) { Post(std::move(call)); }

private:
    void Post(std::function<void()> call);

    QObject *m_receiver;
    std::stop_source m_stop;
    std::stop_callback<std::function<void()>> m_onShutdown;
    QThread m_thread;
    QObject *m_context; // lives on m_thread; runs the posted jobs
};

} // namespace quokka
