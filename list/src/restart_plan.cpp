#include "restart_plan.h"

#include <algorithm>

namespace watchlist {
namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kDelays[] = {1s, 5s, 30s};
constexpr std::chrono::milliseconds kWindow = 10min;
constexpr int kEndsToGiveUp = 3;

}  // namespace

RestartPlan::Decision RestartPlan::ended(int slot, Time now)
{
    Decision decision;
    if (slot < 0 || slot >= kSlotCount) {
        decision.giveUp = true;
        return decision;
    }
    Slot& s = m_slots[static_cast<std::size_t>(slot)];
    const auto window = m_clock.real(kWindow);
    s.chain = !s.ends.empty() && now - s.ends.back() <= window ? s.chain + 1 : 1;
    std::erase_if(s.ends, [&](Time end) { return now - end > window; });
    s.ends.push_back(now);
    decision.recentEnds = static_cast<int>(s.ends.size());
    if (decision.recentEnds >= kEndsToGiveUp) {
        decision.giveUp = true;
        s.startAt.reset();
        return decision;
    }
    const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(s.chain - 1), std::size(kDelays) - 1);
    decision.delay = m_clock.real(kDelays[step]);
    s.startAt = now + decision.delay;
    return decision;
}

std::vector<int> RestartPlan::due(Time now)
{
    std::vector<int> slots;
    for (int k = 0; k < kSlotCount; ++k) {
        Slot& s = m_slots[static_cast<std::size_t>(k)];
        if (s.startAt && *s.startAt <= now) {
            s.startAt.reset();
            slots.push_back(k);
        }
    }
    return slots;
}

bool RestartPlan::waiting(int slot) const
{
    return slot >= 0 && slot < kSlotCount && m_slots[static_cast<std::size_t>(slot)].startAt.has_value();
}

void RestartPlan::clear() { m_slots = {}; }

}  // namespace watchlist
