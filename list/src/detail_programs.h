#pragma once
// The detail programs the list starts, one per slot: watchpanel.exe SLOT from the program folder,
// hidden, and the procedure that ends them all again. Stopping can take 15 s per program that does not
// answer, so the window runs it off its own thread.

#include <array>
#include <chrono>
#include <mutex>
#include <string>

#include "discovery.h"
#include "plat/proc/process.h"

namespace watchlist {

class DetailPrograms : public DetailStarter {
public:
    // `program` is the path of watchpanel.exe.
    explicit DetailPrograms(std::string program) : m_program(std::move(program)) {}

    bool start(int slot) override;
    bool running(int slot);

    // Asks every running detail program to close through its slot, gives each up to `bound` to end
    // (the waits add up), then terminates those still running with exit code 1 and forgets them all.
    void stopAll(SlotTable& slotTable, std::chrono::milliseconds bound = std::chrono::seconds(15));

private:
    std::string m_program;
    std::mutex m_mutex;
    std::array<plat::proc::Process, kSlotCount> m_processes;  // guarded by m_mutex
};

}  // namespace watchlist
