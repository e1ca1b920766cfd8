#include "wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace quokka {
namespace {

std::atomic<bool> g_shuttingDown{false};

// Lives for the whole process on the interface thread; worker threads post to it. A worker
// may be the first to ask for it, so it is moved to the interface thread when made.
QObject *WakeUp()
{
    static QObject *instance = [] {
        auto *object = new QObject; // never deleted: workers may still post at exit
        if (QCoreApplication *app = QCoreApplication::instance())
            object->moveToThread(app->thread());
        return object;
    }();
    return instance;
}

// Every loop currently waiting; each one re-checks its condition when woken.
std::vector<QEventLoop *> &ActiveLoops()
{
    static std::vector<QEventLoop *> loops;
    return loops;
}

class LoopRegistration {
public:
    explicit LoopRegistration(QEventLoop *loop) : m_loop(loop) { ActiveLoops().push_back(loop); }
    ~LoopRegistration() { std::erase(ActiveLoops(), m_loop); }
    LoopRegistration(const LoopRegistration &) = delete;
    LoopRegistration &operator=(const LoopRegistration &) = delete;

private:
    QEventLoop *m_loop;
};

void QuitAllLoops()
{
    for (QEventLoop *loop : ActiveLoops())
        loop->quit();
}

int TestWaitMs()
{
    bool ok = false;
    const int ms = qEnvironmentVariableIntValue("QUOKKA_TEST_WAIT_MS", &ok);
    return ok && ms >= 0 ? ms : kHopWaitMs;
}

} // namespace

bool ShuttingDown()
{
    return g_shuttingDown.load();
}

void BeginShutdown()
{
    g_shuttingDown.store(true);
    QuitAllLoops();
}

bool WaitFor(int ms)
{
    QElapsedTimer clock; // monotonic
    clock.start();
    while (!ShuttingDown()) {
        const qint64 left = ms - clock.elapsed();
        if (left <= 0)
            return true;
        QEventLoop loop;
        LoopRegistration registration(&loop);
        QTimer::singleShot(std::chrono::milliseconds(left), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return false;
}

void NotifyWorkDone()
{
    QMetaObject::invokeMethod(WakeUp(), &QuitAllLoops, Qt::QueuedConnection);
}

bool WaitUntil(const std::atomic<bool> &done)
{
    while (!done.load(std::memory_order_acquire)) {
        if (ShuttingDown())
            return false;
        QEventLoop loop;
        LoopRegistration registration(&loop);
        // Check again now that the loop is registered: the worker may have just finished.
        if (done.load(std::memory_order_acquire))
            break;
        loop.exec();
    }
    return !ShuttingDown() || done.load();
}

} // namespace quokka

void WaitWithMessagePump()
{
    quokka::WaitFor(quokka::TestWaitMs());
}
