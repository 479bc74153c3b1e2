#include "scheduler_view.h"

namespace kestrel_status {

std::map<std::string, SchedulerView> schedulerViews(plat::Services& services)
{
    std::map<std::string, SchedulerView> views;
    if (services.spoolerKind() != plat::spool::Kind::Cups) return views;
    auto spooler = services.spooler();
    if (!spooler) return views;
    auto* cups = dynamic_cast<plat::spool::CupsSpooler*>(spooler.value());
    if (cups == nullptr) return views;
    auto states = cups->queueStates();
    if (!states) return views;
    for (const plat::spool::QueueState& q : states.value()) {
        SchedulerView v;
        v.state = q.stopped ? "stopped" : q.processing ? "processing" : "idle";
        v.reasons = q.reasons;
        for (const plat::spool::QueueState::Marker& m : q.markers) {
            v.markers.push_back({m.name, m.type, m.color, m.level >= 0 ? std::optional<int>(m.level) : std::nullopt});
        }
        views.emplace(q.name, std::move(v));
    }
    return views;
}

}  // namespace kestrel_status
