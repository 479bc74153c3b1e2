// Discovery on a spooler set up with spoolctl: which printers become monitored rows, in which order
// their detail programs start, and how they are all ended again.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "detail_programs.h"
#include "discovery.h"
#include "plat/proc/claim.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

using namespace watchlist;

namespace {

// Counts the starts instead of starting anything.
class CountingStarter : public DetailStarter {
public:
    bool start(int slot) override
    {
        started.push_back(slot);
        return failAt != slot;
    }
    std::vector<int> started;
    int failAt = -1;
};

class DiscoveryTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        spoolctl({"install-models"});
        for (const char* port : {"LPT1:", "LPT2:", "LPT3:"}) spoolctl({"add-port", port, "--sim"});
    }
    void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    PrinterEntry record(int slot) const
    {
        PrinterEntry e{};
        EXPECT_EQ(fSharedMemoryReadAccess(slots.view(slot), &e, sizeof e), 1);
        return e;
    }

    SlotTable slots;
    CountingStarter starter;
};

std::vector<std::string> column(const Build& build, bool monitorable)
{
    std::vector<std::string> names;
    for (const Row& row : build.rows) {
        if (row.monitorable() == monitorable) names.push_back(row.name);
    }
    return names;
}

}  // namespace

TEST_F(DiscoveryTest, EligiblePrintersGetASlotAndADetailProgramInSpoolerOrder)
{
    spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"});
    spoolctl({"add-printer", "Copy of Office", "--driver", "VELTA PG-03", "--port", "lpt1:"});  // same model, port
    spoolctl({"add-printer", "Photo", "--driver", "VELTA IJ-09", "--port", "LPT2:"});
    spoolctl({"add-printer", "To file", "--driver", "VELTA PG-01", "--port", "FILE:"});
    spoolctl({"add-driver", "Other maker", "--path", "C:\\OTHER.DRV", "--monitor", "Plain Port"});
    spoolctl({"add-printer", "Foreign", "--driver", "Other maker", "--port", "LPT3:"});
    spoolctl({"add-printer", "Second on LPT2", "--driver", "VELTA DM-02", "--port", "LPT2:"});  // other model

    const Build build = buildRows(slots, starter);
    ASSERT_EQ(build.end, Build::End::Done);
    EXPECT_TRUE(build.stoppedBecause.empty()) << build.stoppedBecause;
    ASSERT_EQ(build.rows.size(), 6u);
    for (int r = 0; r < 6; ++r) EXPECT_EQ(build.rows[r].row, r);
    EXPECT_EQ(column(build, true), (std::vector<std::string>{"Office", "Photo", "Second on LPT2"}));
    EXPECT_EQ(column(build, false), (std::vector<std::string>{"Copy of Office", "To file", "Foreign"}));
    EXPECT_EQ(starter.started, (std::vector<int>{0, 1, 2})) << "one detail program per slot, in order";

    const Row& photo = build.rows[2];
    EXPECT_EQ(photo.slot, 1);
    EXPECT_EQ(photo.state, MonitorState::NotMonitoring);
    EXPECT_EQ(photo.parameter(), (1 << 16) | 2);
    EXPECT_LT(build.rows[1].parameter(), 0) << "a row that cannot be monitored has a negative parameter";
    EXPECT_EQ(build.rows[1].state, MonitorState::CannotMonitor);

    const PrinterEntry office = record(0);
    EXPECT_STREQ(office.PrinterName, "Office");
    EXPECT_STREQ(office.PortName, "LPT1:");
    EXPECT_EQ(office.ModelCode, 0u);
    EXPECT_EQ(record(2).PrinterFamily, 1u);
}

TEST_F(DiscoveryTest, AnEmptySpoolerGivesNoRowsAndADetailProgramThatFailsStopsTheBuild)
{
    EXPECT_EQ(buildRows(slots, starter).end, Build::End::NoPrinters);
    EXPECT_EQ(slots.count(), 0);

    spoolctl({"add-printer", "A", "--driver", "VELTA PG-03", "--port", "LPT1:"});
    spoolctl({"add-printer", "B", "--driver", "VELTA IJ-09", "--port", "LPT2:"});
    spoolctl({"add-printer", "C", "--driver", "VELTA DM-02", "--port", "LPT3:"});
    starter.failAt = 1;
    const Build build = buildRows(slots, starter);
    EXPECT_TRUE(build.detailStartFailed);
    EXPECT_EQ(column(build, true), std::vector<std::string>{"A"}) << "the printers after it get no row";
    EXPECT_EQ(build.rows.size(), 1u);
    EXPECT_EQ(slots.count(), 1) << "the failed printer's slot is closed again";
}

TEST_F(DiscoveryTest, PrintersBeyondTheSlotsAreListedButNotMonitored)
{
    // 21 printers of one model on 21 ports: one more than there are slots.
    for (int i = 0; i < kSlotCount + 1; ++i) {
        const std::string port = "LPT" + std::to_string(10 + i) + ":";
        spoolctl({"add-port", port, "--sim"});
        spoolctl({"add-printer", "P" + std::to_string(10 + i), "--driver", "VELTA PG-03", "--port", port});
    }
    const Build build = buildRows(slots, starter);
    ASSERT_EQ(build.rows.size(), static_cast<std::size_t>(kSlotCount + 1));
    EXPECT_EQ(column(build, true).size(), static_cast<std::size_t>(kSlotCount));
    EXPECT_FALSE(build.rows.back().monitorable());
    EXPECT_EQ(build.rows.back().name, "P30");
}

TEST_F(DiscoveryTest, StoppingAsksEveryDetailProgramToCloseAndEndsThoseThatDoNot)
{
    ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})"};
    ASSERT_TRUE(sim.ready()) << sim.output();
    spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"});
    DetailPrograms programs(WATCHPANEL_PROGRAM, slots);
    const Build build = buildRows(slots, programs);
    ASSERT_EQ(column(build, true), std::vector<std::string>{"Office"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return record(0).MonitorActive == 1; })) << "the detail program monitors";
    EXPECT_TRUE(programs.running(0));

    programs.stopAll();
    EXPECT_FALSE(programs.running(0));
    EXPECT_EQ(record(0).MonitorActive, 0u) << "it ended on the close request, not by force";
    EXPECT_EQ(record(0).ReadyAck, 1u);
}

TEST_F(DiscoveryTest, ADetailProgramThatIgnoresTheCloseRequestIsTerminated)
{
    // A stand-in that never looks at its slot.
    const std::string program = (root.path() / "stubborn").string();
    {
        std::ofstream script(program);
        script << "#!/bin/sh\nexec sleep 120\n";
    }
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    ASSERT_TRUE(slots.createSlot());
    DetailPrograms programs(program, slots);
    ASSERT_TRUE(programs.start(0));
    EXPECT_TRUE(programs.running(0));
    programs.stopAll(std::chrono::milliseconds(100));
    EXPECT_FALSE(programs.running(0));
}

TEST_F(DiscoveryTest, DetailProgramsLeftByAListThatDiedAreEndedAndThoseThatIgnoreItKilled)
{
    EXPECT_EQ(endLeftDetailPrograms(), 0) << "nothing was left";
    // Two stand-ins claim slots as detail programs do; the second ignores SIGTERM.
    auto leave = [](int slot, bool stubborn) {
        int ready[2];
        if (::pipe(ready) != 0) return pid_t(-1);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (stubborn) ::signal(SIGTERM, SIG_IGN);
            auto claim = plat::proc::Claim::tryAcquire("watchpanel", slot);
            [[maybe_unused]] ssize_t n = ::write(ready[1], claim ? "y" : "n", 1);
            for (;;) ::pause();
        }
        char answer = 0;
        if (::read(ready[0], &answer, 1) != 1 || answer != 'y') return pid_t(-1);
        ::close(ready[0]);
        ::close(ready[1]);
        return pid;
    };
    const pid_t polite = leave(0, false), stubborn = leave(5, true);
    ASSERT_GT(polite, 0);
    ASSERT_GT(stubborn, 0);

    EXPECT_EQ(endLeftDetailPrograms(std::chrono::milliseconds(200)), 2);
    EXPECT_TRUE(plat::proc::claimants("watchpanel", kSlotCount).empty());
    int status = 0;
    ASSERT_EQ(::waitpid(polite, &status, 0), polite);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "asked to end first";
    ASSERT_EQ(::waitpid(stubborn, &status, 0), stubborn);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}
