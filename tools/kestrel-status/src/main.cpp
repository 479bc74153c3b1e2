// kestrel-status: what the list window shows, for scripts and for machines without a display. It reads
// the list program's run flag, the spooler's printers and the records of the slots that exist, and
// changes nothing: no slot is made, no store value written, no program started.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "list_rows.h"
#include "plat/base/command_line.h"
#include "plat/base/system_root.h"
#include "plat/heap/heap.h"
#include "plat/services/program.h"
#include "plat/shm/shm.h"
#include "plat/spool/spooler.h"
#include "resources/language.h"
#include "resources/string_table.h"
#include "slot_table.h"
#include "status_page.h"
#include "texts.h"
#include "watchcore.h"

namespace {

constexpr const char* kHelp = R"(kestrel-status - what the printer list shows, as text or JSON

Usage:
  kestrel-status [--json] [--watch [--interval MS]]
  kestrel-status --help

--json         print {"list_running": 0|1|2, "spooler": "CUPS"|"embedded", "printers": [...]} on one
               line instead of the table
--watch        after the first output, print a line per change until SIGINT or SIGTERM
--interval MS  how often --watch looks, in milliseconds (10 to 3600000; 500 without it)

Reads the list program's run flag (0 not running, 1 building its list, 2 running; unreadable 0), the
spooler's printers in the list's order (of the spooler that serves: $KESTREL_SPOOLER, else CUPS when
a CUPS scheduler answers, else the embedded one; the table's second line names it) and the records of the slots "WTCHM0".."WTCHM19" that exist.
A printer named in a slot's record can be monitored; any other cannot. Per printer it shows the
list's columns (name, monitoring, printer state, jobs) and the status page's message, action and
explanation. It never starts, writes or changes anything.

Each printer in JSON:
  {"name": "Office", "row": 0, "slot": 0, "monitoring": "Monitoring",
   "state": "Ready or printing", "jobs": 2, "level": 0, "message": "...", "action": "...",
   "explanation": "...", "alert": 0, "network": false, "port": "LPT1:", "captured": null}
"slot" is null for a printer that cannot be monitored, and then so are "level" to "alert"; "state"
and "jobs" are null while the printer is not monitored; an empty text is null. "network" is the
list's picture: true for a printer on a network path (once its detail program has checked the port).
"port" is where the printer prints: the spooler's port, or the NetWare queue path the detail program
found for it; "captured" is the local port captured to that queue, else null. The table's PORT column
marks a network printer's port with (network) and shows a captured port with its queue, as in
LPT2:(\\FS1\QUEUE1) for LPT2: captured to QUEUE1 on FS1.

--watch lines: a printer whose columns or texts changed, was added or went away, and a changed run
flag. As text:
  Office: Monitoring | Cannot print | jobs 0 | The printer cover is open.
  Office: gone
  list program: running
With --json each line is a JSON object: the printer as above, {"name": "Office", "gone": true}, or
{"list_running": 2}.

Language: the table and every text (monitoring, state, message, action, explanation) follow the
locale as the desktop's programs do (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): Japanese, the system's own
texts, for a Japanese locale, English for any other, C and POSIX included. The JSON keys, "spooler",
the numbers and "gone" never change with it; scripts that compare texts set LC_ALL.

Exit status: 0 the list program is running or building its list; 3 it is not running (the output is
printed all the same); 1 the spooler's printers cannot be read; 2 usage error. --watch ends with 0.
)";

// This tool's own texts, in the language of the locale; the printers' texts come from the list's and the
// status page's tables. The numbers of resources/strings/tools/kestrel_status.txt:
constexpr int kColumnHeads = 1;  // 1..6: name, monitoring, state, jobs, port, message
constexpr int kListLine = 10, kRunning = 11, kBuilding = 12, kNotRunning = 13, kSpoolerLine = 14;
constexpr int kNetworkMark = 15, kWatchLine = 16, kGoneLine = 17;

std::string own(int number)
{
    static const kestrel::StringTable texts = kestrel::StringTable::load(":/strings/tools/kestrel_status.txt");
    return texts.text(number).value_or("");
}

constexpr long kDefaultIntervalMs = 500;
constexpr long kMinIntervalMs = 10;
constexpr long kMaxIntervalMs = 60L * 60 * 1000;

struct Options {
    bool json = false;
    bool watch = false;
    long intervalMs = kDefaultIntervalMs;
};

int usage(const std::string& why)
{
    std::fprintf(stderr, "kestrel-status: %s Type \"kestrel-status --help\" for usage.\n", why.c_str());
    return 2;
}

std::optional<Options> parse(int argc, char** argv, std::string& why)
{
    Options options;
    bool intervalGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--watch") {
            options.watch = true;
        } else if (arg == "--interval") {
            const auto n = plat::numberOption(argc, argv, i, kMinIntervalMs, kMaxIntervalMs, why);
            if (!n) return std::nullopt;
            options.intervalMs = *n;
            intervalGiven = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            why = "Unknown option \"" + arg + "\".";
            return std::nullopt;
        } else {
            why = "Unexpected argument \"" + arg + "\".";
            return std::nullopt;
        }
    }
    if (intervalGiven && !options.watch) {
        why = "--interval goes with --watch.";
        return std::nullopt;
    }
    return options;
}

// ---- Reading ---------------------------------------------------------------------------------------

// One printer as the list and its status page show it; nothing for a value the list leaves empty.
struct Printer {
    std::string name;
    int row = 0;
    std::optional<int> slot;
    std::string monitoring;
    std::optional<std::string> state;
    std::optional<long> jobs;
    std::optional<long> level;
    std::optional<std::string> message, action, explanation;
    std::optional<long> alert;
    bool network = false;
    std::string port;
    std::optional<std::string> captured;
};

struct Snapshot {
    std::uint32_t listRunning = 0;
    const char* spooler = "";  // which spooler serves: "CUPS" or "embedded"
    std::vector<Printer> printers;
};

// The services the reads go through (handed to the library too), opened once the root has a store:
// without one nothing has run in this root, and opening it would make one, while this program makes
// nothing.
class Reader {
public:
    plat::Services* services()
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

private:
    std::unique_ptr<plat::Services> m_services;
};

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

// The status page's texts for the printer's current status: its stored reply decoded into a copy of
// the record, or the record's own status while there is no reply to decode.
void statusTexts(const PrinterEntry& record, Printer& out)
{
    PrinterEntry copy = record;
    std::int32_t paper[watchpanel::kPaperWords] = {};
    std::int32_t information[watchpanel::kInformationWords] = {};
    char lastReply[1024] = "";
    // The equipment the model has, as the detail program starts its blocks before the first reply.
    watchpanel::presetEquipment(copy.ModelCode, paper, information);
    if (iGetStatus(&copy, paper, information, lastReply) == 0) {
        copy = record;
        watchpanel::presetEquipment(copy.ModelCode, paper, information);
    }
    int explanation = -1;
    for (const watchpanel::ControlChange& c : watchpanel::statusChanges(copy, paper, &explanation)) {
        if (c.kind != watchpanel::ControlChange::Kind::Text) continue;
        if (c.control == 1306) out.message = nonEmpty(c.text);
        if (c.control == 1307) out.action = nonEmpty(c.text);
    }
    if (explanation >= 0) out.explanation = nonEmpty(watchpanel::text(explanation).value_or(""));
    out.level = copy.PrinterState;
    out.alert = copy.AlertCategory;
}

Printer describe(const std::string& name, const std::string& port, int row,
                 const std::optional<std::pair<int, PrinterEntry>>& slot)
{
    Printer p;
    p.name = name;
    p.row = row;
    p.port = port;
    if (!slot) {
        p.monitoring = watchlist::listText(10100 + static_cast<int>(watchlist::MonitorState::CannotMonitor));
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
    p.monitoring = watchlist::listText(10100 + static_cast<int>(state));
    if (state == watchlist::MonitorState::Monitoring) {
        if (record.PrinterState <= 2)
            p.state = nonEmpty(watchlist::listText(10103 + static_cast<int>(record.PrinterState)));
        if (record.JobCount >= 0) p.jobs = record.JobCount;
    }
    statusTexts(record, p);
    return p;
}

// Everything at one moment; nothing when the spooler's printers cannot be read.
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
        snapshot.printers.push_back(describe(name, port, static_cast<int>(i), slot));
    }
    return snapshot;
}

// ---- Output ----------------------------------------------------------------------------------------

template <typename T>
nlohmann::ordered_json orNull(const std::optional<T>& value)
{
    return value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr);
}

// The keys in the order the help gives them.
nlohmann::ordered_json toJson(const Printer& p)
{
    nlohmann::ordered_json o;
    o["name"] = p.name;
    o["row"] = p.row;
    o["slot"] = orNull(p.slot);
    o["monitoring"] = p.monitoring;
    o["state"] = orNull(p.state);
    o["jobs"] = orNull(p.jobs);
    o["level"] = orNull(p.level);
    o["message"] = orNull(p.message);
    o["action"] = orNull(p.action);
    o["explanation"] = orNull(p.explanation);
    o["alert"] = orNull(p.alert);
    o["network"] = p.network;
    o["port"] = p.port;
    o["captured"] = orNull(p.captured);
    return o;
}

void printJsonLine(const nlohmann::ordered_json& j)
{
    // UTF-8 as it is; text that is not valid UTF-8 is replaced rather than ending the program.
    std::puts(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void printJson(const Snapshot& s)
{
    nlohmann::ordered_json doc;
    doc["list_running"] = s.listRunning;
    doc["spooler"] = s.spooler;
    doc["printers"] = nlohmann::ordered_json::array();
    for (const Printer& p : s.printers) doc["printers"].push_back(toJson(p));
    printJsonLine(doc);
}

// Columns on a terminal: a character of the wide East Asian ranges takes two places, a half-width
// kana one.
std::size_t displayWidth(std::string_view text)
{
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        length = std::min(length, text.size() - i);
        char32_t c = length == 1 ? lead : lead & (0x3F >> (length - 1));
        for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const bool wide = (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
                          (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
                          (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
                          (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
        width += wide ? 2 : 1;
        i += length;
    }
    return width;
}

std::string orDash(const std::optional<std::string>& text) { return text ? *text : "-"; }
std::string orDash(const std::optional<long>& n) { return n ? std::to_string(*n) : "-"; }

std::string runText(std::uint32_t flag)
{
    switch (flag) {
    case 1: return own(kBuilding);
    case 2: return own(kRunning);
    default: return own(kNotRunning);
    }
}

// The PORT column: where the printer prints, marked when the list shows it as a network printer.
std::string portText(const Printer& p)
{
    std::string text = p.captured ? *p.captured + "(" + p.port + ")" : p.port;
    if (text.empty()) text = "-";
    if (p.network) text += own(kNetworkMark);
    return text;
}

void printTable(const Snapshot& s)
{
    std::puts(kestrel::fillIn(own(kListLine), {runText(s.listRunning)}).c_str());
    std::puts(kestrel::fillIn(own(kSpoolerLine), {s.spooler}).c_str());
    constexpr std::size_t kColumns = 6;
    std::vector<std::array<std::string, kColumns>> lines(1);
    for (std::size_t c = 0; c < kColumns; ++c) lines[0][c] = own(kColumnHeads + static_cast<int>(c));
    for (const Printer& p : s.printers) {
        lines.push_back({p.name, p.monitoring, orDash(p.state), orDash(p.jobs), portText(p), orDash(p.message)});
    }
    std::array<std::size_t, kColumns> widths{};
    for (const auto& line : lines) {
        for (std::size_t c = 0; c + 1 < kColumns; ++c) widths[c] = std::max(widths[c], displayWidth(line[c]));
    }
    for (const auto& line : lines) {
        std::string out;
        for (std::size_t c = 0; c + 1 < kColumns; ++c)
            out += line[c] + std::string(widths[c] - displayWidth(line[c]) + 2, ' ');
        out += line[kColumns - 1];
        std::puts(out.c_str());
    }
}

// A printer's watch line: all of it in JSON, the table's columns as text.
std::string changeLine(const Printer& p, bool json)
{
    if (json) return toJson(p).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return kestrel::fillIn(own(kWatchLine), {p.name, p.monitoring, orDash(p.state), orDash(p.jobs), orDash(p.message)});
}

void printGone(const std::string& name, bool json)
{
    if (json) {
        nlohmann::ordered_json j;
        j["name"] = name;
        j["gone"] = true;
        printJsonLine(j);
        return;
    }
    std::puts(kestrel::fillIn(own(kGoneLine), {name}).c_str());
}

void printRunFlag(std::uint32_t flag, bool json)
{
    if (json) {
        nlohmann::ordered_json j;
        j["list_running"] = flag;
        printJsonLine(j);
        return;
    }
    std::puts(kestrel::fillIn(own(kListLine), {runText(flag)}).c_str());
}

// The lines for what changed from `before` to `after`; printers are matched by name, since a rebuild
// of the list may move them to other rows.
void printChanges(const Snapshot& before, const Snapshot& after, bool json)
{
    if (before.listRunning != after.listRunning) printRunFlag(after.listRunning, json);
    std::map<std::string, const Printer*> old;
    for (const Printer& p : before.printers) old.emplace(p.name, &p);
    for (const Printer& p : after.printers) {
        const auto it = old.find(p.name);
        // Only what the line shows counts: a row number that moved is no news in the text lines.
        const std::string line = changeLine(p, json);
        if (it == old.end() || changeLine(*it->second, json) != line) std::puts(line.c_str());
        if (it != old.end()) old.erase(it);
    }
    for (const Printer& p : before.printers) {
        if (old.count(p.name) != 0) printGone(p.name, json);
    }
}

// ---- Watching --------------------------------------------------------------------------------------

int stopPipe[2] = {-1, -1};
void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(stopPipe[1], &byte, 1);
}

// Waits up to `ms` for SIGINT or SIGTERM.
bool stopRequested(long ms)
{
    pollfd fd{stopPipe[0], POLLIN, 0};
    return ::poll(&fd, 1, static_cast<int>(ms)) > 0;
}

int watch(Reader& reader, Snapshot last, const Options& options)
{
    while (!stopRequested(options.intervalMs)) {
        // A spooler that cannot be read for a moment is skipped, not reported as every printer gone.
        std::optional<Snapshot> now = read(reader);
        if (!now) continue;
        printChanges(last, *now, options.json);
        last = std::move(*now);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (plat::printHelpIfAsked(plat::argumentsOf(argc, argv), kHelp)) return 0;
    std::string why;
    const std::optional<Options> options = parse(argc, argv, why);
    if (!options) return usage(why);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // scripts follow the lines as they come
    // The texts in the locale's language; the JSON keys and the spooler's name stay as they are.
    kestrel::useLanguage(kestrel::languageFromEnvironment());

    if (options->watch) {
        // Installed before the first read, so a signal that comes early still ends the run cleanly.
        if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            std::perror("kestrel-status: pipe");
            return 1;
        }
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    Reader reader;
    std::optional<Snapshot> snapshot = read(reader);
    if (!snapshot) {
        std::fputs("kestrel-status: the spooler's printers cannot be read.\n", stderr);
        return 1;
    }
    if (options->json) {
        printJson(*snapshot);
    } else {
        printTable(*snapshot);
    }
    if (options->watch) return watch(reader, std::move(*snapshot), *options);
    return snapshot->listRunning == 0 ? 3 : 0;
}
