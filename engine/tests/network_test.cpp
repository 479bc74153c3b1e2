// The engine on NetWare paths: a printer behind a queue (connection 2) and a local port captured to a
// queue (connection 5), read through the network link from a printer interface played by the test.

#include "engine_fixture.h"
#include "plat/netware/environment.h"
#include "printer_interface.h"
#include "vigil.h"

#include <fstream>

using namespace enginetest;

namespace {

class NetworkPath : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        std::ofstream(plat::netware::environmentFile()) << "server FS1\n"
                                                           "print-server-address FS1 "
                                                        << printer.address().text()
                                                        << "\n"
                                                           "queue FS1 Q1 PS1\n"
                                                           "print-server FS1 PS1 Q1 3\n"
                                                           "capture LPT2 FS1 Q1.SALES\n";
        printer.serves("PS1", 3);
        printer.setPayloads("MFG:VELTA;MDL:PG-03;CMD:KJL;", "STATUS CODE=1000 ONLINE", "");
    }
    void startOnQueue()
    {
        preparePrinter("Office", "\\\\FS1\\Q1", "VELTA PG-03", "PG-03");
        start(m_printer, "\\\\FS1\\Q1", "VELTA PG-03", 1, 2);
    }

    networktest::Interface printer;
};

}  // namespace

TEST_F(NetworkPath, APrinterBehindAQueueIsReadThroughTheLinkIntoTheStore)
{
    startOnQueue();
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1)) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    EXPECT_EQ(store("PrinterStFlag"), 0u);
    EXPECT_EQ(storeText("DeviceIDStrings"), "MFG:VELTA;MDL:PG-03;CMD:KJL;");
    EXPECT_EQ(store("DeviceIDLength"), 28u);
    EXPECT_EQ(storeText("RealTimeStatusStrings"), "STATUS CODE=1000 ONLINE");

    // The periodic reads go on through the link.
    printer.setPayloads("MFG:VELTA;MDL:PG-03;CMD:KJL;", "STATUS CODE=4010 PAPER OUT", "");
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return storeText("RealTimeStatusStrings") == std::string("STATUS CODE=4010 PAPER OUT"); }));
}

TEST_F(NetworkPath, ACapturedPortIsClassifiedWithItsQueuePathAndMonitoredThroughIt)
{
    char queuePath[512] = {};
    ASSERT_EQ(engine().checkConnectPrinter("LPT2:", queuePath), 5u);
    ASSERT_STREQ(queuePath, "\\\\FS1\\Q1");
    preparePrinter("Office", "LPT2:", "VELTA PG-03", "PG-03");
    engine().createVigilmonInitialize(
        {queuePath, "LPT2:", m_printer, "VELTA PG-03", facts::EngineFamily::Page, 5, 4242});
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1)) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    EXPECT_EQ(storeText("RealTimeStatusStrings"), "STATUS CODE=1000 ONLINE");
}

TEST_F(NetworkPath, APrinterThatStopsAnsweringIsACommunicationFailure)
{
    startOnQueue();
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    printer.silentToQueries = true;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const auto flag = store("PrinterStFlag").value_or(0);
        return flag == 1u || flag == 2u;
    }));
}

TEST_F(NetworkPath, AModelThatNeedsTheExtendedRequestIsRefusedWithoutIt)
{
    preparePrinter("Office", "\\\\FS1\\Q1", "VELTA PG-04", "PG-04");
    printer.setPayloads("MFG:VELTA;MDL:PG-04;", "STATUS CODE=1000", "");
    start(m_printer, "\\\\FS1\\Q1", "VELTA PG-04", 1, 2);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
    ASSERT_TRUE(threadsEnd());
    EXPECT_EQ(engine().networkLinkEnd(), 0u) << "the refusal closed the link for good already";
}

TEST_F(NetworkPath, TheExtendedRequestRuleNamesDriversSoADriverWithoutAModelRowIsRefusedToo)
{
    // "VELTA DM-03" has no row in the model table; the rule holds for it all the same.
    preparePrinter("Ledger", "\\\\FS1\\Q1", "VELTA DM-03", "DM-03");
    printer.setPayloads("MFG:VELTA;MDL:DM-03;", "ST:00 ER:00", "");
    start(m_printer, "\\\\FS1\\Q1", "velta dm-03", 3, 2);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
    ASSERT_TRUE(threadsEnd());
    EXPECT_EQ(store("VigilExistFlag"), 0u);
}

TEST_F(NetworkPath, AfterTheLinkIsEndedTheEngineNeverOpensItAgain)
{
    startOnQueue();
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    engine().deleteStThreads();
    engine().networkLinkEnd();
    const int connects = printer.connects;
    setDword(storeKey(), "PrinterStFlag", 0);
    start(m_printer, "\\\\FS1\\Q1", "VELTA PG-03", 1, 2);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 1)) << "every open fails: a communication failure";
    EXPECT_EQ(printer.connects, connects);
}
