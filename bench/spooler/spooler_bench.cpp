// The spooler on CUPS next to the embedded spooler, in one run:
//  1. one list refresh (printers() + drivers()) with 20 printers on each: what the list program pays per
//     rebuild; on CUPS also a spooler opened afresh (connect, one Get-Printers, 20 PPDs: it subscribes
//     only when asked for changes);
//  2. the CPU the scheduler spends while a CUPS spooler's watcher idles (goal: at most 0.2 % of a core).
// bench/spooler/cups_system measures the whole system instead: the list and its 20 detail programs.
// It starts a private cupsd of its own (scripts/cupsd-private) in a fresh folder and a fresh system
// root, and removes both at the end.
//
//   spooler_bench [--seconds=S] [--refreshes=N]

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "plat/spool/spooler.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPrinters = 20;

constexpr const char* kPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VELTAPG3.PPD"
*Manufacturer: "VELTA"
*Product: "(PG-03)"
*PSVersion: "(3010.000) 0"
*ModelName: "VELTA PG-03"
*ShortNickName: "VELTA PG-03"
*NickName: "VELTA PG-03"
*cupsFilter2: "application/vnd.cups-raw application/vnd.cups-raw 0 -"
*VELTADriverFile: "KDRV01.DRV"
*VELTALanguageMonitor: "VELTA Language Monitor"
*VELTALanguageMonitorFile: "KMON01.DLL"
*OpenUI *PageSize: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: ""
*CloseUI: *PageSize
*DefaultImageableArea: A4
*ImageableArea A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4: "595 842"
)PPD";

bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string quoted(const fs::path& p) { return "'" + p.string() + "'"; }

// Median microseconds of `n` runs of `body`.
template <class Body>
double medianMicros(int n, Body body)
{
    std::vector<double> times;
    for (int i = 0; i < n; ++i) {
        const auto start = Clock::now();
        body();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A process's user + system CPU so far, in seconds.
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // After the name: state is field 0, utime field 11, stime field 12.
    if (fields.size() < 13) return -1;
    return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv)
{
    int seconds = 60, refreshes = 200;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::atoi(argv[i] + 10);
        else if (std::strncmp(argv[i], "--refreshes=", 12) == 0) refreshes = std::max(1, std::atoi(argv[i] + 12));
        else {
            std::fprintf(stderr, "usage: spooler_bench [--seconds=S] [--refreshes=N]\n");
            return 2;
        }
    }

    char pattern[] = "/tmp/kestrel-spooler-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const fs::path base = pattern;
    const fs::path cupsd = base / "cupsd", root = base / "root", ppds = base / "ppd";
    fs::create_directories(root);
    fs::create_directories(ppds);
    std::ofstream(ppds / "pg03.ppd") << kPpd;
    ::setenv("KESTREL_ROOT", root.c_str(), 1);
    ::setenv("KESTREL_PPD_DIR", ppds.c_str(), 1);
    ::setenv("CUPS_SERVER", (cupsd / "cups.sock").c_str(), 1);
    ::setenv("CUPS_SERVERROOT", (cupsd / "etc").c_str(), 1);
    if (!run(std::string(KESTREL_CUPSD_SCRIPT) + " start " + quoted(cupsd) + " >/dev/null")) {
        fs::remove_all(base);
        return 1;
    }
    int rc = 0;
    auto store = plat::registry::Store::open(plat::registryFile());
    if (!store) {
        std::fprintf(stderr, "spooler_bench: %s\n", store.error().detail.c_str());
        fs::remove_all(base);
        return 1;
    }
    {
        auto local = plat::spool::embedded(*store.value());
        auto opened = plat::spool::cups(*store.value());
        if (!local || !opened) {
            std::fprintf(stderr, "spooler_bench: a spooler does not open\n");
            rc = 1;
        } else {
            auto& embedded = *local.value();
            auto& cups = *opened.value();
            embedded.addMonitor({"VELTA Language Monitor", "KMON01.DLL"});
            embedded.addDriver({"VELTA PG-03", "KDRV01.DRV", "VELTA Language Monitor"});
            for (int i = 0; i < kPrinters; ++i) {
                const std::string port = "LPT" + std::to_string(i + 1) + ":";
                const std::string name = "Bench " + std::to_string(i);
                embedded.addPort(port, "device:/dev/usb/lp" + std::to_string(i));
                embedded.addPrinter({name, port, "VELTA PG-03"});
                cups.addPrinter({"Bench_" + std::to_string(i), "velta:/dev/usb/lp" + std::to_string(i), "VELTA PG-03"});
            }
            const auto listed = cups.printers();
            std::printf("printers: embedded %zu, CUPS %zu\n", embedded.printers().value().size(),
                        listed ? listed.value().size() : 0);

            const double embeddedRefresh = medianMicros(refreshes, [&] {
                embedded.printers();
                embedded.drivers();
            });
            const double cupsRefresh = medianMicros(refreshes, [&] {
                cups.printers();
                cups.drivers();
            });
            const double cupsFresh = medianMicros(std::max(1, refreshes / 20), [&] {
                auto fresh = plat::spool::cups(*store.value());
                fresh.value()->printers();
                fresh.value()->drivers();
            });
            std::printf("list refresh (printers()+drivers(), %d printers, median of %d):\n", kPrinters, refreshes);
            std::printf("  embedded spooler             %9.1f us\n", embeddedRefresh);
            std::printf("  CUPS, from the snapshot      %9.1f us\n", cupsRefresh);
            std::printf("  CUPS, a spooler opened anew  %9.1f us (connect, Get-Printers, %d PPDs)\n", cupsFresh,
                        kPrinters);
            std::printf("  CUPS, opened, changeCount()  %9.1f us (the above, then subscribe and Get-Printers)\n",
                        medianMicros(std::max(1, refreshes / 20), [&] {
                            auto fresh = plat::spool::cups(*store.value());
                            fresh.value()->changeCount();
                        }));

            cups.changeCount();  // the watcher starts with the first question about changes
            std::ifstream pidFile(cupsd / "cupsd.pid");
            pid_t pid = 0;
            pidFile >> pid;
            const double before = cpuSeconds(pid);
            const auto start = Clock::now();
            ::sleep(static_cast<unsigned>(seconds));
            const double after = cpuSeconds(pid);
            const double wall = std::chrono::duration<double>(Clock::now() - start).count();
            std::printf(
                "cupsd CPU while one watcher idles (%d queues, %.0f s): %.3f s = %.3f %% of a core "
                "(goal <= 0.2 %%)\n",
                kPrinters, wall, after - before, 100.0 * (after - before) / wall);
        }
    }
    run(std::string(KESTREL_CUPSD_SCRIPT) + " stop " + quoted(cupsd) + " >/dev/null");
    fs::remove_all(base);
    return rc;
}
