#include "plat/proc/claim.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport/temp_root.h"

namespace proc = plat::proc;

namespace {

// A child that claims `place` and waits; false when its claim was refused.
bool startHolder(pid_t& pid, int place)
{
    int ready[2];
    if (::pipe(ready) != 0) return false;
    pid = ::fork();
    if (pid == 0) {
        auto claim = proc::Claim::tryAcquire("watchpanel", place);
        char c = claim ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char answer = 0;
    const bool read = ::read(ready[0], &answer, 1) == 1;
    ::close(ready[0]);
    ::close(ready[1]);
    return read && answer == 'y';
}

}  // namespace

TEST(Claim, AHolderIsKnownByItsPidUntilItEndsHoweverItEnds)
{
    testsupport::TempRoot root;
    EXPECT_TRUE(proc::claimants("watchpanel", 20).empty()) << "nobody has claimed anything yet";
    pid_t first = 0, second = 0;
    ASSERT_TRUE(startHolder(first, 3));
    ASSERT_TRUE(startHolder(second, 7));

    const auto held = proc::claimants("watchpanel", 20);
    ASSERT_EQ(held.size(), 2u);
    EXPECT_EQ(held[0].place, 3);
    EXPECT_EQ(held[0].pid, first);
    EXPECT_EQ(held[1].place, 7);
    EXPECT_EQ(held[1].pid, second);

    pid_t holder = 0;
    EXPECT_EQ(proc::Claim::tryAcquire("watchpanel", 3, &holder), nullptr) << "a place has one holder";
    EXPECT_EQ(holder, first);
    auto other = proc::Claim::tryAcquire("watchpanel", 4, &holder);
    EXPECT_NE(other, nullptr) << "other places are free";
    EXPECT_EQ(proc::claimants("watchpanel", 20).size(), 2u) << "the asking process's own claims are not listed";

    ::kill(first, SIGKILL);  // a killed holder leaves nothing behind
    ::waitpid(first, nullptr, 0);
    EXPECT_NE(proc::Claim::tryAcquire("watchpanel", 3), nullptr);
    ::kill(second, SIGKILL);
    ::waitpid(second, nullptr, 0);
    EXPECT_TRUE(proc::claimants("watchpanel", 20).empty());
}

TEST(Claim, TheParentsEndIsNoticedWithoutPolling)
{
    // A child starts a grandchild and is killed; the grandchild reports what its watch saw.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::fork() == 0) {
            bool gone = false;
            const int fd = proc::watchParentEnd(&gone);
            char c = fd < 0 ? 'x' : 'w';
            [[maybe_unused]] ssize_t n = ::write(report[1], &c, 1);
            pollfd watch{fd, POLLIN, 0};
            c = fd >= 0 && ::poll(&watch, 1, 20000) == 1 ? 'e' : 't';
            n = ::write(report[1], &c, 1);
            ::_exit(0);
        }
        ::pause();
        ::_exit(0);
    }
    char seen = 0;
    ASSERT_EQ(::read(report[0], &seen, 1), 1);
    ASSERT_EQ(seen, 'w') << "the parent is watched";
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_EQ(::read(report[0], &seen, 1), 1);
    EXPECT_EQ(seen, 'e') << "the watch turned readable when the parent ended";
    for (int fd : report) ::close(fd);
}
