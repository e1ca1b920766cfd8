#include "base/wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>

namespace quokka {
namespace {

std::atomic<bool> g_shuttingDown{false};

std::stop_source &ShutdownSource()
{
    static std::stop_source source;
    return source;
}

// Lives for the whole process on the interface thread; other threads post to it. A worker
// may be the first to ask for it, so it is moved to the interface thread when made.
QObject *InterfaceReceiver()
{
    static QObject *instance = [] {
        auto *object = new QObject; // never deleted: workers may still post at exit
        if (QCoreApplication *app = QCoreApplication::instance())
            object->moveToThread(app->thread());
        return object;
    }();
    return instance;
}

// Runs THEN once CLOCK has reached MS, always from the event queue; a precise timer may fire
// a little before its time, and the rest is waited for again.
void AfterElapsed(std::shared_ptr<QElapsedTimer> clock, int ms, QPointer<QObject> context,
                  std::function<void()> then)
{
    if (!context)
        return;
    const qint64 left = std::max<qint64>(ms - clock->elapsed(), 0);
    QTimer::singleShot(std::chrono::milliseconds(left), Qt::PreciseTimer, context.data(),
                       [clock, ms, context, then = std::move(then)]() mutable {
                           if (clock->elapsed() < ms)
                               AfterElapsed(clock, ms, context, std::move(then));
                           else if (!ShuttingDown())
                               then();
                       });
}

} // namespace

int HopWaitMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QUOKKA_TEST_WAIT_MS", &ok);
    return ok && ms >= 0 ? ms : kHopWaitMs;
}

bool ShuttingDown()
{
    return g_shuttingDown.load();
}

void BeginShutdown()
{
    g_shuttingDown.store(true);
    ShutdownSource().request_stop();
}

void PostToInterface(std::function<void()> call)
{
    QMetaObject::invokeMethod(InterfaceReceiver(), std::move(call), Qt::QueuedConnection);
}

void After(int ms, QObject *context, std::function<void()> then)
{
    auto clock = std::make_shared<QElapsedTimer>(); // monotonic
    clock->start();
    AfterElapsed(std::move(clock), ms, context, std::move(then));
}

std::shared_ptr<BackgroundJob> NewBackgroundJob()
{
    auto job = std::make_shared<BackgroundJob>();
    BackgroundJob *self = job.get(); // the callback lives inside the job, so it never outlives it
    job->onShutdown.emplace(ShutdownSource().get_token(), std::function<void()>([self] { self->stop.request_stop(); }));
    return job;
}

} // namespace quokka

void WaitWithMessagePump(QObject *context, std::function<void()> then)
{
    quokka::After(quokka::HopWaitMs(), context, std::move(then));
}
