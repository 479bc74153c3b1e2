// kestrel-status: what the list window shows, for scripts, for machines without a display and for
// monitoring systems. It reads the list program's run flag, the spooler's printers and the records of
// the slots that exist, and changes nothing: no slot is made, no store value written, no program
// started. The reading is snapshot.h's; the outputs are the table, JSON and the Prometheus text.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "alert_counts.h"
#include "atomic_file.h"
#include "history_output.h"
#include "json_output.h"
#include "plat/base/command_line.h"
#include "prometheus.h"
#include "resources/language.h"
#include "snapshot.h"
#include "text_output.h"

namespace {

using namespace kestrel_status;

constexpr const char* kHelp = R"(kestrel-status - what the printer list shows, as text, JSON or Prometheus metrics

Usage:
  kestrel-status [--json] [--watch [--interval MS]]
  kestrel-status --prometheus [--output FILE] [--watch [--interval MS]]
  kestrel-status --help

--json         print {"list_running": 0|1|2, "spooler": "CUPS"|"embedded", "printers": [...]} on one
               line instead of the table
--prometheus   print the metrics below in the Prometheus text format instead of the table
--output FILE  with --prometheus: write them to FILE instead, replacing it in one step (a new file
               beside it, then renamed over it), as node_exporter's textfile collector wants
--watch        after the first output, print a line per change until SIGINT or SIGTERM; with
               --prometheus --output, write FILE again on every change and at least once a minute
--interval MS  how often --watch looks, in milliseconds (10 to 3600000; 500 without it)

Reads the list program's run flag (0 not running, 1 building its list, 2 running; unreadable 0), the
spooler's printers in the list's order (of the spooler that serves: $KESTREL_SPOOLER, else CUPS when
a CUPS scheduler answers, else the embedded one; the table's second line names it) and the records of
the slots "WTCHM0".."WTCHM19" that exist. A printer named in a slot's record can be monitored; any
other cannot. Per printer it shows the list's columns (name, monitoring, printer state, jobs) and the
status page's message, action and explanation: what the detail window shows, the engine's
communication and other failures included. It never starts, writes or changes anything but FILE.

Each printer in JSON:
  {"name": "Office", "row": 0, "slot": 0, "monitoring": "Monitoring", "state": "stopped",
   "state_text": "Cannot print", "jobs": 2, "level": 2, "message": "...", "action": "...",
   "explanation": "...", "alert": 5, "network": false, "port": "LPT1:", "captured": null,
   "reasons": ["cover-open-error"], "supplies": [{"name": "toner", "kind": "toner", "color": "black",
   "level": 80, "low": false}], "paper": [{"source": "tray", "size": "A4", "level": 100}],
   "changed": "2026-12-09T11:18:14Z", "scheduler": null}
"state" is a keyword: idle, printing (the printer says it works), warning, stopped, unreachable (the printer does
not answer) or not-monitored; "state_text" is the list's column. "reasons" are IPP
printer-state-reasons keywords (as the velta CUPS backend sets them); "supplies" and "paper" what the
printer last reported ("level" in percent, null when it does not say; "size" the paper's English
name); "changed" when the detail program last saw the status change (RFC 3339, UTC; null before it
has). "scheduler" is, for a CUPS queue we do not monitor, the scheduler's own view: {"state":
"idle"|"processing"|"stopped", "reasons": [...], "markers": [{"name", "type", "color", "level"}]}.
"slot" is null for a printer that cannot be monitored, and then so are "level" to "alert"; "state_text"
and "jobs" are null while the printer is not monitored; an empty text is null. "network" is the
list's picture: true for a printer on a network path (once its detail program has checked the port).
"port" is where the printer prints: the spooler's port, or the NetWare queue path the detail program
found for it; "captured" is the local port captured to that queue, else null. The table's PORT column
marks a network printer's port with (network) and shows a captured port with its queue, as in
LPT2:(\\FS1\QUEUE1) for LPT2: captured to QUEUE1 on FS1. docs/kestrel-status.schema.json describes it.

Metrics (--prometheus), every printer labelled printer="NAME":
  kestrel_list_running                    1 while the list program runs
  kestrel_printer_up                      1 when monitored and answering
  kestrel_printer_monitored               1 while a detail program monitors it
  kestrel_printer_state{state}            1 for the current state keyword, 0 for the five others
  kestrel_printer_reason{reason}          1 per current printer-state-reasons keyword
  kestrel_supply_level_ratio{supply,kind,color}  0 to 1; absent when not known
  kestrel_printer_jobs                    jobs in its queue, while monitored
  kestrel_last_change_timestamp_seconds   when its status last changed
  kestrel_alerts_total{reason}            changes that brought the reason up (from the status history)

--watch lines: a printer whose columns or texts changed, was added or went away, and a changed run
flag. As text:
  Office: Monitoring | Cannot print | jobs 0 | The printer cover is open.
  Office: gone
  list program: running
With --json each line is a JSON object: the printer as above, {"name": "Office", "gone": true}, or
{"list_running": 2}.

Language: the table and every text (monitoring, state_text, message, action, explanation) follow the
locale as the desktop's programs do (LANGUAGE, LC_ALL, LC_MESSAGES, LANG): Japanese, the system's own
texts, for a Japanese locale, English for any other, C and POSIX included. The JSON keys, the
keywords ("state", "reasons", supplies, paper), "spooler", the numbers, "gone" and the metrics never
change with it; scripts that compare texts set LC_ALL.

Exit status: 0 the list program is running or building its list; 3 it is not running (the output is
printed all the same); 1 the spooler's printers cannot be read, or FILE cannot be written; 2 usage
error. --watch ends with 0.
)";

constexpr long kDefaultIntervalMs = 500;
constexpr long kMinIntervalMs = 10;
constexpr long kMaxIntervalMs = 60L * 60 * 1000;
// A metrics file is written again at least this often, so its age tells a reader that the watch runs.
constexpr auto kMetricsRefresh = std::chrono::minutes(1);

enum class Format { Table, Json, Prometheus };

struct Options {
    Format format = Format::Table;
    std::optional<std::string> output;
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
    bool intervalGiven = false, jsonGiven = false, prometheusGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            jsonGiven = true;
            options.format = Format::Json;
        } else if (arg == "--prometheus") {
            prometheusGiven = true;
            options.format = Format::Prometheus;
        } else if (arg == "--watch") {
            options.watch = true;
        } else if (arg == "--output") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') {
                why = "--output needs a file.";
                return std::nullopt;
            }
            options.output = argv[++i];
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
    if (jsonGiven && prometheusGiven) {
        why = "--json and --prometheus do not go together.";
        return std::nullopt;
    }
    if (options.output && !prometheusGiven) {
        why = "--output goes with --prometheus.";
        return std::nullopt;
    }
    if (prometheusGiven && options.watch && !options.output) {
        why = "--prometheus --watch writes to a file: give --output FILE.";
        return std::nullopt;
    }
    return options;
}

std::string metrics(Reader& reader, const Snapshot& snapshot)
{
    plat::Services* services = reader.services();
    return prometheusText(snapshot, services != nullptr ? alertCounts(*services) : std::vector<AlertCount>{});
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

std::string printerLine(const Printer& p, Format format)
{
    return format == Format::Json ? jsonPrinter(p) : textPrinter(p);
}

// The lines for what changed from `before` to `after`; printers are matched by name, since a rebuild
// of the list may move them to other rows.
void printChanges(const Snapshot& before, const Snapshot& after, Format format)
{
    const bool json = format == Format::Json;
    if (before.listRunning != after.listRunning)
        std::puts((json ? jsonRunFlag(after.listRunning) : textRunFlag(after.listRunning)).c_str());
    std::map<std::string, const Printer*> old;
    for (const Printer& p : before.printers) old.emplace(p.name, &p);
    for (const Printer& p : after.printers) {
        const auto it = old.find(p.name);
        // Only what the line shows counts: a row number that moved is no news in the text lines.
        const std::string line = printerLine(p, format);
        if (it == old.end() || printerLine(*it->second, format) != line) std::puts(line.c_str());
        if (it != old.end()) old.erase(it);
    }
    for (const Printer& p : before.printers) {
        if (old.count(p.name) != 0) std::puts((json ? jsonGone(p.name) : textGone(p.name)).c_str());
    }
}

int watchLines(Reader& reader, Snapshot last, const Options& options)
{
    while (!stopRequested(options.intervalMs)) {
        // A spooler that cannot be read for a moment is skipped, not reported as every printer gone.
        std::optional<Snapshot> now = read(reader);
        if (!now) continue;
        printChanges(last, *now, options.format);
        last = std::move(*now);
    }
    return 0;
}

// Rewrites the metrics file when the metrics change and at least once a minute. A write that fails is
// said once on stderr and tried again at the next look; the watch goes on.
int watchMetrics(Reader& reader, std::string written, const Options& options)
{
    using Clock = std::chrono::steady_clock;
    auto writtenAt = Clock::now();
    std::string lastError;
    while (!stopRequested(options.intervalMs)) {
        std::optional<Snapshot> now = read(reader);
        if (!now) continue;
        std::string text = metrics(reader, *now);
        if (text == written && Clock::now() - writtenAt < kMetricsRefresh) continue;
        std::string why;
        if (!replaceFile(*options.output, text, why)) {
            if (why != lastError) std::fprintf(stderr, "kestrel-status: %s\n", why.c_str());
            lastError = why;
            continue;
        }
        lastError.clear();
        written = std::move(text);
        writtenAt = Clock::now();
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (kestrel_status::asksForHistory(argc, argv)) return kestrel_status::printHistory(argc, argv);
    if (plat::printHelpIfAsked(plat::argumentsOf(argc, argv), kHelp)) return 0;
    std::string why;
    const std::optional<Options> options = parse(argc, argv, why);
    if (!options) return usage(why);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // scripts follow the lines as they come
    // The texts in the locale's language; the keys, keywords and metrics stay as they are.
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
    const int status = snapshot->listRunning == 0 ? 3 : 0;
    switch (options->format) {
    case Format::Table: std::fputs(table(*snapshot).c_str(), stdout); break;
    case Format::Json: std::puts(jsonDocument(*snapshot).c_str()); break;
    case Format::Prometheus: {
        std::string text = metrics(reader, *snapshot);
        if (!options->output) {
            std::fputs(text.c_str(), stdout);
            break;
        }
        if (!replaceFile(*options->output, text, why)) {
            std::fprintf(stderr, "kestrel-status: %s\n", why.c_str());
            // A watch may outlive a folder that is not there yet; a single run fails.
            if (!options->watch) return 1;
            text.clear();
        }
        if (options->watch) return watchMetrics(reader, std::move(text), *options);
        break;
    }
    }
    if (options->watch) return watchLines(reader, std::move(*snapshot), *options);
    return status;
}
