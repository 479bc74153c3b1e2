// The velta backend run as the print system runs it: the URI in DEVICE_URI, the job on stdin or as a
// file, status on stderr, against printers played by vprinter.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

extern char** environ;

namespace {

using testsupport::waitUntil;
using namespace std::chrono_literals;

constexpr int kBackendOk = 0, kBackendFailed = 1, kBackendStop = 4, kBackendRetry = 6;

// One run of the backend with its stdin, stdout and stderr on pipes.
class Backend {
public:
    Backend(const std::vector<std::string>& args, const std::map<std::string, std::string>& env)
    {
        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            std::string entry = *e;
            const std::string name = entry.substr(0, entry.find('='));
            if (!env.count(name) && name != "CUPS_SERVERROOT") environment.push_back(entry);
        }
        for (const auto& [name, value] : env) environment.push_back(name + "=" + value);
        int in[2], out[2], err[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        // Not the print system's back and side channels: whatever the test runner left there.
        posix_spawn_file_actions_addopen(&actions, 3, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 4, "/dev/null", O_RDONLY, 0);
        std::vector<char*> argv, envp;
        std::vector<std::string> argStore = args;
        argStore.insert(argStore.begin(), VELTA_BACKEND);
        for (auto& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (::posix_spawn(&m_pid, VELTA_BACKEND, &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        m_in = in[1];
        m_out = out[0];
        m_err = err[0];
        ::signal(SIGPIPE, SIG_IGN);
    }
    ~Backend()
    {
        if (m_pid > 0 && m_exit == kRunning) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_in, m_out, m_err}) {
            if (fd >= 0) ::close(fd);
        }
    }
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    bool started() const { return m_pid > 0; }
    void feed(const std::string& bytes) { ASSERT_EQ(::write(m_in, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void endInput()
    {
        ::close(m_in);
        m_in = -1;
    }
    void terminate() { ::kill(m_pid, SIGTERM); }

    // Takes what it has written so far.
    void pump()
    {
        for (int fd : {m_out, m_err}) {
            pollfd p{fd, POLLIN, 0};
            while (fd >= 0 && ::poll(&p, 1, 0) > 0) {
                char buffer[4096];
                ssize_t n = ::read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                (fd == m_out ? m_stdout : m_stderr).append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    bool saidLine(const std::string& line)
    {
        pump();
        return ("\n" + m_stderr).find("\n" + line + "\n") != std::string::npos;
    }
    bool said(const std::string& text)
    {
        pump();
        return m_stderr.find(text) != std::string::npos;
    }
    // Waits for the end; the exit code, or -1 when it did not end within the bound or was killed.
    int exitCode()
    {
        if (m_exit == kRunning) {
            int status = 0;
            bool ended = waitUntil([&] {
                pump();
                return ::waitpid(m_pid, &status, WNOHANG) == m_pid;
            });
            m_exit = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pump();
        }
        return m_exit;
    }
    const std::string& err() const { return m_stderr; }
    const std::string& out() const { return m_stdout; }

    std::vector<std::string> lines(const std::string& prefix)
    {
        pump();
        std::vector<std::string> found;
        std::istringstream text(m_stderr);
        for (std::string line; std::getline(text, line);) {
            if (line.starts_with(prefix)) found.push_back(line);
        }
        return found;
    }

private:
    static constexpr int kRunning = -100;
    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
    int m_exit = kRunning;
    std::string m_stdout, m_stderr;
};

// Every reason the backend set and did not take back, from its STATE lines.
std::set<std::string> reasonsLeft(const std::vector<std::string>& stateLines)
{
    std::set<std::string> held;
    for (const auto& line : stateLines) {
        const char sign = line.at(7);
        std::istringstream words(line.substr(8));
        for (std::string w; std::getline(words, w, ',');) {
            if (sign == '+') held.insert(w);
            else held.erase(w);
        }
    }
    return held;
}

std::string hexOf(const std::string& text)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

class VeltaBackend : public testsupport::RootTest {
protected:
    using milliseconds_t = long;
    void serve(const std::string& model, const std::string& state = "")
    {
        std::string config = R"({"printers": [{"port": "LPT1:", "model": ")" + model + "\"" +
                             (state.empty() ? "" : R"(, "state": ")" + state + "\"") + "}]}";
        sim = std::make_unique<testsupport::Simulator>(VPRINTER_PROGRAM, config);
        ASSERT_TRUE(sim->ready()) << sim->output();
    }
    std::string socket() const { return (root.path() / "run" / "vprinter-LPT1_.sock").string(); }
    std::map<std::string, std::string> env(const std::string& uri, milliseconds_t poll = 100,
                                           milliseconds_t heartbeat = 60000) const
    {
        return {{"DEVICE_URI", uri},
                {"VELTA_POLL_MS", std::to_string(poll)},
                {"VELTA_HEARTBEAT_MS", std::to_string(heartbeat)},
                {"VELTA_OPEN_WAIT_MS", "30000"}};
    }
    static std::vector<std::string> job() { return {"42", "user", "title", "1", ""}; }

    std::unique_ptr<testsupport::Simulator> sim;
};

TEST_F(VeltaBackend, SendsTheJobAfterTheStatusEnableAndPublishesTheStatus)
{
    serve("PG-03");
    Backend backend(job(), env("velta:" + socket()));
    ASSERT_TRUE(backend.started());
    backend.feed("JOB-BYTES-0123456789");
    backend.endInput();
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();

    const std::string log = sim->must("LPT1:", "log");
    const std::size_t enable = log.find("@KJL REQUEST STATUS=1"), data = log.find("|JOB-BYTES-0123456789|");
    EXPECT_NE(enable, std::string::npos) << log;
    EXPECT_NE(data, std::string::npos) << log;
    EXPECT_LT(enable, data);

    // The printer's reply, as it was, in the alert; the device ID in its description.
    auto alerts = backend.lines("ATTR: printer-alert='velta;seq=1;t=");
    ASSERT_EQ(alerts.size(), 1u) << backend.err();
    EXPECT_NE(alerts[0].find(";st=" + hexOf("@KJL STATUS CODE=")), std::string::npos);
    EXPECT_NE(alerts[0].find("printer-alert-description='MFG:VELTA;MDL:PG-03;"), std::string::npos);
    EXPECT_TRUE(
        backend.saidLine("ATTR: marker-colors=#000000 marker-names=Toner marker-types=toner "
                         "marker-low-levels=25 marker-high-levels=100"));
    EXPECT_TRUE(backend.saidLine("INFO: Ready")) << backend.err();
    EXPECT_TRUE(backend.saidLine("ATTR: marker-levels=80"));
    // Ready and printing: no reasons; at the end the alert is emptied.
    EXPECT_TRUE(backend.lines("STATE:").empty()) << backend.err();
    EXPECT_EQ(backend.lines("ATTR:").back(), "ATTR: printer-alert='' printer-alert-description=''");
}

TEST_F(VeltaBackend, PublishesChangesOnceHeartbeatsAndClearsAtTheEnd)
{
    serve("IJ-09");
    Backend backend(job(), env("velta:" + socket(), 50, 300));
    backend.feed("first part of the job");
    ASSERT_TRUE(waitUntil([&] { return backend.said("printer-alert='velta;seq=1;"); })) << backend.err();

    sim->must("LPT1:", "paper-out");
    ASSERT_TRUE(waitUntil([&] { return backend.saidLine("STATE: +media-empty-error"); })) << backend.err();
    const std::size_t alertsAtChange = backend.lines("ATTR: printer-alert=").size();
    // Three heartbeats later the same status has been read many times over.
    ASSERT_TRUE(waitUntil([&] { return backend.lines("ATTR: printer-alert=").size() >= alertsAtChange + 3; }));
    EXPECT_EQ(backend.lines("STATE:"), std::vector<std::string>{"STATE: +media-empty-error"});
    // The heartbeats repeat the status with a new sequence number.
    auto alerts = backend.lines("ATTR: printer-alert=");
    auto statusOf = [](const std::string& line) { return line.substr(line.find(";st=")); };
    EXPECT_EQ(statusOf(alerts[alertsAtChange]), statusOf(alerts[alertsAtChange - 1]));
    EXPECT_NE(alerts[alertsAtChange].find(";seq=" + std::to_string(alertsAtChange + 1) + ";"), std::string::npos);

    sim->must("LPT1:", "ready");
    ASSERT_TRUE(waitUntil([&] { return backend.saidLine("STATE: -media-empty-error"); })) << backend.err();
    sim->must("LPT1:", "cover-open");
    ASSERT_TRUE(waitUntil([&] { return backend.saidLine("STATE: +cover-open-error"); })) << backend.err();
    backend.feed(" and the rest");
    backend.endInput();
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    EXPECT_TRUE(reasonsLeft(backend.lines("STATE:")).empty()) << backend.err();
    EXPECT_EQ(backend.lines("ATTR:").back(), "ATTR: printer-alert='' printer-alert-description=''");
    EXPECT_NE(sim->must("LPT1:", "log").find("first part of the job"), std::string::npos);
}

TEST_F(VeltaBackend, APrinterThatTakesNothingStillHasItsStatusRead)
{
    serve("IJ-09");
    {
        Backend first(job(), env("velta:" + socket()));
        first.endInput();
        ASSERT_EQ(first.exitCode(), kBackendOk) << first.err();
    }
    sim->must("LPT1:", "cover-open");
    sim->must("LPT1:", "busy 60000");
    Backend backend(job(), env("velta:" + socket()));
    backend.feed("SECOND-JOB");
    backend.endInput();
    ASSERT_TRUE(waitUntil([&] { return backend.saidLine("STATE: +cover-open-error"); })) << backend.err();
    // Read while the status-enable command still waits for the printer, not after giving up on it.
    EXPECT_FALSE(backend.said("did not take the status-enable command")) << backend.err();
    EXPECT_EQ(sim->must("LPT1:", "log").find("SECOND-JOB"), std::string::npos);
    sim->must("LPT1:", "heal");
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    EXPECT_NE(sim->must("LPT1:", "log").find("|SECOND-JOB|"), std::string::npos);
    EXPECT_TRUE(reasonsLeft(backend.lines("STATE:")).empty());
}

TEST_F(VeltaBackend, ACancelClearsWhatItSet)
{
    serve("DM-02", "jam");
    Backend backend(job(), env("velta:" + socket()));
    backend.feed("a job that will not end by itself");
    ASSERT_TRUE(waitUntil([&] { return backend.saidLine("STATE: +media-jam-error"); })) << backend.err();
    backend.terminate();
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    EXPECT_EQ(backend.lines("STATE:").back(), "STATE: -media-jam-error");
    EXPECT_TRUE(reasonsLeft(backend.lines("STATE:")).empty());
    EXPECT_EQ(backend.lines("ATTR:").back(), "ATTR: printer-alert='' printer-alert-description=''");
}

TEST_F(VeltaBackend, InkOfModelsThatReportItApartGoesIntoTheAlert)
{
    serve("IJ-03", "ink black=5 color=60");
    Backend backend(job(), env("velta:" + socket()));
    backend.feed("ink job");
    backend.endInput();
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    // The ink reply without its two counter characters, as the engine stores it.
    EXPECT_TRUE(backend.said(";ink=" + hexOf("@BDC IQ\r\nIQ:053C3C3C;\r\n") + "'")) << backend.err();
    EXPECT_TRUE(backend.saidLine("ATTR: marker-levels=5,60"));
    EXPECT_TRUE(backend.saidLine("STATE: +marker-supply-low-warning"));
    EXPECT_TRUE(backend.saidLine("INFO: Ink low"));
    EXPECT_TRUE(reasonsLeft(backend.lines("STATE:")).empty());
}

TEST_F(VeltaBackend, ABusyPortIsTriedAgainUntilItOpens)
{
    serve("PG-01");
    sim->must("LPT1:", "no-open");
    Backend backend(job(), env("velta:" + socket()));
    backend.feed("waiting job");
    backend.endInput();
    ASSERT_TRUE(waitUntil([&] { return backend.saidLine("STATE: +connecting-to-device"); })) << backend.err();
    sim->must("LPT1:", "heal");
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    EXPECT_EQ(backend.lines("STATE:"),
              (std::vector<std::string>{"STATE: +connecting-to-device", "STATE: -connecting-to-device"}));
    EXPECT_NE(sim->must("LPT1:", "log").find("|waiting job|"), std::string::npos);
}

TEST_F(VeltaBackend, APortThatStaysBusyGivesTheJobBackForLater)
{
    serve("PG-01");
    sim->must("LPT1:", "no-open");
    auto settings = env("velta:" + socket());
    settings["VELTA_OPEN_WAIT_MS"] = "1500";
    Backend busy(job(), settings);
    busy.endInput();
    EXPECT_EQ(busy.exitCode(), kBackendRetry) << busy.err();
    EXPECT_EQ(busy.lines("STATE:"),
              (std::vector<std::string>{"STATE: +connecting-to-device", "STATE: -connecting-to-device"}));

    // Nothing there at all: the same.
    settings["DEVICE_URI"] = "velta:" + (root.path() / "run" / "no-printer").string();
    Backend missing(job(), settings);
    missing.endInput();
    EXPECT_EQ(missing.exitCode(), kBackendRetry) << missing.err();
    EXPECT_TRUE(missing.saidLine("STATE: +connecting-to-device"));
}

TEST_F(VeltaBackend, AJobFileIsSentOncePerCopy)
{
    serve("DM-04");
    const auto file = root.path() / "job.prn";
    std::ofstream(file) << "COPY-TEXT";
    Backend backend({"7", "user", "title", "2", "", file.string()}, env("velta:" + socket()));
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    const std::string log = sim->must("LPT1:", "log");
    const std::size_t first = log.find("COPY-TEXT");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("COPY-TEXT", first + 1), std::string::npos) << log;
    // DM-04 asks for status mode 3.
    EXPECT_NE(log.find("1B401B401B285208000052454D4F54453153540200000"
                       "3"),
              std::string::npos)
        << log;
}

TEST_F(VeltaBackend, MalformedUrisAndArgumentsAreRefused)
{
    for (const char* uri :
         {"velta:relative/lp0", "velta://host/dev/lp0", "velta:/dev/usb/../lp0", "usb:/dev/usb/lp0"}) {
        Backend backend(job(), env(uri));
        backend.endInput();
        EXPECT_EQ(backend.exitCode(), kBackendStop) << uri << backend.err();
        EXPECT_TRUE(backend.said("ERROR: Not a velta device URI")) << uri;
        EXPECT_TRUE(backend.lines("STATE:").empty());
    }
    Backend tooFew({"1", "user"}, env("velta:/dev/usb/lp0"));
    EXPECT_EQ(tooFew.exitCode(), kBackendFailed);
    // A path that is not a printer device at all is not waited for.
    const auto plain = root.path() / "plain-file";
    std::ofstream(plain) << "x";
    Backend notDevice(job(), env("velta:" + plain.string()));
    notDevice.endInput();
    EXPECT_EQ(notDevice.exitCode(), kBackendFailed) << notDevice.err();
    EXPECT_TRUE(notDevice.said("not a printer device"));
}

// Two printers of one model on USB nodes, as vprinter plays them: each node of the folder leads to a
// simulated printer's socket, and the nodes swap as the kernel may renumber them after a replug.
class TwoUsbPrinters : public VeltaBackend {
protected:
    void SetUp() override
    {
        const std::string config = R"({"printers": [
            {"port": "LPT1:", "model": "PG-03", "device_id": "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:A1;"},
            {"port": "LPT2:", "model": "PG-03", "device_id": "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:B2;"}]})";
        sim = std::make_unique<testsupport::Simulator>(VPRINTER_PROGRAM, config);
        ASSERT_TRUE(sim->ready()) << sim->output();
        folder = root.path() / "usb";
        std::filesystem::create_directories(folder);
        plug("LPT1:", "lp0");
        plug("LPT2:", "lp1");
    }

    // The node `node` leads to the printer on `port`, whatever it led to before.
    void plug(const std::string& port, const std::string& node)
    {
        const auto socket = root.path() / "run" / ("vprinter-" + port.substr(0, 4) + "_.sock");
        std::filesystem::remove(folder / node);
        std::filesystem::create_symlink(socket, folder / node);
    }

    std::map<std::string, std::string> envFor(const std::string& uri)
    {
        auto e = env(uri);
        e["VELTA_DEVICE_DIR"] = folder.string();
        e["VELTA_OPEN_WAIT_MS"] = "2000";
        return e;
    }

    bool printed(const std::string& port, const std::string& bytes)
    {
        return sim->must(port, "log").find("|" + bytes + "|") != std::string::npos;
    }

    std::filesystem::path folder;
};

TEST_F(TwoUsbPrinters, DiscoveryNamesEachByItsSerialNumber)
{
    Backend backend({}, {{"VELTA_DEVICE_DIR", folder.string()}});
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    EXPECT_EQ(backend.out(),
              "direct velta://VELTA/PG-03?serial=A1 \"VELTA PG-03\" \"VELTA PG-03 USB\" "
              "\"MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:A1;\" \"\"\n"
              "direct velta://VELTA/PG-03?serial=B2 \"VELTA PG-03\" \"VELTA PG-03 USB\" "
              "\"MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:B2;\" \"\"\n");
}

TEST_F(TwoUsbPrinters, AJobFollowsItsPrinterWhenTheNodesSwap)
{
    {
        Backend backend(job(), envFor("velta://VELTA/PG-03?serial=B2"));
        backend.feed("FOR-B2-FIRST");
        backend.endInput();
        ASSERT_EQ(backend.exitCode(), kBackendOk) << backend.err();
        EXPECT_TRUE(backend.said("DEBUG: velta://VELTA/PG-03?serial=B2 is " + (folder / "lp1").string()));
    }
    EXPECT_TRUE(printed("LPT2:", "FOR-B2-FIRST"));
    EXPECT_FALSE(printed("LPT1:", "FOR-B2-FIRST"));

    // Replugged: lp0 is B2 now, lp1 is A1.
    plug("LPT2:", "lp0");
    plug("LPT1:", "lp1");
    {
        Backend backend(job(), envFor("velta://VELTA/PG-03?serial=B2"));
        backend.feed("FOR-B2-AGAIN");
        backend.endInput();
        ASSERT_EQ(backend.exitCode(), kBackendOk) << backend.err();
        EXPECT_TRUE(backend.said("DEBUG: velta://VELTA/PG-03?serial=B2 is " + (folder / "lp0").string()));
    }
    EXPECT_TRUE(printed("LPT2:", "FOR-B2-AGAIN"));
    EXPECT_FALSE(printed("LPT1:", "FOR-B2-AGAIN"));

    // A node URI still means the node, whoever is on it.
    Backend byNode(job(), envFor("velta:" + (folder / "lp1").string()));
    byNode.feed("TO-NODE-LP1");
    byNode.endInput();
    ASSERT_EQ(byNode.exitCode(), kBackendOk) << byNode.err();
    EXPECT_TRUE(printed("LPT1:", "TO-NODE-LP1"));
}

TEST_F(TwoUsbPrinters, AnUnpluggedPrinterIsWaitedForAndOthersAreNeverUsed)
{
    std::filesystem::remove(folder / "lp1");  // B2 is unplugged
    Backend waiting(job(), envFor("velta://VELTA/PG-03?serial=B2"));
    waiting.feed("WAITS-FOR-B2");
    waiting.endInput();
    ASSERT_TRUE(waitUntil([&] { return waiting.saidLine("STATE: +connecting-to-device"); })) << waiting.err();
    plug("LPT2:", "lp3");  // and comes back on another node
    EXPECT_EQ(waiting.exitCode(), kBackendOk) << waiting.err();
    EXPECT_TRUE(printed("LPT2:", "WAITS-FOR-B2"));
    EXPECT_FALSE(printed("LPT1:", "WAITS-FOR-B2"));

    std::filesystem::remove(folder / "lp3");
    Backend gone(job(), envFor("velta://VELTA/PG-03?serial=B2"));
    gone.endInput();
    EXPECT_EQ(gone.exitCode(), kBackendRetry) << gone.err();
}

TEST_F(TwoUsbPrinters, PrintersThatNothingTellsApartAreListedByNodeAndNeverGuessedAt)
{
    sim->must("LPT1:", "device-id MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;");
    sim->must("LPT2:", "device-id MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;");
    Backend listing({}, {{"VELTA_DEVICE_DIR", folder.string()}});
    EXPECT_EQ(listing.exitCode(), kBackendOk);
    EXPECT_NE(listing.out().find("direct velta:" + (folder / "lp0").string() + " "), std::string::npos)
        << listing.out();
    EXPECT_NE(listing.out().find("direct velta:" + (folder / "lp1").string() + " "), std::string::npos);
    EXPECT_EQ(listing.out().find("velta://"), std::string::npos);

    Backend backend(job(), envFor("velta://VELTA/PG-03"));
    backend.feed("WHICH-ONE");
    backend.endInput();
    EXPECT_EQ(backend.exitCode(), kBackendStop) << backend.err();
    EXPECT_TRUE(backend.said("2 printers in " + folder.string() + " answer to it")) << backend.err();
    EXPECT_FALSE(printed("LPT1:", "WHICH-ONE"));
    EXPECT_FALSE(printed("LPT2:", "WHICH-ONE"));

    // With one of them gone, the model alone names the other.
    std::filesystem::remove(folder / "lp0");
    Backend one(job(), envFor("velta://VELTA/PG-03"));
    one.feed("THE-ONLY-ONE");
    one.endInput();
    EXPECT_EQ(one.exitCode(), kBackendOk) << one.err();
    EXPECT_TRUE(printed("LPT2:", "THE-ONLY-ONE"));
}

// Discovery cannot be shown a real printer here: a FIFO or a file gets no answer to the device-ID
// request, and the backend must say so and list nothing.
TEST_F(VeltaBackend, DiscoveryListsNothingForDevicesThatGiveNoId)
{
    const auto folder = root.path() / "usb";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::mkfifo((folder / "lp0").c_str(), 0600), 0);
    std::ofstream(folder / "lp1") << "MFG:VELTA;MDL:PG-03;";
    std::ofstream(folder / "other") << "";
    Backend backend({}, {{"VELTA_DEVICE_DIR", folder.string()}});
    EXPECT_EQ(backend.exitCode(), kBackendOk) << backend.err();
    EXPECT_EQ(backend.out(), "");
    EXPECT_TRUE(backend.said((folder / "lp0").string() + ": no device ID")) << backend.err();
    EXPECT_TRUE(backend.said((folder / "lp1").string() + ": no device ID")) << backend.err();
    EXPECT_FALSE(backend.said("other"));

    Backend none({}, {{"VELTA_DEVICE_DIR", (root.path() / "missing").string()}});
    EXPECT_EQ(none.exitCode(), kBackendOk);
    EXPECT_EQ(none.out(), "");
}

}  // namespace
