#pragma once
// The list program's shared slots: one named shared-memory region per monitored printer holding its
// PrinterEntry, opened in increasing order 0, 1, 2, ... and closed newest first, so the open slots are
// always 0 .. count-1. And the operations on a slot's record: initialise it, and the requests to the
// detail program (show, job window, close) and the job count, each a whole-record read, change and
// write.
//
// Threads: the rebuild worker creates slots while the window thread polls them; every member takes
// the table's lock.

#include <cstdint>
#include <mutex>

#include "watchcore.h"

namespace watchlist {

inline constexpr int kSlotCount = 20;

// One entry of the slot handle table; a zeroed entry is a closed slot.
struct SlotHandles {
    int32_t fileOwned;  // the use-file flag given at creation (always 0 here)
    int32_t fileCreated;
    char fileName[32];    // "WTCHF" + slot
    intptr_t fileHandle;  // kWatchcoreNoFile here
    int32_t mappingCreated;
    char mappingName[32];  // "WTCHM" + slot
    intptr_t mappingHandle;
    int32_t viewMapped;
    void* view;
};

// Family and model number for a short model name (compared whole, without regard to case);
// an unknown name gives family 0 and model 0.
struct ModelCode {
    uint32_t family;
    uint32_t code;
};
ModelCode modelCodeOf(const char* shortModelName);

class SlotTable {
public:
    SlotTable() = default;
    ~SlotTable() { closeAll(); }
    SlotTable(const SlotTable&) = delete;
    SlotTable& operator=(const SlotTable&) = delete;

    // Creates the next slot; refused when all 20 are open. A failing step leaves the slot closed.
    bool createSlot(bool useFile = false);
    // Closes the newest slot; false when none is open or the library refuses the close.
    bool closeNewest();
    // Closes every open slot, newest first.
    void closeAll();

    int count() const;
    int current() const;  // the newest open slot, -1 when none
    // The view of slot k (or of the newest), null when that slot has none.
    void* view(int slot) const;
    void* currentView() const { return view(current()); }

private:
    mutable std::mutex m_mutex;
    SlotHandles m_slots[kSlotCount] = {};  // guarded by m_mutex
    int m_count = 0;                       // guarded by m_mutex
};

// Builds a slot's record from the spooler's printer and its model table row, and writes it.
bool initialiseRecord(void* view, uint16_t slot, const PrinterInfo2& printer, const ModelTableEntry& model);

// Requests to the detail program of a slot. A slot without a view counts as done; a failed read
// gives up (false).
bool requestShow(void* view);       // only while MonitorActive: HideRequest 0, ForegroundRequest 1
bool requestJobWindow(void* view);  // only while MonitorActive: JobWindowRequest 1
bool requestClose(void* view);      // ReadyAck 0, CloseRequest 1
bool storeJobCount(void* view, int32_t jobs);

}  // namespace watchlist
