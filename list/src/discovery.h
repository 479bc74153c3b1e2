#pragma once
// Printer discovery: on every rebuild the spooler's printers become the list's rows, in the spooler's
// order. Each printer that passes the eligibility tests, in their order, gets a shared slot, its record,
// its prepared store and a hidden detail program; every other printer a row that cannot be monitored.
// The build runs on a worker thread and touches no widget: the window shows the rows it returns.

#include <cstdint>
#include <string>
#include <vector>

#include "watchlist/list_texts.h"
#include "watchlist/slot_table.h"

namespace watchlist {

inline constexpr std::uint16_t kNoSlot = 0xFFFF;

// One row of the list: the printer at `row` in the spooler's list.
struct Row {
    int row = 0;
    std::uint16_t slot = kNoSlot;  // the printer's slot; kNoSlot when it cannot be monitored
    std::string name;              // the printer's name, also what the name column sorts by
    int modelIndex = -1;           // its model number, -1 when it has none to monitor with
    bool network = false;          // which picture the row shows: a network or a local printer
    MonitorState state = MonitorState::CannotMonitor;
    int printerState = -1;  // the record's PrinterState once shown, -1 for none
    int jobCount = -1;      // jobs in its queue once shown, -1 for none

    bool operator==(const Row&) const = default;
    bool monitorable() const { return slot != kNoSlot; }
    // The item parameter of the list: the slot in the high half, the row in the low half; negative
    // for a row that cannot be monitored.
    std::int32_t parameter() const
    {
        return static_cast<std::int32_t>((static_cast<std::uint32_t>(slot) << 16) | static_cast<std::uint16_t>(row));
    }
};

// Starts the detail program of a slot (the list program's starts watchpanel.exe; tests may count).
class DetailStarter {
public:
    virtual ~DetailStarter() = default;
    virtual bool start(int slot) = 0;
};

struct Build {
    enum class End { Done = 0, ListsUnavailable = 1, NoPrinters = 2 };
    End end = End::Done;
    std::vector<Row> rows;
    // Why the build stopped before the last printer, empty when it did not.
    std::string stoppedBecause;
    // The detail program of a printer could not be started: the list shows error box 3.
    bool detailStartFailed = false;
};

// Runs one build: reads the spooler's printer and driver lists, the model table and the port list,
// and makes the rows. `slotTable` must be empty. More printers than slots: the first monitorable printers
// get the slots and the rest are rows that cannot be monitored.
Build buildRows(SlotTable& slotTable, DetailStarter& starter);

}  // namespace watchlist
