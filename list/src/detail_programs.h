#pragma once
// The detail programs the list starts, one per slot: watchpanel.exe SLOT from the program folder,
// hidden; starting one again on the record its slot held at the first start; and the procedure that ends
// them all. Stopping can take 15 s per program that does not answer, so the window runs it off its own
// thread.

#include <array>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>

#include "discovery.h"
#include "plat/proc/process.h"

namespace watchlist {

class DetailPrograms : public DetailStarter {
public:
    // `program` is the path of watchpanel.exe; `slotTable` holds the slots the programs are started on
    // and must outlive this.
    DetailPrograms(std::string program, SlotTable& slotTable) : m_program(std::move(program)), m_slots(slotTable) {}

    // Starts the program of `slot` and keeps the slot's record as it is now, for a start again.
    bool start(int slot) override;
    bool running(int slot);
    // The exit code of the program of `slot` once it has ended, told once: the program is forgotten then.
    // Nothing while it runs or when none was started.
    std::optional<int> takeEnd(int slot);
    // Puts back the record the slot held at the first start: what an ended program left in it is gone.
    bool putBackRecord(int slot);
    // putBackRecord() with engine state 3: whoever reads the slot sees that its printer can no longer be
    // monitored.
    bool recordCannotMonitor(int slot);
    // putBackRecord(), and starts the program of `slot` again; refused while one runs there.
    bool restart(int slot);

    // Asks every running detail program to close through its slot, gives each up to `bound` to end
    // (the waits add up), then terminates those still running with exit code 1 and forgets them all.
    void stopAll(std::chrono::milliseconds bound = std::chrono::seconds(15));

private:
    bool spawn(int slot);
    bool writeFirstRecord(int slot, bool cannotMonitor);

    std::string m_program;
    SlotTable& m_slots;
    std::mutex m_mutex;
    std::array<plat::proc::Process, kSlotCount> m_processes;  // guarded by m_mutex
    std::array<PrinterEntry, kSlotCount> m_records{};         // guarded by m_mutex
};

// Ends the detail programs that a list program before this one left running (it was killed or
// crashed): each is asked to end (SIGTERM, which they answer as a close request), then killed once
// `bound` has passed. Returns how many there were. A list that starts calls it before its first build, so
// no printer is watched twice and no slot of a dead list stays in use.
int endLeftDetailPrograms(std::chrono::milliseconds bound = std::chrono::seconds(15));

}  // namespace watchlist
