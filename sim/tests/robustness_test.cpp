// vprinter keeps serving through bad input: every mistake gets a clear error and the other printers
// go on answering.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "serving.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace sim = plat::port::sim;

namespace {

int connectTo(const std::string& port)
{
    auto target = plat::port::portTarget(testsupport::rootStore(), port);
    if (!target) return -1;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, target->substr(4).c_str(), sizeof address.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

class Robustness : public testsupport::RootTest {
protected:
    void SetUp() override { ASSERT_TRUE(sim.ready()) << sim.output(); }

    void expectServing() { simtest::expectServing(sim); }

    testsupport::Simulator sim{VPRINTER_PROGRAM, simtest::kTwoPrinters};
};

testsupport::ProgramRun runConfig(const std::string& config)
{
    const std::string file = std::string(std::getenv("KESTREL_ROOT")) + "/bad.json";
    std::ofstream(file) << config;
    return testsupport::runProgram({VPRINTER_PROGRAM, "run", file});
}

}  // namespace

TEST(VprinterConfig, AMalformedConfigIsRefusedWithAReason)
{
    testsupport::TempRoot root;
    struct Case {
        const char* config;
        const char* says;
    } cases[] = {
        {"{not json", "not valid JSON"},
        {R"({"printer": []})", "\"printers\" array"},
        {R"({"printers": []})", "no printers"},
        {R"({"printers": [{"port": "LPT1:"}]})", "\"port\" and \"model\""},
        {R"({"printers": [{"port": "LPT1:", "model": "XX-99"}]})", "unknown model \"XX-99\""},
        {R"({"printers": [{"port": "LPT1:", "model": "PG-03"}, {"port": "lpt1:", "model": "IJ-09"}]})", "given twice"},
        {R"({"printers": [{"port": "LPT1:", "model": "PG-03", "state": "melting"}]})", "unknown command"},
        {R"({"printers": [{"port": "LPT1:", "model": "PG-03", "device_id": 7}]})", "\"device_id\" must be a string"},
    };
    for (const auto& c : cases) {
        auto run = runConfig(c.config);
        EXPECT_EQ(run.exitCode, 2) << c.config;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.config << " said: " << run.err;
    }
    auto missing = testsupport::runProgram({VPRINTER_PROGRAM, "run", "/nonexistent.json"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), "LPT1:"), std::nullopt)
        << "nothing was entered in the port map";
}

TEST_F(Robustness, UnknownPortsAndCommandsAreRefusedAndChangeNothing)
{
    const std::string before = sim.must("LPT1:", "show");
    auto unknownPort = sim.control("LPT7:", "ready");
    EXPECT_EQ(unknownPort.exitCode, 1);
    EXPECT_NE(unknownPort.err.find("LPT7:"), std::string::npos);
    auto unknownCommand = sim.control("LPT1:", "explode now");
    EXPECT_EQ(unknownCommand.exitCode, 1);
    EXPECT_NE(unknownCommand.err.find("unknown command \"explode\""), std::string::npos) << unknownCommand.err;
    EXPECT_NE(unknownCommand.err.find("the commands are: ready printing stopped"), std::string::npos)
        << unknownCommand.err;
    auto wrongFamily = sim.control("LPT1:", "ink black=3");
    EXPECT_EQ(wrongFamily.exitCode, 1);
    EXPECT_EQ(sim.must("LPT1:", "show"), before);
    EXPECT_EQ(testsupport::runProgram({VPRINTER_PROGRAM, "ctl", "LPT1:"}).exitCode, 2);
    expectServing();
}

TEST(VprinterHelp, ListsEveryCommandOfThePrinters)
{
    auto help = testsupport::runProgram({VPRINTER_PROGRAM, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char* line : {"\n  paper-width N ", "\n  card-name A|B TEXT ", "\n  heal ", "\n  wrong-sequence"}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }
}

TEST_F(Robustness, AClientThatLeavesMidFrameOrSendsAnOversizedFrameHarmsNoOne)
{
    int half = connectTo("LPT1:");
    ASSERT_GE(half, 0);
    ASSERT_EQ(::send(half, "W\x10\x00", 3, 0), 3);  // a header cut short
    ::close(half);

    int huge = connectTo("LPT1:");
    ASSERT_GE(huge, 0);
    const unsigned char header[5] = {'W', 0xff, 0xff, 0xff, 0x7f};
    ASSERT_EQ(::send(huge, header, sizeof header, 0), 5);
    char answer;
    EXPECT_LE(::recv(huge, &answer, 1, 0), 0) << "the connection is closed";
    ::close(huge);

    int early = connectTo("LPT2:");
    ASSERT_GE(early, 0);
    ASSERT_TRUE(sim::sendFrame(early, static_cast<std::uint8_t>(sim::Op::Read), {}));
    auto refused = sim::receiveFrame(early);
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->code, static_cast<std::uint8_t>(sim::Status::BadRequest)) << "a read before the open";
    ::close(early);

    expectServing();
}

TEST_F(Robustness, TheLogShowsTheBytesInOrderAndResets)
{
    auto port = plat::port::openPort(testsupport::rootStore(), "LPT2:");
    ASSERT_TRUE(port.ok());
    const std::string first = "\x1b@", second = "AB";
    port.value()->write(std::as_bytes(std::span(first.data(), first.size())));
    port.value()->write(std::as_bytes(std::span(second.data(), second.size())));
    EXPECT_EQ(sim.must("LPT2:", "log"), "0 2 1B40 |.@|\n1 2 4142 |AB|\n");
    sim.must("LPT2:", "reset-log");
    EXPECT_EQ(sim.must("LPT2:", "log"), "");
}
