// The port channel against vprinter: what the engine will see of real printers on local ports.

#include "vigil/port_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

using namespace std::chrono_literals;
using vigil::CancelMode;
using vigil::PortChannel;

namespace {

// Status-enable commands as the engine sends them: the page printers' job-language form (41 bytes)
// and the remote-mode form of inkjet and impact printers (27 bytes).
const std::string kPageStatusEnable =
    std::string("\x1b\x01@KJL REQUEST STATUS=1\r\n") + "\x1b\x01@KJL \n" + "\x1b\x01@KJL \n";
const std::string kRemoteStatusEnable = std::string("\x1b@\x1b@") + std::string("\x1b(R\x08\x00\x00REMOTE1", 13) +
                                        std::string("ST\x02\x00\x00\x01", 6) + std::string("\x1b\x00\x00\x00", 4);

std::span<const std::byte> bytes(const std::string& text) { return std::as_bytes(std::span(text.data(), text.size())); }

class Flags : public vigil::RunFlags {
public:
    bool realTimeRunning() const override { return realTime; }
    bool commandRunning() const override { return command; }
    std::atomic<bool> realTime{true}, command{true};
};

// The channel's real pauses and time-outs, scaled down so the tests run in well under a second each.
vigil::ChannelTiming fastTiming()
{
    vigil::ChannelTiming timing;
    timing.timeouts = {20ms, 300ms, 300ms};
    timing.retryPause = 20ms;
    timing.openRetryPause = 40ms;
    timing.deviceIdPause = 10ms;
    return timing;
}

// Opens ports through the test root's port map.
vigil::PortOpener rootPorts()
{
    return [](std::string_view name, const plat::port::Interrupt* interrupt) {
        return plat::port::openPort(testsupport::rootStore(), name, interrupt);
    };
}

class PortChannelTest : public testsupport::RootTest {
protected:
    void SetUp() override { ASSERT_TRUE(sim.ready()) << sim.output(); }

    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [
        {"port": "LPT1:", "model": "PG-03"},
        {"port": "LPT2:", "model": "IJ-09"},
        {"port": "LPT3:", "model": "DM-02"}]})"};
    Flags flags;
    PortChannel channel{flags, fastTiming(), rootPorts()};
    char buffer[PortChannel::kReadBuffer] = {};
    std::uint32_t count = 0;
};

}  // namespace

TEST_F(PortChannelTest, ReadsTheDeviceId)
{
    ASSERT_EQ(channel.readDeviceId("LPT1:", buffer, count, 10), 1);
    EXPECT_EQ(std::string(buffer), "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;CLS:PRINTER;DES:VELTA PG-03;");
    EXPECT_EQ(count, std::strlen(buffer));
    ASSERT_EQ(channel.readDeviceId("lpt2:", buffer, count, 10), 1) << "port names ignore case";
    EXPECT_NE(std::string(buffer).find("MDL:IJ-09;"), std::string::npos);
}

TEST_F(PortChannelTest, StatusComesOnlyAfterTheStatusEnable)
{
    EXPECT_EQ(channel.readOnce("LPT1:", buffer, count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_STREQ(buffer, "");

    ASSERT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 1);
    ASSERT_EQ(channel.readWithRetries("LPT1:", buffer, 5, false), 1);
    EXPECT_NE(std::string(buffer).find("STATUS CODE="), std::string::npos) << buffer;

    ASSERT_EQ(channel.write("LPT3:", bytes(kRemoteStatusEnable), 10, CancelMode::None), 1);
    ASSERT_EQ(channel.readOnce("LPT3:", buffer, count), 1);
    EXPECT_EQ(std::string(buffer).substr(9, 3), "ST:");
    EXPECT_EQ(count, std::strlen(buffer));

    const std::string log = sim.must("LPT1:", "log");
    EXPECT_NE(log.find(" 41 1B01404B4A4C2052455155455354"), std::string::npos)
        << "the printer got the 41 bytes: " << log;
}

TEST_F(PortChannelTest, AStateChangeShowsInTheNextRead)
{
    ASSERT_EQ(channel.write("LPT2:", bytes(kRemoteStatusEnable), 10, CancelMode::None), 1);
    ASSERT_EQ(channel.readOnce("LPT2:", buffer, count), 1);
    EXPECT_EQ(std::string(buffer).substr(12, 2), "04");
    sim.must("LPT2:", "cover-open");
    ASSERT_EQ(channel.readOnce("LPT2:", buffer, count), 1);
    EXPECT_EQ(std::string(buffer).substr(12, 2), "00");
    EXPECT_NE(std::string(buffer).find("ER:02;"), std::string::npos) << buffer;
}

TEST_F(PortChannelTest, AReplyOf2047BytesIsReadAgainAndOnlyTheLastReadCounts)
{
    ASSERT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 1);
    const std::string head(2047, 'a');
    sim.must("LPT1:", "reply " + head + "tail-of-a-long-reply");
    ASSERT_EQ(channel.readOnce("LPT1:", buffer, count), 1);
    EXPECT_EQ(std::string(buffer), "tail-of-a-long-reply");
    EXPECT_EQ(count, 20u);

    // Exactly 2047 bytes: the second read brings nothing, and the 2047 bytes are the reply.
    sim.must("LPT1:", "reply " + head);
    ASSERT_EQ(channel.readOnce("LPT1:", buffer, count), 1);
    EXPECT_EQ(count, 2047u);
    EXPECT_EQ(std::string(buffer), head);
}

TEST_F(PortChannelTest, ASilentPrinterGivesNothingAfterEveryAttempt)
{
    ASSERT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 1);
    sim.must("LPT1:", "silent");
    std::strcpy(buffer, "stale");
    EXPECT_EQ(channel.readWithRetries("LPT1:", buffer, 3, false), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(channel.readDeviceId("LPT1:", buffer, count, 3), 0);
    EXPECT_EQ(count, 0u);
}

TEST_F(PortChannelTest, ACancelledReadGivesOneAndAnEmptyDestination)
{
    sim.must("LPT1:", "silent");
    flags.realTime = false;
    std::strcpy(buffer, "stale");
    EXPECT_EQ(channel.readWithRetries("LPT1:", buffer, 5, true), 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(channel.readWithRetries("LPT1:", buffer, 5, false), 0) << "not cancellable: the attempts run out";
}

TEST_F(PortChannelTest, APortThatDoesNotOpenEndsWriteAndReadAtOnceButReadWithRetriesRetriesTheOpen)
{
    sim.must("LPT1:", "no-open");
    EXPECT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 0);
    EXPECT_EQ(channel.readOnce("LPT1:", buffer, count), 0);
    EXPECT_EQ(channel.readDeviceId("LPT1:", buffer, count, 10), 0);
    EXPECT_EQ(sim.must("LPT1:", "log"), "") << "nothing reached the printer";
    EXPECT_EQ(channel.readWithRetries("LPT1:", buffer, 3, false), 0) << "every open refused";

    // Heal the port while the read is retrying its open: the read gets through.
    sim.must("LPT1:", "heal");
    ASSERT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 1);
    sim.must("LPT1:", "reply healed");
    sim.must("LPT1:", "no-open");
    std::thread healer([&] {
        std::this_thread::sleep_for(60ms);
        sim.must("LPT1:", "heal");
    });
    int result = channel.readWithRetries("LPT1:", buffer, 200, false);
    healer.join();
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(buffer, "healed");
    EXPECT_EQ(channel.readWithRetries("LPT9:", buffer, 2, false), 0) << "a port not in the map";
}

TEST_F(PortChannelTest, AWriteToABusyPrinterRetriesUntilItTakesTheBytesOrGivesUp)
{
    sim.must("LPT3:", "busy 150");
    EXPECT_EQ(channel.write("LPT3:", bytes(kRemoteStatusEnable), 10, CancelMode::None), 1);
    sim.must("LPT3:", "busy 100000");
    EXPECT_EQ(channel.write("LPT3:", bytes(kRemoteStatusEnable), 2, CancelMode::None), 0);
    flags.command = false;
    EXPECT_EQ(channel.write("LPT3:", bytes(kRemoteStatusEnable), 10, CancelMode::Command), 1)
        << "a cleared run flag ends the retries as written";
    EXPECT_EQ(channel.write("LPT3:", bytes(kRemoteStatusEnable), 2, CancelMode::RealTime), 0)
        << "the other run flag does not";
}

TEST_F(PortChannelTest, ASleepingPrinterGivesItsDeviceIdAfterTheWakeUpBytes)
{
    sim.must("LPT2:", "sleep");
    EXPECT_EQ(channel.readDeviceId("LPT2:", buffer, count, 3), 0);
    const std::string wakeUp(16, '\0');
    ASSERT_EQ(channel.write("LPT2:", bytes(wakeUp), 1, CancelMode::None), 1);
    ASSERT_EQ(channel.readDeviceId("LPT2:", buffer, count, 3), 1);
    EXPECT_NE(std::string(buffer).find("MFG:VELTA;"), std::string::npos);
}

TEST_F(PortChannelTest, AQueryReplySurvivesThePurgeOfTheWritesClose)
{
    // The option-card query, then a read a moment later, as the engine does it.
    const std::string query = std::string("\x1b\x01@KJL EN LA=PGSCRIPT\n") +
                              "\x1d"
                              "10;1lS"
                              "\x1d"
                              "12mlS";
    ASSERT_EQ(query.size(), 35u);
    ASSERT_EQ(channel.write("LPT1:", bytes(query), 10, CancelMode::None), 1);
    ASSERT_EQ(channel.readOnce("LPT1:", buffer, count), 1);
    EXPECT_NE(std::string(buffer).find("PGSCRIPT mlS OPTIONCARD"), std::string::npos) << buffer;
}

TEST_F(PortChannelTest, ADestinationSmallerThanTheReplyIsNeverOverrun)
{
    ASSERT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 1);
    char small[16];
    std::memset(small, 'x', sizeof small);
    ASSERT_EQ(channel.readOnce("LPT1:", std::span(small, 8), count), 1);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(small[7], '\0');
    EXPECT_EQ(small[8], 'x');
}

TEST_F(PortChannelTest, ADeviceThatKeepsStreamingEndsAtTheReadTimeOutWithTheLastFullRead)
{
    // /dev/zero fills every read: without an overall bound the re-reads would never end.
    PortChannel streaming{flags, fastTiming(), [](std::string_view name, const plat::port::Interrupt* interrupt) {
                              return plat::port::openTarget("device:" + std::string(name), interrupt);
                          }};
    std::memset(buffer, 'x', sizeof buffer);
    ASSERT_EQ(streaming.readOnce("/dev/zero", buffer, count), 1);
    EXPECT_EQ(count, 2047u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[2046], '\0');
    ASSERT_EQ(streaming.readWithRetries("/dev/zero", buffer, 5, false), 1);
    EXPECT_STREQ(buffer, "") << "as text the zeros are empty";
}

TEST_F(PortChannelTest, AnInterruptEndsEveryOperationOnASlowPrinterAsFailed)
{
    ASSERT_EQ(channel.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 1);
    sim.must("LPT1:", "slow 90000");  // every read and device-ID request takes a minute and a half
    plat::port::Interrupt interrupt;
    vigil::ChannelTiming patient = fastTiming();
    patient.timeouts.readTotal = std::chrono::hours(1);  // the printer's time-outs alone would not end it
    PortChannel stoppable{flags, patient, rootPorts(), &interrupt};
    std::thread stopper([&] { interrupt.raise(); });
    EXPECT_EQ(stoppable.readDeviceId("LPT1:", buffer, count, 10), 0);
    stopper.join();
    EXPECT_EQ(stoppable.readWithRetries("LPT1:", buffer, 5, false), 0);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(stoppable.readOnce("LPT1:", buffer, count), 0);
    EXPECT_EQ(stoppable.write("LPT1:", bytes(kPageStatusEnable), 10, CancelMode::None), 0);

    interrupt.clear();
    sim.must("LPT1:", "slow 0");
    EXPECT_EQ(stoppable.readDeviceId("LPT1:", buffer, count, 10), 1) << "cleared, the channel works again";
}
