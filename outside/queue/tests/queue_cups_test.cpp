// The queue window on CUPS: the queue's real jobs from the private cupsd of the test run (the "cupsd"
// CTest fixture), cancels one by one and all at once, a refusal said plainly, and a window's thread
// that never waits, even on a scheduler that is stopped.

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "plat/spool/spooler.h"
#include "queue_window.h"
#include "testsupport/machine_wait.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kCupsd = KESTREL_CUPSD_DIR;
const std::string kScript = KESTREL_CUPSD_SCRIPT;

class QueueOnCups : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kCupsd / "cups.sock")) << "the cupsd fixture is not running in " << kCupsd;
        scheduler = kCupsd;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        queue = std::string("q_") + info->name();
    }

    void TearDown() override
    {
        window.reset();
        admin({"-x", queue});
        // The window's worker ends once its last spooler call is answered.
        EXPECT_TRUE(queue::QueueWorker::drain(60s));
    }

    testsupport::ProgramRun admin(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/sbin/lpadmin", "-h", (scheduler / "cups.sock").string()});
        return testsupport::runProgram(args);
    }

    void addQueue()
    {
        auto added = admin({"-p", queue, "-E", "-v", "velta:/dev/usb/lp9", "-P", VELTA_PPD_DIR "/pg03.ppd"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
    }

    // A job that waits, held, with `title` and 3000 bytes.
    void hold(const std::string& title)
    {
        const fs::path doc = root.path() / "doc.bin";
        std::ofstream(doc, std::ios::binary) << std::string(3000, 'x');
        auto lp = testsupport::runProgram({"/usr/bin/lp", "-h", (scheduler / "cups.sock").string(), "-d", queue, "-o",
                                           "raw", "-H", "hold", "-t", title, doc.string()});
        ASSERT_EQ(lp.exitCode, 0) << lp.err;
    }

    void openWindow()
    {
        plat::spool::CupsOptions options;
        options.server = (scheduler / "cups.sock").string();
        window = std::make_unique<queue::QueueWindow>(
            [options]() -> plat::Result<std::unique_ptr<plat::spool::Spooler>> {
                auto made = plat::spool::cups(testsupport::rootStore(), options);
                if (!made) return made.error();
                return std::unique_ptr<plat::spool::Spooler>(std::move(made).value());
            },
            queue);
        window->show();
        jobs = window->findChild<QTreeWidget*>("jobs");
        one = window->findChild<QPushButton*>("cancelOne");
        all = window->findChild<QPushButton*>("cancelAll");
        summary = window->findChild<QLabel*>("summary");
        ASSERT_TRUE(jobs && one && all && summary);
    }

    bool rowsAre(int n)
    {
        return QTest::qWaitFor([&] { return window->state().listed && jobs->topLevelItemCount() == n; }, 20000);
    }

    fs::path scheduler;
    std::string queue;
    std::unique_ptr<queue::QueueWindow> window;
    QTreeWidget* jobs = nullptr;
    QPushButton* one = nullptr;
    QPushButton* all = nullptr;
    QLabel* summary = nullptr;
};

TEST_F(QueueOnCups, ListsTheQueuesJobsAndCancelsTheSelectedOneOrAll)
{
    addQueue();
    hold("Quarterly report");
    hold("Second");
    hold("Third");
    openWindow();
    ASSERT_TRUE(rowsAre(3));
    ASSERT_EQ(jobs->columnCount(), 6);
    EXPECT_EQ(jobs->headerItem()->text(1), QString::fromUtf8("文書名"));
    const QTreeWidgetItem* first = jobs->topLevelItem(0);
    EXPECT_EQ(first->text(1), QString::fromUtf8("Quarterly report"));
    EXPECT_EQ(first->text(2), QString::fromUtf8(cupsUser()));
    EXPECT_EQ(first->text(3), QString::fromUtf8("3 KB"));
    EXPECT_EQ(first->text(4), QString::fromUtf8("保留中"));
    EXPECT_FALSE(first->text(5).isEmpty());
    EXPECT_EQ(summary->text(), QString::fromUtf8("印刷待ちのｼﾞｮﾌﾞが 3 件あります。"));
    EXPECT_EQ(one->text(), QString::fromUtf8("選択したｼﾞｮﾌﾞを取り消し(&C)"));

    // The second one, chosen.
    const QString second = jobs->topLevelItem(1)->text(0);
    jobs->setCurrentItem(jobs->topLevelItem(1));
    ASSERT_TRUE(one->isEnabled());
    QTest::mouseClick(one, Qt::LeftButton);
    ASSERT_TRUE(rowsAre(2));
    EXPECT_EQ(jobs->topLevelItem(0)->text(1), QString::fromUtf8("Quarterly report"));
    EXPECT_EQ(jobs->topLevelItem(1)->text(1), QString::fromUtf8("Third"));
    EXPECT_NE(jobs->topLevelItem(1)->text(0), second);

    // A job from elsewhere shows up by itself.
    hold("Late");
    ASSERT_TRUE(rowsAre(3));

    ASSERT_TRUE(QTest::qWaitFor([&] { return all->isEnabled(); }, 20000));
    QTest::mouseClick(all, Qt::LeftButton);
    ASSERT_TRUE(rowsAre(0));
    EXPECT_EQ(summary->text(), QString::fromUtf8("印刷待ちのｼﾞｮﾌﾞはありません。"));
    EXPECT_FALSE(all->isEnabled());
    EXPECT_FALSE(one->isEnabled());
}

// A scheduler of this test's own that refuses cancels, as a desktop's refuses another user's jobs.
TEST_F(QueueOnCups, SaysPlainlyWhenCupsRefusesTheCancel)
{
    const fs::path own = root.path() / "cupsd";
    ::setenv("KESTREL_CUPSD_DENY", "Cancel-Job Cancel-Jobs Purge-Jobs", 1);
    auto started = testsupport::runProgram({kScript, "start", own.string()});
    ::unsetenv("KESTREL_CUPSD_DENY");
    ASSERT_EQ(started.exitCode, 0) << started.err;
    struct Stop {
        fs::path dir;
        ~Stop() { testsupport::runProgram({kScript, "stop", dir.string()}); }
    } stop{own};
    scheduler = own;
    addQueue();
    hold("Someone else's");
    hold("Another");
    openWindow();
    ASSERT_TRUE(rowsAre(2));
    QTest::mouseClick(all, Qt::LeftButton);
    const QString refused = QString::fromUtf8("ｼﾞｮﾌﾞを取り消す権限がありません。ほかのﾕｰｻﾞｰのｼﾞｮﾌﾞは取り消せません。");
    EXPECT_TRUE(QTest::qWaitFor([&] { return summary->text().startsWith(refused); }, 20000))
        << summary->text().toStdString();
    EXPECT_EQ(jobs->topLevelItemCount(), 2) << "nothing lost";
    EXPECT_EQ(window->state().problem, queue::Problem::NotAllowed);
    window.reset();
}

// The window's thread never waits on the spooler: with the scheduler stopped (SIGSTOP) for 15 s, a
// cancel, a new window, showing, hiding and closing all go on while a heartbeat timer every 10 ms
// never finds the event loop held up for more than 100 ms. A busy machine may keep the thread from
// running for a while (testsupport::MachineWait); that time does not count as the loop held up.
TEST_F(QueueOnCups, TheWindowsThreadNeverWaitsOnAStoppedScheduler)
{
    const fs::path own = root.path() / "cupsd";
    auto started = testsupport::runProgram({kScript, "start", own.string()});
    ASSERT_EQ(started.exitCode, 0) << started.err;
    struct Stop {
        fs::path dir;
        ~Stop() { testsupport::runProgram({kScript, "stop", dir.string()}); }
    } stop{own};
    scheduler = own;
    addQueue();
    hold("Waiting");
    openWindow();
    ASSERT_TRUE(rowsAre(1));

    QElapsedTimer clock;
    clock.start();
    testsupport::MachineWait machineWait;
    auto machineWaitMs = [&] { return static_cast<double>(machineWait.nanoseconds()) / 1e6; };
    double longestBeat = 0, longestHeldUp = 0, lastBeat = clock.elapsed(), lastWait = machineWaitMs();
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const double now = clock.elapsed(), wait = machineWaitMs();
        longestBeat = std::max(longestBeat, now - lastBeat);
        longestHeldUp = std::max(longestHeldUp, now - lastBeat - (wait - lastWait));
        lastBeat = now;
        lastWait = wait;
    });
    heartbeat.start(10);

    std::string pid;
    std::getline(std::ifstream(own / "cupsd.pid"), pid);
    ASSERT_EQ(::kill(std::stoi(pid), SIGSTOP), 0);
    struct Continue {
        int pid;
        ~Continue() { ::kill(pid, SIGCONT); }
    } resume{std::stoi(pid)};

    // Everything from inside the event loop, so that a call that waited would hold the loop up.
    std::unique_ptr<queue::QueueWindow> second;
    QEventLoop loop;
    QTimer::singleShot(100, [&] { QTest::mouseClick(all, Qt::LeftButton); });  // the worker now waits on cupsd
    QTimer::singleShot(500, [&] { window->hide(); });
    QTimer::singleShot(1000, [&] { window->show(); });
    QTimer::singleShot(1500, [&] {
        // A second window opens its own spooler, which cannot even get an answer.
        auto first = std::move(window);
        openWindow();
        second = std::move(window);
        window = std::move(first);
    });
    QTimer::singleShot(2000, [&] { second->close(); });
    QTimer::singleShot(2500, [&] {
        second.reset();
        window->close();
        window.reset();
    });
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    loop.exec();
    heartbeat.stop();
    EXPECT_LE(longestHeldUp, 100) << "the event loop was held up " << longestHeldUp << " ms";
    std::cout << "longest heartbeat gap " << longestBeat << " ms, held up at most " << longestHeldUp << " ms\n";
}

}  // namespace
