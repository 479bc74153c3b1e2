// The maintenance actions: the head move for ink replacement and the gap-adjustment tool, with what
// they leave in the store and what reaches the printer.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "engine_fixture.h"
#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "vigil.h"

using namespace enginetest;
namespace fs = std::filesystem;

namespace {

constexpr const char* kToolKey = "Software\\VELTA\\VELTA Quill Calibration\\TUNEUP.EXE";

// A stand-in tool's body that ends once the test lets it: when a file "go" appears in its folder. It
// gives up by itself after a while so that a failed test leaves no process behind.
constexpr const char* kToolWaitingForGo =
    "i=0; while [ ! -e go ] && [ $i -lt 1200 ]; do sleep 0.05; i=$((i+1)); done; touch ended";

// Lets a waiting stand-in tool end, and waits until it has, before the test's root goes away.
struct ToolReleaser {
    fs::path folder;
    ~ToolReleaser()
    {
        std::ofstream(folder / "go") << "";
        testsupport::waitUntil([&] { return fs::exists(folder / "ended"); });
    }
};

class Maintenance : public EngineTest {
protected:
    void monitor(const std::string& printer, const std::string& port, const std::string& shortModel)
    {
        preparePrinter(printer, port, "VELTA " + shortModel, shortModel);
        start(printer, port, "VELTA " + shortModel, 2);
        ASSERT_TRUE(storeBecomes("VigilExistFlag", 1)) << "PrinterStFlag " << store("PrinterStFlag").value_or(99);
    }

    // Holds the port busy as a mailbox command would: the status reads are stopped first (and a read
    // under way has ended) so no pass of theirs rewrites the busy bits meanwhile.
    void stopStatusReads()
    {
        setDword(storeKey(), "GetRealTimeStatusStartFlag", 0);
        deleteValue(storeKey(), "LanMonExistFlag");
        ASSERT_TRUE(testsupport::waitUntil([&] { return store("LanMonExistFlag") == 0u; }));
    }
    void holdPort()
    {
        stopStatusReads();
        setDword(storeKey(), "StRealThreadExistFlag", store("StRealThreadExistFlag").value_or(0) | 0x04);
    }
    void releasePort()
    {
        setDword(storeKey(), "StRealThreadExistFlag", store("StRealThreadExistFlag").value_or(0) & ~0x04u);
    }

    // The store values the actions borrow and must give back; the bits of a status read and of the
    // start-up come and go on their own.
    struct Flags {
        std::optional<std::uint32_t> busy, startFlag, execFlag, exists, lanMon;
        bool operator==(const Flags&) const = default;
    };
    Flags flags() const
    {
        auto busy = store("StRealThreadExistFlag");
        if (busy) *busy &= ~(0x01u | 0x20u);
        return {busy, store("GetRealTimeStatusStartFlag"), store("CommandExecStartFlag"), store("VigilExistFlag"),
                store("LanMonExistFlag")};
    }

    // A count from vprinter's "actions" answer ("head-actions", "gap-settings", "gap-setting").
    int simCount(const std::string& port, const std::string& name) const
    {
        const std::string answer = sim.must(port, "actions");
        const auto at = answer.find(name + " ");
        return at == std::string::npos ? -1 : std::stoi(answer.substr(at + name.size() + 1));
    }

    void setToolPath(const std::string& path) const
    {
        auto& store = *plat::registry::Store::forCurrentRoot().value();
        plat::registry::Key key;
        ASSERT_EQ(store.createKey(plat::registry::Root::CurrentUser, kToolKey, "", key), plat::registry::Status::Ok);
        ASSERT_EQ(
            store.setValue(plat::registry::Root::CurrentUser, kToolKey, "Path", plat::registry::ValueType::String,
                           std::as_bytes(std::span(path.c_str(), path.size() + 1)), plat::registry::Store::Flush::No),
            plat::registry::Status::Ok);
    }

    // A stand-in tool in `folder`: it notes the folder it runs in and its arguments, then runs `then`.
    static void writeTool(const fs::path& folder, const std::string& then = "")
    {
        fs::create_directories(folder);
        const fs::path tool = folder / "TUNEUP.EXE";
        std::ofstream(tool) << "#!/bin/sh\npwd > started.tmp\necho \"$#\" >> started.tmp\nmv started.tmp started\n"
                            << then << "\n";
        ::chmod(tool.c_str(), 0700);
    }
    static std::optional<std::string> startedIn(const fs::path& folder)
    {
        std::ifstream in(folder / "started");
        if (!in) return std::nullopt;
        std::string cwd, argc;
        std::getline(in, cwd);
        std::getline(in, argc);
        return cwd + " " + argc;
    }

    // Runs the gap tool through the engine and waits for the gap thread to end; its result.
    std::uint32_t runGap(const std::string& port)
    {
        const auto before = engine().gapRunsEnded();
        EXPECT_EQ(engine().execGap(port.c_str()), 1);
        EXPECT_TRUE(testsupport::waitUntil([&] { return engine().gapRunsEnded() > before; }));
        return engine().gapReturn();
    }
};

}  // namespace

// ---- head action ----------------------------------------------------------------------------------

TEST_F(Maintenance, TheHeadMoveOfALocalInkjetReachesThePrinterAndGivesTheLoopsBack)
{
    monitor("Photo", "LPT2:", "IJ-09");
    const Flags before = flags();
    ASSERT_EQ(engine().inkChange(), 0u);

    EXPECT_EQ(engine().actHead("LPT2:"), 1);
    EXPECT_EQ(simCount("LPT2:", "head-actions"), 1);
    EXPECT_EQ(engine().inkChange(), 1u);
    EXPECT_EQ(flags(), before);
    EXPECT_EQ(engine().setInkChange(0), 0u);
    EXPECT_EQ(engine().inkChange(), 0u);

    // The status reads go on afterwards.
    sim.must("LPT2:", "cover-open");
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return storeText("RealTimeStatusStrings").value_or("").find("ER:02;") != std::string::npos; }));
}

TEST_F(Maintenance, TheHeadMoveIsNotForPageOrImpactPrintersNorForANetworkPath)
{
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_EQ(engine().actHead("LPT1:"), 0);
    engine().deleteStThreads();
    ASSERT_TRUE(threadsEnd());

    // The inkjet on a queue path: nothing is sent and nothing in the store changes.
    preparePrinter("Photo", "LPT2:", "VELTA IJ-09", "IJ-09");
    start(m_printer, "\\\\SERVER\\QUEUE", "VELTA IJ-09", 2, 2);
    const Flags before = flags();
    EXPECT_EQ(engine().actHead("\\\\SERVER\\QUEUE"), 0);
    EXPECT_EQ(flags(), before);
    EXPECT_EQ(simCount("LPT2:", "head-actions"), 0);
    EXPECT_EQ(engine().inkChange(), 0u);
}

TEST_F(Maintenance, TheHeadMoveAnswersFourWhenTheEngineDoesNotMonitorOrAnotherMonitorOwnsThePrinter)
{
    monitor("Photo", "LPT2:", "IJ-09");
    setDword(storeKey(), "LanMonExistFlag", 1);
    EXPECT_EQ(engine().actHead("LPT2:"), 4);
    setDword(storeKey(), "LanMonExistFlag", 0);
    engine().deleteStThreads();
    ASSERT_TRUE(threadsEnd());
    EXPECT_EQ(engine().actHead("LPT2:"), 4);
    EXPECT_EQ(simCount("LPT2:", "head-actions"), 0);
}

TEST_F(Maintenance, ASecondHeadMoveDuringTheFirstAnswersEightAndTouchesNothing)
{
    // At the full time scale the first call waits up to 5 s for the port, which the test holds busy
    // until the second call has answered; the test does not wait that long. An engine on the steady
    // clock, before anything runs.
    useClock(plat::steadyClock());
    monitor("Photo", "LPT2:", "IJ-09");
    holdPort();
    auto first = std::async(std::launch::async, [&] { return engine().actHead("LPT2:"); });
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return (store("StRealThreadExistFlag").value_or(0) & 0x08) != 0 && store("CommandExecStartFlag") == 0u;
    }));
    const Flags during = flags();
    EXPECT_EQ(engine().actHead("LPT2:"), 8);
    EXPECT_EQ(flags(), during);

    releasePort();
    EXPECT_EQ(first.get(), 1);
    EXPECT_EQ(simCount("LPT2:", "head-actions"), 1);
    EXPECT_EQ(store("CommandExecStartFlag"), 1u);
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & 0x08, 0u);
}

TEST_F(Maintenance, APortBusyForFiveSecondsGivesEightAndLeavesTheStoreAsItWas)
{
    monitor("Photo", "LPT2:", "IJ-09");
    holdPort();
    const Flags before = flags();
    EXPECT_EQ(engine().actHead("LPT2:"), 8);
    EXPECT_EQ(flags(), before);
    EXPECT_EQ(engine().inkChange(), 0u);
    EXPECT_EQ(simCount("LPT2:", "head-actions"), 0);
}

TEST_F(Maintenance, AHeadMoveThatIsNotWrittenAnswersZeroAndReportsTheCommunicationError)
{
    monitor("Photo", "LPT2:", "IJ-09");
    // No status read may be under way when the printer goes: a failing read holds the port.
    stopStatusReads();
    sim.must("LPT2:", "unplug");
    EXPECT_EQ(engine().actHead("LPT2:"), 0);
    EXPECT_EQ(engine().inkChange(), 0u);
    const auto code = store("PrinterStFlag").value_or(0);
    EXPECT_TRUE(code == 1 || code == 2) << code;
}

// ---- gap tool -------------------------------------------------------------------------------------

TEST_F(Maintenance, WithoutAPathTheToolStartsFromTheRctoolFolderAndTheLoopsComeBack)
{
    monitor("Photo", "LPT2:", "IJ-09");
    const fs::path rctool = plat::windowsDir() / "RCTOOL";
    writeTool(rctool);
    const Flags before = flags();
    EXPECT_EQ(runGap("LPT2:"), 1u) << engine().gapFailure();
    // Started in its folder, with no arguments.
    EXPECT_EQ(startedIn(rctool), fs::canonical(rctool).string() + " 0");
    EXPECT_EQ(flags(), before);
}

TEST_F(Maintenance, TheToolKeysPathNamesTheToolsFolder)
{
    monitor("Photo", "LPT2:", "IJ-09");
    const fs::path folder = root.path() / "tools folder";
    writeTool(folder);
    writeTool(plat::windowsDir() / "RCTOOL");
    setToolPath(folder.string());
    EXPECT_EQ(runGap("LPT2:"), 1u) << engine().gapFailure();
    EXPECT_TRUE(startedIn(folder));
    EXPECT_FALSE(startedIn(plat::windowsDir() / "RCTOOL"));
}

TEST_F(Maintenance, TheEngineWaitsForTheToolToEnd)
{
    monitor("Photo", "LPT2:", "IJ-09");
    const fs::path folder = root.path() / "tool";
    // The tool ends when the test lets it: it waits for a file to appear.
    writeTool(folder, kToolWaitingForGo);
    setToolPath(folder.string());
    ToolReleaser release{folder};
    const auto before = engine().gapRunsEnded();
    ASSERT_EQ(engine().execGap("LPT2:"), 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return startedIn(folder).has_value(); }));
    EXPECT_EQ(engine().gapReturn(), 1u);
    EXPECT_EQ(engine().gapRunsEnded(), before);
    EXPECT_NE(store("StRealThreadExistFlag").value_or(0) & 0x10, 0u);
    EXPECT_EQ(store("GetRealTimeStatusStartFlag"), 0u);
    // A second run meanwhile answers 8.
    EXPECT_EQ(runGap("LPT2:"), 8u);

    std::ofstream(folder / "go") << "";
    ASSERT_TRUE(testsupport::waitUntil([&] { return engine().gapRunsEnded() == before + 2; }));
    EXPECT_TRUE(fs::exists(folder / "ended"));
    EXPECT_EQ(engine().gapReturn(), 1u);
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & 0x10, 0u);
    EXPECT_EQ(store("GetRealTimeStatusStartFlag"), 1u);
}

TEST_F(Maintenance, OnlyAModelWhoseNameBeginsWithIJ09StartsTheTool)
{
    monitor("Plain", "LPT6:", "IJ-08");
    const fs::path folder = root.path() / "tool";
    writeTool(folder);
    setToolPath(folder.string());
    const Flags before = flags();
    EXPECT_EQ(runGap("LPT6:"), 0u);
    EXPECT_FALSE(startedIn(folder));
    EXPECT_EQ(flags(), before);
}

TEST_F(Maintenance, AnUnusablePathFailsClearlyAndGivesTheLoopsBack)
{
    monitor("Photo", "LPT2:", "IJ-09");
    writeTool(plat::windowsDir() / "RCTOOL");
    const Flags before = flags();

    setToolPath("/" + std::string(1023, 'a'));  // 1024 bytes: no room left for the terminating zero
    EXPECT_EQ(runGap("LPT2:"), 0u);
    EXPECT_NE(engine().gapFailure().find("1024 bytes"), std::string::npos) << engine().gapFailure();
    EXPECT_EQ(flags(), before);

    setToolPath((root.path() / "nowhere").string());
    EXPECT_EQ(runGap("LPT2:"), 0u);
    EXPECT_NE(engine().gapFailure().find("does not exist"), std::string::npos) << engine().gapFailure();
    EXPECT_EQ(flags(), before);

    const fs::path empty = root.path() / "empty";
    fs::create_directories(empty);
    setToolPath(empty.string());
    EXPECT_EQ(runGap("LPT2:"), 0u);
    EXPECT_NE(engine().gapFailure().find("no "), std::string::npos) << engine().gapFailure();
    EXPECT_EQ(flags(), before);
    EXPECT_FALSE(startedIn(plat::windowsDir() / "RCTOOL"));
}

TEST_F(Maintenance, WithoutAModelStringTheGapToolStopsTheEngine)
{
    monitor("Photo", "LPT2:", "IJ-09");
    writeTool(plat::windowsDir() / "RCTOOL");
    deleteValue(storeKey(), "IDMDL");
    EXPECT_EQ(runGap("LPT2:"), 0u);
    EXPECT_EQ(store("PrinterStFlag"), 9u);
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_FALSE(startedIn(plat::windowsDir() / "RCTOOL"));
}

TEST_F(Maintenance, TheBuiltToolSetsTheGapOfThePrinterWhileTheEngineWaits)
{
    monitor("Photo", "LPT2:", "IJ-09");
    const fs::path folder = root.path() / "tool";
    writeTool(folder, std::string("exec '") + TUNEUP_PROGRAM + "' --port LPT2: --value 7 --yes");
    setToolPath(folder.string());
    EXPECT_EQ(runGap("LPT2:"), 1u) << engine().gapFailure();
    EXPECT_EQ(simCount("LPT2:", "gap-settings"), 1);
    EXPECT_EQ(simCount("LPT2:", "gap-setting"), 7);
}

TEST_F(Maintenance, AStopOfTheEngineDoesNotWaitForTheUserToCloseTheTool)
{
    monitor("Photo", "LPT2:", "IJ-09");
    const fs::path folder = root.path() / "tool";
    writeTool(folder, kToolWaitingForGo);
    setToolPath(folder.string());
    ToolReleaser release{folder};
    ASSERT_EQ(engine().execGap("LPT2:"), 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return startedIn(folder).has_value(); }));

    engine().deleteStThreads();
    EXPECT_TRUE(threadsEnd());
    EXPECT_EQ(store("StRealThreadExistFlag").value_or(0) & 0x10, 0u);
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_FALSE(fs::exists(folder / "ended"));
}
