#include "base/wait.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <memory>
#include <stop_token>

namespace quokka {
namespace {

std::atomic<bool> g_shuttingDown{false};

std::stop_source &ShutdownSource()
{
    static std::stop_source source;
    return source;
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

// Every Worker asks its work to stop when this is triggered (base/worker.cpp).
std::stop_token ShutdownToken()
{
    return ShutdownSource().get_token();
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

void After(int ms, QObject *context, std::function<void()> then)
{
    auto clock = std::make_shared<QElapsedTimer>(); // monotonic
    clock->start();
    AfterElapsed(std::move(clock), ms, context, std::move(then));
}

void WaitWithMessagePump(int ms, QObject *context, std::function<void()> then)
{
    After(ms, context, std::move(then));
}

} // namespace quokka
