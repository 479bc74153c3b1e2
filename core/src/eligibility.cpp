// Which printers the system can monitor: the spooler's printer, driver and port lists, the tests the
// list program runs printer by printer, the connection check of the detail program, and two small
// spooler queries.

#include <cstring>
#include <string>

#include "facts/models.h"
#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/heap/heap.h"
#include "plat/services/services.h"
#include "plat/spool/spooler.h"
#include "plat/text/text.h"
#include "registry_store.h"
#include "vigil.h"
#include "watchcore.h"

namespace {

using plat::text::equalWholeIgnoringCase;

constexpr std::size_t kMonitorLimit = 255;

bool beginsIgnoringCase(const char* text, std::string_view prefix)
{
    return text != nullptr && std::strlen(text) >= prefix.size() &&
           equalWholeIgnoringCase(std::string_view(text, prefix.size()), prefix);
}

const ModelTableEntry* rows(const ModelTable* table)
{
    return table != nullptr && table->Built && table->Entries != nullptr ? table->Entries : nullptr;
}

// The exports' edge: the spooler of the library's services; null when it cannot be had.
plat::spool::Spooler* edgeSpooler()
{
    plat::Services* services = plat::edgeServices();
    if (services == nullptr) return nullptr;
    auto spooler = services->spooler();
    return spooler ? spooler.value() : nullptr;
}

// Lays texts out behind the records of one heap block, so the caller frees the list with one call.
class BlockWriter {
public:
    explicit BlockWriter(char* strings) : m_next(strings) {}
    char* put(const std::string& text)
    {
        char* at = m_next;
        std::memcpy(at, text.c_str(), text.size() + 1);
        m_next += text.size() + 1;
        return at;
    }

private:
    char* m_next;
};

}  // namespace

PrinterInfo2* lppiGetPrinterInformation(int32_t* count, plat::Heap* heap)
{
    if (count == nullptr) return nullptr;
    *count = -1;
    plat::spool::Spooler* s = edgeSpooler();
    auto printers = s ? s->printers() : plat::Result<std::vector<plat::spool::Printer>>(plat::Error{});
    if (!printers || heap == nullptr) return nullptr;
    const auto& list = printers.value();
    if (list.empty()) {
        *count = 0;
        return nullptr;
    }
    std::size_t bytes = list.size() * sizeof(PrinterInfo2) + 16;  // and the shared empty text
    for (const auto& p : list)
        bytes += p.name.size() + p.port.size() + p.driver.size() + 3 + sizeof "WinPrint" + sizeof "RAW";
    auto* records = static_cast<PrinterInfo2*>(heap->allocate(bytes));
    if (records == nullptr) return nullptr;
    BlockWriter texts(reinterpret_cast<char*>(records + list.size()));
    char* empty = texts.put("");
    for (std::size_t i = 0; i < list.size(); ++i) {
        PrinterInfo2& r = records[i];
        r.pServerName = r.pShareName = r.pComment = r.pLocation = r.pSepFile = r.pParameters = empty;
        r.pPrinterName = texts.put(list[i].name);
        r.pPortName = texts.put(list[i].port);
        r.pDriverName = texts.put(list[i].driver);
        r.pPrintProcessor = texts.put("WinPrint");
        r.pDatatype = texts.put("RAW");
        r.Attributes = list[i].attributes;
        r.Status = list[i].status;
        r.cJobs = list[i].jobs;
    }
    *count = static_cast<int32_t>(list.size());
    return records;
}

DriverInfo2* lpdiGetDriverInformation(int32_t* count, plat::Heap* heap)
{
    if (count == nullptr) return nullptr;
    *count = -1;
    plat::spool::Spooler* s = edgeSpooler();
    auto drivers = s ? s->drivers() : plat::Result<std::vector<plat::spool::Driver>>(plat::Error{});
    if (!drivers || heap == nullptr) return nullptr;
    const auto& list = drivers.value();
    if (list.empty()) {
        *count = 0;
        return nullptr;
    }
    std::size_t bytes = list.size() * sizeof(DriverInfo2) + 16;
    for (const auto& d : list) bytes += d.name.size() + d.path.size() + 2 + sizeof "Windows 4.0";
    auto* records = static_cast<DriverInfo2*>(heap->allocate(bytes));
    if (records == nullptr) return nullptr;
    BlockWriter texts(reinterpret_cast<char*>(records + list.size()));
    char* empty = texts.put("");
    for (std::size_t i = 0; i < list.size(); ++i) {
        DriverInfo2& r = records[i];
        r.cVersion = 0;
        r.pName = texts.put(list[i].name);
        r.pEnvironment = texts.put("Windows 4.0");
        r.pDriverPath = texts.put(list[i].path);
        r.pDataFile = r.pConfigFile = empty;
    }
    *count = static_cast<int32_t>(list.size());
    return records;
}

int32_t fGetPortNameList(PortList* ports, plat::Heap* heap)
{
    if (ports == nullptr || heap == nullptr) return 0;
    plat::spool::Spooler* s = edgeSpooler();
    auto names = s ? s->ports() : plat::Result<std::vector<std::string>>(plat::Error{});
    if (!names || names.value().empty()) return 0;
    auto* entries = static_cast<PortEntry*>(heap->allocate(names.value().size() * sizeof(PortEntry)));
    if (entries == nullptr) return 0;
    for (std::size_t i = 0; i < names.value().size(); ++i) {
        plat::text::copyBounded(entries[i].Name, sizeof entries[i].Name, names.value()[i]);
        entries[i].Flag = 1;
    }
    ports->Count = static_cast<uint32_t>(names.value().size());
    ports->Entries = entries;
    return 1;
}

int32_t fCheckModel(const PrinterInfo2* printer, const ModelTable* table)
{
    const ModelTableEntry* entries = rows(table);
    if (printer == nullptr || printer->pDriverName == nullptr || entries == nullptr) return 0;
    const char* driver = printer->pDriverName;
    bool known = false;
    for (uint32_t i = 0; i < table->EntryCount && !known; ++i)
        known = equalWholeIgnoringCase(driver, entries[i].ModelName);
    if (!known) return 0;
    const facts::Model* model = facts::byName(driver);
    if (model == nullptr) return 1;
    if (model->lptOnly && !beginsIgnoringCase(printer->pPortName, "LPT")) return 0;
    // A port that the maker's spool manager owns is not ours.
    if (model->spoolManagerPorts && printer->pPortName != nullptr &&
        plat::text::readProfileInt(plat::windowsDir() / "qspool3.ini", "Ports", printer->pPortName, 0) != 0) {
        return 0;
    }
    return 1;
}

int32_t fCheckDriverMonitorFlag(const char* driver)
{
    if (driver == nullptr) return 0;
    // The model without a language monitor is driven by its driver alone.
    if (const facts::Model* model = facts::byName(driver); model != nullptr && model->monitor[0] == '\0') return 1;
    char monitor[kMonitorLimit];
    if (fGetRegistoryDriverMonitor(driver, monitor, sizeof monitor) != 1) return 0;
    return std::strstr(monitor, "Language Monitor") != nullptr;
}

uint32_t dwCheckDriver(const PrinterInfo2* printer, const DriverInfo2* drivers, uint32_t count, const ModelTable* table)
{
    constexpr uint32_t kNone = 0xFFFFFFFF;
    const ModelTableEntry* entries = rows(table);
    if (printer == nullptr || printer->pDriverName == nullptr || drivers == nullptr || entries == nullptr) return kNone;
    const DriverInfo2* driver = nullptr;
    for (uint32_t i = 0; i < count && driver == nullptr; ++i) {
        if (drivers[i].pName != nullptr && std::strcmp(drivers[i].pName, printer->pDriverName) == 0)
            driver = &drivers[i];
    }
    if (driver == nullptr || driver->pDriverPath == nullptr) return kNone;
    // The file-name part: behind the last backslash after the first character, else the whole path.
    std::string_view path = driver->pDriverPath;
    std::size_t slash = path.size() > 1 ? path.find_last_of('\\') : std::string_view::npos;
    std::string_view file = slash != std::string_view::npos && slash >= 1 ? path.substr(slash + 1) : path;
    file = file.substr(0, plat::text::boundaryAtOrBefore(file, 31));
    if (file.empty()) return kNone;
    for (uint32_t i = 0; i < table->EntryCount; ++i) {
        if (equalWholeIgnoringCase(printer->pDriverName, entries[i].ModelName) &&
            equalWholeIgnoringCase(file, entries[i].DriverFile)) {
            return i;
        }
    }
    return kNone;
}

int32_t fCheckOutPort(const PrinterInfo2* printer, const PortList*)
{
    if (printer == nullptr || printer->pPortName == nullptr) return 0;
    return !beginsIgnoringCase(printer->pPortName, "FILE:") && !beginsIgnoringCase(printer->pPortName, "COM");
}

int32_t fGetLanguageMonitorName(const char* driver, char* output)
{
    if (driver == nullptr || output == nullptr) return 0;
    char monitor[kMonitorLimit], library[kMonitorLimit];
    if (fGetRegistoryDriverMonitor(driver, monitor, sizeof monitor) != 1) return 0;
    if (fGetRegistoryLanguageMonitorDriver(monitor, library, sizeof library) != 1) return 0;
    std::memcpy(output, library, std::strlen(library) + 1);
    return 1;
}

int32_t fCheckLanguageMonitor(const ModelTable* table, uint32_t row)
{
    const ModelTableEntry* entries = rows(table);
    if (entries == nullptr || row >= table->EntryCount) return 0;
    char library[256];
    if (fGetLanguageMonitorName(entries[row].ModelName, library) != 1) return 0;
    return equalWholeIgnoringCase(library, entries[row].LanguageMonitor);
}

int32_t fCheckPrinter(const char* printer)
{
    plat::spool::Spooler* s = edgeSpooler();
    return printer != nullptr && s && s->printer(printer).ok();
}

uint32_t dwGetPrinterJobCount(const char* printer)
{
    plat::spool::Spooler* s = edgeSpooler();
    if (printer == nullptr || !s) return 0;
    auto p = s->printer(printer);
    return p ? p.value().jobs : 0;
}

int32_t fCheckConnectStatus(PrinterEntry* entry)
{
    plat::Services* services = plat::edgeServices();
    if (entry == nullptr || services == nullptr) return 0;
    plat::registry::Store& store = services->store();
    namespace value = facts::value;
    using watchcore::StoreKey;
    const std::string printer(entry->PrinterName, strnlen(entry->PrinterName, sizeof entry->PrinterName));
    char queuePath[512] = {};
    std::string port(entry->PortName, strnlen(entry->PortName, sizeof entry->PortName));
    switch (StCheckConnectPrinter(port.c_str(), queuePath)) {
    case 1:
        entry->NetworkPort = 0;
        entry->NetworkKind = 0;
        break;
    case 2:
        entry->NetworkPort = 1;
        entry->NetworkKind = 2;
        entry->NetworkResolved = 0;
        break;
    case 3:
        entry->NetworkPort = 1;
        entry->NetworkKind = 1;
        break;
    case 4:
        entry->NetworkPort = 1;
        entry->NetworkKind = 3;
        break;
    case 5:
        entry->NetworkPort = 1;
        entry->NetworkKind = 2;
        entry->NetworkResolved = 1;
        plat::text::copyBounded(entry->OriginalPortName, sizeof entry->OriginalPortName, port);
        plat::text::copyBounded(entry->PortName, sizeof entry->PortName,
                                std::string_view(queuePath, strnlen(queuePath, sizeof queuePath)));
        break;
    default:
        watchcore::setDword(store, StoreKey::Vigilmon, printer, value::kPrinterStFlag, value::kCannotMonitor);
        return 0;
    }
    if (entry->NetworkPort == 1 && entry->NetworkKind == 2) {
        // Behind a queue some models cannot be monitored; the others are read less often.
        const facts::Model* model = facts::byNumber(entry->ModelCode);
        if (model != nullptr && model->refusedBehindQueue) {
            return watchcore::setDword(store, StoreKey::Vigilmon, printer, value::kPrinterStFlag,
                                       value::kCannotMonitor);
        }
        return watchcore::setDword(store, StoreKey::Vigilmon, printer, value::kGetRealTimeStatusTime,
                                   value::kQueuePathStatusTimeMs);
    }
    return 1;
}
