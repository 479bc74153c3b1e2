// The list window never waits: the list program runs in this process, under a heartbeat on its GUI
// thread, while the spooler's scheduler is stopped, while another process holds the store's write
// lock, and while the printer answers late; the user still hides, shows and closes the window.

#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "list_program.h"
#include "list_window.h"
#include "plat/services/services.h"
#include "testsupport/machine_wait.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr auto kLongestBlock = 100ms;
constexpr const char* kMonitoring = "モニタしています";

// Runs the event loop until `condition` holds or `bound` passes; true if it held.
bool runUntil(const std::function<bool()>& condition, std::chrono::milliseconds bound)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.hasExpired(bound.count())) return false;
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The scenario's own duration, with the event loop running.
void runFor(std::chrono::milliseconds duration)
{
    runUntil([] { return false; }, duration);
}

// A timer every 10 ms on the GUI thread. Between two beats the thread waits for events in poll()
// (counted through the event loop's poll function), is kept from running by the machine (a busy
// machine, the host of a virtual one: testsupport::MachineWait), or is held up handling events: the
// longest time held up between two beats is what counts, and `phase` says what the test was doing.
// One at a time.
class Heartbeat {
public:
    Heartbeat()
    {
        s_beating = this;
        s_poll = g_main_context_get_poll_func(nullptr);
        g_main_context_set_poll_func(nullptr, &Heartbeat::countedPoll);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { beat(); });
        m_machineWaitMark = machineWait();
        m_clock.start();
        m_timer.start();
    }
    ~Heartbeat()
    {
        g_main_context_set_poll_func(nullptr, s_poll);
        s_beating = nullptr;
    }
    void phase(std::string name)
    {
        beat();
        m_phase = std::move(name);
    }
    std::chrono::milliseconds longest() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(m_longest));
    }
    const std::string& longestIn() const { return m_longestIn; }

private:
    // The GUI thread's poll, the one place where its event loop waits for events.
    static gint countedPoll(GPollFD* fds, guint count, gint timeout)
    {
        Heartbeat* self = s_beating;
        if (self == nullptr) return s_poll(fds, count, timeout);
        self->countMachineWait();
        const qint64 start = self->m_clock.nsecsElapsed();
        const gint result = s_poll(fds, count, timeout);
        self->m_waited += self->m_clock.nsecsElapsed() - start;
        self->m_machineWaitMark = self->machineWait();  // the machine's pause after the poll is part of the poll's
        return result;
    }
    qint64 machineWait() { return m_machineWait.nanoseconds(); }
    void countMachineWait()
    {
        const qint64 now = machineWait();
        m_waited += now - m_machineWaitMark;
        m_machineWaitMark = now;
    }
    void beat()
    {
        countMachineWait();
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 held = now - m_lastBeat - m_waited;
        m_lastBeat = now;
        m_waited = 0;
        if (held <= m_longest) return;
        m_longest = held;
        m_longestIn = m_phase;
    }

    static inline Heartbeat* s_beating = nullptr;
    static inline GPollFunc s_poll = nullptr;
    testsupport::MachineWait m_machineWait;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastBeat = 0, m_waited = 0, m_machineWaitMark = 0, m_longest = 0;
    std::string m_phase = "start", m_longestIn;
};

class ResponsiveList : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        // The detail programs the list starts inherit these.
        ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("KESTREL_SPOOLER", "embedded", 1);
    }

    void TearDown() override
    {
        if (program != nullptr && !ended) {
            program->close();
            runUntil([this] { return ended; }, 60s);
        }
        program.reset();
        vWatchcoreUseServices(nullptr);
        services.reset();
    }

    void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }

    // Printers on the embedded spooler, one per (name, driver, port), the ports served by `sim`.
    void embeddedPrinters(const std::vector<std::array<std::string, 3>>& printers)
    {
        spoolctl({"install-models"});
        for (const auto& [name, driver, port] : printers) {
            spoolctl({"add-port", port, "--sim"});
            spoolctl({"add-printer", name, "--driver", driver, "--port", port});
        }
    }

    // The list program over `options`, started; true once every item is monitored.
    bool startList(plat::Services::Options options)
    {
        return launchList(std::move(options)) && runUntil([this] { return allMonitored(); }, 60s);
    }

    bool allMonitored() const
    {
        const watchlist::ListRows& items = program->items();
        if (program->building() || items.count() == 0) return false;
        for (int p = 0; p < items.count(); ++p)
            if (items.item(p).texts[1] != kMonitoring) return false;
        return true;
    }

    // The list program over `options`, started.
    bool launchList(plat::Services::Options options)
    {
        auto opened = plat::Services::open(std::move(options));
        if (!opened) {
            ADD_FAILURE() << opened.error().detail;
            return false;
        }
        services = std::move(opened).value();
        vWatchcoreUseServices(services.get());
        fCreateRegistoryNotifySubKey();  // as the program's main() does
        program = std::make_unique<watchlist::ListProgram>(
            *services, fs::path(WATCHPANEL_PROGRAM).parent_path().string(), /*quiet=*/true);
        QObject::connect(program.get(), &watchlist::ListProgram::ended, [this] { ended = true; });
        // Making the window is the program's own work before its event loop runs; it waits on nothing.
        QElapsedTimer starting;
        starting.start();
        if (!program->start()) return false;
        EXPECT_LT(starting.elapsed(), 3000) << "start() waited for something";
        return true;
    }

    watchlist::ListWindow& window() { return *program->window(); }
    QAction* command(int number) { return window().findChild<QAction*>(QStringLiteral("command%1").arg(number)); }

    // What the user does while the fault lasts: hides and shows the window, and refreshes the list.
    void hideShowAndRefresh(Heartbeat& heart)
    {
        heart.phase("hide");
        window().hide();
        EXPECT_FALSE(window().isVisible());
        runFor(300ms);
        heart.phase("show");
        window().show();
        EXPECT_TRUE(window().isVisible());
        runFor(300ms);
        heart.phase("refresh");
        command(509)->trigger();
        EXPECT_TRUE(program->building());
        runFor(300ms);
    }

    // The close through the window, as the user closes it; true once the program has ended.
    bool closeAndWait(Heartbeat& heart, std::chrono::milliseconds bound)
    {
        heart.phase("close");
        window().close();
        heart.phase("closing");
        return runUntil([this] { return ended; }, bound);
    }

    std::unique_ptr<plat::Services> services;
    std::unique_ptr<watchlist::ListProgram> program;
    bool ended = false;
};

// A private scheduler of this test (the shared one must not stop under the other tests), its queues
// on the velta backend to printers played by vprinter.
class ResponsiveListOnCups : public ResponsiveList {
protected:
    void SetUp() override
    {
        ResponsiveList::SetUp();
        cupsd = root.path() / "cupsd";
        const auto started = testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "start", cupsd.string()});
        ASSERT_EQ(started.exitCode, 0) << started.err;
        std::ifstream(cupsd / "cupsd.pid") >> cupsdPid;
        ASSERT_GT(cupsdPid, 0);
        ::setenv("KESTREL_SPOOLER", "cups", 1);
        ::setenv("CUPS_SERVER", socket().c_str(), 1);
    }

    void TearDown() override
    {
        // Whatever happened, the scheduler runs on (the continuer does it too, should this process die).
        if (cupsdPid > 0) ::kill(cupsdPid, SIGCONT);
        if (continuer > 0) {
            ::kill(continuer, SIGKILL);
            ::waitpid(continuer, nullptr, 0);
        }
        ResponsiveList::TearDown();
        testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "stop", cupsd.string()});
    }

    std::string socket() const { return (cupsd / "cups.sock").string(); }

    // A queue to the simulated printer on `port` ("LPT1").
    void queue(const std::string& name, const std::string& port, const std::string& ppd)
    {
        const std::string device = "velta:" + (root.path() / "run" / ("vprinter-" + port + "_.sock")).string();
        const auto added = testsupport::runProgram({"/usr/sbin/lpadmin", "-h", socket(), "-p", name, "-E", "-v", device,
                                                    "-P", std::string(VELTA_PPD_DIR "/") + ppd});
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }

    // Stops the scheduler for `duration`. The continuer, in a session of its own, continues it in any
    // case, should this test end or die before.
    void stopScheduler(std::chrono::seconds duration)
    {
        const std::string script =
            "sleep " + std::to_string(duration.count()) + "; kill -CONT " + std::to_string(cupsdPid);
        continuer = ::fork();
        if (continuer == 0) {
            ::setsid();
            ::execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(continuer, 0);
        ASSERT_EQ(::kill(cupsdPid, SIGSTOP), 0);
    }

    bool schedulerContinued()
    {
        if (continuer > 0 && ::waitpid(continuer, nullptr, WNOHANG) == continuer) continuer = -1;
        return continuer <= 0;
    }

    fs::path cupsd;
    pid_t cupsdPid = -1;
    pid_t continuer = -1;
};

}  // namespace

TEST_F(ResponsiveListOnCups, AStoppedSchedulerHoldsUpNeitherTheWindowNorItsClose)
{
    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [
        {"port": "LPT1:", "model": "PG-03"}, {"port": "LPT2:", "model": "IJ-09"}]})"};
    ASSERT_TRUE(sim.ready()) << sim.output();
    queue("Office", "LPT1", "pg03.ppd");
    queue("Photo", "LPT2", "ij09.ppd");
    plat::Services::Options options;
    options.spooler = plat::spool::Kind::Cups;
    options.cups.server = socket();
    ASSERT_TRUE(startList(options)) << "both printers are monitored";
    ASSERT_EQ(program->items().count(), 2);

    Heartbeat heart;
    heart.phase("stopping the scheduler");
    stopScheduler(15s);
    runFor(1s);  // the worker is at the scheduler by now
    hideShowAndRefresh(heart);
    EXPECT_TRUE(closeAndWait(heart, 90s)) << "the list ends once the scheduler answers again";
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(runUntil([this] { return schedulerContinued(); }, 30s));
    EXPECT_LE(heart.longest(), kLongestBlock) << "the event loop was held up while: " << heart.longestIn();
}

TEST_F(ResponsiveListOnCups, AListStartedWhileTheSchedulerIsStoppedShowsAtOnceAndFillsOnceItAnswers)
{
    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})"};
    ASSERT_TRUE(sim.ready()) << sim.output();
    queue("Office", "LPT1", "pg03.ppd");
    stopScheduler(15s);

    plat::Services::Options options;
    options.spooler = plat::spool::Kind::Cups;
    options.cups.server = socket();
    ASSERT_TRUE(launchList(options));
    Heartbeat heart;
    heart.phase("showing");
    EXPECT_TRUE(runUntil([this] { return window().isVisible(); }, 3s)) << "the window shows without the scheduler";
    hideShowAndRefresh(heart);

    heart.phase("waiting for the scheduler");
    ASSERT_TRUE(runUntil([this] { return schedulerContinued(); }, 30s));
    ASSERT_TRUE(runUntil([this] { return !program->building(); }, 60s));
    // A build that found no spooler lists leaves the list as it was; the user refreshes it.
    heart.phase("refreshing with the scheduler back");
    command(509)->trigger();
    EXPECT_TRUE(runUntil([this] { return allMonitored(); }, 60s)) << "the printer is monitored";
    EXPECT_TRUE(closeAndWait(heart, 60s));
    EXPECT_LE(heart.longest(), kLongestBlock) << "the event loop was held up while: " << heart.longestIn();
}

TEST_F(ResponsiveList, AnotherProcessHoldingTheStoresWriteLockHoldsUpNothingOnScreen)
{
    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [
        {"port": "LPT1:", "model": "PG-03"}, {"port": "LPT2:", "model": "IJ-09"}]})"};
    ASSERT_TRUE(sim.ready()) << sim.output();
    embeddedPrinters({{"Office", "VELTA PG-03", "LPT1:"}, {"Photo", "VELTA IJ-09", "LPT2:"}});
    plat::Services::Options options;
    options.spooler = plat::spool::Kind::Embedded;
    ASSERT_TRUE(startList(options)) << "both printers are monitored";

    // sqlite3 takes the write lock and holds it until told to let go.
    int toSqlite[2], fromSqlite[2];
    ASSERT_EQ(::pipe(toSqlite), 0);
    ASSERT_EQ(::pipe(fromSqlite), 0);
    const std::string database = (root.path() / "registry.db").string();
    const pid_t sqlite = ::fork();
    if (sqlite == 0) {
        ::dup2(toSqlite[0], 0);
        ::dup2(fromSqlite[1], 1);
        ::close(toSqlite[1]);
        ::close(fromSqlite[0]);
        ::execl("/usr/bin/sqlite3", "sqlite3", database.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(sqlite, 0);
    ::close(toSqlite[0]);
    ::close(fromSqlite[1]);
    const std::string take = "BEGIN IMMEDIATE;\nSELECT 'locked';\n";
    ASSERT_EQ(::write(toSqlite[1], take.data(), take.size()), static_cast<ssize_t>(take.size()));
    char answer[16] = {};
    ASSERT_GT(::read(fromSqlite[0], answer, sizeof answer - 1), 0);
    ASSERT_EQ(std::string(answer).substr(0, 6), "locked");

    Heartbeat heart;
    QElapsedTimer held;
    held.start();
    hideShowAndRefresh(heart);
    heart.phase("waiting with the lock held");
    runFor(std::chrono::milliseconds(std::max<qint64>(0, 5000 - held.elapsed())));
    heart.phase("letting go");
    const std::string release = "ROLLBACK;\n.quit\n";
    EXPECT_EQ(::write(toSqlite[1], release.data(), release.size()), static_cast<ssize_t>(release.size()));
    ::close(toSqlite[1]);
    ::close(fromSqlite[0]);
    EXPECT_TRUE(runUntil([&] { return ::waitpid(sqlite, nullptr, WNOHANG) == sqlite; }, 10s));

    heart.phase("rebuilding after the lock");
    EXPECT_TRUE(runUntil([this] { return !program->building(); }, 60s)) << "the rebuild got through";
    EXPECT_EQ(program->items().count(), 2);
    EXPECT_TRUE(closeAndWait(heart, 60s));
    EXPECT_LE(heart.longest(), kLongestBlock) << "the event loop was held up while: " << heart.longestIn();
    std::uint32_t running = 99;
    EXPECT_EQ(fGetRegistoryKswListRunFlag(&running), 1);
    EXPECT_EQ(running, 2u) << "the flag written last before the close";
}

TEST_F(ResponsiveList, APrinterAnsweringLateHoldsUpNothingOnScreen)
{
    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})"};
    ASSERT_TRUE(sim.ready()) << sim.output();
    embeddedPrinters({{"Office", "VELTA PG-03", "LPT1:"}});
    plat::Services::Options options;
    options.spooler = plat::spool::Kind::Embedded;
    ASSERT_TRUE(startList(options));

    sim.must("LPT1:", "slow 10000");
    Heartbeat heart;
    heart.phase("the printer answers late");
    runFor(1s);
    hideShowAndRefresh(heart);
    heart.phase("rebuilding");
    // The refresh stops the detail program, which may be in the middle of a late answer.
    EXPECT_TRUE(runUntil([this] { return !program->building(); }, 60s));
    EXPECT_TRUE(closeAndWait(heart, 60s));
    EXPECT_LE(heart.longest(), kLongestBlock) << "the event loop was held up while: " << heart.longestIn();
}
