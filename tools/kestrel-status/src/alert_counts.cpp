#include "alert_counts.h"

namespace kestrel_status {

std::vector<AlertCount> alertCounts(plat::Services&)
{
    // No history is recorded yet.
    return {};
}

}  // namespace kestrel_status
