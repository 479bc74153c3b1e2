#include "plat/gui/worker.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <deque>
#include <map>
#include <mutex>

namespace plat::gui {
namespace {
std::mutex boxesMutex;  // guards the table of boxes below, and is taken once by every box's run
}  // namespace

// The jobs for the objects of one thread, run there one at a time in the order they came. A job passes
// from the posting thread to the running one through the box's own mutex; Qt's event queue only carries
// a bare event that says one is waiting, which Qt makes, delivers and deletes. Qt's locks are built
// without the thread checker, which would otherwise see each job's captured values written on one thread
// and read on another with nothing between them.
class JobBox final : public QObject {
public:
    void put(QObject* receiver, std::function<void()> job)
    {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back({receiver, std::move(job)});
        }
        QCoreApplication::postEvent(this, new QEvent(kJobWaiting));
    }

protected:
    // Qt hands only our own events here. The job may delete this box (a worker's last job does):
    // nothing of the box is touched after it.
    void customEvent(QEvent*) override
    {
        // A box made by another thread was made under this lock: taking it once puts the making before
        // anything this thread does with the box.
        {
            std::lock_guard made(boxesMutex);
        }
        Job job;
        {
            std::lock_guard lock(m_mutex);
            if (m_jobs.empty()) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        if (!job.receiver.isNull()) job.run();
    }

private:
    static constexpr QEvent::Type kJobWaiting = QEvent::User;
    struct Job {
        QPointer<QObject> receiver;  // a job for an object destroyed meanwhile does not run
        std::function<void()> run;
    };
    std::mutex m_mutex;
    std::deque<Job> m_jobs;  // guarded by m_mutex
};

namespace {

// One box per thread that receives jobs: a worker's context, or one made on the first postTo() to an
// object of another thread, which goes when that thread finishes.
std::map<QThread*, JobBox*>& boxes()
{
    static auto* table = new std::map<QThread*, JobBox*>();  // outlives every static user
    return *table;
}

// With boxesMutex held.
JobBox* boxOf(QThread* thread)
{
    JobBox*& box = boxes()[thread];
    if (box == nullptr) {
        box = new JobBox;
        box->moveToThread(thread);
        QObject::connect(
            thread, &QThread::finished, box,
            [thread, box] {
                std::lock_guard lock(boxesMutex);
                auto it = boxes().find(thread);
                if (it != boxes().end() && it->second == box) boxes().erase(it);
                box->deleteLater();  // a finishing thread deletes what is left for later
            },
            Qt::DirectConnection);
    }
    return box;
}

}  // namespace

Worker::Worker(const char* name) : m_context(new JobBox)
{
    m_thread.setObjectName(QString::fromUtf8(name));
    m_context->moveToThread(&m_thread);
    {
        std::lock_guard lock(boxesMutex);
        boxes()[&m_thread] = m_context;
    }
    m_thread.start();
}

Worker::~Worker() { stop(); }

QObject* Worker::context() const { return m_context; }

void Worker::post(std::function<void()> job)
{
    // Under the lock, so that no job lands behind the last one, which deletes the box.
    std::lock_guard lock(m_mutex);
    if (m_stopped) return;
    m_context->put(m_context, std::move(job));
}

void Worker::stop()
{
    JobBox* context = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped) return;
        m_stopped = true;
        {
            std::lock_guard boxesLock(boxesMutex);
            boxes().erase(&m_thread);
        }
        // Posted last, so every job before it runs; the context and its children go on their own thread.
        context = m_context;
        context->put(context, [this, context] {
            delete context;
            // Notified under the lock: once it is let go, stop() may return and the worker be gone.
            std::lock_guard doneLock(m_mutex);
            m_finished = true;
            m_finishedChanged.notify_all();
            QThread::currentThread()->quit();
        });
    }
    if (onWorkerThread()) return;  // a job cannot wait for itself: the thread ends after it
    // The end of the jobs is awaited here as well as the thread's: QThread's own wait is made of locks a
    // thread checker cannot see, and what the jobs wrote is read after this returns.
    {
        std::unique_lock lock(m_mutex);
        m_finishedChanged.wait(lock, [this] { return m_finished; });
    }
    m_thread.wait();
    m_context = nullptr;
}

void postTo(QObject* receiver, std::function<void()> job)
{
    std::lock_guard lock(boxesMutex);
    boxOf(receiver->thread())->put(receiver, std::move(job));
}

}  // namespace plat::gui
