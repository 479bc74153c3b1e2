#include "watchlist/slot_table.h"

#include <array>
#include <cstring>
#include <string_view>

#include "facts/models.h"
#include "plat/base/trace.h"
#include "plat/shm/shm.h"
#include "plat/text/text.h"

namespace watchlist {
namespace {

template <std::size_t N>
void copyField(char (&field)[N], const char* text)
{
    plat::text::copyBounded(field, N, text != nullptr ? text : "");
}

// Reads the record, lets `change` decide and change it, writes it back when asked to; one step under
// the channel's lock, so what the detail program writes meanwhile is not overwritten.
template <class Change>
bool updateRecord(void* view, Change change)
{
    if (view == nullptr) return true;
    PrinterEntry entry;
    const auto apply = [](void* record, void* context) -> int32_t {
        return (*static_cast<Change*>(context))(*static_cast<PrinterEntry*>(record)) ? 1 : 0;
    };
    return fSharedMemoryChangeAccess(view, &entry, sizeof entry, apply, &change) == 1;
}

// A list program that crashed left its slots' objects behind; a new slot of that name would reopen the
// old record instead of starting zero-filled. Only objects that no live process serves are removed.
void removeObjectsOfACrashedRun()
{
    auto removed = plat::shm::removeStaleObjects();
    if (!removed) plat::trace("slots: stale shared memory not removed: " + removed.error().detail);
    else if (removed.value() > 0) plat::trace("slots: removed " + std::to_string(removed.value()) + " stale objects");
}

}  // namespace

ModelCode modelCodeOf(const char* shortModelName)
{
    const facts::Model* model = shortModelName != nullptr ? facts::byShortName(shortModelName) : nullptr;
    if (model == nullptr) return {0, 0};
    return {static_cast<uint32_t>(model->family), model->number()};
}

bool SlotTable::createSlot(bool useFile)
{
    std::lock_guard lock(m_mutex);
    if (m_count >= kSlotCount) return false;
    SlotHandles slot{};
    const int n = m_count;
    if (n == 0) removeObjectsOfACrashedRun();
    fSharedMemoryCreateFileName(slot.fileName, n);
    fSharedMemoryCreateMapName(slot.mappingName, n);
    slot.fileOwned = useFile;
    slot.fileHandle = hSharedMemoryCreateFile(slot.fileName, useFile);
    if (slot.fileHandle == 0) return false;
    slot.fileCreated = 1;
    slot.mappingHandle =
        hSharedMemoryCreateFileMapping(slot.fileHandle, slot.mappingName, useFile, sizeof(PrinterEntry));
    if (slot.mappingHandle != 0) {
        slot.mappingCreated = 1;
        slot.view = lpvSharedMemoryMapViewFile(slot.mappingHandle);
    }
    if (slot.view == nullptr) {
        // Nothing of a half-made slot stays open.
        fSharedMemoryServerClose(nullptr, slot.mappingHandle, slot.fileHandle, slot.fileOwned);
        return false;
    }
    slot.viewMapped = 1;
    m_slots[n] = slot;
    m_count = n + 1;
    return true;
}

bool SlotTable::closeNewest()
{
    std::lock_guard lock(m_mutex);
    if (m_count == 0) return false;
    SlotHandles& slot = m_slots[m_count - 1];
    const bool closed = fSharedMemoryServerClose(slot.view, slot.mappingHandle, slot.fileHandle, slot.fileOwned) == 1;
    slot = SlotHandles{};
    --m_count;
    return closed;
}

void SlotTable::closeAll()
{
    while (count() > 0) closeNewest();
}

int SlotTable::count() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}

int SlotTable::current() const
{
    std::lock_guard lock(m_mutex);
    return m_count - 1;
}

void* SlotTable::view(int slot) const
{
    std::lock_guard lock(m_mutex);
    if (slot < 0 || slot >= m_count || !m_slots[slot].viewMapped) return nullptr;
    return m_slots[slot].view;
}

bool initialiseRecord(void* view, uint16_t slot, const PrinterInfo2& printer, const ModelTableEntry& model)
{
    PrinterEntry entry{};
    entry.SlotIndex = slot;
    entry.HideRequest = 1;
    copyField(entry.PrinterName, printer.pPrinterName);
    copyField(entry.ModelFullName, model.ModelName);
    copyField(entry.ModelName, model.ShortModelName);
    copyField(entry.PortName, printer.pPortName);
    copyField(entry.DataFileName, model.InformationFile);
    const ModelCode code = modelCodeOf(entry.ModelName);
    entry.PrinterFamily = code.family;
    entry.ModelCode = code.code;
    entry.StatusInterval = 5000;
    entry.PanelTimer1Period = 500;
    entry.PanelTimer2Period = 300000;
    entry.PrinterState = 2;
    entry.PictureIndex = 6;
    entry.MessageIndex = 3;
    entry.AlertCategory = 9;
    entry.JobCount = -1;
    return view != nullptr && fSharedMemoryWriteAccess(view, &entry, sizeof entry) == 1;
}

bool requestShow(void* view)
{
    return updateRecord(view, [](PrinterEntry& e) {
        if (e.MonitorActive == 0) return false;
        e.HideRequest = 0;
        e.ForegroundRequest = 1;
        return true;
    });
}

bool requestJobWindow(void* view)
{
    return updateRecord(view, [](PrinterEntry& e) {
        if (e.MonitorActive == 0) return false;
        e.JobWindowRequest = 1;
        return true;
    });
}

bool requestClose(void* view)
{
    return updateRecord(view, [](PrinterEntry& e) {
        e.ReadyAck = 0;
        e.CloseRequest = 1;
        return true;
    });
}

bool storeJobCount(void* view, int32_t jobs)
{
    return updateRecord(view, [jobs](PrinterEntry& e) {
        e.JobCount = jobs;
        return true;
    });
}

}  // namespace watchlist
