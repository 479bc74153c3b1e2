// The engine's start-up on local ports, for each family, and the starts it refuses.

#include "engine_fixture.h"

#include <mutex>
#include <vector>

#include "plat/base/message_box.h"
#include "vigil.h"

using namespace enginetest;

namespace {

// The engine's busy bits: the start-up bit is cleared when the start-up ends, however it ends.
constexpr std::uint32_t kStartUpBit = 0x20;

struct StartCase {
    const char* name;
    const char* port;
    const char* model;
    const char* shortModel;
    std::uint32_t family;
    const char* enableInLog;    // hex of the status-enable bytes the printer must have received
    const char* followUpValue;  // store value a follow-up query writes, and what it holds
    const char* followUpHolds;
};

const StartCase kStarts[] = {
    {"PagePrinterAsksForItsOptionCard", "LPT1:", "VELTA PG-03", "PG-03", 1,
     "1B01404B4A4C2052455155455354205354415455533D310D0A1B01404B4A4C200A1B01404B4A4C200A", "ICcardName",
     "PGSCRIPT mlS OPTIONCARD"},
    {"IJ09GetsTheEnableVariantAndItsGapReply", "LPT2:", "VELTA IJ-09", "IJ-09", 2,
     "1B401B401B28520800005245 4D4F54453153540200000 31B000000", "GapStrings", "EX:00000006"},
    {"IJ03AsksForItsInk", "LPT4:", "VELTA IJ-03", "IJ-03", 2, "1B401B401B285208000052454D4F544531535402000001 1B000000",
     "InkLevel", "IQ:50464646;"},
    {"ImpactPrinterNeedsNoFollowUp", "LPT3:", "VELTA DM-02", "DM-02", 3,
     "1B401B401B285208000052454D4F5445315354020000011B000000", nullptr, nullptr},
};

std::string withoutBlanks(std::string text)
{
    std::erase(text, ' ');
    return text;
}

class StartUp : public EngineTest, public ::testing::WithParamInterface<StartCase> {};

}  // namespace

TEST_P(StartUp, StoresTheDeviceIdTheReplyAndTheFollowUpThenMonitors)
{
    const StartCase& c = GetParam();
    preparePrinter("Printer " + std::string(c.shortModel), c.port, c.model, c.shortModel);
    start(m_printer, c.port, c.model, c.family);

    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1)) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    EXPECT_EQ(store("PrinterStFlag"), 0u);
    const auto id = storeText("DeviceIDStrings");
    ASSERT_TRUE(id);
    EXPECT_NE(id->find("MDL:" + std::string(c.shortModel) + ";"), std::string::npos) << *id;
    EXPECT_EQ(store("DeviceIDLength"), id->size());
    EXPECT_FALSE(storeText("RealTimeStatusStrings").value_or("").empty());
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & kStartUpBit, 0u);
    if (c.followUpValue != nullptr) {
        EXPECT_NE(storeText(c.followUpValue).value_or("").find(c.followUpHolds), std::string::npos)
            << c.followUpValue << " = " << storeText(c.followUpValue).value_or("(missing)");
    }
    const std::string log = sim.must(c.port, "log");
    EXPECT_NE(log.find(withoutBlanks(c.enableInLog)), std::string::npos) << log;

    engine().deleteStThreads();
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(dword(driverDataKey(), "VigilReadFlag"), 2u);
    EXPECT_TRUE(threadsEnd());
}

INSTANTIATE_TEST_SUITE_P(Engine, StartUp, ::testing::ValuesIn(kStarts),
                         [](const auto& info) { return info.param.name; });

TEST_F(EngineTest, IJ03InkReplyIsStoredWithTheTwoCounterBytesDropped)
{
    EXPECT_EQ(vigil::editInkReply("@BDC IQ\r\nIQ:0150464646;\r\n"), "@BDC IQ\r\nIQ:50464646;\r\n");
    const std::string twentyTwo = "IQ:01" + std::string(17, 'x');
    EXPECT_EQ(vigil::editInkReply(twentyTwo), twentyTwo) << "22 bytes are stored unchanged";
    const std::string thirtyEight = "IQ:01" + std::string(33, 'x');
    EXPECT_EQ(vigil::editInkReply(thirtyEight), thirtyEight);
    EXPECT_EQ(vigil::editInkReply("IQ:01aIQ:02b"), "IQ:aIQ:b") << "every occurrence";
}

TEST_F(EngineTest, IJ01IsRefusedWithoutAThread)
{
    preparePrinter("Old inkjet", "LPT5:", "VELTA IJ-01", "IJ-01");
    start(m_printer, "LPT5:", "VELTA IJ-01", 2);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
    EXPECT_TRUE(threadsEnd());
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(sim.must("LPT5:", "log"), "") << "nothing was sent to the printer";
}

TEST_F(EngineTest, ConnectionKindsThreeAndFourAreRefusedWithoutReadingTheDeviceId)
{
    for (std::uint32_t kind : {3u, 4u}) {
        preparePrinter("Net printer", "\\\\SERVER\\QUEUE", "VELTA PG-03", "PG-03");
        start(m_printer, "\\\\SERVER\\QUEUE", "VELTA PG-03", 1, kind);
        ASSERT_TRUE(storeBecomes("PrinterStFlag", 3)) << "kind " << kind;
        EXPECT_TRUE(threadsEnd());
        EXPECT_EQ(store("VigilExistFlag"), 0u);
        setDword(storeKey(), "PrinterStFlag", 0);
    }
}

TEST_F(EngineTest, ADeviceIdOfAnotherModelIsRefused)
{
    sim.must("LPT1:", "device-id MFG:VELTA;MDL:PG-01;");
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
    EXPECT_TRUE(threadsEnd());
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & kStartUpBit, 0u);
}

TEST_F(EngineTest, TheModelMustBeFollowedByItsSemicolon)
{
    sim.must("LPT1:", "device-id MFG:VELTA;MDL:PG-03");
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
}

TEST_F(EngineTest, ASleepingPrinterIsWokenForItsDeviceId)
{
    sim.must("LPT3:", "sleep");
    preparePrinter("Impact", "LPT3:", "VELTA DM-02", "DM-02");
    start(m_printer, "LPT3:", "VELTA DM-02", 3);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_NE(sim.must("LPT3:", "log").find(" 16 00000000000000000000000000000000 "), std::string::npos);
}

TEST_F(EngineTest, APrinterSilentAtTheStartIsTriedAgainUntilItAnswers)
{
    // Out of reach when monitoring starts (the list started or was rebuilt, the detail program was
    // started anew): a communication failure, not a printer that cannot be monitored.
    sim.must("LPT1:", "silent");
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 1));
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & kStartUpBit, 0u) << "not busy between the tries";
    sim.must("LPT1:", "heal");
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_EQ(store("PrinterStFlag"), 0u);
}

TEST_F(EngineTest, APrinterTriedAgainThatWasMovedMeanwhileEndsWithStatusSix)
{
    sim.must("LPT1:", "silent");
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 1));
    // The old port stays silent; the list rebuilds on 6 and monitors the printer where it now is.
    setString(printerKey(), "Port", "LPT2:");
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 6));
    EXPECT_TRUE(threadsEnd());
}

TEST_F(EngineTest, IJ03BusyAtTheStartIsAskedForItsInkOnceReady)
{
    preparePrinter("Old inkjet", "LPT4:", "VELTA IJ-03", "IJ-03");
    sim.must("LPT4:", "printing");
    start(m_printer, "LPT4:", "VELTA IJ-03", 2);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_EQ(storeText("InkLevel").value_or(""), "") << "a printing printer is not asked";
    sim.must("LPT4:", "ready");
    EXPECT_TRUE(
        testsupport::waitUntil([&] { return storeText("InkLevel").value_or("").find("IQ:") != std::string::npos; }));
}

TEST_F(EngineTest, IJ03ReportingAnotherModelsInkReplyCannotBeMonitored)
{
    std::mutex mutex;
    std::vector<plat::MessageBox> boxes;
    plat::setMessageBoxHandler([&](const plat::MessageBox& box) {
        std::lock_guard lock(mutex);
        boxes.push_back(box);
    });
    preparePrinter("Old inkjet", "LPT4:", "VELTA IJ-03", "IJ-03");
    // A reply without the ready state at offset 12 asks for no ink, so the stored ink reply stays.
    sim.must("LPT4:", "reply \\r\\nST:04;");
    setString(storeKey(), "InkLevel", "@BDC PS\r\n");
    start(m_printer, "LPT4:", "VELTA IJ-03", 2);
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
    ASSERT_TRUE(threadsEnd());
    plat::setMessageBoxHandler({});
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    std::lock_guard lock(mutex);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Vigilmon");
    EXPECT_EQ(boxes[0].text, "選択されたプリンタではモニタできません\n     プリンタ        ＩＪ－０３");
}

TEST_F(EngineTest, DeleteStThreadsBeforeAnyStartWritesNothing)
{
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    setDword(storeKey(), "VigilExistFlag", 7);
    engine().deleteStThreads();
    EXPECT_EQ(store("VigilExistFlag"), 7u);
    EXPECT_EQ(dword(driverDataKey(), "VigilReadFlag"), std::nullopt);
}

TEST_F(EngineTest, AStopDuringTheStartUpEndsIt)
{
    sim.must("LPT1:", "unplug");  // every pass fails and waits for the next
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return store("PrinterStFlag").value_or(0) != 0; }));
    engine().deleteStThreads();
    EXPECT_TRUE(threadsEnd());
    sim.must("LPT1:", "plug");
    setDword(storeKey(), "PrinterStFlag", 0);
    // Nothing of the stopped start-up comes back to life.
    EXPECT_FALSE(testsupport::waitUntil([&] { return store("VigilExistFlag") == 1u; }, std::chrono::milliseconds(500)));
}

TEST(EngineExports, ClassifyLptPortsAndAnswerTheIdleFlags)
{
    char queue[512] = {};
    EXPECT_EQ(StCheckConnectPrinter("LPT1:", queue), 1u);
    EXPECT_EQ(StCheckConnectPrinter("LPT9", queue), 1u);
    EXPECT_EQ(StCheckConnectPrinter("lpt1:", queue), 0u) << "the prefix is compared case-sensitively";
    EXPECT_EQ(StCheckConnectPrinter("LPT:", queue), 0u);
    EXPECT_EQ(StCheckConnectPrinter("\\\\SERVER\\QUEUE", queue), 0u);
    EXPECT_EQ(StCheckConnectPrinter("FILE:", queue), 0u);
    EXPECT_EQ(StCheckConnectPrinter(nullptr, queue), 0u);
    EXPECT_EQ(GetExecRtryFlag(), 0u);
    EXPECT_EQ(SetInkChangeFlag(5), 5u);
    EXPECT_EQ(GetInkChangeFlag(), 5u);
    EXPECT_EQ(ActHeadFunc("LPT1:"), 0);
    // ExecGapFunc starts a thread of the engine's; the maintenance tests run it with a monitoring engine.
    EXPECT_EQ(NetwareLinkEnd(), 0);
    EXPECT_EQ(WEP(0), 1);
}
