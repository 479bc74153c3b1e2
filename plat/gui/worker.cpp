#include "plat/gui/worker.h"

#include <QMetaObject>

namespace plat::gui {

Worker::Worker(const char* name) : m_context(new QObject)
{
    m_thread.setObjectName(QString::fromUtf8(name));
    m_context->moveToThread(&m_thread);
    m_thread.start();
}

Worker::~Worker() { stop(); }

void Worker::post(std::function<void()> job)
{
    if (m_stopped) return;
    QMetaObject::invokeMethod(m_context, std::move(job), Qt::QueuedConnection);
}

void Worker::stop()
{
    if (m_stopped) return;
    m_stopped = true;
    // Posted last, so every job before it runs; the context and its children go on their own thread.
    QObject* context = m_context;
    QMetaObject::invokeMethod(
        context,
        [context] {
            delete context;
            QThread::currentThread()->quit();
        },
        Qt::QueuedConnection);
    m_thread.wait();
    m_context = nullptr;
}

void postTo(QObject* receiver, std::function<void()> job)
{
    QMetaObject::invokeMethod(receiver, std::move(job), Qt::QueuedConnection);
}

}  // namespace plat::gui
