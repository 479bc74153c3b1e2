#pragma once
// A thread a program owns for the work its windows must never wait on: the store, the spooler, ports,
// processes, D-Bus. Jobs posted to it run there one after the other, in the order they were posted; a
// job hands its result back to the window by posting to a QObject of the GUI thread (postTo()), where
// the window applies it. Timers and objects given context() as their parent live on the worker.
//
// The GUI thread only posts; it never waits for a job, except once at the program's end (stop()).
// Jobs pass between threads under a lock of our own, so a ThreadSanitizer build sees them handed over.

#include <QObject>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace plat::gui {

class JobBox;

class Worker {
public:
    // `name` names the thread (for a debugger and /proc).
    explicit Worker(const char* name);
    // stop()
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Runs `job` on the worker after every job posted before it. Ignored once stopped. Any thread.
    void post(std::function<void()> job);
    // An object living on the worker thread: the parent of the worker's timers and objects.
    QObject* context() const;
    bool onWorkerThread() const { return QThread::currentThread() == &m_thread; }
    // Runs the jobs posted so far, then ends the thread and waits for it; the objects under context()
    // are destroyed on the worker first. Whatever the jobs did is seen by the caller afterwards.
    void stop();

private:
    QThread m_thread;
    JobBox* m_context;  // owned by the worker thread until stop() deletes it there
    std::mutex m_mutex;
    std::condition_variable m_finishedChanged;
    bool m_stopped = false;   // guarded by m_mutex
    bool m_finished = false;  // guarded by m_mutex: the last job has run
};

// Runs `job` on `receiver`'s thread, after what that thread has to do already. `receiver` must exist when
// this is called (a window stops its worker before it goes); a job still pending when it is destroyed
// does not run.
void postTo(QObject* receiver, std::function<void()> job);

}  // namespace plat::gui
