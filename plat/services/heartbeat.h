#pragma once
// One heartbeat per process: a thread that wakes on a common 500 ms grid and runs every check that is
// due at that beat, one after the other. Loops that look at something every 500 ms or every second
// (a port watch, a mailbox, a retry rule) hand their look to the heartbeat and sleep until it finds
// work, so an idle process wakes twice a second in all instead of once per loop and period.
//
// A check is short and never waits (it reads a few values); long work is the waiting thread's, which
// the check wakes. With no check registered the thread sleeps without a timer.
//
// Threads: every() and cancel() from any thread.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "plat/base/clock.h"

namespace plat {

class Heartbeat {
public:
    static constexpr std::chrono::milliseconds kBeat{500};  // a fixed wait: the clock says how long

    explicit Heartbeat(const Clock& clock);
    ~Heartbeat();
    Heartbeat(const Heartbeat&) = delete;
    Heartbeat& operator=(const Heartbeat&) = delete;

    // How long a beat takes on the clock.
    std::chrono::milliseconds period() const { return m_clock.real(kBeat); }
    // The clock the heartbeat keeps time with, which also times the program's own timers.
    const Clock& clock() const { return m_clock; }

    using Check = std::function<void()>;
    // Runs `check` on the heartbeat's thread every `beats` beats (at least 1), the first time `beats`
    // beats from now, until cancel(). Returns the check's id.
    std::uint64_t every(int beats, Check check);
    // The check runs no more; when it is running now on the heartbeat's thread, waits for it to end
    // (so whatever it refers to may go), unless called from that check itself.
    void cancel(std::uint64_t id);

    // From now on the caller beats: a thread of the program that wakes on the grid anyway (a window's
    // worker with a 500 ms timer) calls beat() every kBeat on the clock, and the heartbeat's own
    // thread sleeps. One wake-up serves both.
    void driveFromCaller();
    // Runs the checks due at this beat on the calling thread (after driveFromCaller()).
    void beat();

    // For a loop's thread: sleeps on `wake` (with `lock` held) while the heartbeat asks `isDue` every
    // `beats` beats; true once it answers yes, false when `stop()` turned true first. Whoever makes
    // `stop` true notifies `wake`. `isDue` runs on the heartbeat's thread without `lock`.
    bool await(int beats, const std::function<bool()>& isDue, std::condition_variable& wake,
               std::unique_lock<std::mutex>& lock, const std::function<bool()>& stop);

private:
    struct Entry {
        std::uint64_t id;
        int beats;
        std::uint64_t due;
        Check check;
    };
    void run();
    void runDue(std::unique_lock<std::mutex>& lock);  // with m_mutex held

    const Clock& m_clock;
    std::mutex m_mutex;
    std::condition_variable m_changed;     // a check added, the caller beating, or the end
    std::condition_variable m_checkEnded;  // for cancel()
    std::list<Entry> m_entries;
    std::uint64_t m_beat = 0;  // beats since the start
    std::uint64_t m_nextId = 1;
    std::uint64_t m_running = 0;  // the id of the check running now, 0 when none
    std::thread::id m_runningOn;  // and the thread it runs on
    bool m_driven = false;        // the caller beats
    bool m_end = false;
    std::thread m_thread;  // started with the first check
};

}  // namespace plat
