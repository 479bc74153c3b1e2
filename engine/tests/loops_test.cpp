// The engine once it monitors: periodic reads, communication errors and the retry, the command
// mailbox and the port watch.

#include "engine_fixture.h"
#include "plat/spool/spooler.h"
#include "vigil.h"

using namespace enginetest;

namespace {

class Monitoring : public EngineTest {
protected:
    // A monitored page printer on LPT1: and an inkjet on LPT2:.
    void monitorPagePrinter()
    {
        preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
        start(m_printer, "LPT1:", "VELTA PG-03", 1);
        ASSERT_TRUE(storeBecomes("VigilExistFlag", 1)) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    }
    void monitorInkjet()
    {
        preparePrinter("Photo", "LPT2:", "VELTA IJ-09", "IJ-09");
        start(m_printer, "LPT2:", "VELTA IJ-09", 2);
        ASSERT_TRUE(storeBecomes("VigilExistFlag", 1)) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    }

    // Posts a mailbox request: kind (16-bit little-endian), then the bytes to send.
    void post(std::uint16_t kind, const std::string& bytes, const std::string& pass = "")
    {
        const std::string request =
            std::string(1, static_cast<char>(kind & 0xff)) + static_cast<char>(kind >> 8) + bytes;
        setBinary(storeKey(), "CommandStrings", request);
        setDword(storeKey(), "CommandLength", static_cast<std::uint32_t>(request.size()));
        setBinary(storeKey(), "PassStrings", pass);
        setDword(storeKey(), "PassLength", static_cast<std::uint32_t>(pass.size()));
        setDword(storeKey(), "CommandOkFlag", 1);
    }
    // Waits for the mailbox's answer.
    std::uint32_t answer()
    {
        testsupport::waitUntil([&] { return store("CommandOkFlag").value_or(1) != 1; });
        return store("CommandOkFlag").value_or(0);
    }
};

const std::string kOptionCardQuery = std::string("\x1b\x01@KJL EN LA=PGSCRIPT\n") +
                                     "\x1d"
                                     "10;1lS"
                                     "\x1d"
                                     "12mlS";

}  // namespace

TEST_F(Monitoring, PeriodicReadsFollowTheStateOfThePrinter)
{
    monitorInkjet();
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return storeText("RealTimeStatusStrings").value_or("").find("ST:04") != std::string::npos; }));
    sim.must("LPT2:", "cover-open");
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return storeText("RealTimeStatusStrings").value_or("").find("ST:00;ER:02;") != std::string::npos;
    })) << storeText("RealTimeStatusStrings").value_or("");
    EXPECT_EQ(store("PrinterStFlag"), 0u);
}

TEST_F(Monitoring, ReadsPauseWhileTheStartFlagIsOffButTheFlagsAreRefreshed)
{
    monitorInkjet();
    setDword(storeKey(), "GetRealTimeStatusStartFlag", 0);
    deleteValue(storeKey(), "LanMonExistFlag");
    // The thread still refreshes its flags: the deleted one comes back with its default.
    ASSERT_TRUE(testsupport::waitUntil([&] { return store("LanMonExistFlag") == 0u; }));
    setString(storeKey(), "RealTimeStatusStrings", "unchanged");
    sim.must("LPT2:", "jam");
    EXPECT_FALSE(testsupport::waitUntil([&] { return storeText("RealTimeStatusStrings") != "unchanged"; },
                                        std::chrono::milliseconds(400)));
    setDword(storeKey(), "GetRealTimeStatusStartFlag", 1);
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return storeText("RealTimeStatusStrings").value_or("").find("ER:04") != std::string::npos; }));
}

TEST_F(Monitoring, AnUnpluggedPrinterIsRetriedAndTheLatchMakesTheNextReportTwo)
{
    monitorPagePrinter();
    sim.must("LPT1:", "unplug");
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 1));
    ASSERT_TRUE(testsupport::waitUntil([&] { return engine().execRetryState() == 2u; }));
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(dword(driverDataKey(), "VigilReadFlag"), 2u);

    // Started again while still unplugged: the start-up fails, and the latch turns 1 into 2.
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 2));

    // Plugged in again, the next pass succeeds and clears the latch: a new failure reports 1 again.
    sim.must("LPT1:", "plug");
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_EQ(store("PrinterStFlag"), 0u);
    EXPECT_TRUE(testsupport::waitUntil([&] { return engine().execRetryState() == 0u; }))
        << "a new start clears the retry state";
    sim.must("LPT1:", "unplug");
    EXPECT_TRUE(storeBecomes("PrinterStFlag", 1));
}

TEST_F(Monitoring, AMissingRetryTimeIsCreatedAsTwentySeconds)
{
    monitorPagePrinter();
    deleteValue(storeKey(), "StRetryTime");
    sim.must("LPT1:", "unplug");
    ASSERT_TRUE(testsupport::waitUntil([&] { return engine().execRetryState() == 1u; }));
    EXPECT_TRUE(storeBecomes("StRetryTime", 20000));
    // The stop does not wait out the twenty seconds.
    engine().deleteStThreads();
    EXPECT_TRUE(threadsEnd());
}

TEST_F(Monitoring, MailboxReadsTheDeviceId)
{
    monitorPagePrinter();
    setBinary(storeKey(), "DeviceIDStrings", "");
    post(1, "");
    EXPECT_EQ(answer(), 2u);
    EXPECT_NE(storeText("DeviceIDStrings").value_or("").find("MDL:PG-03;"), std::string::npos);
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & 0x04, 0u) << "the command bit is cleared again";
    EXPECT_EQ(store("GetRealTimeStatusStartFlag"), 1u) << "the periodic reads are on again";
}

TEST_F(Monitoring, MailboxSendsAndWaitsForAReplyWithThePassBytes)
{
    monitorPagePrinter();
    post(2, kOptionCardQuery, "SLOTA CARD_NAME|");
    EXPECT_EQ(answer(), 2u);
    EXPECT_NE(storeText("RetStrings").value_or("").find("PGSCRIPT mlS OPTIONCARD"), std::string::npos);

    post(2, kOptionCardQuery, "NOT IN ANY REPLY");
    EXPECT_EQ(answer(), 8u);
}

TEST_F(Monitoring, MailboxPausesThePeriodicReadsWhileACommandRuns)
{
    monitorPagePrinter();
    // The printer takes no bytes, so the command's writes retry for a while; its reads stay quick. A
    // slowed read would not do: a periodic read in progress would then hold the port longer than the
    // command waits for it (the engine's waits run at 1/50 here, the printer's delay does not), and the
    // command would rightly be refused with 4.
    sim.must("LPT1:", "busy 100000");
    post(2, kOptionCardQuery, "NOT IN ANY REPLY");
    EXPECT_TRUE(testsupport::waitUntil([&] {
        return (store("StRealThreadExistFlag").value_or(0) & 0x04) != 0 && store("GetRealTimeStatusStartFlag") == 0u;
    }));
    EXPECT_EQ(answer(), 8u);
    EXPECT_EQ(store("GetRealTimeStatusStartFlag"), 1u);
}

TEST_F(Monitoring, MailboxSendsOnlyRefusesAndRejects)
{
    monitorPagePrinter();
    sim.must("LPT1:", "reset-log");
    post(4, "\x1b\x01@KJL \n");
    EXPECT_EQ(answer(), 2u);
    EXPECT_NE(sim.must("LPT1:", "log").find("1B01404B4A4C200A"), std::string::npos);

    post(3, "anything");
    EXPECT_EQ(answer(), 16u) << "an unknown kind";

    post(4, "x");
    setDword(storeKey(), "CommandLength", 5000);
    setDword(storeKey(), "CommandOkFlag", 1);
    EXPECT_EQ(answer(), 16u) << "a length beyond the mailbox's limit";

    setDword(storeKey(), "CommandExecStartFlag", 0);
    post(4, "x");
    EXPECT_EQ(answer(), 4u) << "the mailbox is closed";
}

TEST_F(Monitoring, MovingThePrinterToAnotherPortEndsMonitoringWithStatusSix)
{
    monitorPagePrinter();
    setString(printerKey(), "Port", "LPT2:");
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 6));
    EXPECT_TRUE(storeBecomes("VigilExistFlag", 0));
    EXPECT_TRUE(threadsEnd());
}

TEST_F(Monitoring, PrintingToFileEndsMonitoringWithStatusSix)
{
    monitorInkjet();
    setString(printerKey(), "Port", "FILE:");
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 6));
    EXPECT_TRUE(threadsEnd());
}

TEST_F(Monitoring, AnotherDriverEndsMonitoringAndLeavesTheStatus)
{
    monitorInkjet();
    setString(printerKey(), "Printer Driver", "VELTA IJ-10");
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 0));
    EXPECT_TRUE(threadsEnd());
    EXPECT_EQ(store("PrinterStFlag"), 0u);
    EXPECT_EQ(dword(driverDataKey(), "VigilReadFlag"), 2u);
}

TEST_F(Monitoring, AStopReachesAThreadInsideAPortExchangeAndNothingRunsAfterIt)
{
    monitorPagePrinter();
    sim.must("LPT1:", "slow 90000");  // every read now takes a minute and a half
    // The periodic read is under way (and soon inside its exchange with the printer).
    ASSERT_TRUE(testsupport::waitUntil([&] { return (store("StRealThreadExistFlag").value_or(0) & 0x01) != 0; }));
    engine().deleteStThreads();
    EXPECT_TRUE(engine().waitForThreads(std::chrono::milliseconds(0))) << "an engine thread outlived the stop";
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & 0x01, 0u);
    EXPECT_EQ(dword(driverDataKey(), "VigilReadFlag"), 2u);

    // Nothing of the engine touches the store afterwards.
    setString(storeKey(), "RealTimeStatusStrings", "after the stop");
    setDword(driverDataKey(), "VigilReadFlag", 7);
    EXPECT_FALSE(testsupport::waitUntil(
        [&] {
            return storeText("RealTimeStatusStrings") != "after the stop" ||
                   dword(driverDataKey(), "VigilReadFlag") != 7u;
        },
        std::chrono::milliseconds(300)));
}

TEST_F(Monitoring, MovingThePrinterToFileThroughTheSpoolerEndsMonitoringWithStatusSix)
{
    monitorPagePrinter();
    auto spooler = plat::spool::embedded(testsupport::rootStore());
    ASSERT_TRUE(spooler.ok()) << spooler.error().detail;
    auto moved = spooler.value()->setPort(m_printer, "FILE:");
    ASSERT_TRUE(moved.ok()) << "FILE: is a port of every spooler: " << moved.error().detail;
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 6));
    EXPECT_TRUE(storeBecomes("VigilExistFlag", 0));
    EXPECT_TRUE(threadsEnd());
}
