#pragma once
// A printer's job queue as the queue window shows it, without a window: what one read of the spooler
// gives, the cancels, and the worker thread that does both for a window.
//
// On CUPS the queue's jobs are listed one by one (id, name, owner, size, state, time submitted) and
// cancelled by id; the embedded spooler keeps a count of jobs per printer, not the jobs themselves,
// so there the jobs are numbered pending jobs and a cancel takes jobs off the count.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plat/spool/spooler.h"

namespace queue {

// What went wrong with the last read or cancel.
enum class Problem {
    None,
    Gone,          // the printer was deleted
    Unreadable,    // the spooler cannot be opened or read
    NotCancelled,  // the spooler could not take the jobs off
    NotAllowed,    // the spooler refused: the user may not cancel those jobs (another user's, say)
};

struct QueueState {
    bool read = false;  // false until the first read came back
    Problem problem = Problem::None;
    std::string detail;                  // the problem in English, for diagnostics
    bool listed = false;                 // the spooler lists the jobs themselves (CUPS); else only their count
    std::uint32_t count = 0;             // jobs waiting
    std::vector<plat::spool::Job> jobs;  // when listed, oldest first
    bool afterCancel = false;            // the answer to a cancel (its problem, if any, is the cancel's)
};

// One read of `printer`'s queue.
QueueState readQueue(plat::spool::Spooler& spooler, const std::string& printer);

// What a cancel asks for.
struct Cancel {
    enum class What { Count, Job, All } what = What::Count;
    std::uint32_t count = 1;  // Count: jobs off the count (embedded), or the oldest jobs (CUPS)
    int job = 0;              // Job: the job's id (CUPS)
};
// Cancels and reads the queue again; the state says what the cancel came to.
QueueState cancelJobs(plat::spool::Spooler& spooler, const std::string& printer, const Cancel& cancel);

// Reads and cancels on a thread of its own, so that whoever asks (a window's thread) never waits on the
// spooler; reads again whenever the spooler changes (looked at every kLook). Each result goes to
// `deliver` on the worker's thread; the owner passes it on to where it is shown.
class QueueWorker {
public:
    using Opener = std::function<plat::Result<std::unique_ptr<plat::spool::Spooler>>()>;
    using Deliver = std::function<void(const QueueState&)>;
    static constexpr std::chrono::milliseconds kLook{500};

    // Opens the spooler with `open` on its thread, then reads the queue.
    QueueWorker(Opener open, std::string printer, Deliver deliver);
    // Never waits for a spooler call in progress: the thread ends by itself after it, delivering
    // nothing more.
    ~QueueWorker();
    QueueWorker(const QueueWorker&) = delete;
    QueueWorker& operator=(const QueueWorker&) = delete;

    void refresh();
    void cancel(const Cancel& cancel);
    // Waits up to `bound` for the thread to end after the worker is gone (for a program's exit): false
    // when it is still inside a spooler call.
    static bool drain(std::chrono::milliseconds bound);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

}  // namespace queue
