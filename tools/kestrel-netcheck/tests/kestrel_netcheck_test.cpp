// kestrel-netcheck against printers on vprinter's local ports.

#include <gtest/gtest.h>

#include <cstdlib>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace {

class KestrelNetcheck : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.ready()) << sim.output();
        ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);  // the program inherits it
    }
    static testsupport::ProgramRun netcheck(std::vector<std::string> args)
    {
        args.insert(args.begin(), NETCHECK_PROGRAM);
        return testsupport::runProgram(args);
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "DM-02"}]})"};
};

}  // namespace

TEST_F(KestrelNetcheck, PrintsTheResultAndTheDeviceIdAndExitsWithTheResult)
{
    auto run = netcheck({"LPT1:"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.out.find("result: 1 (reached: device ID read)"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("device ID: MFG:VELTA;MDL:DM-02;"), std::string::npos) << run.out;

    sim.must("LPT1:", "device-id MFG:VELTA;\\x1b[2J;");
    run = netcheck({"LPT1:"});
    EXPECT_NE(run.out.find("device ID: MFG:VELTA;?[2J;\n"), std::string::npos) << "no control bytes reach the terminal";
}

TEST_F(KestrelNetcheck, EachResultHasItsExitCode)
{
    EXPECT_EQ(netcheck({"FILE:"}).exitCode, 0);
    sim.must("LPT1:", "silent");
    auto silent = netcheck({"LPT1:"});
    EXPECT_EQ(silent.exitCode, 2);
    EXPECT_EQ(silent.out.find("device ID:"), std::string::npos) << silent.out;
    sim.must("LPT1:", "no-open");
    auto closed = netcheck({"LPT1:"});
    EXPECT_EQ(closed.exitCode, 3);
    EXPECT_NE(closed.out.find("the port did not open"), std::string::npos) << closed.out;
}

TEST_F(KestrelNetcheck, UsageErrorsAreNotResults)
{
    EXPECT_EQ(netcheck({}).exitCode, 64);
    EXPECT_EQ(netcheck({"LPT1:", "LPT2:"}).exitCode, 64);
    auto help = netcheck({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
}
