// watchlist.exe as its users run it: on an embedded spooler with printers on vprinter, started as a
// process offscreen, watched through the store's flags, the slots and its child processes.

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace {

constexpr const char* kPrinters = R"({"printers": [
    {"port": "LPT1:", "model": "PG-03"},
    {"port": "LPT2:", "model": "IJ-09"}]})";

// The processes whose parent is `parent`.
std::set<pid_t> childrenOf(pid_t parent)
{
    std::set<pid_t> children;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) return children;
    while (dirent* entry = ::readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...: the command may hold blanks, so read after the last ')'.
        const auto close = line.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int ppid = 0;
        if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent && state != 'Z') {
            children.insert(pid);
        }
    }
    ::closedir(proc);
    return children;
}

// The arguments a process was started with; empty when it is gone.
std::vector<std::string> argumentsOf(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline");
    std::vector<std::string> arguments;
    for (std::string argument; std::getline(file, argument, '\0');) arguments.push_back(argument);
    return arguments;
}

// Its environment holds `variable` (NAME=value).
bool hasEnvironment(pid_t pid, const std::string& variable)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/environ");
    for (std::string entry; std::getline(file, entry, '\0');) {
        if (entry == variable) return true;
    }
    return false;
}

std::string contentsOf(const std::string& path)
{
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

class WatchlistTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ASSERT_TRUE(sim.ready()) << sim.output();
        spoolctl({"install-models"});
        for (const char* port : {"LPT1:", "LPT2:"}) spoolctl({"add-port", port, "--sim"});
        spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"});
        spoolctl({"add-printer", "Photo", "--driver", "VELTA IJ-09", "--port", "LPT2:"});
    }
    void TearDown() override
    {
        for (pid_t pid : lists) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

    void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    // `traceFile`: the list's trace texts go there.
    pid_t startList(const char* option = nullptr, const std::string& traceFile = {})
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!traceFile.empty()) {
                ::setenv("KESTREL_TRACE", "1", 1);
                const int fd = ::open(traceFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                if (fd >= 0) ::dup2(fd, 2);
            }
            ::execl(WATCHLIST_PROGRAM, WATCHLIST_PROGRAM, option, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        lists.push_back(pid);
        return pid;
    }
    // Waits for the list's end; its exit status, or -1 when it did not end in the bound.
    int waitForEnd(pid_t pid)
    {
        int status = -1;
        if (!testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; })) return -1;
        std::erase(lists, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::uint32_t runFlag()
    {
        std::uint32_t flag = 99;
        fGetRegistoryKswListRunFlag(&flag);
        return flag;
    }
    // The names in the slots the list holds open now.
    static std::set<std::string> monitoredNames()
    {
        std::set<std::string> names;
        for (int slot = 0; slot < 20; ++slot) {
            char name[32] = {};
            fSharedMemoryCreateMapName(name, slot);
            const intptr_t mapping = hSharedMemoryOpenFileMapping(name);
            if (mapping == 0) break;
            void* view = lpvSharedMemoryMapViewFile(mapping);
            PrinterEntry e{};
            if (view != nullptr && fSharedMemoryReadAccess(view, &e, sizeof e) == 1) names.insert(e.PrinterName);
            fSharedMemoryClientClose(view, mapping);
        }
        return names;
    }
    static std::uint32_t monitorActive(int slot)
    {
        char name[32] = {};
        fSharedMemoryCreateMapName(name, slot);
        const intptr_t mapping = hSharedMemoryOpenFileMapping(name);
        if (mapping == 0) return 99;
        void* view = lpvSharedMemoryMapViewFile(mapping);
        PrinterEntry e{};
        if (view != nullptr) fSharedMemoryReadAccess(view, &e, sizeof e);
        fSharedMemoryClientClose(view, mapping);
        return e.MonitorActive;
    }

    // The detail program `list` runs for `slot`; 0 when none runs.
    static pid_t detailOf(pid_t list, int slot)
    {
        for (pid_t pid : childrenOf(list)) {
            const auto arguments = argumentsOf(pid);
            if (arguments.size() == 2 && arguments[1] == std::to_string(slot)) return pid;
        }
        return 0;
    }
    // Every detail program that runs in this test's root, whoever started it.
    std::set<pid_t> detailProgramsOfRoot() const
    {
        std::set<pid_t> found;
        DIR* proc = ::opendir("/proc");
        if (proc == nullptr) return found;
        while (dirent* entry = ::readdir(proc)) {
            const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid <= 0) continue;
            const auto arguments = argumentsOf(pid);
            if (arguments.empty() || !arguments[0].ends_with("/watchpanel.exe")) continue;
            if (!hasEnvironment(pid, "KESTREL_ROOT=" + root.path().string())) continue;
            std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
            std::string line;
            std::getline(stat, line);
            const auto close = line.rfind(')');
            if (close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z') found.insert(pid);
        }
        ::closedir(proc);
        return found;
    }
    // kestrel-status's record of a printer: from its name to the end of its object.
    static std::string statusOf(const std::string& printer)
    {
        const std::string out = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"}).out;
        const auto at = out.find(R"("name":")" + printer + "\"");
        return at == std::string::npos ? std::string() : out.substr(at, out.find('}', at) - at);
    }
    void endList(pid_t list)
    {
        ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
        EXPECT_EQ(waitForEnd(list), 0);
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kPrinters};
    std::vector<pid_t> lists;
};

}  // namespace

TEST_F(WatchlistTest, OneInstanceRunsItsFlagsFollowTheBuildAndTheExitRequestEndsEverything)
{
    const pid_t list = startList();
    ASSERT_TRUE(testsupport::waitUntil([] { return runFlag() == 2; })) << "the first build completes";
    ASSERT_TRUE(testsupport::waitUntil([] { return monitorActive(0) == 1 && monitorActive(1) == 1; }));
    EXPECT_EQ(monitoredNames(), (std::set<std::string>{"Office", "Photo"}));
    const std::set<pid_t> details = childrenOf(list);
    EXPECT_EQ(details.size(), 2u) << "one detail program per monitorable printer";

    const pid_t second = startList();
    EXPECT_EQ(waitForEnd(second), 0) << "a second instance ends at once";
    EXPECT_EQ(runFlag(), 0u) << "and leaves the flag at 0, as it always did";
    EXPECT_EQ(::kill(list, 0), 0) << "the first one runs on";

    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(list), 0);
    for (pid_t pid : details) EXPECT_NE(::kill(pid, 0), 0) << "detail program " << pid << " has ended";
    EXPECT_EQ(runFlag(), 0u);
    std::uint32_t exitFlag = 99;
    fGetRegistoryKswExitFlag(&exitFlag);
    EXPECT_EQ(exitFlag, 0u) << "the request was taken";
}

TEST_F(WatchlistTest, APrinterRemovedFromTheSpoolerLeavesTheList)
{
    const pid_t list = startList("/d");
    ASSERT_TRUE(testsupport::waitUntil([] { return runFlag() == 2 && monitorActive(1) == 1; }));
    spoolctl({"delete-printer", "Office"});
    EXPECT_TRUE(
        testsupport::waitUntil([] { return runFlag() == 2 && monitoredNames() == std::set<std::string>{"Photo"}; }));
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(list), 0);
}

TEST_F(WatchlistTest, ADetailProgramKilledOutrightDoesNotHangTheList)
{
    const pid_t list = startList();
    ASSERT_TRUE(testsupport::waitUntil([] { return runFlag() == 2 && monitorActive(0) == 1; }));
    for (pid_t pid : childrenOf(list)) ::kill(pid, SIGKILL);
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(list), 0) << "the list ends although nobody answers its close requests";
}

TEST_F(WatchlistTest, AQuietStartHonoursAPendingExitRequestAndAPlainStartClearsIt)
{
    ASSERT_EQ(fCreateRegistoryNotifySubKey(), 1);
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(startList("/d")), 0) << "the pending request closes it";

    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    const pid_t list = startList();
    ASSERT_TRUE(testsupport::waitUntil([] { return runFlag() == 2; })) << "a plain start clears the request";
    std::uint32_t exitFlag = 99;
    fGetRegistoryKswExitFlag(&exitFlag);
    EXPECT_EQ(exitFlag, 0u);
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(list), 0);
}

TEST_F(WatchlistTest, KestrelStatusShowsWhatTheRunningListShows)
{
    const pid_t list = startList("/d");
    ASSERT_TRUE(
        testsupport::waitUntil([] { return runFlag() == 2 && monitorActive(0) == 1 && monitorActive(1) == 1; }));
    sim.must("LPT1:", "cover-open");
    std::string out;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        out = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"}).out;
        return out.find("プリンタカバーが開いています。") != std::string::npos;
    })) << out;
    EXPECT_NE(out.find(R"("list_running":2)"), std::string::npos) << out;
    EXPECT_NE(out.find(R"("name":"Office","row":0,"slot":0,"monitoring":"モニタしています")"), std::string::npos)
        << out;
    EXPECT_NE(out.find(R"("name":"Photo","row":1,"slot":1)"), std::string::npos) << out;
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(list), 0);
    EXPECT_EQ(testsupport::runProgram({KESTREL_STATUS_PROGRAM}).exitCode, 3) << "the list has ended";
}

TEST_F(WatchlistTest, APrinterBehindANetwareQueueIsMonitoredWithTheNetworkPictureAndItsStateShows)
{
    // The queue's printer is played by a vprinter of its own, as one serves each file server.
    const testsupport::NetworkPrinter printer{"FS1", "PS1", 0, "PG-04", /*extended=*/true, ""};
    testsupport::Simulator network{VPRINTER_PROGRAM, testsupport::netwareConfig({printer})};
    ASSERT_TRUE(network.ready()) << network.output();
    spoolctl({"add-netware-queue", "FS1", "QUEUE1", "--print-server", "PS1", "--printers", "0"});
    spoolctl({"add-printer", "Shared", "--driver", "VELTA PG-04", "--port", "\\\\FS1\\QUEUE1"});

    const pid_t list = startList("/d");
    // kestrel-status's record of the printer: from its name to the end of its object.
    auto shared = [] {
        const std::string out = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"}).out;
        const auto at = out.find(R"("name":"Shared")");
        return at == std::string::npos ? std::string() : out.substr(at, out.find('}', at) - at);
    };
    std::string row;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            row = shared();
            return row.find(R"("monitoring":"モニタしています")") != std::string::npos &&
                   row.find(R"("network":true)") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << row;
    EXPECT_NE(row.find(R"("port":"\\\\FS1\\QUEUE1")"), std::string::npos) << row;
    EXPECT_NE(row.find("印刷できます。"), std::string::npos) << row;

    // The detail program asks a network printer every 10 s.
    network.must(testsupport::networkPort(printer), "cover-open");
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            row = shared();
            return row.find("プリンタカバーが開いています。") != std::string::npos;
        },
        std::chrono::seconds(60)))
        << row;
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    EXPECT_EQ(waitForEnd(list), 0);
}

TEST_F(WatchlistTest, ADetailProgramThatDiesIsStartedAgainOnItsSlotAndMonitorsAgain)
{
    const std::string trace = (root.path() / "list.trace").string();
    const pid_t list = startList("/d", trace);
    ASSERT_TRUE(
        testsupport::waitUntil([] { return runFlag() == 2 && monitorActive(0) == 1 && monitorActive(1) == 1; }));
    const pid_t office = detailOf(list, 0), photo = detailOf(list, 1);
    ASSERT_NE(office, 0);
    ASSERT_NE(photo, 0);

    ::kill(office, SIGKILL);
    pid_t again = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        again = detailOf(list, 0);
        return again != 0 && again != office && monitorActive(0) == 1;
    })) << contentsOf(trace);
    EXPECT_EQ(detailOf(list, 1), photo) << "the other printer's program runs on";
    EXPECT_EQ(detailProgramsOfRoot(), (std::set<pid_t>{again, photo}));
    std::string officeRow;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        officeRow = statusOf("Office");
        return officeRow.find(R"("slot":0,"monitoring":"モニタしています")") != std::string::npos;
    })) << officeRow;
    EXPECT_NE(contentsOf(trace).find("Office (slot 0) ended on its own (exit code 137); it starts again"),
              std::string::npos)
        << contentsOf(trace);
    endList(list);
}

TEST_F(WatchlistTest, ThreeDeathsWithinTenMinutesGiveThePrinterUpUntilTheNextRebuild)
{
    // 10 minutes are 30 s here: room for three deaths on a loaded machine.
    ::setenv("KESTREL_TEST_TIME_SCALE", "0.05", 1);
    const std::string trace = (root.path() / "list.trace").string();
    const pid_t list = startList("/d", trace);
    ASSERT_TRUE(
        testsupport::waitUntil([] { return runFlag() == 2 && monitorActive(0) == 1 && monitorActive(1) == 1; }));
    const pid_t photo = detailOf(list, 1);
    pid_t last = 0;
    for (int death = 0; death < 3; ++death) {
        pid_t office = 0;
        ASSERT_TRUE(testsupport::waitUntil([&] {
            office = detailOf(list, 0);
            return office != 0 && office != last;
        })) << "start "
            << death << "\n"
            << contentsOf(trace);
        ::kill(office, SIGKILL);
        last = office;
    }
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return contentsOf(trace).find("3 times within 10 minutes") != std::string::npos;
    })) << contentsOf(trace);
    EXPECT_EQ(detailOf(list, 0), 0) << "not started a fourth time";
    std::string officeRow;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        officeRow = statusOf("Office");
        return officeRow.find(R"("monitoring":"モニタできません")") != std::string::npos;
    })) << officeRow;
    EXPECT_EQ(detailOf(list, 1), photo);

    // A rebuild (a printer leaves the spooler) gives every printer its chance again.
    spoolctl({"delete-printer", "Photo"});
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return monitoredNames() == std::set<std::string>{"Office"} && monitorActive(0) == 1 && detailOf(list, 0) != 0;
    })) << contentsOf(trace);
    EXPECT_EQ(detailProgramsOfRoot().size(), 1u);
    endList(list);
}

TEST_F(WatchlistTest, AListKilledOutrightLeavesNoDetailProgramAndTheNextRunsOnePerPrinter)
{
    const pid_t first = startList("/d");
    ASSERT_TRUE(testsupport::waitUntil([&] { return monitorActive(0) == 1 && monitorActive(1) == 1; }));
    ASSERT_EQ(childrenOf(first).size(), 2u);
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
    std::erase(lists, first);
    EXPECT_TRUE(testsupport::waitUntil([&] { return detailProgramsOfRoot().empty(); }))
        << "the detail programs of a killed list end by themselves";

    const pid_t second = startList("/d");
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return childrenOf(second).size() == 2u && monitorActive(0) == 1 && monitorActive(1) == 1; }));
    EXPECT_EQ(detailProgramsOfRoot(), childrenOf(second)) << "one detail program per printer, all of the new list";
    EXPECT_EQ(monitoredNames(), (std::set<std::string>{"Office", "Photo"}));
    endList(second);
}
