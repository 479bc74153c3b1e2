// The detail window keeps answering whatever the system behind it does. A heartbeat on the GUI thread
// fails a test when the event loop stood still for more than 100 ms while the spooler's scheduler is
// stopped, while another process holds the store's write lock, or while the printer answers every
// request 10 s late; meanwhile the user shows, hides and closes the window and the printer's changes
// still reach it. The window runs in this process over a slot made as the list program makes it, with
// the engine of libvigil.so on a printer of the simulator. Each test runs in its own process and root.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "facts/models.h"
#include "facts/store_names.h"
#include "panel_window.h"
#include "plat/base/system_root.h"
#include "plat/gui/worker.h"
#include "plat/registry/registry.h"
#include "plat/services/services.h"
#include "prepared_printer.h"
#include "testsupport/machine_wait.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "vigil.h"
#include "watchcore.h"
#include "watchlist/slot_table.h"

using namespace watchpanel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* kPrinters = R"({"printers": [
    {"port": "LPT1:", "model": "PG-03"},
    {"port": "LPT2:", "model": "IJ-09"}]})";

// How long the event loop may stand still.
constexpr qint64 kLongestPauseMs = 100;
// How often the engine reads the printer in these tests: the status interval.
constexpr std::uint32_t kStatusIntervalMs = 1000;

// Beats every 10 ms on the GUI thread and keeps the longest pause between two beats: the time the event
// loop stood still. Time the machine kept the thread from running (a busy build, the host of a virtual
// machine) is not counted: that pause is the machine's, not the window's.
class Heartbeat {
public:
    Heartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { beat(); });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_lastWait = machineWaitMs();
        m_longest = m_longestWall = 0;
        m_timer.start();
    }
    void stop()
    {
        beat();
        m_timer.stop();
    }
    qint64 longest() const { return m_longest; }
    // The longest pause as the clock on the wall saw it, the machine's pauses included.
    qint64 longestWall() const { return m_longestWall; }
    // When, counted from start(), the longest pause ended.
    qint64 longestEndedAt() const { return m_longestAt; }

private:
    void beat()
    {
        const qint64 now = m_clock.elapsed(), wait = machineWaitMs();
        const qint64 pause = (now - m_last) - (wait - m_lastWait);
        if (pause > m_longest) {
            m_longest = pause;
            m_longestAt = now;
        }
        m_longestWall = std::max(m_longestWall, now - m_last);
        m_last = now;
        m_lastWait = wait;
    }

    qint64 machineWaitMs() { return m_machineWait.nanoseconds() / 1'000'000; }

    testsupport::MachineWait m_machineWait;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0, m_lastWait = 0, m_longest = 0, m_longestWall = 0, m_longestAt = 0;
};

// Runs the event loop until `condition` holds; false after `bound`. Never sleeps the GUI thread.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds bound = 30s)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.elapsed() > bound.count()) return false;
        QEventLoop loop;
        QTimer::singleShot(5, Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Runs `work` on the test's helper thread while the event loop goes on: what the test itself waits for
// (a program it runs, the store) must not stop the loop it measures. One thread for all: making threads
// while measuring would add pauses of their own.
template <class Work>
auto offGui(Work work)
{
    static plat::gui::Worker* helper = new plat::gui::Worker("test-helper");  // for the life of the process
    using Result = decltype(work());
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> result = promise->get_future();
    helper->post([promise, work = std::move(work)]() mutable { promise->set_value(work()); });
    waitFor([&] { return result.wait_for(0s) == std::future_status::ready; }, 120s);
    return result.get();
}

// Sounds that play nothing: the heartbeat measures the window, not a sound server.
class SilentSound : public Sound {
public:
    bool play(const std::string&) override { return true; }
    void stop() override {}
    bool playing() const override { return false; }
};

// Stops a process with SIGSTOP and continues it whatever happens: when this goes (a failed assertion
// included), or, should the test process die first, from a child that watches it. The child is made
// before anything is measured: a fork is no work for a thread whose pauses count.
class StopGuard {
public:
    StopGuard(pid_t pid, std::chrono::seconds most) : m_pid(pid)
    {
        const pid_t parent = ::getpid();
        const long ticks = static_cast<long>(most.count()) * 10;
        m_watch = ::fork();
        if (m_watch == 0) {
            // Only async-signal-safe calls here: the parent has threads.
            for (long i = 0; i < ticks && ::getppid() == parent; ++i) {
                const timespec tick{0, 100'000'000};
                ::nanosleep(&tick, nullptr);
            }
            ::kill(pid, SIGCONT);
            ::_exit(0);
        }
    }
    ~StopGuard()
    {
        ::kill(m_pid, SIGCONT);
        if (m_watch > 0) {
            ::kill(m_watch, SIGKILL);
            ::waitpid(m_watch, nullptr, 0);
        }
    }
    StopGuard(const StopGuard&) = delete;
    StopGuard& operator=(const StopGuard&) = delete;

    void stop() const { ::kill(m_pid, SIGSTOP); }

private:
    pid_t m_pid;
    pid_t m_watch = -1;
};

class HeartbeatTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        ASSERT_TRUE(sim.ready()) << sim.output();
    }

    void TearDown() override
    {
        // The window's end waits for its workers; the test has measured what it wanted by then.
        window.reset();
    }

    // The libraries this process loads work on the test's root with these services, kept for the
    // life of the process as the libraries keep what they are handed.
    plat::Services& useServices(plat::Services::Options options)
    {
        auto* services = new plat::Services(testsupport::rootStore(), std::move(options));
        vWatchcoreUseServices(services);
        VigilUseServices(services);
        return *services;
    }

    // The spooler's printer as the list program prepares it: its store, the engine's interval, its slot.
    void addPrinter(const std::string& name, const std::string& port, facts::Code code)
    {
        watchpanel::testing::preparePrinter(slotTable, name, port, code, kStatusIntervalMs);
        // Shown from the first tick on, as after the user asked for it.
        change([](PrinterEntry& e) { e.HideRequest = 0; });
    }

    PrinterEntry entry() const
    {
        PrinterEntry e{};
        EXPECT_EQ(fSharedMemoryReadAccess(slotTable.view(0), &e, sizeof e), 1);
        return e;
    }
    void change(const std::function<void(PrinterEntry&)>& edit)
    {
        PrinterEntry e = entry();
        edit(e);
        ASSERT_EQ(fSharedMemoryWriteAccess(slotTable.view(0), &e, sizeof e), 1);
    }

    // Starts the window on slot 0 and waits until it shows the printer ready.
    void startWindow()
    {
        window = std::make_unique<PanelWindow>(0, std::make_unique<SilentSound>());
        ASSERT_TRUE(window->start());
        QObject::connect(window.get(), &PanelWindow::ended, [this] { ended = true; });
        ASSERT_TRUE(waitFor([&] { return entry().ReadyAck == 1 && pageShows("印刷できます。"); }))
            << "the printer never showed ready: " << textOf(1306).toStdString();
        ASSERT_TRUE(waitFor([&] { return window->dialog()->isVisible(); }));
    }

    QWidget* control(int number) const
    {
        return window->dialog()->findChild<QWidget*>(QStringLiteral("c%1").arg(number));
    }
    QString textOf(int number) const
    {
        QWidget* w = control(number);
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) return edit->toPlainText();
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        return {};
    }
    bool pageShows(const char* message) const { return textOf(1306) == QString::fromUtf8(message); }
    QTabWidget* tabs() const { return window->dialog()->findChild<QTabWidget*>("c1201"); }
    void click(int number)
    {
        auto* button = qobject_cast<QPushButton*>(control(number));
        ASSERT_NE(button, nullptr) << number;
        button->click();
    }

    // vprinter ctl, off the GUI thread.
    void printer(const std::string& port, const std::string& command)
    {
        const testsupport::ProgramRun run = offGui([&] { return sim.control(port, command); });
        ASSERT_EQ(run.exitCode, 0) << command << ": " << run.err;
    }
    // The change reaches the window within the status interval and a second.
    void expectShownInTime(const std::string& port, const std::string& command, const char* message,
                           std::uint32_t intervalMs = kStatusIntervalMs)
    {
        printer(port, command);
        QElapsedTimer since;
        since.start();
        ASSERT_TRUE(waitFor([&] { return pageShows(message); }, 30s))
            << command << ": the page shows " << textOf(1306).toStdString();
        EXPECT_LE(since.elapsed(), static_cast<qint64>(intervalMs) + 1000) << command << " took long to show";
    }
    // "閉じる" hides the window; a double click on the tray icon and the list's show request bring it back.
    void hideAndShow()
    {
        click(2);
        ASSERT_TRUE(waitFor([&] { return !window->dialog()->isVisible(); })) << "閉じる";
        emit window->tray().doubleClicked();
        ASSERT_TRUE(waitFor([&] { return window->dialog()->isVisible(); })) << "the tray";
        click(2);
        ASSERT_TRUE(waitFor([&] { return !window->dialog()->isVisible(); })) << "閉じる";
        ASSERT_TRUE(watchlist::requestShow(slotTable.view(0)));
        ASSERT_TRUE(waitFor([&] { return window->dialog()->isVisible(); })) << "the list's show request";
    }
    // The list program's close request ends the window.
    void closeByTheList()
    {
        ASSERT_TRUE(watchlist::requestClose(slotTable.view(0)));
        ASSERT_TRUE(waitFor([&] { return ended; })) << "the close request";
        EXPECT_EQ(window->exitCode(), 0);
    }
    void expectNoPause()
    {
        heartbeat.stop();
        EXPECT_LE(heartbeat.longest(), kLongestPauseMs)
            << "the event loop stood still for " << heartbeat.longest() << " ms, until " << heartbeat.longestEndedAt()
            << " ms into the test (longest pause on the wall clock " << heartbeat.longestWall() << " ms)";
    }

    // A printer data value of `printer`, as the driver configuration wrote it; read off the GUI thread.
    std::optional<std::string> printerData(const std::string& printer, const char* name)
    {
        return offGui([&]() -> std::optional<std::string> {
            std::byte buffer[1024];
            std::uint32_t size = 0;
            const std::string key = std::string(facts::key::kPrinters) + printer + std::string(facts::key::kDriverData);
            if (testsupport::rootStore().getValue(plat::registry::Root::LocalMachine, key, name, buffer, &size) !=
                plat::registry::Status::Ok) {
                return std::nullopt;
            }
            return std::string(reinterpret_cast<const char*>(buffer), size);
        });
    }

    std::string simSocket(const std::string& port) const
    {
        std::string file = "vprinter-" + port + ".sock";
        std::replace(file.begin(), file.end(), ':', '_');
        return (root.path() / "run" / file).string();
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kPrinters};
    watchlist::SlotTable slotTable;
    std::unique_ptr<PanelWindow> window;
    Heartbeat heartbeat;
    bool ended = false;
};

// A word of the printer-information blob the driver configuration writes.
std::uint32_t blobWord(const std::string& blob, std::size_t index)
{
    std::uint32_t v = 0;
    if (blob.size() >= 4 * (index + 1)) std::memcpy(&v, blob.data() + 4 * index, 4);
    return v;
}

}  // namespace

TEST_F(HeartbeatTest, AStoppedSchedulerHoldsUpNeitherTheWindowNorThePrintersOwnStatus)
{
    // A scheduler of this test's own: stopping the test run's shared one would stall every other test
    // that asks it.
    const fs::path cupsd = root.path() / "cupsd";
    const testsupport::ProgramRun started =
        testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "start", cupsd.string(), VELTA_BACKEND});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    struct Scheduler {
        fs::path dir;
        ~Scheduler() { testsupport::runProgram({KESTREL_CUPSD_SCRIPT, "stop", dir.string()}); }
    } ownCupsd{cupsd};
    const std::string server = (cupsd / "cups.sock").string();
    ::setenv("CUPS_SERVER", server.c_str(), 1);
    ::setenv("CUPS_SERVERROOT", (cupsd / "etc").c_str(), 1);
    const testsupport::ProgramRun added =
        testsupport::runProgram({"/usr/sbin/lpadmin", "-h", server, "-p", "Office", "-E", "-v",
                                 "velta:" + simSocket("LPT1:"), "-P", VELTA_PPD_DIR "/pg03.ppd"});
    ASSERT_EQ(added.exitCode, 0) << added.err;

    static const plat::ScaledClock fast(0.02);
    plat::Services::Options options{&fast, plat::spool::Kind::Cups, {}};
    options.cups.server = server;
    plat::Services& services = useServices(options);
    auto spooler = services.spooler();
    ASSERT_TRUE(spooler.ok()) << spooler.error().detail;
    auto queue = spooler.value()->printer("Office");
    ASSERT_TRUE(queue.ok()) << queue.error().detail;
    addPrinter("Office", queue.value().port, facts::Code::PG03);
    startWindow();
    // The status reached the spooler: the queue's printer data holds it.
    std::optional<std::string> before;
    ASSERT_TRUE(waitFor([&] { return (before = printerData("Office", "VLPrinterInfo")).has_value(); }));

    std::ifstream pidFile(cupsd / "cupsd.pid");
    pid_t pid = 0;
    ASSERT_TRUE(pidFile >> pid) << "no cupsd.pid";
    {
        const StopGuard stopped(pid, 25s);
        heartbeat.start();
        stopped.stop();
        QElapsedTimer stoppedFor;
        stoppedFor.start();
        // Past the life of the spooler's snapshot: the next update asks the stopped scheduler.
        waitFor([] { return false; }, 2500ms);

        // Each change starts a driver-configuration update, which waits for the scheduler; the
        // printer's next change shows all the same.
        expectShownInTime("LPT1:", "cover-open", "プリンタカバーが開いています。");
        expectShownInTime("LPT1:", "ready", "印刷できます。");
        expectShownInTime("LPT1:", "cover-open", "プリンタカバーが開いています。");
        // Ready again, so that the rule that opens the window on an error keeps out of what follows.
        expectShownInTime("LPT1:", "ready", "印刷できます。");
        hideAndShow();
        EXPECT_EQ(printerData("Office", "VLPrinterInfo"), before) << "the spooler took an update while stopped";
        // The user can still end it; the stop's last update waits for the scheduler.
        ASSERT_TRUE(waitFor([&] { return stoppedFor.elapsed() >= 14000; }, 20s));
        closeByTheList();
        expectNoPause();
    }
    // Continued: the window's end writes the last update, which says monitoring stopped. The spooler
    // asks the scheduler again only once its last failed answer is older than the snapshot's life.
    waitFor([] { return false; }, 2500ms);
    window.reset();
    const std::optional<std::string> after = printerData("Office", "VLPrinterInfo");
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(blobWord(*after, 1), 0u) << "the final update";
}

TEST_F(HeartbeatTest, AStoreLockedByAnotherProcessHoldsUpNothingTheUserDoes)
{
    static const plat::ScaledClock fast(0.02);
    useServices({&fast, {}, {}});
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    tabs()->setCurrentIndex(2);  // the settings page
    auto* interval = qobject_cast<QSlider*>(control(1702));
    ASSERT_NE(interval, nullptr);
    const int chosen = 3;  // seconds; the page shows the engine's 1 s as its least, 2
    ASSERT_NE(interval->value(), chosen);

    // sqlite3 holds the write lock for 5 s once it has it, and says so with a file.
    const fs::path locked = root.path() / "locked";
    const std::string script =
        ".timeout 10000\nBEGIN IMMEDIATE;\n.shell touch '" + locked.string() + "'\n.shell sleep 5\nROLLBACK;\n";
    std::promise<testsupport::ProgramRun> lockerRun;
    std::future<testsupport::ProgramRun> locker = lockerRun.get_future();
    plat::gui::Worker locking("test-locker");  // made before the heartbeat starts; gone before the promise
    heartbeat.start();
    locking.post([&] {
        lockerRun.set_value(
            testsupport::runProgram({"/usr/bin/sqlite3", "-bail", plat::registryFile().string()}, script));
    });
    ASSERT_TRUE(waitFor([&] { return fs::exists(locked); })) << "sqlite3 never took the lock";

    // The user applies a new interval: the store waits, the window does not.
    interval->setValue(chosen);
    click(1725);
    tabs()->setCurrentIndex(0);
    tabs()->setCurrentIndex(2);
    hideAndShow();
    tabs()->setCurrentIndex(2);  // back to the settings page, which the show left
    ASSERT_TRUE(waitFor([&] { return locker.wait_for(0s) == std::future_status::ready; }, 60s));
    const testsupport::ProgramRun held = locker.get();
    EXPECT_EQ(held.exitCode, 0) << held.err;

    // The new interval is stored once the lock is gone (the engine reads it there); a store that gave
    // up meanwhile gave "更新" back, and it is pressed again.
    const std::uint32_t chosenMs = static_cast<std::uint32_t>(chosen) * 1000;
    auto storedInterval = [&] {
        return offGui([&] {
            std::uint32_t v = 0, size = 0;
            testsupport::rootStore().getValue(
                plat::registry::Root::LocalMachine,
                std::string(facts::key::kPrinters) + "Office" + std::string(facts::key::kEngineStore),
                facts::value::kGetRealTimeStatusTime, std::as_writable_bytes(std::span(&v, 1)), &size);
            return v;
        });
    };
    ASSERT_TRUE(waitFor([&] {
        if (control(1725)->isEnabled()) click(1725);
        return storedInterval() == chosenMs;
    }));
    tabs()->setCurrentIndex(0);
    expectShownInTime("LPT1:", "cover-open", "プリンタカバーが開いています。", chosenMs);
    closeByTheList();
    expectNoPause();
}

TEST_F(HeartbeatTest, APrinterThatAnswersTenSecondsLateHoldsUpNeitherTheWindowNorItsHeadMove)
{
    // Fixed waits at a tenth: the engine's port time-outs still take half a second each.
    static const plat::ScaledClock tenth(0.1);
    useServices({&tenth, {}, {}});
    addPrinter("Photo", "LPT2:", facts::Code::IJ09);
    startWindow();
    tabs()->setCurrentIndex(2);  // the tools page of an inkjet
    QSignalSpy moved(&window->toolsPage(), &ToolsWidget::headMoveFinished);

    heartbeat.start();
    printer("LPT2:", "slow 10000");
    click(1812);
    EXPECT_TRUE(window->toolsPage().headMoving());
    // The user goes through the pages while the engine waits for the printer.
    for (int tab : {0, 1, 2}) {
        tabs()->setCurrentIndex(tab);
        waitFor([] { return false; }, 200ms);
    }
    ASSERT_TRUE(waitFor([&] { return moved.count() == 1; }, 90s)) << "the head move never returned";

    // The status follows the printer: no answer in time is a communication error, and it comes back.
    tabs()->setCurrentIndex(0);
    ASSERT_TRUE(waitFor([&] { return pageShows("通信エラーが発生しました。"); }, 60s)) << textOf(1306).toStdString();
    printer("LPT2:", "heal");
    ASSERT_TRUE(waitFor([&] { return pageShows("印刷できます。"); }, 60s)) << textOf(1306).toStdString();
    closeByTheList();
    expectNoPause();
}
