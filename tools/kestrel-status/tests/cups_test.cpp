// kestrel-status on the test run's private cupsd: a queue we cannot monitor (another backend, no PPD of
// ours) reports the scheduler's own state and reasons, read only.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "testsupport/run_program.h"
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
