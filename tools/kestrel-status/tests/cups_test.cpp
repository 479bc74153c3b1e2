// kestrel-status on the test run's private cupsd: a queue we cannot monitor (another backend, no PPD of
// ours) reports the scheduler's own state and reasons, read only.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const fs::path kCupsd = KESTREL_CUPSD_DIR;

class KestrelStatusCups : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kCupsd / "cups.sock")) << "the cupsd fixture is not running in " << kCupsd;
        ::setenv("CUPS_SERVER", (kCupsd / "cups.sock").c_str(), 1);
        ::setenv("CUPS_SERVERROOT", (kCupsd / "etc").c_str(), 1);
        ::setenv("KESTREL_SPOOLER", "cups", 1);
        testsupport::rootStore();  // a root where something has run: kestrel-status reads it
        const auto added = cups("/usr/sbin/lpadmin", {"-p", queue, "-E", "-v", "testfile:/dev/null"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }
    void TearDown() override { cups("/usr/sbin/lpadmin", {"-x", queue}); }

    testsupport::ProgramRun cups(const std::string& program, std::vector<std::string> args)
    {
        args.insert(args.begin(), {program, "-h", (kCupsd / "cups.sock").string()});
        return testsupport::runProgram(args);
    }

    // The queue's object in a --json run.
    json printer()
    {
        const auto run = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"});
        const json doc = json::parse(run.out, nullptr, false);
        EXPECT_FALSE(doc.is_discarded()) << run.out << run.err;
        if (doc.is_discarded()) return {};
        EXPECT_EQ(doc.at("spooler"), "CUPS");
        for (const json& p : doc.at("printers")) {
            if (p.at("name") == queue) return p;
        }
        ADD_FAILURE() << "no " << queue << " in " << run.out;
        return {};
    }

    std::string queue = "s_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
};

}  // namespace

TEST_F(KestrelStatusCups, AQueueWeDoNotMonitorShowsTheSchedulersOwnState)
{
    json p = printer();
    EXPECT_EQ(p.at("state"), "not-monitored");
    EXPECT_TRUE(p.at("slot").is_null());
    EXPECT_EQ(p.at("reasons"), json::array()) << "ours are for printers we monitor";
    ASSERT_TRUE(p.at("scheduler").is_object()) << p;
    EXPECT_EQ(p.at("scheduler").at("state"), "idle");
    EXPECT_EQ(p.at("scheduler").at("reasons"), json::array());

    const auto disabled = cups("/usr/sbin/cupsdisable", {"-r", "maintenance", queue});
    ASSERT_EQ(disabled.exitCode, 0) << disabled.err;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        p = printer();
        return p.at("scheduler").is_object() && p.at("scheduler").at("state") == "stopped";
    })) << p;
    EXPECT_EQ(p.at("scheduler").at("reasons"), json::array({"paused"}));

    const auto metrics = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--prometheus"});
    EXPECT_NE(metrics.out.find("kestrel_printer_monitored{printer=\"" + queue + "\"} 0\n"), std::string::npos)
        << metrics.out;
}

// A queue on our backend that no list monitors: the marker levels its backend published while a job
// printed are the scheduler's, and kestrel-status shows them.
TEST_F(KestrelStatusCups, TheMarkerLevelsTheBackendPublishedShowForAQueueNotMonitored)
{
    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})"};
    ASSERT_TRUE(sim.ready()) << sim.output();
    sim.must("LPT1:", "toner 40");
    const std::string ours = queue + "_velta";
    const std::string socket = (root.path() / "run" / "vprinter-LPT1_.sock").string();
    const auto added =
        cups("/usr/sbin/lpadmin", {"-p", ours, "-E", "-v", "velta:" + socket, "-P", VELTA_PPD_DIR "/pg03.ppd"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    const fs::path doc = root.path() / "job";
    std::ofstream(doc) << "A-JOB";
    const auto printed = cups("/usr/bin/lp", {"-d", ours, "-o", "raw", doc.string()});
    EXPECT_EQ(printed.exitCode, 0) << printed.err;

    json p;
    const bool shown = testsupport::waitUntil(
        [&] {
            const auto run = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"});
            const json doc = json::parse(run.out, nullptr, false);
            if (doc.is_discarded()) return false;
            for (const json& printer : doc.at("printers")) {
                if (printer.at("name") != ours) continue;
                p = printer;
                return printer.at("scheduler").is_object() && !printer.at("scheduler").at("markers").empty();
            }
            return false;
        },
        std::chrono::seconds(60));
    cups("/usr/sbin/lpadmin", {"-x", ours});
    ASSERT_TRUE(shown) << p;
    EXPECT_EQ(p.at("state"), "not-monitored");
    const json& toner = p.at("scheduler").at("markers").at(0);
    EXPECT_EQ(toner.at("name"), "Toner");
    EXPECT_EQ(toner.at("type"), "toner");
    EXPECT_EQ(toner.at("level"), 40);
}
