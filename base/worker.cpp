#include "base/worker.h"

#include "base/wait.h"

namespace quokka {

std::stop_token ShutdownToken(); // base/wait.cpp

Worker::Worker(QObject *receiver)
    : m_receiver(receiver), m_onShutdown(ShutdownToken(), [this] { m_stop.request_stop(); }), m_context(new QObject)
{
    m_context->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("worker"));
    m_thread.start();
}

Worker::~Worker()
{
    RequestStop();
    // The thread ends after what was posted before: jobs not yet begun are skipped, and what
    // Finally posted runs there.
    Post([this] { m_thread.quit(); });
    m_thread.wait();
    delete m_context;
}

void Worker::RequestStop()
{
    m_stop.request_stop();
}

void Worker::Post(std::function<void()> call)
{
    QMetaObject::invokeMethod(m_context, std::move(call), Qt::QueuedConnection);
}

} // namespace quokka
