// The road of a printer behind a NetWare queue, on the simulator: spoolctl enters the queue (and a
// capture) as a user would, vprinter plays the printer's network interface, the common services
// library classifies the port, and the engine reads the printer over the network link into the store,
// where the windows' decoding finds it.

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "testsupport/run_program.h"
#include "vigil.h"
#include "watchcore.h"

using namespace enginetest;

namespace {

const testsupport::NetworkPrinter kInterface{"FS1", "PS1", 0, "PG-04", /*extended=*/true, ""};
constexpr const char* kQueuePath = "\\\\FS1\\QUEUE1";
constexpr std::uint32_t kPg04 = 18;  // PG-04's model number

class NetworkRoad : public EngineTest {
protected:
    NetworkRoad() : EngineTest(testsupport::netwareConfig({kInterface})) {}

    void SetUp() override
    {
        EngineTest::SetUp();
        if (HasFatalFailure()) return;
        spoolctl({"add-netware-queue", "FS1", "QUEUE1", "--print-server", "PS1", "--printers", "0"});
    }

    static void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    // What the detail program does before it starts the engine: the list's entry for the printer on
    // `port`, classified by fCheckConnectStatus (the result is the function's).
    int checkConnection(const std::string& port)
    {
        entry = {};
        std::strncpy(entry.PrinterName, m_printer.c_str(), sizeof entry.PrinterName - 1);
        std::strncpy(entry.PortName, port.c_str(), sizeof entry.PortName - 1);
        entry.PrinterFamily = 0;
        entry.ModelCode = kPg04;
        return fCheckConnectStatus(&entry);
    }
    // Starts the engine as the detail program does for the classified entry.
    void startFromEntry()
    {
        const std::uint32_t kind = entry.NetworkKind == 2 ? (entry.NetworkResolved == 1 ? 5u : 2u) : 3u;
        startBlock = {
            entry.PortName, entry.OriginalPortName, m_printer, "VELTA PG-04", facts::EngineFamily::Page, kind, 4242};
        engine().createVigilmonInitialize(startBlock);
    }
    // The printer's setup on \\FS1\QUEUE1 with a quick status interval, classified and started.
    void monitorOnQueue()
    {
        preparePrinter("Shared", kQueuePath, "VELTA PG-04", "PG-04");
        ASSERT_EQ(checkConnection(kQueuePath), 1);
        setDword(storeKey(), "GetRealTimeStatusTime", 40);
        startFromEntry();
        ASSERT_TRUE(monitoring()) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    }

    // Waits until `condition` holds, starting monitoring again when the engine asks for it (retry
    // state 2), as the detail program does: once, and not again before that start has come up (the
    // retry state stays 2 until then).
    bool reaches(const std::function<bool()>& condition, std::chrono::milliseconds bound = std::chrono::seconds(60))
    {
        bool restarted = false;
        return testsupport::waitUntil(
            [&] {
                if (restarted && store("VigilExistFlag") == 1u) restarted = false;
                if (!restarted && engine().execRetryState() == 2) {
                    engine().createVigilmonInitialize(startBlock);
                    restarted = true;
                }
                return condition();
            },
            bound);
    }
    bool monitoring()
    {
        return reaches([&] { return store("VigilExistFlag") == 1u && store("PrinterStFlag") == 0u; });
    }
    bool communicationFails()
    {
        return testsupport::waitUntil(
            [&] {
                const auto flag = store("PrinterStFlag").value_or(0);
                return flag == 1u || flag == 2u;
            },
            std::chrono::seconds(60));
    }
    // What the windows show, decoded from the store, until `shown` holds.
    template <class Shown>
    bool windowsShow(Shown shown)
    {
        return testsupport::waitUntil([&] {
            iGetStatus(&entry, paper.data(), information.data(), lastReply.data());
            return shown(entry);
        });
    }
    // The datagrams the interface has received since its log was last reset (the log keeps the most
    // recent ones only).
    std::size_t datagrams() const
    {
        const std::string log = sim.must(port(), "log");
        std::size_t lines = 0;
        for (char c : log) lines += c == '\n';
        return lines;
    }
    static std::string port() { return testsupport::networkPort(kInterface); }

    PrinterEntry entry{};
    vigil::StartBlock startBlock;
    std::array<int32_t, 128> paper{};
    std::array<int32_t, 64> information{};
    std::array<char, 1024> lastReply{};
};

}  // namespace

TEST_F(NetworkRoad, AQueuePathIsClassifiedMonitoredAndItsStateReachesTheWindows)
{
    preparePrinter("Shared", kQueuePath, "VELTA PG-04", "PG-04");
    ASSERT_EQ(checkConnection(kQueuePath), 1);
    EXPECT_EQ(entry.NetworkPort, 1u);
    EXPECT_EQ(entry.NetworkKind, 2u);
    EXPECT_EQ(entry.NetworkResolved, 0u);
    EXPECT_EQ(store("GetRealTimeStatusTime"), 10000u) << "a network printer is asked every 10 s";

    setDword(storeKey(), "GetRealTimeStatusTime", 40);
    startFromEntry();
    ASSERT_TRUE(monitoring()) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    EXPECT_NE(storeText("DeviceIDStrings").value_or("").find("MDL:PG-04;"), std::string::npos);
    uint32_t flag = 99;
    ASSERT_EQ(fGetRegistoryPrinterStFlag(m_printer.c_str(), &flag), 1);
    EXPECT_EQ(flag, 0u);
    ASSERT_TRUE(windowsShow([](const PrinterEntry& e) { return e.PrinterState == 0 && e.MessageIndex == 2; }))
        << "ready: level " << entry.PrinterState << ", message " << entry.MessageIndex;

    // A change at the printer arrives with the next periodic read.
    sim.must(port(), "cover-open");
    EXPECT_TRUE(windowsShow([](const PrinterEntry& e) { return e.PrinterState == 2 && e.MessageIndex == 26; }))
        << "cover open: level " << entry.PrinterState << ", message " << entry.MessageIndex;
    sim.must(port(), "ready");
    sim.must(port(), "paper-out");
    EXPECT_TRUE(windowsShow([](const PrinterEntry& e) {
        return e.PrinterState == 2 && e.MessageIndex != 26 && e.MessageIndex != 2;
    })) << "paper out: level "
        << entry.PrinterState << ", message " << entry.MessageIndex;
}

TEST_F(NetworkRoad, ACapturedPortIsMonitoredThroughItsQueueAndKeepsItsOwnPortName)
{
    spoolctl({"capture", "LPT2", "FS1", "QUEUE1"});
    preparePrinter("Captured", "LPT2:", "VELTA PG-04", "PG-04");
    ASSERT_EQ(checkConnection("LPT2:"), 1);
    EXPECT_EQ(entry.NetworkKind, 2u);
    EXPECT_EQ(entry.NetworkResolved, 1u);
    EXPECT_STREQ(entry.PortName, kQueuePath);
    EXPECT_STREQ(entry.OriginalPortName, "LPT2:");

    setDword(storeKey(), "GetRealTimeStatusTime", 40);
    startFromEntry();
    ASSERT_TRUE(monitoring()) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    sim.must(port(), "cover-open");
    EXPECT_TRUE(windowsShow([](const PrinterEntry& e) { return e.PrinterState == 2 && e.MessageIndex == 26; }));
    // The port watch compares the spooler's port with the captured one: monitoring goes on.
    EXPECT_EQ(store("PrinterStFlag"), 0u);
    EXPECT_EQ(store("VigilExistFlag"), 1u);
}

TEST_F(NetworkRoad, ASilentOrUnpluggedInterfaceIsACommunicationFailureAndItsReturnIsFoundAgain)
{
    monitorOnQueue();
    for (const char* fault : {"silent", "unplug"}) {
        SCOPED_TRACE(fault);
        sim.must(port(), fault);
        EXPECT_TRUE(communicationFails());
        sim.must(port(), std::string(fault) == "unplug" ? "plug" : "heal");
        EXPECT_TRUE(monitoring()) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    }
}

TEST_F(NetworkRoad, MalformedRepliesCountAsNoReplyAndNeverReachTheStore)
{
    monitorOnQueue();
    ASSERT_TRUE(testsupport::waitUntil([&] { return storeText("RealTimeStatusStrings").has_value(); }));
    const std::string good = storeText("RealTimeStatusStrings").value();
    for (const char* fault : {"wrong-sequence", "short-reply", "oversized-reply"}) {
        SCOPED_TRACE(fault);
        sim.must(port(), fault);
        EXPECT_TRUE(communicationFails());
        EXPECT_EQ(storeText("RealTimeStatusStrings"), good);
        sim.must(port(), "heal");
        EXPECT_TRUE(monitoring()) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    }
}

TEST_F(NetworkRoad, OtherNetworkPathsAreNotMonitored)
{
    preparePrinter("Shared", kQueuePath, "VELTA PG-04", "PG-04");
    sim.must(port(), "reset-log");
    for (std::uint32_t kind : {3u, 4u}) {
        SCOPED_TRACE(kind);
        setDword(storeKey(), "PrinterStFlag", 0);
        start(m_printer, kQueuePath, "VELTA PG-04", 1, kind);
        EXPECT_TRUE(storeBecomes("PrinterStFlag", 3));
        EXPECT_TRUE(threadsEnd());
        EXPECT_EQ(store("VigilExistFlag"), 0u);
    }
    EXPECT_EQ(datagrams(), 0u) << "nothing was sent to the printer";
}

TEST_F(NetworkRoad, AStopDuringAPendingRequestEndsItAndAfterTheLinksEndNothingOpensAgain)
{
    monitorOnQueue();
    // Replies come too late for every wait: requests stay pending until they give up.
    sim.must(port(), "slow 60000");
    sim.must(port(), "reset-log");
    ASSERT_TRUE(testsupport::waitUntil([&] { return datagrams() > 0; })) << "a request is under way";
    engine().deleteStThreads();
    EXPECT_TRUE(engine().waitForThreads(std::chrono::milliseconds(0))) << "no engine thread runs on";
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(engine().networkLinkEnd(), 0u) << "the stopped threads closed the link already";

    sim.must(port(), "heal");
    sim.must(port(), "reset-log");
    setDword(storeKey(), "PrinterStFlag", 0);
    engine().createVigilmonInitialize(startBlock);
    EXPECT_TRUE(storeBecomes("PrinterStFlag", 1)) << "every open fails: a communication failure";
    engine().deleteStThreads();
    EXPECT_EQ(datagrams(), 0u) << "no link opened after its end";
}

TEST_F(NetworkRoad, AStopDuringTheStartUpsReadsEndsTheExchangeWithThePrinterAtOnceAndALaterStartOpensTheLink)
{
    monitorOnQueue();
    engine().deleteStThreads();
    // The printer stays located; the new start's device-ID requests find no reply in time.
    sim.must(port(), "slow 60000");
    sim.must(port(), "reset-log");
    engine().createVigilmonInitialize(startBlock);
    ASSERT_TRUE(testsupport::waitUntil([&] { return datagrams() > 1; })) << "requests are under way";
    const std::size_t atStop = datagrams();
    engine().deleteStThreads();
    EXPECT_TRUE(engine().waitForThreads(std::chrono::milliseconds(0))) << "no engine thread runs on";
    // Another connect or two may have been on its way when the stop came; none comes after it.
    EXPECT_LE(datagrams(), atStop + 3) << "the pending requests were given up, not run to their end";
    EXPECT_NE(store("PrinterStFlag"), 1u) << "a stop is no communication failure";

    sim.must(port(), "heal");
    engine().createVigilmonInitialize(startBlock);
    EXPECT_TRUE(monitoring()) << "the link opens again: PrinterStFlag " << store("PrinterStFlag").value_or(99);
}
