#include "plat/proc/process.h"
#include "plat/proc/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "testsupport/temp_root.h"

namespace proc = plat::proc;

TEST(Process, ReportsRunningThenItsExitCode)
{
    auto started = proc::start("/bin/sh", {"-c", "exit 3"}, proc::Show::Normal);
    ASSERT_TRUE(started.ok()) << started.error().detail;
    proc::Process p = started.value();
    EXPECT_TRUE(p.waitForExit(std::chrono::seconds(20)));
    EXPECT_FALSE(p.isRunning());
    EXPECT_EQ(p.exitCode(), 3);
}

TEST(Process, TerminateReportsTheGivenCode)
{
    auto started = proc::start("/bin/sleep", {"60"}, proc::Show::Normal);
    ASSERT_TRUE(started.ok());
    proc::Process p = started.value();
    EXPECT_TRUE(p.isRunning());
    EXPECT_EQ(p.exitCode(), std::nullopt);
    p.terminate(1);
    EXPECT_FALSE(p.isRunning());
    EXPECT_EQ(p.exitCode(), 1);
}

TEST(Process, TerminateEndsAProcessThatIgnoresTheRequest)
{
    auto started = proc::start("/bin/sh", {"-c", "trap '' TERM; while :; do sleep 0.05; done"}, proc::Show::Normal);
    ASSERT_TRUE(started.ok());
    proc::Process p = started.value();
    p.terminate(1, std::chrono::milliseconds(200));
    EXPECT_EQ(p.exitCode(), 1);
}

TEST(Process, TheShowRequestReachesTheChild)
{
    testsupport::TempRoot root;
    const auto out = root.path() / "show";
    auto started =
        proc::start("/bin/sh", {"-c", "printf %s \"$KESTREL_SHOW\" > '" + out.string() + "'"}, proc::Show::Hidden);
    ASSERT_TRUE(started.ok());
    proc::Process p = started.value();
    ASSERT_TRUE(p.waitForExit(std::chrono::seconds(20)));
    std::string text;
    std::ifstream(out) >> text;
    EXPECT_EQ(text, "hide");
}

TEST(Process, AMissingProgramFailsToStart)
{
    auto started = proc::start("/nonexistent/watchpanel.exe", {"0"}, proc::Show::Hidden);
    ASSERT_FALSE(started.ok());
    EXPECT_NE(started.error().detail.find("watchpanel.exe"), std::string::npos);
}

TEST(InstanceLock, RefusesASecondHolderUntilTheFirstEndsHoweverItEnds)
{
    testsupport::TempRoot root;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        auto lock = proc::InstanceLock::tryAcquire("watchlist");
        char c = lock ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    EXPECT_EQ(proc::InstanceLock::tryAcquire("watchlist"), nullptr);
    EXPECT_NE(proc::InstanceLock::tryAcquire("watchpanel"), nullptr) << "each program has its own lock";

    ::kill(holder, SIGKILL);  // a crash must not leave the lock behind
    ::waitpid(holder, nullptr, 0);
    auto lock = proc::InstanceLock::tryAcquire("watchlist");
    EXPECT_NE(lock, nullptr);
}
