// The character-device backend on a pseudo-terminal and a FIFO, where no USB printer is at hand. The
// /dev/usb/lp* path is the same code: open, poll-bounded reads and writes, the usblp device-ID request.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "plat/port/port.h"
#include "testsupport/temp_root.h"

using namespace std::chrono_literals;
namespace port = plat::port;

namespace {

class DevicePort : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        // Raw on the device side, so bytes pass unchanged in both directions.
        int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        ::close(slave);
        ASSERT_TRUE(port::mapPort(testsupport::rootStore(), "LPT1:", std::string("device:") + ::ptsname(master)));
    }
    void TearDown() override { ::close(master); }

    std::unique_ptr<port::Port> open(port::Timeouts timeouts = {20ms, 200ms, 200ms})
    {
        auto opened = port::openPort(testsupport::rootStore(), "lpt1:");
        EXPECT_TRUE(opened.ok()) << (opened.ok() ? "" : opened.error().detail);
        if (!opened.ok()) return nullptr;
        EXPECT_TRUE(opened.value()->setTimeouts(timeouts)) << "a tty has serial settings";
        return std::move(opened).value();
    }

    int master = -1;
};

std::span<const std::byte> bytes(const char* text) { return std::as_bytes(std::span(text, std::strlen(text))); }

}  // namespace

TEST_F(DevicePort, AReadWithNothingToReadEndsAtTheTotalTimeOut)
{
    auto p = open();
    ASSERT_TRUE(p);
    std::byte buffer[64];
    EXPECT_EQ(p->read(buffer), 0);
    // Bytes that come while a read waits for its first byte are taken.
    std::thread later([&] {
        std::this_thread::sleep_for(20ms);
        [[maybe_unused]] ssize_t n = ::write(master, "late", 4);
    });
    auto waiting = open({20ms, 20000ms, 200ms});
    EXPECT_EQ(waiting->read(buffer), 4);
    later.join();
}

TEST_F(DevicePort, AReadTakesWhatCameAndEndsAtSilence)
{
    auto p = open({20ms, 5000ms, 200ms});
    ASSERT_TRUE(p);
    ASSERT_EQ(::write(master, "ST:04;", 6), 6);
    std::thread later([&] {
        std::this_thread::sleep_for(5ms);
        [[maybe_unused]] ssize_t n = ::write(master, "ER:00;", 6);
    });
    std::byte buffer[64];
    auto n = p->read(buffer);
    later.join();
    ASSERT_GE(n, 6);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "ST:04;");
    // A full buffer ends the read too.
    ASSERT_EQ(::write(master, "0123456789", 10), 10);
    std::byte four[4];
    EXPECT_EQ(p->read(four), 4);
}

TEST_F(DevicePort, WritesReachTheDeviceAndPurgeDropsUnreadInput)
{
    auto p = open();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->write(bytes("\x1b@")), 2);
    char got[8] = {};
    ASSERT_TRUE(testsupport::waitUntil([&] { return ::read(master, got, sizeof got) == 2; }));
    EXPECT_EQ(std::string(got, 2), "\x1b@");

    // Wait, without reading, until the bytes have reached the device side; then purge them.
    int watcher = ::open(::ptsname(master), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watcher, 0);
    ASSERT_EQ(::write(master, "stale", 5), 5);
    pollfd arrived{watcher, POLLIN, 0};
    ASSERT_EQ(::poll(&arrived, 1, 20000), 1);
    ::close(watcher);
    p->purgeReceive();
    std::byte buffer[16];
    EXPECT_EQ(p->read(buffer), 0) << "the purged bytes are gone";
}

TEST_F(DevicePort, ADeviceWithoutTheDeviceIdRequestAnswersNoId)
{
    auto p = open();
    ASSERT_TRUE(p);
    std::byte id[1024];
    EXPECT_EQ(p->deviceId(id), -1) << "a tty does not know the usblp request";
}

TEST_F(DevicePort, AFifoHasNoSerialSettingsAndIsUsedAnyway)
{
    const auto fifo = root.path() / "printer.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int keeper = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);  // keeps both ends open
    ASSERT_GE(keeper, 0);
    auto opened = port::openTarget("device:" + fifo.string());
    ASSERT_TRUE(opened.ok()) << opened.error().detail;
    auto& p = *opened.value();
    EXPECT_FALSE(p.setTimeouts({20ms, 100ms, 100ms}));
    EXPECT_EQ(p.write(bytes("ST:04")), 5);
    std::byte buffer[16];
    EXPECT_EQ(p.read(buffer), 5) << "the FIFO gives back what was written";
    EXPECT_EQ(p.read(buffer), 0);
    ::close(keeper);
}

TEST_F(DevicePort, PortsNotInTheMapOrUnknownTargetsDoNotOpen)
{
    EXPECT_FALSE(port::openPort(testsupport::rootStore(), "LPT2:").ok());
    ASSERT_TRUE(port::mapPort(testsupport::rootStore(), "LPT3:", "serial:/dev/ttyS0"));
    auto unknown = port::openPort(testsupport::rootStore(), "LPT3:");
    ASSERT_FALSE(unknown.ok());
    EXPECT_NE(unknown.error().detail.find("unknown port target"), std::string::npos);
    ASSERT_TRUE(port::mapPort(testsupport::rootStore(), "LPT4:", "device:/nonexistent/lp0"));
    EXPECT_FALSE(port::openPort(testsupport::rootStore(), "LPT4:").ok());
    EXPECT_TRUE(port::unmapPort(testsupport::rootStore(), "LPT4:"));
    EXPECT_EQ(port::portTarget(testsupport::rootStore(), "LPT4:"), std::nullopt);
}

TEST_F(DevicePort, AnInterruptEndsAReadThatWouldWaitAnHour)
{
    plat::port::Interrupt interrupt;
    auto opened = port::openPort(testsupport::rootStore(), "LPT1:", &interrupt);
    ASSERT_TRUE(opened.ok()) << opened.error().detail;
    auto& p = *opened.value();
    p.setTimeouts({20ms, 1h, 1h});
    std::thread stopper([&] { interrupt.raise(); });
    std::byte buffer[16];
    EXPECT_EQ(p.read(buffer), -1);
    stopper.join();
    EXPECT_EQ(p.write(bytes("ST")), -1) << "still raised: the next call does not start";
    interrupt.clear();
    EXPECT_EQ(p.write(bytes("ST")), 2);
}
