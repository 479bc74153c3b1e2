// kestrel-panel against the real detail program on a simulated printer: it must find the printer, run
// watchpanel.exe on slot 0, report the record, and end it through the close request however it is
// asked to stop. Each test has its own system root.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

// kestrel-panel running in the background: its standard input is a pipe the test holds, its output
// goes to a file the test reads while it runs.
class PanelRun {
public:
    PanelRun(const std::vector<std::string>& arguments, const std::string& outputFile) : m_outputFile(outputFile)
    {
        int in[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        std::vector<std::string> argv{KESTREL_PANEL_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        m_input = in[1];
    }
    ~PanelRun()
    {
        closeInput();
        if (m_pid > 0 && !finished(30s)) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool started() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    std::string output() const
    {
        std::ifstream in(m_outputFile);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    bool said(const std::string& line) const { return output().find(line) != std::string::npos; }
    void closeInput()
    {
        if (m_input >= 0) ::close(m_input);
        m_input = -1;
    }
    // Waits up to `bound` for the end; true when it ended, its exit status in exitCode().
    bool finished(std::chrono::milliseconds bound)
    {
        if (m_exitCode) return true;
        return testsupport::waitUntil(
            [&] {
                int status = 0;
                if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            },
            bound);
    }
    int exitCode() const { return m_exitCode.value_or(-2); }

private:
    std::string m_outputFile;
    pid_t m_pid = -1;
    int m_input = -1;
    std::optional<int> m_exitCode;
};

class KestrelPanel : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ASSERT_TRUE(sim.ready()) << sim.output();
        spoolctl({"install-models"});
        spoolctl({"add-port", "LPT1:", "--sim"});
        spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"});
    }

    void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    }
    std::string outputFile(const char* name) const { return (root.path() / name).string(); }

    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})"};
};

}  // namespace

TEST_F(KestrelPanel, RunsTheWindowOnThePrinterReportsItsStatusAndEndsItWhenInputCloses)
{
    PanelRun panel({"Office", "--show"}, outputFile("panel.out"));
    ASSERT_TRUE(panel.started());
    ASSERT_TRUE(testsupport::waitUntil([&] { return panel.said("kestrel-panel: status level 0 message 2 "); }))
        << panel.output();
    EXPECT_TRUE(panel.said("kestrel-panel: Office, PG-03 on LPT1:\n"));
    EXPECT_TRUE(panel.said("kestrel-panel: ready\n"));
    EXPECT_TRUE(testsupport::waitUntil([&] { return panel.said("kestrel-panel: show requested\n"); }));

    sim.must("LPT1:", "cover-open");
    EXPECT_TRUE(testsupport::waitUntil([&] { return panel.said("kestrel-panel: status level 2 message 26 "); }))
        << panel.output();

    panel.closeInput();
    ASSERT_TRUE(panel.finished(30s)) << panel.output();
    EXPECT_EQ(panel.exitCode(), 0) << panel.output();
    EXPECT_TRUE(panel.said("kestrel-panel: watchpanel.exe ended with exit code 0\n")) << panel.output();
}

TEST_F(KestrelPanel, MeasuresTheDetailProgramAndEndsItOnSigterm)
{
    PanelRun panel({"Office", "--measure", "--seconds", "600"}, outputFile("panel.out"));
    ASSERT_TRUE(panel.started());
    ASSERT_TRUE(testsupport::waitUntil([&] { return panel.said("kestrel-panel: status level 0 "); })) << panel.output();
    ::kill(panel.pid(), SIGTERM);
    ASSERT_TRUE(panel.finished(30s)) << panel.output();
    EXPECT_EQ(panel.exitCode(), 0) << panel.output();
    const std::string out = panel.output();
    std::smatch figures;
    ASSERT_TRUE(std::regex_search(
        out, figures,
        std::regex(R"(\ncpu_percent=([0-9]+\.[0-9]+) wakeups_per_s=([0-9]+\.[0-9]+) pss_mb=([0-9.]+)\n)")))
        << out;
    EXPECT_GT(std::stod(figures[3]), 1.0) << "a Qt program takes more than a megabyte";
    // Each thread's share too, by a name that says what it does: where a program at rest spends its time.
    EXPECT_NE(out.find(" vigil-status: cpu_us_per_s="), std::string::npos) << out;
    EXPECT_TRUE(std::regex_search(
        out, std::regex(R"(\nkestrel-panel: +thread [0-9]+ [^:\n]+: cpu_us_per_s=[0-9.]+ wakeups_per_s=)")))
        << out;
    EXPECT_LT(out.find("cpu_percent="), out.find("kestrel-panel: closing")) << "measured while it still ran";
}

TEST_F(KestrelPanel, ASecondHostInTheSameRootIsRefused)
{
    PanelRun first({"Office"}, outputFile("first.out"));
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(testsupport::waitUntil([&] { return first.said("kestrel-panel: ready\n"); })) << first.output();

    const auto second = testsupport::runProgram({KESTREL_PANEL_PROGRAM, "Office", "--seconds", "1"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("slot 0 of this system root is in use"), std::string::npos) << second.err;

    first.closeInput();
    ASSERT_TRUE(first.finished(30s));
    EXPECT_EQ(first.exitCode(), 0) << first.output() << "the first one's detail program was left alone";
}

TEST_F(KestrelPanel, RefusesPrintersItCannotMonitorAndBadArguments)
{
    spoolctl({"add-driver", "Other Laser", "--path", "C:\\WINDOWS\\SYSTEM\\OTHER.DRV", "--monitor", "PJL Monitor"});
    spoolctl({"add-printer", "Elsewhere", "--driver", "Other Laser", "--port", "LPT1:"});

    auto unknown = testsupport::runProgram({KESTREL_PANEL_PROGRAM, "Nobody"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("no printer \"Nobody\""), std::string::npos) << unknown.err;

    auto foreign = testsupport::runProgram({KESTREL_PANEL_PROGRAM, "Elsewhere"});
    EXPECT_EQ(foreign.exitCode, 2);
    EXPECT_NE(foreign.err.find("\"Elsewhere\" (driver \"Other Laser\") is not a printer of a model"), std::string::npos)
        << foreign.err;

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"Office", "--seconds", "0"},
                                                                                     {"Office", "--seconds", "5x"},
                                                                                     {"Office", "--seconds"},
                                                                                     {"Office", "--frobnicate"},
                                                                                     {"Office", "Elsewhere"},
                                                                                     {}}) {
        std::vector<std::string> argv{KESTREL_PANEL_PROGRAM};
        argv.insert(argv.end(), bad.begin(), bad.end());
        const auto run = testsupport::runProgram(argv);
        EXPECT_EQ(run.exitCode, 2) << bad.size();
        EXPECT_NE(run.err.find("kestrel-panel --help"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << "nothing was started";
    }
}
