// vprinter cannot be worn out: clients that hang up while they wait, clients that never send, more
// clients than it has descriptors for, a config that never ends, a printer that never answers its
// controller. Each case counts what the vprinter process holds in /proc, never how long it takes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "plat/base/system_root.h"
#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "serving.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;
namespace sim = plat::port::sim;

namespace {

constexpr const char* kConfig = simtest::kTwoPrinters;

std::string socketOf(const std::string& port)
{
    auto target = plat::port::portTarget(testsupport::rootStore(), port);
    return target ? target->substr(4) : std::string();
}

// A client of a simulated port; non-blocking connects, so a full backlog refuses instead of waiting.
int connectTo(const std::string& path, bool nonBlocking = false)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void closeAll(std::vector<int>& fds)
{
    for (int fd : fds) ::close(fd);
    fds.clear();
}

// The vprinter this test started: the child of this process by that name.
pid_t simulatorPid()
{
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(entry.path() / "stat");
        std::string stat;
        std::getline(in, stat);
        const auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (stat.substr(open + 1, close - open - 1) == "vprinter" && parent == ::getpid()) return std::stoi(name);
    }
    return -1;
}

std::size_t entriesIn(const fs::path& folder)
{
    std::error_code error;
    std::size_t n = 0;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) ++n;
    return n;
}

class Limits : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.ready()) << sim.output();
        pid = simulatorPid();
        ASSERT_GT(pid, 0);
        expectServing();
        fds = openDescriptors();
        threads = entriesIn("/proc/" + std::to_string(pid) + "/task");
    }
    void TearDown() override { closeAll(clients); }

    std::size_t openDescriptors() const { return entriesIn("/proc/" + std::to_string(pid) + "/fd"); }
    std::size_t runningThreads() const { return entriesIn("/proc/" + std::to_string(pid) + "/task"); }

    void expectServing() { simtest::expectServing(sim); }

    // Descriptors of vprinter come back to what it held at the start, give or take a few.
    void expectDescriptorsReleased()
    {
        EXPECT_TRUE(testsupport::waitUntil([&] { return openDescriptors() <= fds + 2; }))
            << openDescriptors() << " descriptors open, " << fds << " at the start";
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kConfig};
    pid_t pid = -1;
    std::size_t fds = 0, threads = 0;
    std::vector<int> clients;
};

testsupport::ProgramRun runWithConfigFile(const std::string& file)
{
    // Standard input closes at once, so a config that is served ends right after "ready".
    return testsupport::runProgram({VPRINTER_PROGRAM, "run", file, "--until-stdin-closes"});
}

}  // namespace

TEST_F(Limits, ClientsThatHangUpWhileTheirReadWaitsLeaveNothingBehind)
{
    constexpr int kClients = 300;
    const std::string path = socketOf("LPT1:");
    for (int i = 0; i < kClients; ++i) {
        int fd = connectTo(path);
        ASSERT_GE(fd, 0) << "client " << i;
        clients.push_back(fd);
        ASSERT_TRUE(sim::sendFrame(fd, static_cast<std::uint8_t>(sim::Op::Open), sim::asBytes("LPT1:")));
        auto opened = sim::receiveFrame(fd);
        ASSERT_TRUE(opened.has_value());
        ASSERT_EQ(opened->code, static_cast<std::uint8_t>(sim::Status::Ok));
        // Nothing is readable before the status enable: the read would wait for some 49 days.
        std::vector<std::byte> read;
        sim::putU32(read, 2047);
        sim::putU32(read, 0);
        sim::putU32(read, 0xFFFFFFFFu);
        ASSERT_TRUE(sim::sendFrame(fd, static_cast<std::uint8_t>(sim::Op::Read), read));
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return openDescriptors() >= kClients; }))
        << "every client is connected: " << openDescriptors();
    EXPECT_LE(runningThreads(), threads) << "waiting reads hold no threads";
    expectServing();

    closeAll(clients);
    expectDescriptorsReleased();
    EXPECT_LE(runningThreads(), threads);
    expectServing();
}

TEST_F(Limits, ClientsThatNeverSendHoldNoThreadAndBlockNoOne)
{
    constexpr int kClients = 400;
    for (int i = 0; i < kClients; ++i) {
        int fd = connectTo(socketOf(i % 2 == 0 ? "LPT1:" : "LPT2:"));
        ASSERT_GE(fd, 0) << "client " << i;
        clients.push_back(fd);
    }
    // One more that leaves half a request behind.
    int half = connectTo(socketOf("LPT2:"));
    ASSERT_GE(half, 0);
    clients.push_back(half);
    ASSERT_EQ(::send(half, "R\x0c\x00", 3, MSG_NOSIGNAL), 3);

    ASSERT_TRUE(testsupport::waitUntil([&] { return openDescriptors() >= kClients; }))
        << "every client is connected: " << openDescriptors();
    EXPECT_LE(runningThreads(), threads);
    expectServing();

    closeAll(clients);
    expectDescriptorsReleased();
    expectServing();
}

TEST_F(Limits, RunningOutOfDescriptorsNeverEndsServing)
{
    // A descriptor limit far below what the clients below take.
    const rlimit few{48, 48};
    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &few, nullptr), 0) << std::strerror(errno);
    const std::string path = socketOf("LPT1:");
    for (int i = 0; i < 200; ++i) {
        int fd = connectTo(path, true);
        if (fd >= 0) clients.push_back(fd);
    }
    ASSERT_GT(clients.size(), 48u);
    // The newest client is answered: room is made at the expense of clients that never asked.
    EXPECT_TRUE(testsupport::waitUntil([&] { return sim.control("LPT1:", "show").exitCode == 0; }))
        << sim.control("LPT1:", "show").err;
    EXPECT_LE(openDescriptors(), 48u);
    EXPECT_LE(runningThreads(), threads);

    closeAll(clients);
    expectDescriptorsReleased();
    expectServing();
}

TEST(VprinterUmask, SocketsMadeUnderAnOpenUmaskAreStillPrivate)
{
    testsupport::TempRoot root;
    const mode_t was = ::umask(0);
    testsupport::Simulator open{VPRINTER_PROGRAM, kConfig};
    ::umask(was);
    ASSERT_TRUE(open.ready()) << open.output();
    for (const char* port : {"LPT1:", "LPT2:"}) {
        struct stat info {};
        ASSERT_EQ(::stat(socketOf(port).c_str(), &info), 0) << port;
        EXPECT_TRUE(S_ISSOCK(info.st_mode));
        EXPECT_EQ(info.st_mode & 07777, 0600u) << port;
    }
    EXPECT_EQ(open.must("LPT1:", "ready"), "ok\n");
}

TEST(VprinterConfigFile, OnlyARegularFileOfBoundedSizeIsRead)
{
    testsupport::TempRoot root;
    const std::string json = R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})";
    const std::string largest = (root.path() / "largest.json").string();
    std::ofstream(largest) << json << std::string((1 << 20) - json.size(), ' ');
    auto served = runWithConfigFile(largest);
    EXPECT_EQ(served.exitCode, 0) << served.err;
    EXPECT_NE(served.out.find("vprinter: ready"), std::string::npos) << "a config of 1 MiB is served";

    const std::string tooLarge = (root.path() / "too-large.json").string();
    std::ofstream(tooLarge) << json << std::string((1 << 20) - json.size() + 1, ' ');
    auto refused = runWithConfigFile(tooLarge);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("too large"), std::string::npos) << refused.err;

    auto device = runWithConfigFile("/dev/zero");
    EXPECT_EQ(device.exitCode, 2);
    EXPECT_NE(device.err.find("not a regular file"), std::string::npos) << device.err;

    // A pipe nobody writes to neither holds vprinter nor is read.
    const std::string fifo = (root.path() / "config.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto pipe = runWithConfigFile(fifo);
    EXPECT_EQ(pipe.exitCode, 2);
    EXPECT_NE(pipe.err.find("not a regular file"), std::string::npos) << pipe.err;

    auto folder = runWithConfigFile(root.path().string());
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), "LPT1:"), std::nullopt) << "nothing refused was served";
}

// A listening socket entered in the port map as a simulated port, that vprinter does not serve.
int fakePrinter(const std::string& port, const std::string& name)
{
    const std::string path = (plat::runDir() / name).string();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 4) != 0 ||
        !plat::port::mapPort(testsupport::rootStore(), port, "sim:" + path)) {
        ::close(listener);
        return -1;
    }
    return listener;
}

TEST(VprinterCtl, GivesUpOnAPrinterThatNeverAnswers)
{
    testsupport::TempRoot root;
    // Connected, the request taken by the kernel, and never an answer.
    int silent = fakePrinter("LPT5:", "silent.sock");
    ASSERT_GE(silent, 0);
    auto unanswered = testsupport::runProgram({VPRINTER_PROGRAM, "ctl", "--timeout", "0.5", "LPT5:", "show"});
    EXPECT_EQ(unanswered.exitCode, 1);
    EXPECT_NE(unanswered.err.find("LPT5: did not answer within 0.5 s"), std::string::npos) << unanswered.err;
    ::close(silent);

    // Accepted, half an answer, then nothing.
    int stalling = fakePrinter("LPT6:", "stalling.sock");
    ASSERT_GE(stalling, 0);
    std::thread server([&] {
        int fd = ::accept4(stalling, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        ::send(fd, "\x00\x02", 2, MSG_NOSIGNAL);
        char scratch[256];
        while (::recv(fd, scratch, sizeof scratch, 0) > 0) {
        }
        ::close(fd);
    });
    auto half = testsupport::runProgram({VPRINTER_PROGRAM, "ctl", "--timeout", "0.5", "LPT6:", "show"});
    server.join();
    ::close(stalling);
    EXPECT_EQ(half.exitCode, 1);
    EXPECT_NE(half.err.find("LPT6: did not answer within 0.5 s"), std::string::npos) << half.err;

    for (const char* bad : {"0", "-1", "soon", "7200"}) {
        EXPECT_EQ(testsupport::runProgram({VPRINTER_PROGRAM, "ctl", "--timeout", bad, "LPT5:", "show"}).exitCode, 2)
            << bad;
    }
    EXPECT_EQ(testsupport::runProgram({VPRINTER_PROGRAM, "ctl", "--timeout", "1", "LPT5:"}).exitCode, 2);
}

TEST_F(Limits, AnAnswerTooLongForOneResponseIsRefusedNotCutOff)
{
    auto port = plat::port::openPort(testsupport::rootStore(), "LPT2:");
    ASSERT_TRUE(port.ok()) << port.error().detail;
    const std::string bytes(30000, 'A');  // its log line is some 90000 bytes
    ASSERT_EQ(port.value()->write(std::as_bytes(std::span(bytes.data(), bytes.size()))), 30000);
    auto log = sim.control("LPT2:", "log");
    EXPECT_EQ(log.exitCode, 1);
    EXPECT_NE(log.err.find("more than one response can carry"), std::string::npos) << log.err;
    sim.must("LPT2:", "reset-log");
    EXPECT_EQ(sim.must("LPT2:", "log"), "");
    expectServing();
}
