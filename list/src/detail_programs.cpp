#include "detail_programs.h"

#include <signal.h>

#include <algorithm>
#include <thread>
#include <utility>

#include "plat/base/trace.h"
#include "plat/proc/claim.h"

namespace watchlist {
namespace {

// The name under which detail programs claim their slots (watchpanel.exe claims it too).
constexpr const char* kDetailClaims = "watchpanel";

}  // namespace

bool DetailPrograms::start(int slot)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    PrinterEntry record{};
    void* view = m_slots.view(slot);
    if (view == nullptr || fSharedMemoryReadAccess(view, &record, sizeof record) != 1) return false;
    {
        std::lock_guard lock(m_mutex);
        m_records[static_cast<std::size_t>(slot)] = record;
    }
    return spawn(slot);
}

bool DetailPrograms::spawn(int slot)
{
    auto started = plat::proc::start(m_program, {std::to_string(slot)}, plat::proc::Show::Hidden);
    if (!started) {
        plat::trace("detail program for slot " + std::to_string(slot) + " not started: " + started.error().detail);
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_processes[static_cast<std::size_t>(slot)] = started.value();
    return true;
}

bool DetailPrograms::putBackRecord(int slot) { return writeFirstRecord(slot, false); }

bool DetailPrograms::recordCannotMonitor(int slot) { return writeFirstRecord(slot, true); }

bool DetailPrograms::writeFirstRecord(int slot, bool cannotMonitor)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    PrinterEntry record{};
    {
        std::lock_guard lock(m_mutex);
        record = m_records[static_cast<std::size_t>(slot)];
    }
    if (cannotMonitor) record.EngineStateReport = 3;
    void* view = m_slots.view(slot);
    return view != nullptr && fSharedMemoryWriteAccess(view, &record, sizeof record) == 1;
}

bool DetailPrograms::restart(int slot)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    {
        std::lock_guard lock(m_mutex);
        if (m_processes[static_cast<std::size_t>(slot)].valid()) return false;  // one program a slot
    }
    return putBackRecord(slot) && spawn(slot);
}

bool DetailPrograms::running(int slot)
{
    if (slot < 0 || slot >= kSlotCount) return false;
    std::lock_guard lock(m_mutex);
    plat::proc::Process& process = m_processes[static_cast<std::size_t>(slot)];
    return process.valid() && process.isRunning();
}

std::optional<int> DetailPrograms::takeEnd(int slot)
{
    if (slot < 0 || slot >= kSlotCount) return std::nullopt;
    std::lock_guard lock(m_mutex);
    plat::proc::Process& process = m_processes[static_cast<std::size_t>(slot)];
    if (!process.valid() || process.isRunning()) return std::nullopt;
    const std::optional<int> code = process.exitCode();
    process = plat::proc::Process();
    return code.value_or(-1);
}

void DetailPrograms::stopAll(std::chrono::milliseconds bound)
{
    // Taken out of the table first, so that nobody asking whether a program runs waits for the stop.
    std::array<plat::proc::Process, kSlotCount> stopping;
    {
        std::lock_guard lock(m_mutex);
        std::swap(stopping, m_processes);
    }
    for (int k = 0; k < kSlotCount; ++k) {
        plat::proc::Process& process = stopping[static_cast<std::size_t>(k)];
        if (process.valid() && process.isRunning()) requestClose(m_slots.view(k));
    }
    for (plat::proc::Process& process : stopping) {
        if (process.valid() && !process.waitForExit(bound)) {
            plat::trace("detail program " + std::to_string(process.pid()) + " did not end; terminating it");
            process.terminate(1);
        }
    }
}

int endLeftDetailPrograms(std::chrono::milliseconds bound)
{
    // Not our children, so they cannot be waited for: their claims tell when they are gone, and that a
    // pid still belongs to a detail program when it is signalled.
    auto left = plat::proc::claimants(kDetailClaims, kSlotCount);
    if (left.empty()) return 0;
    const int count = static_cast<int>(left.size());
    for (const auto& claimant : left) {
        plat::trace("list: ending the detail program " + std::to_string(claimant.pid) + " of slot " +
                    std::to_string(claimant.place) + ", left by a list that did not end it");
        ::kill(claimant.pid, SIGTERM);
    }
    auto waitForNone = [](std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        while (!plat::proc::claimants(kDetailClaims, kSlotCount).empty()) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    };
    if (waitForNone(bound)) return count;
    for (const auto& claimant : plat::proc::claimants(kDetailClaims, kSlotCount)) {
        plat::trace("list: the detail program " + std::to_string(claimant.pid) + " did not end; killing it");
        ::kill(claimant.pid, SIGKILL);
    }
    if (!waitForNone(std::chrono::seconds(10))) plat::trace("list: a detail program left by another list survives");
    return count;
}

}  // namespace watchlist
