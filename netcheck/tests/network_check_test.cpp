// The check with a fake network link, a fake classification and fake ports: every path of the
// algorithm, the NetWare ones included, without a NetWare environment or a simulator.

#include "network_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using rover01::CheckTiming;
using rover01::NetworkCheck;

namespace {

// A link that answers from a script and remembers what it was asked. Like the real one, a close for
// good ends every later open.
struct LinkScript {
    int openFailures = 0;     // opens that fail before one succeeds
    int requestFailures = 0;  // device-ID requests that fail before one succeeds
    std::string deviceId = "MFG:VELTA;MDL:PG-03;";
    bool extended = true;
    // What happened.
    std::vector<std::string> opened;
    int requests = 0;
    std::vector<bool> closes;  // forGood of each close
};

class FakeLink : public vigil::NetworkLink {
public:
    explicit FakeLink(LinkScript& script) : m_script(script) {}
    bool open(std::string_view path) override
    {
        m_script.opened.emplace_back(path);
        if (m_shutDown || m_open) return false;  // as the real link: no second open while open
        if (m_script.openFailures > 0) {
            --m_script.openFailures;
            return false;
        }
        m_open = true;
        return true;
    }
    bool request(Request kind, std::span<char> destination, std::uint32_t& length) override
    {
        EXPECT_EQ(kind, Request::DeviceId);
        ++m_script.requests;
        length = 0;
        if (!m_open || m_script.requestFailures > 0) {
            --m_script.requestFailures;
            return false;
        }
        const std::size_t n = std::min(m_script.deviceId.size(), destination.size());
        std::memcpy(destination.data(), m_script.deviceId.data(), n);
        length = static_cast<std::uint32_t>(n);
        return true;
    }
    bool close(bool forGood) override
    {
        m_script.closes.push_back(forGood);
        const bool was = m_open;
        m_open = false;
        if (forGood) m_shutDown = true;
        return was;
    }
    bool extendedRequest() const override { return m_open && m_script.extended; }

private:
    LinkScript& m_script;
    bool m_open = false, m_shutDown = false;
};

// Ports: each open takes the next step of the script; past its end every open gives the last one.
struct PortStep {
    bool opens = true;
    std::string deviceId;  // empty: the printer gives none
};

class FakePort : public plat::port::Port {
public:
    explicit FakePort(std::string id) : m_id(std::move(id)) {}
    bool setTimeouts(const plat::port::Timeouts&) override { return false; }
    plat::port::IoResult write(std::span<const std::byte>) override { return -1; }
    plat::port::IoResult read(std::span<std::byte>) override { return 0; }
    plat::port::IoResult deviceId(std::span<std::byte> buffer) override
    {
        const std::size_t n = std::min(m_id.size(), buffer.size());
        std::memcpy(buffer.data(), m_id.data(), n);
        return static_cast<plat::port::IoResult>(n);
    }
    void purgeReceive() override {}

private:
    std::string m_id;
};

CheckTiming fastTiming()
{
    CheckTiming t;
    t.linkOpenPause = 1ms;
    t.port.deviceIdPause = 1ms;
    return t;
}

class NetworkCheckTest : public ::testing::Test {
protected:
    // Classification as the engine's: LPT1: local, LPT2: captured to \\FS1\QUEUE1, "\\" paths queues.
    static std::uint32_t classify(std::string_view port, std::span<char> queuePath)
    {
        queuePath[0] = '\0';
        if (port == "LPT1:") return 1;
        if (port == "LPT2:") {
            std::strcpy(queuePath.data(), "\\\\FS1\\QUEUE1");
            return 5;
        }
        if (port.substr(0, 2) == "\\\\") return 2;
        return 0;
    }

    NetworkCheck check{
        &classify,
        [this] {
            ++linksMade;
            return std::make_unique<FakeLink>(link);
        },
        [this](std::string_view port, const plat::port::Interrupt*) -> plat::Result<std::unique_ptr<plat::port::Port>> {
            portsOpened.emplace_back(port);
            const PortStep step = ports.empty() ? PortStep{false, {}} : ports.front();
            if (ports.size() > 1) ports.pop_front();
            if (!step.opens) return plat::Error{1, "refused"};
            return std::unique_ptr<plat::port::Port>(std::make_unique<FakePort>(step.deviceId));
        },
        fastTiming()};

    std::int32_t run(std::string_view port) { return check.check(port, buffer); }
    std::string id() const { return buffer.data(); }

    LinkScript link;
    int linksMade = 0;
    std::deque<PortStep> ports;
    std::vector<std::string> portsOpened;
    std::array<char, rover01::kDeviceIdBytes> buffer{};
};

}  // namespace

TEST_F(NetworkCheckTest, APortOfNoKindServedAnswers0WithoutTouchingPortOrLink)
{
    buffer.fill('x');
    EXPECT_EQ(run("FILE:"), rover01::kNotServed);
    EXPECT_EQ(run("lpt1:"), rover01::kNotServed);
    EXPECT_TRUE(portsOpened.empty());
    EXPECT_EQ(linksMade, 0);
    EXPECT_EQ(id(), "");
}

TEST_F(NetworkCheckTest, LocalPortReadsTheDeviceIdThroughThePort)
{
    ports = {{true, "MFG:VELTA;MDL:IJ-09;"}};
    EXPECT_EQ(run("LPT1:"), rover01::kRead);
    EXPECT_EQ(id(), "MFG:VELTA;MDL:IJ-09;");
    EXPECT_EQ(portsOpened, std::vector<std::string>{"LPT1:"});
    EXPECT_EQ(linksMade, 0) << "a local port never makes a link";
}

TEST_F(NetworkCheckTest, LocalPortCountsFailedOpensAndEmptyRequestsApart)
{
    // Two refused opens and two empty answers are four failures, but neither count reaches 3.
    ports = {{false, {}}, {true, {}}, {false, {}}, {true, {}}, {true, "MFG:VELTA;"}};
    EXPECT_EQ(run("LPT1:"), rover01::kRead);
    EXPECT_EQ(portsOpened.size(), 5u);
    EXPECT_EQ(id(), "MFG:VELTA;");
}

TEST_F(NetworkCheckTest, LocalPortThatNeverOpensAnswers3AfterThreeOpens)
{
    ports = {{false, {}}};
    EXPECT_EQ(run("LPT1:"), rover01::kNotOpenable);
    EXPECT_EQ(portsOpened.size(), 3u);
    EXPECT_EQ(id(), "");
}

TEST_F(NetworkCheckTest, LocalPortWithoutDeviceIdAnswers2AfterThreeRequests)
{
    ports = {{true, {}}};
    EXPECT_EQ(run("LPT1:"), rover01::kNoDeviceId);
    EXPECT_EQ(portsOpened.size(), 3u);
    // Calls for local ports do not depend on each other.
    ports = {{true, "MFG:VELTA;"}};
    EXPECT_EQ(run("LPT1:"), rover01::kRead);
}

TEST_F(NetworkCheckTest, QueuePathReadsOverTheLinkAndClosesItForGood)
{
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kRead);
    EXPECT_EQ(id(), "MFG:VELTA;MDL:PG-03;");
    EXPECT_EQ(link.opened, std::vector<std::string>{"\\\\FS1\\QUEUE1"});
    EXPECT_EQ(link.closes, std::vector<bool>{true});
    EXPECT_TRUE(portsOpened.empty());
}

TEST_F(NetworkCheckTest, AnInterfaceWithoutTheExtendedRequestAnswers4)
{
    link.extended = false;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kReadNoExtended);
    EXPECT_EQ(id(), "MFG:VELTA;MDL:PG-03;");
}

TEST_F(NetworkCheckTest, ACapturedPortIsCheckedAsItsQueue)
{
    EXPECT_EQ(run("LPT2:"), rover01::kRead);
    EXPECT_EQ(link.opened, std::vector<std::string>{"\\\\FS1\\QUEUE1"});
    EXPECT_TRUE(portsOpened.empty()) << "the captured local port itself is never opened";
}

TEST_F(NetworkCheckTest, TheLinkIsOpenedUpToThreeTimes)
{
    link.openFailures = 2;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kRead);
    EXPECT_EQ(link.opened.size(), 3u);
}

TEST_F(NetworkCheckTest, ALinkThatDoesNotOpenInThreeAttemptsAnswers0)
{
    link.openFailures = 3;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kNotServed);
    EXPECT_EQ(link.opened.size(), 3u);
    EXPECT_EQ(link.requests, 0);
}

TEST_F(NetworkCheckTest, TheDeviceIdIsRequestedUpToThreeTimes)
{
    link.requestFailures = 2;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kRead);
    EXPECT_EQ(link.requests, 3);
}

TEST_F(NetworkCheckTest, NoDeviceIdOverTheLinkAnswers2AndLeavesTheLinkOpen)
{
    link.requestFailures = 3;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kNoDeviceId);
    EXPECT_EQ(link.requests, 3);
    EXPECT_TRUE(link.closes.empty());
    EXPECT_EQ(id(), "");
}

TEST_F(NetworkCheckTest, ASecondNetwareCallInTheProcessAnswers0WhateverTheFirstAnswered)
{
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kRead);
    EXPECT_EQ(run("LPT2:"), rover01::kNotServed);
    EXPECT_EQ(linksMade, 1) << "one link for the process";
}

// A first call without a device ID leaves the link open, and the next open fails all the same.
TEST_F(NetworkCheckTest, AfterAFirstCallWithoutDeviceIdTheNextNetwareCallAnswers0)
{
    link.requestFailures = 3;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kNoDeviceId);
    link.requestFailures = 0;
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kNotServed);
    EXPECT_EQ(link.requests, 3) << "no request without an open";
    // Local ports still work.
    ports = {{true, "MFG:VELTA;"}};
    EXPECT_EQ(run("LPT1:"), rover01::kRead);
}

TEST_F(NetworkCheckTest, ADeviceIdIsCutToTheCallersBuffer)
{
    link.deviceId = std::string(5000, 'i');
    EXPECT_EQ(run("\\\\FS1\\QUEUE1"), rover01::kRead);
    EXPECT_EQ(std::strlen(buffer.data()), rover01::kDeviceIdBytes - 1);
}

TEST(CheckTiming, FollowsTheClockButNeverBelowAMillisecond)
{
    const CheckTiming full = CheckTiming::on(plat::steadyClock());
    EXPECT_EQ(full.linkOpenPause, 5000ms);
    EXPECT_EQ(full.port.deviceIdPause, 200ms);
    EXPECT_EQ(full.port.timeouts.readTotal, 5000ms);
    const CheckTiming fast = CheckTiming::on(plat::ScaledClock(0.01));
    EXPECT_EQ(fast.linkOpenPause, 50ms);
    EXPECT_EQ(fast.port.deviceIdPause, 2ms);
    EXPECT_EQ(CheckTiming::on(plat::ScaledClock(0.00001)).port.deviceIdPause, 1ms);
    EXPECT_EQ(CheckTiming::on(plat::ScaledClock(-3)).linkOpenPause, 5000ms) << "a nonsense scale is ignored";
}
