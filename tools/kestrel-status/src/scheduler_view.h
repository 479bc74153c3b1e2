#pragma once
// What a print scheduler itself says of its queues (CUPS: printer-state, printer-state-reasons and the
// marker levels), for the queues we do not monitor. Read only.

#include <map>
#include <string>

#include "plat/services/services.h"
#include "snapshot.h"

namespace kestrel_status {

// By queue name; empty on a spooler that is not a scheduler of its own, or one that does not answer.
std::map<std::string, SchedulerView> schedulerViews(plat::Services& services);

}  // namespace kestrel_status
