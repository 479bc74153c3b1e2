#pragma once
// A printer of the spooler as the list program prepares it for a detail program, for the detail
// program's tests: its store key (port and driver), slot 0 made with its record, the record's store
// values, and the engine's status interval and retry time (100 ms).

#include <cstdint>
#include <string>

#include "facts/models.h"
#include "watchlist/slot_table.h"

namespace watchpanel::testing {

void preparePrinter(watchlist::SlotTable& slots, const std::string& name, const std::string& port, facts::Code code,
                    std::uint32_t statusIntervalMs);

}  // namespace watchpanel::testing
