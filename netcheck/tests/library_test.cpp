// librover01.so as a caller loads it, against printers on vprinter's local ports.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "plat/services/services.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace {

using CheckPrinter = std::int32_t (*)(const char*, char*);
using UseServices = void (*)(plat::Services*);
using Wep = std::int32_t (*)(std::int32_t);

class Rover01Library : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.ready()) << sim.output();
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
    // The library stays loaded: its state is the process's, as for any caller.

    std::string deviceId() const { return id.data(); }

    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [
        {"port": "LPT1:", "model": "PG-03"},
        {"port": "LPT2:", "model": "IJ-09"}]})"};
    void* library = nullptr;
    CheckPrinter check = nullptr;
    // A guard band past the 2048 bytes the library may write.
    std::array<char, 2048 + 64> id{};
};

}  // namespace

TEST_F(Rover01Library, ExportsItsOwnFunctionsAndNotTheEngines)
{
    auto wep = reinterpret_cast<Wep>(::dlsym(library, "WEP"));
    ASSERT_NE(wep, nullptr);
    EXPECT_EQ(wep(12345), 1);
    // The engine is not inside it, and does not come with it.
    for (const char* internal : {"StCheckConnectPrinter", "CreateVigilmonInitialize"}) {
        EXPECT_EQ(::dlsym(library, internal), nullptr) << internal;
    }
}

// That no port is opened for it is checked with fake ports (rover01_check_test).
TEST_F(Rover01Library, FileAnswers0)
{
    EXPECT_EQ(check("FILE:", id.data()), 0);
    EXPECT_EQ(deviceId(), "");
}

TEST_F(Rover01Library, ALocalPortAnswers1WithTheDeviceId)
{
    EXPECT_EQ(check("LPT1:", id.data()), 1);
    EXPECT_EQ(deviceId(), "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;CLS:PRINTER;DES:VELTA PG-03;");
    EXPECT_EQ(check("LPT2:", id.data()), 1) << "calls for local ports are independent";
    EXPECT_NE(deviceId().find("MDL:IJ-09;"), std::string::npos) << deviceId();
}

TEST_F(Rover01Library, APortThatDoesNotOpenAnswers3)
{
    sim.must("LPT1:", "no-open");
    EXPECT_EQ(check("LPT1:", id.data()), 3);
    EXPECT_EQ(deviceId(), "");
    sim.must("LPT1:", "heal");
    EXPECT_EQ(check("LPT1:", id.data()), 1);
}

TEST_F(Rover01Library, ASilentPortAnswers2)
{
    sim.must("LPT2:", "silent");
    EXPECT_EQ(check("LPT2:", id.data()), 2);
    EXPECT_EQ(deviceId(), "");
}

TEST_F(Rover01Library, ALongDeviceIdStaysInsideTheBuffer)
{
    id.fill('#');
    sim.must("LPT1:", "device-id " + std::string(3000, 'D'));
    EXPECT_EQ(check("LPT1:", id.data()), 1);
    EXPECT_LT(deviceId().size(), 2048u);
    EXPECT_EQ(id[2048], '#') << "written past the 2048 bytes";
}

TEST_F(Rover01Library, NullArgumentsAnswer0)
{
    EXPECT_EQ(check(nullptr, id.data()), 0);
    EXPECT_EQ(check("LPT1:", nullptr), 0);
}
