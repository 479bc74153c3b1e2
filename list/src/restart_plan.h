#pragma once
// When a detail program that ended on its own (a crash, a kill, the memory killer) is started again:
// 1 s after its end, then 5 s, then 30 s for as long as each end comes within 10 minutes of the one
// before; the third end within 10 minutes gives its printer up until the next rebuild. The waits are
// fixed waits of the list's clock, so a test's scaled clock shortens them and the 10 minutes alike.
//
// Pure bookkeeping, no process or slot: the list program's worker asks it, with the time it reads.

#include <array>
#include <chrono>
#include <optional>
#include <vector>

#include "plat/base/clock.h"
#include "watchlist/slot_table.h"

namespace watchlist {

class RestartPlan {
public:
    using Time = std::chrono::steady_clock::time_point;

    explicit RestartPlan(const plat::Clock& clock) : m_clock(clock) {}

    struct Decision {
        bool giveUp = false;
        std::chrono::milliseconds delay{0};  // real time until the start, when not given up
        int recentEnds = 0;                  // ends within the window, this one included
    };
    // The detail program of `slot` ended on its own at `now`.
    Decision ended(int slot, Time now);
    // The slots whose start is due at `now`, each once.
    std::vector<int> due(Time now);
    bool waiting(int slot) const;
    // A rebuild: every slot starts afresh.
    void clear();

private:
    struct Slot {
        std::vector<Time> ends;       // within the window of the latest
        std::optional<Time> startAt;  // a start is due then
        int chain = 0;                // ends in a row, each within the window of the one before
    };
    const plat::Clock& m_clock;
    std::array<Slot, kSlotCount> m_slots;
};

}  // namespace watchlist
