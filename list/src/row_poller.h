#pragma once
// Keeps the monitoring, printer-state and job columns of every monitorable item current from the
// slots the detail programs fill and from the spooler, and reacts to what they report: a printer the
// spooler no longer knows or a detail program reporting a changed printer set (state 5 or 6) rebuilds
// the list; state 3, or a second printer on a local port already monitored, makes the item one that
// cannot be monitored and asks its detail program to close. Every call may wait on the spooler, so
// the list program runs it on its worker, over the worker's copy of the items, never while a rebuild
// runs.

#include <functional>

#include "list_rows.h"
#include "watchlist/slot_table.h"

namespace watchlist {

class RowPoller {
public:
    // `rebuild` asks for every detail program to be stopped and the list rebuilt; the poller asks for
    // it at most once per tick and does no further item in that tick.
    RowPoller(ListRows& items, SlotTable& slotTable, std::function<void()> rebuild)
        : m_items(items), m_slots(slotTable), m_rebuild(std::move(rebuild))
    {
    }

    // One tick of timer 1 (monitoring column), 2 (printer-state column) or 3 (network job counts);
    // every tick also checks each printer's presence and port.
    void tick(int timer);
    // The spooler's printers or jobs changed: every monitorable item's job count is read again.
    void spoolerChanged();

private:
    // A tick reads each slot once; `entry` is null where the slot could not be read.
    bool record(int slot, PrinterEntry& entry) const;
    bool checkPresence(int slot, int position, const PrinterEntry* entry);
    void checkPort(int slot, int position, const PrinterEntry* entry);
    void monitoringColumn(int slot, int position, Row& row, const PrinterEntry* entry);
    void printerStateColumn(int position, Row& row, const PrinterEntry* entry);
    void refreshJobs(int slot, int position, Row& row, const PrinterEntry& entry);
    void askRebuild();

    ListRows& m_items;
    SlotTable& m_slots;
    std::function<void()> m_rebuild;
    bool m_rebuildAsked = false;
};

}  // namespace watchlist
