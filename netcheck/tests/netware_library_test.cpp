// librover01.so on NetWare paths, against the simulator's network interfaces.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plat/services/services.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace {

using CheckPrinter = std::int32_t (*)(const char*, char*);
using UseServices = void (*)(plat::Services*);

// Two interfaces on file server FS1: PS1's printer 0 offers the extended request, PS2's printer 0 not.
constexpr const char* kPrinters = R"({"printers": [{"port": "LPT1:", "model": "PG-03"}],
  "netware": [{"server": "FS1", "name": "PS1", "number": 0, "model": "PG-04", "extended": true},
              {"server": "FS1", "name": "PS2", "number": 0, "model": "PG-03", "extended": false}]})";

class Rover01Netware : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.ready()) << sim.output();
        spoolctl({"add-netware-queue", "FS1", "QUEUE1", "--print-server", "PS1", "--printers", "0"});
        spoolctl({"add-netware-queue", "FS1", "QUEUE2", "--print-server", "PS2", "--printers", "0"});
        library = ::dlopen(ROVER01_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << ::dlerror();
        check = reinterpret_cast<CheckPrinter>(::dlsym(library, "Rover01CheckPrinter"));
        ASSERT_NE(check, nullptr);
        // The test's root, the library's waits at a fiftieth; kept for the life of the process, as the
        // library keeps what it is handed.
        auto use = reinterpret_cast<UseServices>(::dlsym(library, "Rover01UseServices"));
        ASSERT_NE(use, nullptr);
        static const plat::ScaledClock fast(0.02);
        use(new plat::Services(testsupport::rootStore(), {&fast, {}, {}}));
    }
    static void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    std::string deviceId() const { return id.data(); }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kPrinters};
    void* library = nullptr;
    CheckPrinter check = nullptr;
    std::array<char, 2048> id{};
};

}  // namespace

TEST_F(Rover01Netware, AQueuePathIsReadOverTheNetwork)
{
    EXPECT_EQ(check("\\\\FS1\\QUEUE1", id.data()), 1);
    EXPECT_NE(deviceId().find("MDL:PG-04;"), std::string::npos) << deviceId();
}

TEST_F(Rover01Netware, AnInterfaceWithoutTheExtendedRequestAnswers4)
{
    EXPECT_EQ(check("\\\\FS1\\QUEUE2", id.data()), 4);
    EXPECT_NE(deviceId().find("MDL:PG-03;"), std::string::npos) << deviceId();
}

TEST_F(Rover01Netware, ACapturedLptPortIsCheckedAsItsQueue)
{
    spoolctl({"capture", "LPT1", "FS1", "QUEUE1"});
    EXPECT_EQ(check("LPT1:", id.data()), 1);
    EXPECT_NE(deviceId().find("MDL:PG-04;"), std::string::npos) << "the queue's printer, not LPT1:'s: " << deviceId();
}

TEST_F(Rover01Netware, ASecondNetwareCallInTheProcessAnswers0)
{
    EXPECT_EQ(check("\\\\FS1\\QUEUE1", id.data()), 1);
    EXPECT_EQ(check("\\\\FS1\\QUEUE2", id.data()), 0);
    EXPECT_EQ(deviceId(), "");
    EXPECT_EQ(check("LPT1:", id.data()), 1) << "local ports are still checked";
}

TEST_F(Rover01Netware, ASilentInterfaceAnswers2AndTheNextNetwareCall0)
{
    sim.must("NET:PS1/0", "silent");
    EXPECT_EQ(check("\\\\FS1\\QUEUE1", id.data()), 2);
    sim.must("NET:PS1/0", "heal");
    EXPECT_EQ(check("\\\\FS1\\QUEUE1", id.data()), 0);
}
