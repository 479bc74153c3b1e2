#include "plat/services/heartbeat.h"

#include <algorithm>
#include <vector>

#include "plat/base/thread_name.h"

namespace plat {

Heartbeat::Heartbeat(const Clock& clock) : m_clock(clock) {}

Heartbeat::~Heartbeat()
{
    {
        std::lock_guard lock(m_mutex);
        m_end = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

std::uint64_t Heartbeat::every(int beats, Check check)
{
    std::uint64_t id = 0;
    bool ownThreadBeats = false;
    {
        std::lock_guard lock(m_mutex);
        beats = std::max(beats, 1);
        id = m_nextId++;
        m_entries.push_back(Entry{id, beats, m_beat + static_cast<std::uint64_t>(beats), std::move(check)});
        if (!m_thread.joinable())
            m_thread = std::thread([this] {
                nameThisThread("heartbeat");
                run();
            });
        ownThreadBeats = !m_driven;
    }
    if (ownThreadBeats) m_changed.notify_all();  // it may sleep without a timer
    return id;
}

void Heartbeat::cancel(std::uint64_t id)
{
    std::unique_lock lock(m_mutex);
    if (std::this_thread::get_id() != m_runningOn) m_checkEnded.wait(lock, [&] { return m_running != id; });
    m_entries.remove_if([id](const Entry& e) { return e.id == id; });
}

bool Heartbeat::await(int beats, const std::function<bool()>& isDue, std::condition_variable& wake,
                      std::unique_lock<std::mutex>& lock, const std::function<bool()>& stop)
{
    std::mutex& mutex = *lock.mutex();
    bool found = false;  // guarded by `mutex`
    const std::uint64_t id = every(beats, [&] {
        if (!isDue()) return;
        {
            std::lock_guard guard(mutex);
            found = true;
        }
        wake.notify_all();
    });
    // A stop wakes the wait at once; this bound only catches a notice that came before the wait began.
    const auto safety = m_clock.real(std::chrono::seconds(60));
    while (!found && !stop()) wake.wait_for(lock, safety);
    const bool result = found;
    lock.unlock();
    cancel(id);  // the check refers to this frame
    lock.lock();
    return result;
}

void Heartbeat::driveFromCaller()
{
    {
        std::lock_guard lock(m_mutex);
        m_driven = true;
    }
    m_changed.notify_all();
}

void Heartbeat::beat()
{
    std::unique_lock lock(m_mutex);
    runDue(lock);
}

void Heartbeat::run()
{
    using SteadyClock = std::chrono::steady_clock;
    const auto period = m_clock.real(kBeat);
    const auto start = SteadyClock::now();
    std::unique_lock lock(m_mutex);
    while (!m_end) {
        if (m_entries.empty() || m_driven) {
            m_changed.wait(lock, [&] { return m_end || (!m_entries.empty() && !m_driven); });
            continue;
        }
        // The next beat on the grid: a beat missed while the machine was busy is not made up.
        const auto since = SteadyClock::now() - start;
        const auto next = start + (since / period + 1) * period;
        if (m_changed.wait_until(lock, next, [&] { return m_end || m_driven; })) continue;
        runDue(lock);
    }
}

void Heartbeat::runDue(std::unique_lock<std::mutex>& lock)
{
    ++m_beat;
    std::vector<std::uint64_t> due;
    for (const Entry& e : m_entries) {
        if (e.due <= m_beat) due.push_back(e.id);
    }
    for (std::uint64_t id : due) {
        auto it = std::find_if(m_entries.begin(), m_entries.end(), [id](const Entry& e) { return e.id == id; });
        if (it == m_entries.end()) continue;  // cancelled by a check before it
        it->due = m_beat + static_cast<std::uint64_t>(it->beats);
        Check check = it->check;
        m_running = id;
        m_runningOn = std::this_thread::get_id();
        lock.unlock();
        check();
        lock.lock();
        m_running = 0;
        m_runningOn = {};
        m_checkEnded.notify_all();
    }
}

}  // namespace plat
