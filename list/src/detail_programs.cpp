#include "detail_programs.h"

#include <utility>

#include "plat/base/trace.h"

namespace watchlist {

bool DetailPrograms::start(int slot)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    auto started = plat::proc::start(m_program, {std::to_string(slot)}, plat::proc::Show::Hidden);
    if (!started) {
        plat::trace("detail program for slot " + std::to_string(slot) + " not started: " + started.error().detail);
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_processes[static_cast<std::size_t>(slot)] = started.value();
    return true;
}

bool DetailPrograms::running(int slot)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    std::lock_guard lock(m_mutex);
    plat::proc::Process& process = m_processes[static_cast<std::size_t>(slot)];
    return process.valid() && process.isRunning();
}

void DetailPrograms::stopAll(SlotTable& slots, std::chrono::milliseconds bound)
{
    // Taken out of the table first, so that nobody asking whether a program runs waits for the stop.
    std::array<plat::proc::Process, kSlotCount> stopping;
    {
        std::lock_guard lock(m_mutex);
        std::swap(stopping, m_processes);
    }
    for (int k = 0; k < kSlotCount; ++k) {
        plat::proc::Process& process = stopping[static_cast<std::size_t>(k)];
        if (process.valid() && process.isRunning()) requestClose(slots.view(k));
    }
    for (plat::proc::Process& process : stopping) {
        if (process.valid() && !process.waitForExit(bound)) {
            plat::trace("detail program " + std::to_string(process.pid()) + " did not end; terminating it");
            process.terminate(1);
        }
    }
}

}  // namespace watchlist
