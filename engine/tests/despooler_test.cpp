// Despooler mode, with the despooler stand-in reading the printer: the engine copies the despooler's
// status instead of reading the port, falls back to reading it when the despooler leaves, and goes
// back when it returns.

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "engine_fixture.h"

extern char** environ;

using namespace enginetest;

namespace {

// kestrel-despooler driven through its stdin.
class Despooler {
public:
    Despooler(const std::string& printer, const std::string& port)
    {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        for (int fd : {in[0], in[1], out[0], out[1]}) posix_spawn_file_actions_addclose(&actions, fd);
        std::string program = DESPOOLER_PROGRAM, interval = "--interval-ms=30";
        char* argv[] = {program.data(), const_cast<char*>(printer.c_str()), const_cast<char*>(port.c_str()),
                        interval.data(), nullptr};
        if (::posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv, environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        m_in = in[1];
        m_out = out[0];
        m_ready = expect("despooler: ready");
    }
    ~Despooler()
    {
        send("quit");
        ::close(m_in);
        ::close(m_out);
        if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
    }

    bool ready() const { return m_ready; }

    // Sends a command and waits for its "ok".
    bool send(const std::string& command)
    {
        const std::string line = command + "\n";
        if (::write(m_in, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return false;
        return command == "quit" || expect("ok");
    }

private:
    bool expect(const std::string& word)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::size_t at = m_output.find(word + "\n"); at != std::string::npos) {
                m_output.erase(0, at + word.size() + 1);
                return true;
            }
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            char buffer[256];
            ssize_t n = ::read(m_out, buffer, sizeof buffer);
            if (n <= 0) return false;
            m_output.append(buffer, static_cast<std::size_t>(n));
        }
        return false;
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1;
    bool m_ready = false;
    std::string m_output;
};

class DespoolerMode : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        preparePrinter("Photo", "LPT2:", "VELTA IJ-09", "IJ-09");
    }
    bool statusHolds(const std::string& text)
    {
        return testsupport::waitUntil(
            [&] { return storeText("RealTimeStatusStrings").value_or("").find(text) != std::string::npos; });
    }
};

}  // namespace

TEST_F(DespoolerMode, StartsOnTheDespoolersStatusAndFollowsItAwayAndBack)
{
    Despooler despooler(m_printer, "LPT2:");
    ASSERT_TRUE(despooler.ready());
    ASSERT_TRUE(despooler.send("status DESPOOLER ST:04;"));
    sim.must("LPT2:", "reset-log");

    start(m_printer, "LPT2:", "VELTA IJ-09", 2);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_EQ(store("PrinterStFlag"), 0u);
    EXPECT_TRUE(statusHolds("DESPOOLER ST:04;"));
    EXPECT_NE(storeText("DeviceIDStrings").value_or("").find("MDL:IJ-09;"), std::string::npos);
    EXPECT_EQ(sim.must("LPT2:", "log").find("1B401B40"), std::string::npos) << "the engine sent no status enable";

    // The despooler leaves: the engine reads the printer itself.
    ASSERT_TRUE(despooler.send("leave"));
    EXPECT_TRUE(statusHolds("@BDC ST\r\nST:04;")) << storeText("RealTimeStatusStrings").value_or("");

    // It comes back: the engine copies its status again.
    ASSERT_TRUE(despooler.send("status DESPOOLER AGAIN"));
    ASSERT_TRUE(despooler.send("return"));
    EXPECT_TRUE(statusHolds("DESPOOLER AGAIN")) << storeText("RealTimeStatusStrings").value_or("");
    EXPECT_EQ(store("PrinterStFlag"), 0u);
}

TEST_F(DespoolerMode, AStaleDespoolerEndsMonitoringWithStatusThree)
{
    Despooler despooler(m_printer, "LPT2:");
    ASSERT_TRUE(despooler.ready());
    start(m_printer, "LPT2:", "VELTA IJ-09", 2);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    ASSERT_TRUE(despooler.send("stale"));
    ASSERT_TRUE(storeBecomes("PrinterStFlag", 3));
    EXPECT_TRUE(storeBecomes("VigilExistFlag", 0));
    EXPECT_TRUE(threadsEnd());
    EXPECT_EQ(dword(driverDataKey(), "VigilReadFlag"), 2u);
}

TEST_F(DespoolerMode, ADespoolerThatReportsAnErrorIsACommunicationError)
{
    Despooler despooler(m_printer, "LPT2:");
    ASSERT_TRUE(despooler.ready());
    start(m_printer, "LPT2:", "VELTA IJ-09", 2);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    ASSERT_TRUE(despooler.send("error 1"));
    EXPECT_TRUE(testsupport::waitUntil([&] { return store("PrinterStFlag").value_or(0) >= 1u; }));
}

TEST_F(DespoolerMode, AStaleDespoolerAtStartIsLeftAndTheEngineReadsThePort)
{
    Despooler despooler(m_printer, "LPT2:");
    ASSERT_TRUE(despooler.ready());
    ASSERT_TRUE(despooler.send("stale"));
    start(m_printer, "LPT2:", "VELTA IJ-09", 2);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    EXPECT_EQ(dword(driverDataKey(), "DespoolerRunFlag"), 0u) << "the engine marked the despooler gone";
    EXPECT_NE(sim.must("LPT2:", "log").find("5354020000031B000000"), std::string::npos) << "it enabled status itself";
}
