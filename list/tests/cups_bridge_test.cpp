// The despooler bridge end to end: a CUPS queue on the velta backend (the private cupsd of the test
// run, the "cupsd" CTest fixture, whose velta backend is the real one) prints to a printer played by
// vprinter, and the bridge turns what the backend publishes into the printer's driver data.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "bridge_runner.h"
#include "facts/store_names.h"
#include "plat/base/local_time.h"
#include "plat/spool/spooler.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::waitUntil;
namespace value = facts::value;

namespace {

const fs::path kCupsd = KESTREL_CUPSD_DIR;

class CupsBridgeTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kCupsd / "cups.sock")) << "the cupsd fixture is not running in " << kCupsd;
        sim = std::make_unique<testsupport::Simulator>(VPRINTER_PROGRAM,
                                                       R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})");
        ASSERT_TRUE(sim->ready()) << sim->output();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        queue = std::string("b_") + info->name();
        useServer(kCupsd);
    }

    void TearDown() override
    {
        runner.reset();
        if (spooler) spooler->deletePrinter(queue);
        spooler.reset();
    }

    void useServer(const fs::path& dir)
    {
        server = dir;
        ::setenv("CUPS_SERVER", (dir / "cups.sock").c_str(), 1);
        ::setenv("CUPS_SERVERROOT", (dir / "etc").c_str(), 1);
    }

    std::string socket() const { return (root.path() / "run" / "vprinter-LPT1_.sock").string(); }

    // The queue on our backend and PPD, a spooler on the scheduler and the bridge over a second one.
    void prepare()
    {
        auto added = testsupport::runProgram({"/usr/sbin/lpadmin", "-h", (server / "cups.sock").string(), "-p", queue,
                                              "-E", "-v", "velta:" + socket(), "-P", VELTA_PPD_DIR "/pg03.ppd"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
        plat::spool::CupsOptions options;
        options.server = (server / "cups.sock").string();
        auto made = plat::spool::cups(testsupport::rootStore(), options);
        ASSERT_TRUE(made.ok()) << made.error().detail;
        spooler = std::move(made.value());
        auto forBridge = plat::spool::cups(testsupport::rootStore(), options);
        ASSERT_TRUE(forBridge.ok());
        bridgeSpooler = std::move(forBridge.value());
        runner = watchlist::BridgeRunner::start(*bridgeSpooler, testsupport::rootStore(), {500ms, 50ms});
        ASSERT_NE(runner, nullptr);
    }

    testsupport::ProgramRun print(const std::string& name, const std::string& bytes)
    {
        const fs::path doc = root.path() / name;
        std::ofstream(doc, std::ios::binary) << bytes;
        return testsupport::runProgram(
            {"/usr/bin/lp", "-h", (server / "cups.sock").string(), "-d", queue, "-o", "raw", doc.string()});
    }

    std::optional<plat::spool::QueueState> state()
    {
        auto states = spooler->queueStates();
        if (!states) return std::nullopt;
        for (const auto& s : states.value())
            if (s.name == queue) return s;
        return std::nullopt;
    }

    bool idle()
    {
        auto s = state();
        auto p = spooler->printer(queue);
        return s && !s->processing && p && p.value().jobs == 0;
    }

    // A driver-data value as the engine reads it, from the store.
    std::optional<std::string> data(const char* name)
    {
        auto store = plat::registry::Store::forCurrentRoot();
        if (!store) return std::nullopt;
        std::byte buffer[4096];
        std::uint32_t size = 0;
        const std::string key = std::string(facts::key::kPrinters) + queue + std::string(facts::key::kDriverData);
        if (store.value()->getValue(plat::registry::Root::LocalMachine, key, name, buffer, &size) !=
            plat::registry::Status::Ok) {
            return std::nullopt;
        }
        return std::string(reinterpret_cast<const char*>(buffer), size);
    }
    std::optional<std::uint32_t> dword(const char* name)
    {
        auto bytes = data(name);
        if (!bytes || bytes->size() != 4) return std::nullopt;
        std::uint32_t v = 0;
        std::memcpy(&v, bytes->data(), 4);
        return v;
    }
    bool flagsAre(std::uint32_t v)
    {
        return waitUntil([&] { return dword(value::kDespoolerRunFlag) == v && dword(value::kDespoolerExistFlag) == v; },
                         30s);
    }

    // A first job that prints through, so the printer has its status reports on; then the printer
    // takes nothing more, and a second job stays printing until heal.
    void holdAPrintingJob()
    {
        auto first = print("first.bin", "FIRST-JOB-BYTES");
        ASSERT_EQ(first.exitCode, 0) << first.err;
        ASSERT_TRUE(
            waitUntil([&] { return sim->must("LPT1:", "log").find("FIRST-JOB-BYTES") != std::string::npos; }, 30s))
            << sim->must("LPT1:", "log");
        ASSERT_TRUE(waitUntil([&] { return idle(); }, 30s));
        sim->must("LPT1:", "busy 600000");
        auto second = print("second.bin", "SECOND-JOB-BYTES");
        ASSERT_EQ(second.exitCode, 0) << second.err;
        ASSERT_TRUE(waitUntil(
            [&] {
                auto s = state();
                return s && s->processing && watchlist::parseBackendAlert(s->alert).has_value();
            },
            30s));
    }

    std::unique_ptr<testsupport::Simulator> sim;
    std::string queue;
    fs::path server;
    std::unique_ptr<plat::spool::CupsSpooler> spooler, bridgeSpooler;
    std::unique_ptr<watchlist::BridgeRunner> runner;  // ends before the spoolers above
};

}  // namespace

TEST_F(CupsBridgeTest, APrintingJobDrivesTheDespoolerValuesAndTheirEndTakesThemBack)
{
    prepare();
    holdAPrintingJob();

    // While it prints: the backend's alert, and the despooler's values written from it.
    ASSERT_TRUE(flagsAre(1));
    EXPECT_EQ(dword(value::kDespoolerIntervalTime), 60u);
    EXPECT_EQ(dword(value::kPrinterStFlag), 0u);
    EXPECT_NE(data(value::kRealTimeStatusStrings).value_or("").find("STATUS CODE="), std::string::npos);
    EXPECT_NE(data(value::kDeviceIDStrings).value_or("").find("MFG:VELTA;MDL:PG-03;"), std::string::npos);
    EXPECT_EQ(dword(value::kDeviceIDLength), data(value::kDeviceIDStrings).value_or("").size());
    // The alert's time in local seconds, as the engine counts its freshness.
    const auto access = static_cast<std::int64_t>(dword(value::kDespoolerLastAccessTime).value_or(0));
    EXPECT_LE(std::abs(access - plat::localEpochSeconds()), 60);

    // The backend's heartbeat raises no event; the alert is still seen to move on.
    const auto first = watchlist::parseBackendAlert(state()->alert);
    ASSERT_TRUE(first);
    EXPECT_TRUE(waitUntil(
        [&] {
            auto now = watchlist::parseBackendAlert(state().value_or(plat::spool::QueueState{}).alert);
            return now && now->sequence > first->sequence;
        },
        30s));

    // The printer takes the job: it ends, the flags go back to 0 and the backend's reasons and alert
    // are gone from the queue.
    sim->must("LPT1:", "heal");
    ASSERT_TRUE(waitUntil([&] { return idle(); }, 30s));
    EXPECT_TRUE(flagsAre(0));
    EXPECT_NE(sim->must("LPT1:", "log").find("SECOND-JOB-BYTES"), std::string::npos);
    auto after = state();
    ASSERT_TRUE(after);
    EXPECT_TRUE(after->alert.empty()) << after->alert;
    EXPECT_TRUE(after->reasons.empty()) << after->reasons.front();
}

TEST_F(CupsBridgeTest, AQueueDeletedWhileItPrintsIsReleased)
{
    prepare();
    holdAPrintingJob();
    ASSERT_TRUE(flagsAre(1));

    auto removed = testsupport::runProgram({"/usr/sbin/lpadmin", "-h", (kCupsd / "cups.sock").string(), "-x", queue});
    ASSERT_EQ(removed.exitCode, 0) << removed.err;
    ASSERT_TRUE(waitUntil([&] { return !state().has_value(); }, 30s));
    // Its printer data stays in the store, with nothing left claiming a despooler.
    EXPECT_TRUE(flagsAre(0));
    sim->must("LPT1:", "heal");
}

// A scheduler of this test's own, restarted while the bridge speaks for a printing queue.
TEST_F(CupsBridgeTest, ASchedulerRestartUnderTheBridgeLeavesConsistentFlags)
{
    const fs::path own = root.path() / "cupsd";
    // The backend's periods of the shared scheduler, for this one too.
    ::setenv("VELTA_POLL_MS", "200", 1);
    ::setenv("VELTA_HEARTBEAT_MS", "1000", 1);
    auto started = testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "start", own.string(), VELTA_BACKEND});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    struct Stop {
        fs::path dir;
        ~Stop() { testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "stop", dir.string()}); }
    } stop{own};
    useServer(own);
    prepare();
    holdAPrintingJob();
    ASSERT_TRUE(flagsAre(1));

    const std::uint64_t passes = runner->passes();
    auto restarted = testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "restart", own.string()});
    ASSERT_EQ(restarted.exitCode, 0) << restarted.err;
    ASSERT_TRUE(waitUntil([&] { return runner->passes() > passes + 2 && state().has_value(); }, 30s));
    // Whether the scheduler takes the job up again or not, the flags say what the queue does.
    EXPECT_TRUE(waitUntil(
        [&] {
            auto s = state();
            const bool printing = s && s->processing && watchlist::parseBackendAlert(s->alert).has_value();
            return dword(value::kDespoolerRunFlag) == (printing ? 1u : 0u);
        },
        30s));

    sim->must("LPT1:", "heal");
    ASSERT_TRUE(waitUntil([&] { return idle(); }, 30s));
    EXPECT_TRUE(flagsAre(0));
    // The bridge's end takes nothing back that is still claimed, and does not fail on a gone scheduler.
    runner.reset();
    spooler.reset();
}

TEST_F(CupsBridgeTest, TheEndOfTheBridgeReleasesEveryQueue)
{
    prepare();
    holdAPrintingJob();
    ASSERT_TRUE(flagsAre(1));
    runner.reset();  // the list ends while the job still prints
    EXPECT_EQ(dword(value::kDespoolerRunFlag), 0u);
    EXPECT_EQ(dword(value::kDespoolerExistFlag), 0u);
    sim->must("LPT1:", "heal");
    EXPECT_TRUE(waitUntil([&] { return idle(); }, 30s));
}

TEST(BridgeRunner, RunsOnlyOverCups)
{
    testsupport::TempRoot root;
    auto embedded = plat::spool::embedded(testsupport::rootStore());
    ASSERT_TRUE(embedded.ok());
    EXPECT_EQ(watchlist::BridgeRunner::start(*embedded.value(), testsupport::rootStore()), nullptr);
}

TEST(BridgeQueues, AQueueIsOursWhenItsDeviceUriIsVelta)
{
    plat::spool::QueueState ours, other;
    ours.name = "a";
    ours.deviceUri = "velta:/dev/usb/lp0";
    ours.processing = true;
    ours.alert = "velta;seq=1;t=2;st=41";
    ours.alertDescription = "MFG:VELTA;";
    other.name = "b";
    other.deviceUri = "usb://VELTA/PG-03";
    const auto queues = watchlist::bridgeQueues({ours, other});
    ASSERT_EQ(queues.size(), 2u);
    EXPECT_TRUE(queues[0].veltaBackend);
    EXPECT_TRUE(queues[0].processing);
    EXPECT_EQ(queues[0].alert, ours.alert);
    EXPECT_EQ(queues[0].deviceId, "MFG:VELTA;");
    EXPECT_FALSE(queues[1].veltaBackend);
}
