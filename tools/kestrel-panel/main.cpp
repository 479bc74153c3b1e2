// kestrel-panel: plays the list program's part for one printer, so the detail program can be run, shown,
// watched and measured before the list program exists. It makes slot 0 for the printer as the list
// program would, starts watchpanel.exe on it, reports what the record says, and ends it through the
// slot.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "facts/models.h"
#include "plat/base/command_line.h"
#include "plat/heap/heap.h"
#include "plat/proc/process.h"
#include "plat/services/program.h"
#include "plat/shm/shm.h"
#include "watchcore.h"
#include "watchlist/slot_table.h"
#include "watchpanel/status_page.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kHelp = R"(kestrel-panel - run the detail window of one printer as the list program would

Usage:
  kestrel-panel PRINTER [--show] [--seconds N] [--measure]
  kestrel-panel --help

PRINTER      the spooler's printer name; its driver must be one of the models
--show       show the window once the printer is monitored (it starts hidden)
--seconds N  end after N seconds (1 to 86400); without it, run until SIGINT or SIGTERM, or until
             standard input closes when it is not a terminal
--measure    measure watchpanel.exe from the moment the printer is monitored to the end, and print
             cpu_percent=... (of one core) wakeups_per_s=... (voluntary context switches) pss_mb=... (at the end);
             lines before it give RSS, the private and the anonymous memory for comparison, and each
             thread that ran: its id, name, CPU microseconds and wake-ups a second

Makes slot 0 of the system root ($KESTREL_ROOT) for the printer, prepares its store and starts
watchpanel.exe 0 from this program's folder. Prints a line per change it sees in the slot's record:
  kestrel-panel: ready
  kestrel-panel: status level 2 message 26 picture 1
At the end it asks watchpanel.exe to close, and terminates it when it has not ended in 15 seconds.

Exit status: 0 watchpanel.exe ran and ended on the close request; 1 it could not be started, ended
early, did not end, or could not be measured; 2 usage error, unknown printer or not a model's printer.
)";

constexpr auto kTick = 100ms;               // how often the record is read
constexpr auto kCloseBound = 15s;           // as long as the list program waits for a detail program
constexpr long kMaxSeconds = 24 * 60 * 60;  // --seconds beyond a day is a typing error

struct Options {
    std::string printer;
    bool show = false;
    bool measure = false;
    std::optional<long> seconds;
};

int usage(const std::string& why)
{
    std::fprintf(stderr, "kestrel-panel: %s Type \"kestrel-panel --help\" for usage.\n", why.c_str());
    return 2;
}

// Parses the command line; an error text (and no options) for a bad one.
std::optional<Options> parse(int argc, char** argv, std::string& why)
{
    Options options;
    bool havePrinter = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--show") {
            options.show = true;
        } else if (arg == "--measure") {
            options.measure = true;
        } else if (arg == "--seconds") {
            const auto n = plat::numberOption(argc, argv, i, 1, kMaxSeconds, why);
            if (!n) return std::nullopt;
            options.seconds = *n;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            why = "Unknown option \"" + arg + "\".";
            return std::nullopt;
        } else if (!havePrinter) {
            options.printer = arg;
            havePrinter = true;
        } else {
            why = "Give one printer.";
            return std::nullopt;
        }
    }
    if (!havePrinter || options.printer.empty()) {
        why = "Give a printer name.";
        return std::nullopt;
    }
    return options;
}

// The spooler's printer and its model table row, copied out of the heap the lists live in.
struct Found {
    std::string name, port, driver;
    ModelTableEntry model{};
};

// Finds the printer as the list program would take it into monitoring: among the spooler's printers,
// accepted by the model check, with a model's driver. Exit code and message when not.
std::optional<Found> findPrinter(const std::string& wanted, int& exitCode, std::string& why)
{
    struct HeapGuard {
        plat::Heap* heap = plat::Heap::create();
        ~HeapGuard() { plat::Heap::destroy(heap); }
    } guard;
    exitCode = 1;
    if (guard.heap == nullptr) {
        why = "no memory for the spooler's lists.";
        return std::nullopt;
    }
    int32_t printerCount = 0, driverCount = 0;
    PrinterInfo2* printers = lppiGetPrinterInformation(&printerCount, guard.heap);
    DriverInfo2* drivers = lpdiGetDriverInformation(&driverCount, guard.heap);
    ModelTable table{};
    if (printerCount < 0 || driverCount < 0) {
        why = "the spooler's printers or drivers cannot be read.";
        return std::nullopt;
    }
    if (fReadPrinterInfoFile(&table, guard.heap) != 1 || table.Entries == nullptr) {
        why = "the model table cannot be built.";
        return std::nullopt;
    }
    exitCode = 2;
    for (int32_t i = 0; i < printerCount && printers != nullptr; ++i) {
        const PrinterInfo2& p = printers[i];
        if (p.pPrinterName == nullptr || wanted != p.pPrinterName) continue;
        const std::string driver = p.pDriverName != nullptr ? p.pDriverName : "";
        if (fCheckModel(&p, &table) != 1) {
            why = "\"" + wanted + "\" (driver \"" + driver + "\") is not a printer of a model this system monitors.";
            return std::nullopt;
        }
        const uint32_t row = dwCheckDriver(&p, drivers, static_cast<uint32_t>(driverCount), &table);
        if (row >= table.EntryCount) {
            why = "the driver \"" + driver + "\" of \"" + wanted + "\" is not installed as a model's driver.";
            return std::nullopt;
        }
        Found found;
        found.name = p.pPrinterName;
        found.port = p.pPortName != nullptr ? p.pPortName : "";
        found.driver = driver;
        found.model = table.Entries[row];
        exitCode = 0;
        return found;
    }
    why = "the spooler has no printer \"" + wanted + "\" (see: spoolctl list).";
    return std::nullopt;
}

// ---- Measuring the detail program through /proc ---------------------------------------------------

struct Thread {
    std::string name;
    unsigned long long cpuNs = 0;  // time on a CPU as the scheduler counts it
    long switches = 0;             // voluntary context switches: its wake-ups
};

struct Sample {
    Clock::time_point when;
    std::map<std::string, Thread> threads;  // by thread id
};

std::optional<std::string> readFile(const std::filesystem::path& path)
{
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The value of "Name:  value" in a /proc status-like text, or nothing.
std::optional<long> field(const std::string& text, const std::string& name)
{
    const std::string key = "\n" + name + ":";
    std::size_t at = ("\n" + text).find(key);
    if (at == std::string::npos) return std::nullopt;
    at += key.size() - 1;  // position in `text`
    char* end = nullptr;
    const long value = std::strtol(text.c_str() + at, &end, 10);
    if (end == text.c_str() + at) return std::nullopt;
    return value;
}

std::optional<Sample> sample(pid_t pid)
{
    Sample s;
    s.when = Clock::now();
    const std::filesystem::path dir = "/proc/" + std::to_string(pid);
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(dir / "task", error)) {
        // The clock ticks of stat miss an idle program's short runs; schedstat counts nanoseconds.
        auto status = readFile(task.path() / "status");
        auto schedstat = readFile(task.path() / "schedstat");
        auto comm = readFile(task.path() / "comm");
        if (!status || !schedstat || !comm) continue;  // the thread ended meanwhile
        // A wake-up is a sleep that ended; involuntary switches are preemptions by the machine's other work.
        const auto voluntary = field(*status, "voluntary_ctxt_switches");
        if (!voluntary) continue;
        if (!comm->empty() && comm->back() == '\n') comm->pop_back();
        s.threads[task.path().filename().string()] = {*comm, std::strtoull(schedstat->c_str(), nullptr, 10),
                                                      *voluntary};
    }
    if (error || s.threads.empty()) return std::nullopt;
    return s;
}

// The memory figures of the whole process, in kB. PSS charges each shared page to its users in equal
// parts, so it moves with what else maps the same libraries; the private part does not.
struct Memory {
    long pss = 0, rss = 0, privateKb = 0, anonymous = 0;
};

std::optional<Memory> memoryOf(pid_t pid)
{
    auto rollup = readFile("/proc/" + std::to_string(pid) + "/smaps_rollup");
    if (!rollup) return std::nullopt;
    const std::size_t header = rollup->find('\n');  // the first line is the address range
    const std::string text = header == std::string::npos ? *rollup : rollup->substr(header + 1);
    const auto pss = field(text, "Pss"), rss = field(text, "Rss"), clean = field(text, "Private_Clean"),
               dirty = field(text, "Private_Dirty"), anonymous = field(text, "Anonymous");
    if (!pss || !rss || !clean || !dirty || !anonymous) return std::nullopt;
    return Memory{*pss, *rss, *clean + *dirty, *anonymous};
}

void printMeasurement(const Sample& before, const Sample& after, const Memory& memory)
{
    const double wall = std::chrono::duration<double>(after.when - before.when).count();
    // A thread that started meanwhile counts whole; one that ended meanwhile is lost with its figures.
    double cpuNs = 0, switches = 0;
    std::string perThread;
    for (const auto& [tid, now] : after.threads) {
        const auto earlier = before.threads.find(tid);
        const Thread then = earlier != before.threads.end() ? earlier->second : Thread{};
        const double ns = static_cast<double>(now.cpuNs - then.cpuNs),
                     woke = static_cast<double>(now.switches - then.switches);
        cpuNs += ns;
        switches += woke;
        char line[160];
        std::snprintf(line, sizeof line, "kestrel-panel:   thread %s %s: cpu_us_per_s=%.1f wakeups_per_s=%.2f\n",
                      tid.c_str(), now.name.c_str(), ns / 1000.0 / wall, woke / wall);
        perThread += line;
    }
    auto mb = [](long kb) { return static_cast<double>(kb) / 1024.0; };
    std::printf("kestrel-panel: measured %.1f s, %zu threads; rss_mb=%.1f private_mb=%.1f anonymous_mb=%.1f\n", wall,
                after.threads.size(), mb(memory.rss), mb(memory.privateKb), mb(memory.anonymous));
    std::fputs(perThread.c_str(), stdout);
    std::printf("cpu_percent=%.3f wakeups_per_s=%.2f pss_mb=%.1f\n", 100.0 * cpuNs / 1e9 / wall, switches / wall,
                mb(memory.pss));
}

// ---- Signals and the end of the run --------------------------------------------------------------

int stopPipe[2] = {-1, -1};
void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] auto written = ::write(stopPipe[1], &byte, 1);
}

// Waits up to one tick for a stop: a signal, or the end of standard input when it is watched.
bool stopRequested(bool watchInput)
{
    pollfd fds[2] = {{stopPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const int count = watchInput ? 2 : 1;
    if (::poll(fds, count, static_cast<int>(kTick.count())) <= 0) return false;
    if (fds[0].revents != 0) return true;
    if (watchInput && fds[1].revents != 0) {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        return n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN);
    }
    return false;
}

// ---- What the record shows --------------------------------------------------------------------------

struct Seen {
    uint32_t monitorActive = 0;
    uint32_t engineReport = 0;
    std::optional<std::tuple<uint32_t, uint16_t, uint16_t>> status;  // level, message, picture
};

void reportChanges(const PrinterEntry& e, Seen& seen)
{
    if (e.MonitorActive != seen.monitorActive) {
        seen.monitorActive = e.MonitorActive;
        std::puts(e.MonitorActive != 0 ? "kestrel-panel: ready" : "kestrel-panel: not monitoring");
        seen.status.reset();  // a fresh start reports its status again
    }
    if (e.EngineStateReport != seen.engineReport) {
        seen.engineReport = e.EngineStateReport;
        std::printf("kestrel-panel: engine report %u\n", e.EngineStateReport);
    }
    if (e.MonitorActive == 0) return;  // before the engine is ready the status is the slot's initial one
    const auto status = std::make_tuple(e.PrinterState, e.MessageIndex, e.PictureIndex);
    if (seen.status != status) {
        seen.status = status;
        std::printf("kestrel-panel: status level %u message %u picture %u\n", e.PrinterState,
                    static_cast<unsigned>(e.MessageIndex), static_cast<unsigned>(e.PictureIndex));
        // What the status page says about it (the ink a message may name lives in the window only).
        const std::int32_t paper[watchpanel::kPaperWords] = {};
        for (const watchpanel::ControlChange& c : watchpanel::statusChanges(e, paper)) {
            if (c.kind != watchpanel::ControlChange::Kind::Text || c.text.empty()) continue;
            std::printf("kestrel-panel:   %s: %s\n", c.control == 1306 ? "status" : "action", c.text.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (plat::printHelpIfAsked(plat::argumentsOf(argc, argv), kHelp)) return 0;
    std::string why;
    const std::optional<Options> options = parse(argc, argv, why);
    if (!options) return usage(why);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // scripts follow the lines as they come

    // The process's services, handed to the library: its exports share the store and the spooler.
    auto services = plat::openProgramServices();
    if (!services) {
        std::fprintf(stderr, "kestrel-panel: %s\n", services.error().detail.c_str());
        return 1;
    }
    vWatchcoreUseServices(services.value().get());

    int code = 0;
    const std::optional<Found> printer = findPrinter(options->printer, code, why);
    if (!printer) {
        std::fprintf(stderr, "kestrel-panel: %s\n", why.c_str());
        return code;
    }

    // Slot 0 belongs to whoever made it first in this root: another host or the list program running
    // there would share its record with us, and both would steer the same detail program.
    if (auto removed = plat::shm::removeStaleObjects(); !removed) {
        std::fprintf(stderr, "kestrel-panel: cannot check the root's slots: %s\n", removed.error().detail.c_str());
        return 1;
    }
    if (plat::shm::open("WTCHM0")) {
        std::fputs("kestrel-panel: slot 0 of this system root is in use by another program.\n", stderr);
        return 1;
    }

    watchlist::SlotTable slots;
    PrinterInfo2 info{};
    info.pPrinterName = const_cast<char*>(printer->name.c_str());
    info.pPortName = const_cast<char*>(printer->port.c_str());
    info.pDriverName = const_cast<char*>(printer->driver.c_str());
    PrinterEntry entry{};
    if (!slots.createSlot() || !watchlist::initialiseRecord(slots.view(0), 0, info, printer->model) ||
        fSharedMemoryReadAccess(slots.view(0), &entry, sizeof entry) != 1 || fInitRegistory(&entry) != 1) {
        std::fputs("kestrel-panel: cannot make the printer's slot or prepare its store (KESTREL_TRACE=1 tells why).\n",
                   stderr);
        return 1;
    }
    std::printf("kestrel-panel: %s, %s on %s\n", printer->name.c_str(), printer->model.ShortModelName,
                printer->port.c_str());

    std::error_code error;
    const std::filesystem::path program =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / "watchpanel.exe";
    if (error) {
        std::fprintf(stderr, "kestrel-panel: cannot find this program's folder: %s\n", error.message().c_str());
        return 1;
    }
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("kestrel-panel: pipe");
        return 1;
    }
    // Ctrl+C reaches the whole foreground process group: watchpanel.exe starts with SIGINT ignored (an
    // ignored signal stays ignored across exec), so it is this program that ends it, through the slot.
    std::signal(SIGINT, SIG_IGN);
    auto started = plat::proc::start(program.string(), {"0"}, plat::proc::Show::Hidden);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    if (!started) {
        std::fprintf(stderr, "kestrel-panel: %s\n", started.error().detail.c_str());
        return 1;
    }
    plat::proc::Process panel = started.value();
    std::printf("kestrel-panel: watchpanel.exe pid %d\n", static_cast<int>(panel.pid()));

    const bool watchInput = !options->seconds && ::isatty(STDIN_FILENO) == 0;
    const auto deadline =
        options->seconds ? Clock::now() + std::chrono::seconds(*options->seconds) : Clock::time_point::max();
    Seen seen;
    bool showAsked = false;
    std::optional<Sample> before;
    bool endedEarly = false;
    while (Clock::now() < deadline && !stopRequested(watchInput)) {
        if (!panel.isRunning()) {
            endedEarly = true;
            break;
        }
        if (fSharedMemoryReadAccess(slots.view(0), &entry, sizeof entry) != 1) continue;
        reportChanges(entry, seen);
        if (entry.MonitorActive == 0) continue;
        if (options->show && !showAsked && watchlist::requestShow(slots.view(0))) {
            showAsked = true;
            std::puts("kestrel-panel: show requested");
        }
        if (options->measure && !before) {
            before = sample(panel.pid());
            if (!before) std::fputs("kestrel-panel: cannot read watchpanel.exe's figures in /proc\n", stderr);
        }
    }
    if (endedEarly) {
        std::fprintf(stderr, "kestrel-panel: watchpanel.exe ended early with exit code %d\n",
                     panel.exitCode().value_or(-1));
        return 1;
    }

    bool measured = !options->measure;
    if (options->measure && before) {
        const std::optional<Sample> after = sample(panel.pid());
        const std::optional<Memory> memory = memoryOf(panel.pid());
        if (after && memory) {
            printMeasurement(*before, *after, *memory);
            measured = true;
        }
    }
    if (!measured) std::fputs("kestrel-panel: no measurement: the printer was not monitored in the run\n", stderr);

    std::puts("kestrel-panel: closing");
    watchlist::requestClose(slots.view(0));
    const auto closeStart = Clock::now();
    bool ended = false;
    while (!(ended = !panel.isRunning()) && Clock::now() - closeStart < kCloseBound) {
        if (fSharedMemoryReadAccess(slots.view(0), &entry, sizeof entry) == 1) reportChanges(entry, seen);
        ::usleep(50'000);
    }
    if (!ended) {
        std::fputs("kestrel-panel: watchpanel.exe did not end on the close request; terminating it\n", stderr);
        panel.terminate(1);
        return 1;
    }
    const int exit = panel.exitCode().value_or(-1);
    std::printf("kestrel-panel: watchpanel.exe ended with exit code %d\n", exit);
    return exit == 0 && measured ? 0 : 1;
}
