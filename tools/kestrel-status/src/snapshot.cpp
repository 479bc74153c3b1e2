#include "snapshot.h"
#include "facts/state_keywords.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "facts/models.h"
#include "facts/paper_block.h"
#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/heap/heap.h"
#include "plat/services/program.h"
#include "plat/shm/shm.h"
#include "plat/spool/spooler.h"
#include "resources/string_table.h"
#include "scheduler_view.h"
#include "status.h"
#include "watchcore.h"
#include "watchlist/list_texts.h"
#include "watchlist/slot_table.h"
#include "watchpanel/reported_status.h"
#include "watchpanel/status_page.h"
#include "watchpanel/texts.h"

namespace kestrel_status {

namespace {

namespace paper = facts::paper;

std::uint32_t readRunFlag()
{
    std::uint32_t flag = 0;
    // A value the list program never writes is as good as an unreadable one.
    if (fGetRegistoryKswListRunFlag(&flag) != 1 || flag > 2) return 0;
    return flag;
}

// The record of a slot, when the slot exists. Read through the shared-memory layer itself rather than
// the common library's client calls, which report a missing slot with an error box: a slot the list
// program closes between a check and the open must not put one up.
std::optional<PrinterEntry> readSlot(int slot)
{
    auto opened = plat::shm::open("WTCHM" + std::to_string(slot));
    if (!opened) return std::nullopt;
    std::unique_ptr<plat::shm::Mapping> mapping = std::move(opened).value();
    std::optional<PrinterEntry> record;
    if (auto view = plat::shm::mapView(*mapping)) {
        if (plat::shm::viewSize(view.value()) >= sizeof(PrinterEntry) && plat::shm::lockView(view.value())) {
            // Under the lock the writers take, so the record is never read half written.
            PrinterEntry entry{};
            std::memcpy(&entry, view.value(), sizeof entry);
            plat::shm::unlockView(view.value());
            record = entry;
        }
        plat::shm::unmapView(view.value());
    }
    plat::shm::close(std::move(mapping));
    return record;
}

std::optional<std::string> nonEmpty(std::string text)
{
    if (text.empty()) return std::nullopt;
    return text;
}

std::optional<int> percent(std::int32_t word)
{
    if (word < 0 || word > 100) return std::nullopt;
    return word;
}

// A paper size's English name, whatever the locale: machines match it.
std::optional<std::string> sizeName(std::int32_t index)
{
    static const kestrel::StringTable names = kestrel::StringTable::loadFile(":/strings/en/paper_sizes.txt");
    if (index < 0 || index >= paper::kUnknownSize) return std::nullopt;
    std::string name = names.text(17000 + index).value_or("");
    if (name == " ") name.clear();
    return nonEmpty(name);
}

// The consumables and paper sources of the decoded paper block; levels only when a reply was decoded.
void suppliesAndPaper(const PrinterEntry& entry, const std::int32_t* block, bool decoded, Printer& out)
{
    auto level = [&](bool valid, std::int32_t word) { return decoded && valid ? percent(word) : std::nullopt; };
    switch (entry.PrinterFamily) {
    case 0: {
        // A quarter or less is low, as the toner's bar shows it in its lowest step.
        auto add = [&](const char* name, bool valid, std::int32_t word) {
            const std::optional<int> l = level(valid, word);
            out.supplies.push_back({name, name, "black", l, l && *l <= 25});
        };
        if (block[paper::kTonerExists] != 0) add("toner", block[paper::kTonerValid] != 0, block[paper::kTonerLevel]);
        if (block[paper::kPhotoCount] > 0)
            add("photoconductor", block[paper::kPhotoValid] != 0, block[paper::kPhotoLevel]);
        if (block[paper::kTrayExists] != 0) {
            const bool fitted = block[paper::kTrayValid] != 0;
            out.paper.push_back({"tray", fitted ? sizeName(block[paper::kTraySize]) : std::nullopt,
                                 level(fitted, block[paper::kTrayLevel])});
        }
        const int cassettes = std::clamp(block[paper::kCassetteCount], 0, 3);
        for (int i = 0; i < cassettes; ++i) {
            if (block[paper::kCassetteValid + i] == 0) continue;
            out.paper.push_back({"cassette-" + std::to_string(i + 1), sizeName(block[paper::kCassetteSize + i]),
                                 level(true, block[paper::kCassetteLevel + i])});
        }
        break;
    }
    case 1: {
        if (block[paper::kTractorExists] != 0 && block[paper::kTractorShown] != 0) {
            const std::int32_t inches = block[paper::kPaperWidth];
            out.paper.push_back(
                {"tractor",
                 inches > 0 ? std::optional<std::string>("Continuous " + std::to_string(inches) + " in") : std::nullopt,
                 std::nullopt});
        }
        const int bins = std::clamp(block[paper::kBinCount], 0, 3);
        for (int i = 0; i < bins; ++i) {
            if (block[paper::kBinValid + i] == 0) continue;
            out.paper.push_back({"bin-" + std::to_string(i + 1), sizeName(block[paper::kBinSize + i]), std::nullopt});
        }
        if (block[paper::kManualFeedExists] != 0)
            out.paper.push_back({"manual-feed", sizeName(block[paper::kManualFeedSize]), std::nullopt});
        break;
    }
    case 2: {
        const facts::Model* model = facts::byNumber(entry.ModelCode);
        const facts::InkRules ink = model != nullptr ? model->ink : facts::InkRules{};
        if (block[paper::kBlackCount] > 0) {
            const std::optional<int> l = level(block[paper::kBlackValid] != 0, block[paper::kBlackLevel]);
            out.supplies.push_back(
                {"black-ink", "ink", "black", l, block[paper::kBlackWarning] == 1 || (l && *l <= ink.blackLowAt)});
        }
        if (block[paper::kColorCount] > 0) {
            const std::optional<int> l = level(block[paper::kColorValid] != 0, block[paper::kColorLevel]);
            out.supplies.push_back(
                {"color-ink", "ink", "color", l, block[paper::kColorWarning] == 1 || (l && *l < 10)});
        }
        break;
    }
    default: break;
    }
}

// The printer-state-reasons of a monitored printer, as the print system's backend reports them for
// the same reply; an engine failure is the printer not answering or an error of its own.
std::vector<std::string> reasonsOf(const PrinterEntry& entry, bool otherFailure, bool communication)
{
    if (communication) return {velta::reason::kOffline};
    if (otherFailure) return {velta::reason::kPrinterError};
    const facts::Model* model = facts::byNumber(entry.ModelCode);
    if (model == nullptr) return {};
    const std::string name(watchpanel::fieldText(entry.PrinterName));
    char reply[1024] = "", ink[256] = "";
    if (fGetRegistoryRealTimeStatusStrings(name.c_str(), reply, sizeof reply) == 0) return {};
    if (model->ink.reportedApart) fGetRegistoryInkLevel(name.c_str(), ink, sizeof ink);
    const velta::Decoded decoded = velta::decode(*model, reply, ink);
    return {decoded.reasons.begin(), decoded.reasons.end()};
}

// The status page's texts and the keywords for the printer's current status. The detail program's
// verdict wins: an engine failure it shows from the printer status flag, else the status it put into
// the record. Only a record it has not decoded into yet is decoded here from the stored reply.
void describeStatus(const PrinterEntry& record, bool monitoring, Printer& out)
{
    const std::string name(watchpanel::fieldText(record.PrinterName));
    PrinterEntry decoded = record;
    std::int32_t block[watchpanel::kPaperWords] = {};
    std::int32_t information[watchpanel::kInformationWords] = {};
    char lastReply[1024] = "";
    // The equipment the model has, as the detail program starts its blocks before the first reply.
    watchpanel::presetEquipment(decoded.ModelCode, block, information);
    const bool replyDecoded = iGetStatus(&decoded, block, information, lastReply) == 1;
    if (!replyDecoded) watchpanel::presetEquipment(decoded.ModelCode, block, information);

    const facts::Family family = watchpanel::displayFamily(record);
    std::uint32_t flag = 0;
    const std::optional<watchpanel::FailureView> failure =
        fGetRegistoryPrinterStFlag(name.c_str(), &flag) != 0 ? watchpanel::failureView(flag, family) : std::nullopt;

    PrinterEntry shown = record;
    if (failure) {
        watchpanel::applyFailure(*failure, shown);
    } else if (record.StatusChangedTime == 0 && replyDecoded) {
        shown = decoded;
    }
    // The window keeps showing a communication failure while the engine starts again to retry, its flag
    // cleared for the moment: the record's view says it then.
    const std::optional<watchpanel::FailureView> lost = watchpanel::failureView(facts::value::kCommFailure, family);
    const bool communication = lost && shown.PrinterState == 2 && shown.PictureIndex == lost->picture &&
                               shown.MessageIndex == lost->message && shown.AlertCategory == lost->alert;
    if (shown.MessageCount == 0) {
        // A record the detail program has not set up yet: its family's tables.
        const facts::FamilyCounts counts = facts::countsOf(family);
        shown.MessageCount = counts.messages;
        shown.PictureCount = counts.pictures;
    }

    int explanation = -1;
    for (const watchpanel::ControlChange& c : watchpanel::statusChanges(shown, block, &explanation)) {
        if (c.kind != watchpanel::ControlChange::Kind::Text) continue;
        if (c.control == 1306) out.message = nonEmpty(c.text);
        if (c.control == 1307) out.action = nonEmpty(c.text);
    }
    if (explanation >= 0) out.explanation = nonEmpty(watchpanel::text(explanation).value_or(""));
    out.level = shown.PrinterState;
    out.alert = shown.AlertCategory;
    suppliesAndPaper(record, block, replyDecoded, out);

    if (!monitoring) return;
    out.monitored = true;
    if (communication) {
        out.state = "unreachable";
    } else if (failure || shown.PrinterState >= 2) {
        out.state = "stopped";
    } else if (shown.PrinterState == 1) {
        out.state = "warning";
    } else {
        // As the history records it: "printing" while the printer's own message says it works.
        out.state = facts::stateKeyword({true, family, 0, static_cast<int>(shown.MessageIndex)});
    }
    out.up = !communication;
    out.reasons = reasonsOf(record, failure.has_value(), communication);
    if (record.StatusChangedTime != 0) out.changed = record.StatusChangedTime;
}

Printer describe(const std::string& name, const std::string& port, int row,
                 const std::optional<std::pair<int, PrinterEntry>>& slot)
{
    Printer p;
    p.name = name;
    p.row = row;
    p.port = port;
    if (!slot) {
        p.monitoring =
            watchlist::listText(watchlist::kMonitoringTexts + static_cast<int>(watchlist::MonitorState::CannotMonitor));
        return p;
    }
    const auto& [number, record] = *slot;
    p.slot = number;
    p.network = record.NetworkPort != 0;
    if (const std::string_view recorded = watchpanel::fieldText(record.PortName); !recorded.empty())
        p.port = std::string(recorded);
    if (record.NetworkResolved == 1) p.captured = nonEmpty(std::string(watchpanel::fieldText(record.OriginalPortName)));
    watchlist::MonitorState state =
        record.MonitorActive != 0 ? watchlist::MonitorState::Monitoring : watchlist::MonitorState::NotMonitoring;
    if (record.EngineStateReport == 3) state = watchlist::MonitorState::CannotMonitor;
    p.monitoring = watchlist::listText(watchlist::kMonitoringTexts + static_cast<int>(state));
    const bool monitoring = state == watchlist::MonitorState::Monitoring;
    if (monitoring) {
        if (record.PrinterState <= 2)
            p.stateText =
                nonEmpty(watchlist::listText(watchlist::kPrinterStateTexts + static_cast<int>(record.PrinterState)));
        if (record.JobCount >= 0) p.jobs = record.JobCount;
    }
    describeStatus(record, monitoring, p);
    return p;
}

}  // namespace

plat::Services* Reader::services()
{
    if (m_services) return m_services.get();
    std::error_code error;
    if (!std::filesystem::exists(plat::registryFile(), error)) return nullptr;
    auto opened = plat::openProgramServices();
    if (!opened) return nullptr;
    m_services = std::move(opened).value();
    vWatchcoreUseServices(m_services.get());
    return m_services.get();
}

std::optional<Snapshot> read(Reader& reader)
{
    Snapshot snapshot;
    // Without a store nothing has run in this root: no printers, no list program.
    plat::Services* services = reader.services();
    if (services == nullptr) {
        snapshot.spooler = plat::spool::spoolerName(plat::spool::chooseKind());
        return snapshot;
    }
    snapshot.spooler = plat::spool::spoolerName(services->spoolerKind());
    snapshot.listRunning = readRunFlag();

    std::vector<std::pair<int, PrinterEntry>> records;
    for (int slot = 0; slot < watchlist::kSlotCount; ++slot) {
        if (auto record = readSlot(slot)) records.emplace_back(slot, *record);
    }

    struct HeapGuard {
        plat::Heap* heap = plat::Heap::create();
        ~HeapGuard() { plat::Heap::destroy(heap); }
    } guard;
    if (guard.heap == nullptr) return std::nullopt;
    std::int32_t count = 0;
    const PrinterInfo2* printers = lppiGetPrinterInformation(&count, guard.heap);
    if (count < 0) return std::nullopt;
    const std::map<std::string, SchedulerView> scheduler = schedulerViews(*services);
    for (std::int32_t i = 0; i < count && printers != nullptr; ++i) {
        const std::string name = printers[i].pPrinterName != nullptr ? printers[i].pPrinterName : "";
        const std::string port = printers[i].pPortName != nullptr ? printers[i].pPortName : "";
        std::optional<std::pair<int, PrinterEntry>> slot;
        for (const auto& r : records) {
            if (!name.empty() && watchpanel::fieldText(r.second.PrinterName) == name) {
                slot = r;
                break;
            }
        }
        Printer p = describe(name, port, static_cast<int>(i), slot);
        if (!p.monitored) {
            if (auto it = scheduler.find(name); it != scheduler.end()) p.scheduler = it->second;
        }
        snapshot.printers.push_back(std::move(p));
    }
    return snapshot;
}

}  // namespace kestrel_status
