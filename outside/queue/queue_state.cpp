#include "queue_state.h"

#include <algorithm>

namespace queue {
namespace {

using plat::spool::CupsSpooler;
using plat::spool::Failure;

bool isFailure(const plat::Error& error, Failure failure) { return error.code == static_cast<int>(failure); }

// The threads of workers, gone or not, that have not ended yet.
std::mutex g_threadsMutex;
std::condition_variable g_threadsEnded;
int g_threads = 0;

}  // namespace

QueueState readQueue(plat::spool::Spooler& spooler, const std::string& printer)
{
    QueueState state;
    state.read = true;
    auto found = spooler.printer(printer);
    if (!found) {
        const bool gone = isFailure(found.error(), Failure::NotFound);
        state.problem = gone ? Problem::Gone : Problem::Unreadable;
        state.detail = gone ? "The printer \"" + printer + "\" no longer exists."
                            : "The spooler cannot be read: " + found.error().detail;
        return state;
    }
    state.count = found.value().jobs;
    if (auto* cups = dynamic_cast<CupsSpooler*>(&spooler)) {
        auto jobs = cups->jobs(printer);
        if (!jobs) {
            state.problem = isFailure(jobs.error(), Failure::NotFound) ? Problem::Gone : Problem::Unreadable;
            state.detail = "The jobs cannot be read: " + jobs.error().detail;
            return state;
        }
        state.listed = true;
        state.jobs = std::move(jobs).value();
        state.count = static_cast<std::uint32_t>(state.jobs.size());
    }
    return state;
}

QueueState cancelJobs(plat::spool::Spooler& spooler, const std::string& printer, const Cancel& cancel)
{
    plat::spool::Done done = true;
    if (auto* cups = dynamic_cast<CupsSpooler*>(&spooler)) {
        switch (cancel.what) {
        case Cancel::What::Job: done = cups->cancelJob(printer, cancel.job); break;
        case Cancel::What::All: done = cups->cancelAllJobs(printer); break;
        case Cancel::What::Count: {
            auto jobs = cups->jobs(printer);
            if (!jobs) {
                done = jobs.error();
                break;
            }
            const std::size_t n = std::min<std::size_t>(cancel.count, jobs.value().size());
            for (std::size_t i = 0; i < n && done; ++i) done = cups->cancelJob(printer, jobs.value()[i].id);
            break;
        }
        }
    } else {
        done = spooler.finishJobs(printer, cancel.what == Cancel::What::All ? UINT32_MAX : cancel.count);
    }
    QueueState state = readQueue(spooler, printer);
    state.afterCancel = true;
    if (!done && state.problem == Problem::None) {
        const bool refused = isFailure(done.error(), Failure::Refused);
        state.problem = refused ? Problem::NotAllowed : Problem::NotCancelled;
        state.detail =
            (refused ? "The spooler does not allow it: " : "The jobs could not be cancelled: ") + done.error().detail;
    }
    return state;
}

// Commands in, results out; guarded by `mutex`. The worker's thread keeps it alive as long as it runs.
struct QueueWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<QueueState(plat::spool::Spooler&, const std::string&)>> commands;
    Deliver deliver;  // empty once the worker is gone
    bool stop = false;

    // Passes a result on unless the worker is gone.
    void post(const QueueState& state)
    {
        std::lock_guard lock(mutex);
        if (deliver) deliver(state);
    }
};

QueueWorker::QueueWorker(Opener open, std::string printer, Deliver deliver) : m_shared(std::make_shared<Shared>())
{
    m_shared->deliver = std::move(deliver);
    {
        std::lock_guard lock(g_threadsMutex);
        ++g_threads;
    }
    std::thread([shared = m_shared, open = std::move(open), printer = std::move(printer)] {
        std::unique_ptr<plat::spool::Spooler> spooler;
        std::uint64_t seen = 0;
        for (;;) {
            if (!spooler) {
                auto opened = open();
                if (opened) {
                    spooler = std::move(opened).value();
                    seen = spooler->changeCount();
                    shared->post(readQueue(*spooler, printer));
                } else {
                    QueueState state;
                    state.read = true;
                    state.problem = Problem::Unreadable;
                    state.detail = "The spooler cannot be opened: " + opened.error().detail;
                    shared->post(state);
                }
            }
            std::function<QueueState(plat::spool::Spooler&, const std::string&)> command;
            {
                std::unique_lock lock(shared->mutex);
                // Commands wait for a spooler; one that did not open is tried again after a look.
                shared->wake.wait_for(lock, kLook,
                                      [&] { return shared->stop || (spooler && !shared->commands.empty()); });
                if (shared->stop) break;
                if (!spooler) continue;
                if (!shared->commands.empty()) {
                    command = std::move(shared->commands.front());
                    shared->commands.pop_front();
                }
            }
            if (command) {
                seen = spooler->changeCount();
                shared->post(command(*spooler, printer));
            } else if (const std::uint64_t now = spooler->changeCount(); now != seen) {
                seen = now;
                shared->post(readQueue(*spooler, printer));
            }
        }
        spooler.reset();
        std::lock_guard lock(g_threadsMutex);
        --g_threads;
        g_threadsEnded.notify_all();
    }).detach();
}

QueueWorker::~QueueWorker()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->stop = true;
    m_shared->deliver = nullptr;
    m_shared->wake.notify_all();
}

void QueueWorker::refresh()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->commands.push_back(
        [](plat::spool::Spooler& spooler, const std::string& printer) { return readQueue(spooler, printer); });
    m_shared->wake.notify_all();
}

void QueueWorker::cancel(const Cancel& cancel)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->commands.push_back([cancel](plat::spool::Spooler& spooler, const std::string& printer) {
        return cancelJobs(spooler, printer, cancel);
    });
    m_shared->wake.notify_all();
}

bool QueueWorker::drain(std::chrono::milliseconds bound)
{
    std::unique_lock lock(g_threadsMutex);
    return g_threadsEnded.wait_for(lock, bound, [] { return g_threads == 0; });
}

}  // namespace queue
