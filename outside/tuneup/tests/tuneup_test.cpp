// TUNEUP.EXE run as the engine and a person would run it: the gap setting reaches the simulated IJ-09,
// the printer's refusal or silence and bad arguments are reported in the exit status.

#include <gtest/gtest.h>

#include "gap_setting.h"
#include "plat/spool/spooler.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace {

constexpr const char* kPrinters = R"({"printers": [
    {"port": "LPT2:", "model": "IJ-09"},
    {"port": "LPT6:", "model": "IJ-08"}]})";

class Tuneup : public testsupport::RootTest {
protected:
    void SetUp() override { ASSERT_TRUE(sim.ready()) << sim.output(); }

    testsupport::ProgramRun tuneup(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), TUNEUP_PROGRAM);
        return testsupport::runProgram(arguments);
    }
    int simCount(const std::string& port, const std::string& name) const
    {
        const std::string answer = sim.must(port, "actions");
        const auto at = answer.find(name + " ");
        return at == std::string::npos ? -1 : std::stoi(answer.substr(at + name.size() + 1));
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kPrinters};
};

}  // namespace

TEST_F(Tuneup, YesSendsTheGapSettingToThePrinter)
{
    auto run = tuneup({"--port", "LPT2:", "--value", "7", "--yes"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(simCount("LPT2:", "gap-settings"), 1);
    EXPECT_EQ(simCount("LPT2:", "gap-setting"), 7);
    // The bytes on the wire, as the printer's log shows them: remote mode "GA" 02 00 00 07.
    EXPECT_NE(sim.must("LPT2:", "log").find("474102000007"), std::string::npos) << sim.must("LPT2:", "log");
}

TEST_F(Tuneup, WithoutAPortItUsesTheSpoolersIJ09)
{
    plat::Services::Options options;
    options.spooler = plat::spool::Kind::Embedded;
    plat::Services services(testsupport::rootStore(), options);
    auto spooler = services.spooler();
    ASSERT_TRUE(spooler.ok());
    spooler.value()->addPort("LPT2:", std::nullopt);
    spooler.value()->addDriver({"VELTA IJ-09", "KIJ09.DRV", ""});
    ASSERT_TRUE(spooler.value()->addPrinter({"Photo", "LPT2:", "VELTA IJ-09"}).ok());
    auto printers = tuneup::gapPrinters(services);
    ASSERT_EQ(printers.size(), 1u);
    EXPECT_EQ(printers[0].port, "LPT2:");

    auto run = tuneup({"--yes"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(simCount("LPT2:", "gap-setting"), tuneup::kDefaultSetting);
    EXPECT_EQ(simCount("LPT2:", "gap-settings"), 1);
}

TEST_F(Tuneup, APrinterThatDoesNotTakeTheSettingOrCannotBeReachedIsAFailure)
{
    // An IJ-08 does not answer the command.
    auto silent = tuneup({"--port", "LPT6:", "--yes", "--wait-ms", "300"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_NE(silent.err.find("did not answer"), std::string::npos) << silent.err;
    // A port the system does not know.
    auto unknown = tuneup({"--port", "LPT9:", "--yes"});
    EXPECT_EQ(unknown.exitCode, 3) << unknown.err;
    // No IJ-09 in the spooler and no port given.
    EXPECT_EQ(tuneup({"--yes"}).exitCode, 3);
}

TEST_F(Tuneup, BadArgumentsAreUsageErrorsAndSendNothing)
{
    for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
             {"--value", "0", "--yes"}, {"--value", "10", "--yes"}, {"--value", "5x"}, {"--port"}, {"--frobnicate"}}) {
        bad.insert(bad.begin(), {"--port", "LPT2:"});
        auto run = tuneup(bad);
        EXPECT_EQ(run.exitCode, 2) << bad.back();
    }
    EXPECT_EQ(simCount("LPT2:", "gap-settings"), 0);
    auto help = tuneup({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--value N"), std::string::npos);
}
