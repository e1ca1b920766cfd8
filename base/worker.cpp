#include "base/worker.h"

#include "base/wait.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace quokka {

std::stop_token ShutdownToken(); // base/wait.cpp

struct Worker::Queue {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> calls;
    QObject *receiver; // none once the worker has gone
    bool ending = false;
};

namespace {

// The worker threads still running, owner or not.
struct Threads {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};

Threads &RunningThreads()
{
    static auto *threads = new Threads; // never destroyed: a thread may end after main has returned
    return *threads;
}

void Serve(const std::shared_ptr<Worker::Queue> &queue)
{
    for (;;) {
        std::function<void()> call;
        {
            std::unique_lock lock(queue->mutex);
            queue->wake.wait(lock, [&] { return !queue->calls.empty() || queue->ending; });
            if (queue->calls.empty())
                break;
            call = std::move(queue->calls.front());
            queue->calls.pop_front();
        }
        call();
    }
}

} // namespace

Worker::Worker(QObject *receiver)
    : m_queue(std::make_shared<Queue>()), m_onShutdown(ShutdownToken(), [this] { m_stop.request_stop(); })
{
    m_queue->receiver = receiver;
    Threads &threads = RunningThreads();
    {
        const std::lock_guard lock(threads.mutex);
        ++threads.running;
    }
    std::thread thread([queue = m_queue, &threads] {
        Serve(queue);
        const std::lock_guard lock(threads.mutex);
        --threads.running;
        threads.ended.notify_all();
    });
    ::pthread_setname_np(thread.native_handle(), "worker");
    thread.detach();
}

Worker::~Worker()
{
    RequestStop();
    {
        const std::lock_guard lock(m_queue->mutex);
        m_queue->receiver = nullptr;
        m_queue->ending = true;
    }
    m_queue->wake.notify_one();
}

void Worker::RequestStop()
{
    m_stop.request_stop();
}

void Worker::Post(std::function<void()> call)
{
    {
        const std::lock_guard lock(m_queue->mutex);
        m_queue->calls.push_back(std::move(call));
    }
    m_queue->wake.notify_one();
}

void Worker::Deliver(Queue &queue, std::function<void()> call)
{
    // Under the lock: the worker's end clears the receiver before the receiver goes.
    const std::lock_guard lock(queue.mutex);
    if (queue.receiver)
        QMetaObject::invokeMethod(queue.receiver, std::move(call), Qt::QueuedConnection);
}

bool WaitForWorkers(std::chrono::milliseconds limit)
{
    Threads &threads = RunningThreads();
    std::unique_lock lock(threads.mutex);
    return threads.ended.wait_for(lock, limit, [&] { return threads.running == 0; });
}

} // namespace quokka
