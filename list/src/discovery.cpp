#include "discovery.h"

#include <cstring>
#include <memory>

#include "plat/base/trace.h"
#include "plat/heap/heap.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace watchlist {
namespace {

// The spooler's and the model library's lists of one build, in one heap that goes with them.
struct Lists {
    struct HeapDeleter {
        void operator()(plat::Heap* heap) const { plat::Heap::destroy(heap); }
    };
    std::unique_ptr<plat::Heap, HeapDeleter> heap{plat::Heap::create()};
    PrinterInfo2* printers = nullptr;
    int32_t printerCount = -1;
    DriverInfo2* drivers = nullptr;
    int32_t driverCount = -1;
    ModelTable models{};
    PortList ports{};
};

std::string text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

Row cannotMonitor(int r, const PrinterInfo2& printer, int modelIndex = -1)
{
    Row row;
    row.row = r;
    row.name = text(printer.pPrinterName);
    row.modelIndex = modelIndex;
    return row;
}

// Record, store and detail program for a printer in the slot just made; false when the build stops.
bool startMonitoring(SlotTable& slots, DetailStarter& starter, const PrinterInfo2& printer,
                     const ModelTableEntry& model, Build& build)
{
    const int slot = slots.current();
    PrinterEntry entry{};
    if (!initialiseRecord(slots.view(slot), static_cast<uint16_t>(slot), printer, model) ||
        fSharedMemoryReadAccess(slots.view(slot), &entry, sizeof entry) != 1 || fInitRegistory(&entry) != 1) {
        build.stoppedBecause = "the record or the store of " + text(printer.pPrinterName) + " cannot be made";
        return false;
    }
    if (!starter.start(slot)) {
        build.detailStartFailed = true;
        build.stoppedBecause = "the detail program of " + text(printer.pPrinterName) + " does not start";
        slots.closeNewest();
        return false;
    }
    return true;
}

}  // namespace

Build buildRows(SlotTable& slots, DetailStarter& starter)
{
    Build build;
    Lists lists;
    lists.printers = lppiGetPrinterInformation(&lists.printerCount, lists.heap.get());
    lists.drivers = lpdiGetDriverInformation(&lists.driverCount, lists.heap.get());
    if ((lists.printers == nullptr && lists.printerCount != 0) ||
        (lists.drivers == nullptr && lists.driverCount != 0)) {
        build.end = Build::End::ListsUnavailable;
        return build;
    }
    if (lists.printerCount == 0) {
        build.end = Build::End::NoPrinters;
        return build;
    }
    if (fReadPrinterInfoFile(&lists.models, lists.heap.get()) != 1 || lists.drivers == nullptr ||
        lists.models.Entries == nullptr) {
        build.stoppedBecause = "the model table or the driver list is missing";
        return build;
    }
    if (fGetPortNameList(&lists.ports, lists.heap.get()) != 1) {
        build.stoppedBecause = "the port list is missing";
        return build;
    }

    std::vector<int> modelOf(static_cast<std::size_t>(lists.printerCount), -1);
    for (int r = 0; r < lists.printerCount; ++r) {
        const PrinterInfo2& printer = lists.printers[r];
        if (fCheckModel(&printer, &lists.models) == 0 || fCheckDriverMonitorFlag(printer.pDriverName) == 0) {
            build.rows.push_back(cannotMonitor(r, printer));
            continue;
        }
        int m = static_cast<int32_t>(
            dwCheckDriver(&printer, lists.drivers, static_cast<uint32_t>(lists.driverCount), &lists.models));
        // Two printers of one model on one port would read the same printer twice: the first wins.
        for (int j = 0; j < r && m != -1; ++j) {
            if (modelOf[j] == m && flstrcmpiLen(lists.printers[j].pPortName, printer.pPortName) == 1) m = -1;
        }
        modelOf[r] = m;
        if (m == -1) {
            build.rows.push_back(cannotMonitor(r, printer));
            continue;
        }
        if (fCheckOutPort(&printer, &lists.ports) == 0 || fCheckLanguageMonitor(&lists.models, m) == 0) {
            modelOf[r] = -1;
            build.rows.push_back(cannotMonitor(r, printer));
            continue;
        }
        // Beyond the slots (20, or what the system grants) a printer is listed but not monitored.
        if (slots.count() >= kSlotCount || !slots.createSlot()) {
            plat::trace("discovery: no slot for " + text(printer.pPrinterName));
            build.rows.push_back(cannotMonitor(r, printer, m));
            continue;
        }
        if (!startMonitoring(slots, starter, printer, lists.models.Entries[m], build)) break;
        PrinterEntry entry{};
        fSharedMemoryReadAccess(slots.currentView(), &entry, sizeof entry);
        Row row;
        row.row = r;
        row.slot = static_cast<uint16_t>(slots.current());
        row.name = std::string(entry.PrinterName, strnlen(entry.PrinterName, sizeof entry.PrinterName));
        row.modelIndex = m;
        row.network = entry.NetworkPort != 0;
        row.state = MonitorState::NotMonitoring;
        build.rows.push_back(std::move(row));
    }
    if (!build.stoppedBecause.empty()) plat::trace("discovery: the build stopped: " + build.stoppedBecause);
    return build;
}

}  // namespace watchlist
