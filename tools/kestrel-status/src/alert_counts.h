#pragma once
// How often each reason came up per printer, for the kestrel_alerts_total counters. The counts come
// from the status history the detail programs record under the system root; without one there are
// none, and the counter has no series.

#include <cstdint>
#include <string>
#include <vector>

#include "plat/services/services.h"

namespace kestrel_status {

struct AlertCount {
    std::string printer;
    std::string reason;  // a printer-state-reasons keyword, as "reasons" gives them
    std::uint64_t count = 0;
};

// Every (printer, reason) pair the history holds, with the number of changes that brought the reason up.
std::vector<AlertCount> alertCounts(plat::Services& services);

}  // namespace kestrel_status
