#include "alert_counts.h"

#include "status_history.h"

namespace kestrel_status {

std::vector<AlertCount> alertCounts(plat::Services& services)
{
    using kestrel::history::HistoryStore;
    // The history lives beside the store, in the system root; none yet reads as no counts.
    const auto file = kestrel::history::historyFile(services.store().file().parent_path());
    auto history = HistoryStore::open(file, HistoryStore::Access::ReadOnly);
    if (!history) return {};
    auto counts = history.value()->alertCounts();
    if (!counts) return {};
    std::vector<AlertCount> out;
    out.reserve(counts.value().size());
    for (const auto& c : counts.value()) out.push_back(AlertCount{c.printer, c.reason, c.count});
    return out;
}

}  // namespace kestrel_status
