// The detail window on a simulated printer, end to end: a slot made by the list program's slot module,
// the engine of libvigil.so reading vprinter, and the window's widgets, slot and store checked as the
// state changes. Each test runs in its own process (the engine keeps one printer per process) and its
// own system root.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "facts/models.h"
#include "facts/store_names.h"
#include "panel_window.h"
#include "plat/base/message_box.h"
#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "plat/services/services.h"
#include "prepared_printer.h"
#include "resources/language.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "vigil.h"
#include "watchcore.h"
#include "watchlist/slot_table.h"

using namespace watchpanel;

namespace {

constexpr const char* kPrinters = R"({"printers": [
    {"port": "LPT1:", "model": "PG-03"},
    {"port": "LPT2:", "model": "IJ-09"},
    {"port": "LPT3:", "model": "DM-02"}]})";

// Waits, with the event loop running, until `condition` holds; false after a generous bound.
bool eventually(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

class PanelTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ::setenv("KESTREL_TEST_TIME_SCALE", "0.02", 1);  // for the detail programs the tests start
        // The libraries this process loads work on the test's root with their fixed waits at 1/50. Kept
        // for the life of the process, as the libraries keep what they are handed.
        static const plat::ScaledClock fast(0.02);
        auto* services = new plat::Services(testsupport::rootStore(), {&fast, {}, {}});
        vWatchcoreUseServices(services);
        VigilUseServices(services);
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        // The windows' own notifications stay off the desktop of whoever runs the tests: no bus.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestrel-test-bus", 1);
        ASSERT_TRUE(sim.ready()) << sim.output();
    }

    // The spooler's printer, its store prepared as the list program prepares it, and its slot.
    void addPrinter(const std::string& name, const std::string& port, facts::Code code)
    {
        // The engine reads every 40 ms and retries after 100 ms.
        watchpanel::testing::preparePrinter(slotTable, name, port, code, 40);
        m_printer = name;
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
    std::uint32_t store(const char* valueName) const
    {
        std::uint32_t v = 0xFFFFFFFF, size = 0;
        plat::registry::Store::forCurrentRoot().value()->getValue(
            plat::registry::Root::LocalMachine,
            std::string(facts::key::kPrinters) + m_printer + std::string(facts::key::kEngineStore), valueName,
            std::as_writable_bytes(std::span(&v, 1)), &size);
        return v;
    }

    void setStoreFlag(const char* valueName, std::uint32_t value) const
    {
        ASSERT_EQ(testsupport::rootStore().setValue(
                      plat::registry::Root::LocalMachine,
                      std::string(facts::key::kPrinters) + m_printer + std::string(facts::key::kEngineStore), valueName,
                      plat::registry::ValueType::Dword, std::as_bytes(std::span(&value, 1)),
                      plat::registry::Store::Flush::No),
                  plat::registry::Status::Ok);
    }

    // Starts the window on slot 0 and waits until the engine is ready.
    void startWindow()
    {
        window = std::make_unique<PanelWindow>(0);
        ASSERT_TRUE(window->start());
        ASSERT_TRUE(eventually([&] { return entry().ReadyAck == 1; })) << "the engine never became ready";
    }

    QString textOf(int control) const
    {
        QWidget* w = window->dialog()->findChild<QWidget*>(QStringLiteral("c%1").arg(control));
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) return edit->toPlainText();
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        if (auto* button = qobject_cast<QPushButton*>(w)) return button->text();
        return QStringLiteral("<no control c%1>").arg(control);
    }
    int pictureOf(int control) const
    {
        QWidget* w = window->dialog()->findChild<QWidget*>(QStringLiteral("c%1").arg(control));
        return w == nullptr ? -1 : w->property("kestrelPicture").toInt();
    }
    bool pageShows(const char* message) const { return textOf(1306) == QString::fromUtf8(message); }
    QTabWidget* tabs() const { return window->dialog()->findChild<QTabWidget*>("c1201"); }

    testsupport::Simulator sim{VPRINTER_PROGRAM, kPrinters};
    watchlist::SlotTable slotTable;
    std::unique_ptr<PanelWindow> window;
    std::string m_printer;
};

}  // namespace

TEST_F(PanelTest, APagePrinterBecomesReadyAndFollowsItsCover)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    const PrinterEntry ready = entry();
    EXPECT_EQ(ready.MonitorActive, 1u);
    EXPECT_EQ(ready.PanelReady, 1u);
    EXPECT_EQ(ready.MonitorRunning, 1u);
    EXPECT_EQ(window->dialog()->windowTitle(), QString::fromUtf8("Officeのｹｽﾄﾚﾙ"));
    ASSERT_EQ(tabs()->count(), 4);
    EXPECT_EQ(tabs()->tabText(1), QString::fromUtf8("ﾌﾟﾘﾝﾀ情報"));
    EXPECT_FALSE(tabs()->tabIcon(0).isNull());

    ASSERT_TRUE(eventually([&] { return pageShows("印刷できます。") && pictureOf(1305) == 400; }));
    EXPECT_TRUE(eventually([&] { return pictureOf(1324) >= 200; })) << "the toner level shows";
    EXPECT_EQ(textOf(1302), "Office");
    EXPECT_EQ(textOf(1304), "LPT1:");

    sim.must("LPT1:", "cover-open");
    EXPECT_TRUE(eventually([&] { return pageShows("プリンタカバーが開いています。"); }));
    EXPECT_EQ(textOf(1307), QString::fromUtf8("プリンタカバーを閉じてください。"));
    EXPECT_EQ(pictureOf(1305), 401);
    EXPECT_EQ(entry().MessageIndex, 26);
    EXPECT_TRUE(window->dialog()->findChild<QPushButton*>("c1308")->isEnabled());
    EXPECT_EQ(window->dialog()->findChild<QWidget*>("c1306")->accessibleName(),
              QString::fromUtf8("ステータスメッセージ"));
}

TEST_F(PanelTest, AnImpactPrinterHasThreeTabsAndShowsItsJam)
{
    addPrinter("Forms", "LPT3:", facts::Code::DM02);
    startWindow();
    ASSERT_EQ(tabs()->count(), 3);
    EXPECT_EQ(tabs()->tabText(1), QString::fromUtf8("環境設定"));
    ASSERT_TRUE(eventually([&] { return pageShows("印刷できます。"); }));
    EXPECT_EQ(textOf(1401), QString::fromUtf8("ﾌﾟｯｼｭﾄﾗｸﾀ"));

    sim.must("LPT3:", "jam");
    EXPECT_TRUE(eventually([&] { return pageShows("紙づまりです。"); }));
    EXPECT_EQ(pictureOf(1305), 463);
    EXPECT_EQ(entry().PrinterState, 2u);
}

TEST_F(PanelTest, AnInkjetShowsItsInkAndNamesTheEmptyCartridge)
{
    addPrinter("Photo", "LPT2:", facts::Code::IJ09);
    startWindow();
    sim.must("LPT2:", "ink black=60 color=60");
    ASSERT_TRUE(eventually([&] { return pictureOf(1502) == 224 && pictureOf(1501) == 214; }))
        << pictureOf(1501) << " " << pictureOf(1502);

    sim.must("LPT2:", "ink black=0 color=60");
    sim.must("LPT2:", "ink-out");
    EXPECT_TRUE(eventually([&] { return textOf(1306).endsWith(QString::fromUtf8("がありません。")); }))
        << textOf(1306).toStdString();
    EXPECT_EQ(entry().MessageIndex, 12);
    EXPECT_FALSE(window->dialog()->findChild<QPushButton*>("c1339")->isEnabled()) << "IJ-09 has no guide";
}

TEST_F(PanelTest, CloseHidesAndTheListsShowRequestBringsItBackOnTheStatusTab)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    change([](PrinterEntry& e) { e.HideRequest = 0; });
    startWindow();
    ASSERT_TRUE(eventually([&] { return window->dialog()->isVisible(); }));
    tabs()->setCurrentIndex(2);
    EXPECT_EQ(window->currentPage(), 2);

    QTest::mouseClick(window->dialog()->findChild<QPushButton*>("c2"), Qt::LeftButton);
    EXPECT_TRUE(eventually([&] { return entry().HideRequest == 1u; }));
    ASSERT_TRUE(eventually([&] { return !window->dialog()->isVisible(); }));
    EXPECT_EQ(entry().MonitorActive, 1u) << "closing the window does not stop monitoring";

    ASSERT_TRUE(watchlist::requestShow(slotTable.view(0)));
    ASSERT_TRUE(eventually([&] { return window->dialog()->isVisible(); }));
    EXPECT_EQ(tabs()->currentIndex(), 0);
    EXPECT_EQ(window->currentPage(), 0);
    EXPECT_TRUE(eventually([&] { return entry().ForegroundRequest == 0; }));
}

TEST_F(PanelTest, TheCloseRequestEndsTheProgramAndClearsTheStoreFlags)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    EXPECT_EQ(store("VigilExistFlag"), 1u);
    bool ended = false;
    QObject::connect(window.get(), &PanelWindow::ended, [&] { ended = true; });
    ASSERT_TRUE(watchlist::requestClose(slotTable.view(0)));
    ASSERT_TRUE(eventually([&] { return ended; }));
    window.reset();
    const PrinterEntry after = entry();
    EXPECT_EQ(after.MonitorActive, 0u);
    EXPECT_EQ(after.MonitorRunning, 0u);
    EXPECT_EQ(after.ReadyAck, 1u);
    EXPECT_EQ(store("VigilExistFlag"), 0u);
    EXPECT_EQ(store("StRealThreadExistFlag"), 0u);
}

TEST_F(PanelTest, AnUnreachablePrinterIsReportedAndTheEngineRestartsUntilItAnswers)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    ASSERT_TRUE(eventually([&] { return pageShows("印刷できます。"); }));
    const std::uint32_t readySince = entry().StatusChangedTime;
    EXPECT_NE(readySince, 0u) << "the time of the first status is kept";
    sim.must("LPT1:", "unplug");
    ASSERT_TRUE(eventually([&] { return pageShows("通信エラーが発生しました。"); }));
    EXPECT_EQ(pictureOf(1305), 402);
    EXPECT_TRUE(eventually([&] { return entry().AlertCategory == 8; }));
    // While the cable is out the engine is started again every 100 ms or so; over a few seconds of
    // restarts neither the page nor the record brings back the last reply from before the cable went
    // (a ready one). Watched, not waited for: nothing here depends on how many restarts fit.
    (void)QTest::qWaitFor(
        [&] {
            EXPECT_FALSE(pageShows("印刷できます。"));
            EXPECT_EQ(entry().AlertCategory, 8u);
            return ::testing::Test::HasFailure();
        },
        3000);
    EXPECT_GE(entry().StatusChangedTime, readySince);
    // Scripts read what the window shows, not the last reply the printer gave.
    const char* locale = std::getenv("LC_ALL");
    const std::string before = locale != nullptr ? locale : "";
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);  // the window's language here
    testsupport::ProgramRun status;
    EXPECT_TRUE(eventually([&] {
        status = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"});
        return status.out.find("\"message\":\"通信エラーが発生しました。\"") != std::string::npos &&
               status.out.find("\"state\":\"unreachable\"") != std::string::npos;
    })) << status.out;
    if (locale != nullptr) ::setenv("LC_ALL", before.c_str(), 1);
    else ::unsetenv("LC_ALL");
    // The engine gives up and asks to be started again; the window restarts it until the printer is back.
    sim.must("LPT1:", "plug");
    EXPECT_TRUE(eventually([&] { return pageShows("印刷できます。"); }));
    EXPECT_TRUE(eventually([&] { return window->panel().engineReady(); }));
}

TEST_F(PanelTest, AMovedPortOrARefusedRestartIsReportedToTheListWhileRunning)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    ASSERT_TRUE(eventually([&] { return pageShows("印刷できます。"); }));
    // The spooler moves the printer to another port: the list must rebuild to follow it.
    const std::string port = "LPT2:";
    ASSERT_EQ(testsupport::rootStore().setValue(
                  plat::registry::Root::LocalMachine, std::string(facts::key::kPrinters) + m_printer, "Port",
                  plat::registry::ValueType::String, std::as_bytes(std::span(port.c_str(), port.size() + 1)),
                  plat::registry::Store::Flush::No),
              plat::registry::Status::Ok);
    ASSERT_TRUE(eventually([&] { return entry().EngineStateReport == 6; })) << store("PrinterStFlag");
    EXPECT_EQ(entry().MonitorActive, 0u);

    // The engine's verdict that it cannot monitor the printer (a start that finds another one) too.
    change([](PrinterEntry& e) { e.EngineStateReport = 0; });
    setStoreFlag("PrinterStFlag", 3);
    EXPECT_TRUE(eventually([&] { return entry().EngineStateReport == 3; }));
}

TEST_F(PanelTest, BadRecordsShowWhatTheyCanAndNeverCrash)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    change([](PrinterEntry& e) {
        e.HideRequest = 0;
        e.ModelCode = 77;                                   // no such model
        e.PrinterFamily = 9;                                // no such family
        std::memset(e.ModelName, 'M', sizeof e.ModelName);  // no terminating zero
        e.PanelTimer1Period = 0;                            // would spin
    });
    window = std::make_unique<PanelWindow>(0);
    ASSERT_TRUE(window->start());
    ASSERT_EQ(tabs()->count(), 4) << "laid out as a page printer, the model being unknown too";
    EXPECT_EQ(textOf(1303), QString(32, 'M'));
    ASSERT_TRUE(eventually([&] { return entry().ReadyAck == 1; }));

    // Indexes out of range leave the page as it was.
    ASSERT_TRUE(eventually([&] { return pageShows("印刷できます。"); }));
    change([](PrinterEntry& e) {
        e.MessageIndex = 500;
        e.PictureIndex = 500;
        e.StatusRedraw = 1;
    });
    ASSERT_TRUE(eventually([&] { return entry().StatusRedraw == 0; }));
    EXPECT_TRUE(pageShows("印刷できます。"));
}

TEST_F(PanelTest, AWriteKeepsWhatTheListRequestedMeanwhile)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    EntryAccess access;
    ASSERT_TRUE(access.attach(0));
    PrinterEntry base{};
    ASSERT_TRUE(access.read(base));
    ASSERT_TRUE(watchlist::requestClose(slotTable.view(0)));  // between our read and our write
    PrinterEntry mine = base;
    mine.HideRequest = 0;
    mine.PictureIndex = 3;
    ASSERT_TRUE(access.write(base, mine));
    const PrinterEntry now = entry();
    EXPECT_EQ(now.CloseRequest, 1u) << "the close request survives";
    EXPECT_EQ(now.HideRequest, 0u) << "what we changed is written";
    EXPECT_EQ(now.PictureIndex, 3);
}

TEST_F(PanelTest, KeysWalkTheTabsAroundAndTroubleshootingExplains)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    change([](PrinterEntry& e) { e.HideRequest = 0; });
    startWindow();
    QTabBar* bar = tabs()->tabBar();
    tabs()->setCurrentIndex(3);
    QTest::keyClick(bar, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs()->currentIndex(), 0) << "after the last comes the first";
    QTest::keyClick(bar, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs()->currentIndex(), 3) << "before the first comes the last";
    QTest::keyClick(bar, Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(window->currentPage(), 0);
    EXPECT_EQ(window->helpContext(), 1001);

    sim.must("LPT1:", "cover-open");
    ASSERT_TRUE(eventually([&] { return pageShows("プリンタカバーが開いています。"); }));
    auto* trouble = window->dialog()->findChild<QPushButton*>("c1308");
    EXPECT_EQ(trouble->text(), QString::fromUtf8("ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ(&T)..."));
    QString explanation, name;
    // The dialog is modal: look at it from inside its own event loop, then close it.
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* text = w->findChild<QPlainTextEdit*>("c2101");
            if (text == nullptr || !w->isVisible()) continue;
            explanation = text->toPlainText();
            if (auto* label = w->findChild<QLabel*>("c1302")) name = label->text();
            w->close();
        }
    });
    look.start(20);
    QTest::mouseClick(trouble, Qt::LeftButton);
    EXPECT_EQ(explanation, QString::fromUtf8("プリンタカバーを閉じると、エラー状態が自動的に解除されます。"));
    EXPECT_EQ(name, "Office");
}

// The setup library reads the spooler on the GUI thread: the window calls it once the spooler has
// answered for the printer on the program's spooler thread, and then with the entry's names.
TEST_F(PanelTest, ThePrinterSetupOpensOverTheWindowOnceTheSpoolerHasAnsweredForThePrinter)
{
    addPrinter("Forms", "LPT3:", facts::Code::DM02);
    change([](PrinterEntry& e) { e.HideRequest = 0; });
    startWindow();
    tabs()->setCurrentIndex(2);  // the tools page of an impact printer
    auto* setup = window->dialog()->findChild<QPushButton*>("c1805");
    ASSERT_NE(setup, nullptr);
    ASSERT_TRUE(setup->isEnabled());
    QString printer, port;
    QWidget* owner = nullptr;
    // The dialog is modal: look at it from inside its own event loop, then close it.
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(w);
            if (dialog == nullptr || dialog->objectName() != "cfgprn32Dialog" || !dialog->isVisible()) continue;
            if (auto* label = dialog->findChild<QLabel*>("printer")) printer = label->text();
            if (auto* label = dialog->findChild<QLabel*>("port")) port = label->text();
            owner = dialog->parentWidget();
            dialog->reject();
        }
    });
    look.start(20);
    setup->click();
    ASSERT_TRUE(eventually([&] { return !printer.isEmpty(); })) << "no setup dialog";
    EXPECT_EQ(printer, "Forms");
    EXPECT_EQ(port, "LPT3:");
    EXPECT_EQ(owner, window->dialog());
}

TEST_F(PanelTest, MessageBoxesAskedForOnOtherThreadsAreShownByTheGuiThread)
{
    ::unsetenv("KESTREL_MESSAGE_BOXES");
    std::thread asker([] { plat::messageBox("エラー", "from an engine thread"); });
    asker.join();  // the asking thread goes on at once; the box waits for the GUI thread
    // The box runs its own event loop: look at it from a timer inside that loop, then close it.
    QString text;
    bool onGuiThread = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box == nullptr || !box->isVisible()) continue;
            text = box->text();
            onGuiThread = box->thread() == QApplication::instance()->thread();
            box->done(0);
        }
    });
    look.start(20);
    ASSERT_TRUE(eventually([&] { return !text.isEmpty(); }));
    EXPECT_EQ(text, "from an engine thread");
    EXPECT_TRUE(onGuiThread);
}

// ---- The program itself --------------------------------------------------------------------------

namespace {

testsupport::ProgramRun runPanel(const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{WATCHPANEL_PROGRAM};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return testsupport::runProgram(argv);
}

}  // namespace

TEST_F(PanelTest, WithoutAUsableSlotTheProgramEndsAtOnceWithoutAWindow)
{
    EXPECT_EQ(runPanel({}).exitCode, 0);
    EXPECT_EQ(runPanel({"-1"}).exitCode, 0);
    EXPECT_EQ(runPanel({"not-a-number"}).exitCode, 0);
    const testsupport::ProgramRun missing = runPanel({"3"});
    EXPECT_EQ(missing.exitCode, 1) << "no slot 3: it gives up, it does not crash";
}

TEST_F(PanelTest, APortTheEngineCannotServeIsReportedToTheList)
{
    addPrinter("Nowhere", "FILE:", facts::Code::PG03);
    const testsupport::ProgramRun run = runPanel({"0"});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const PrinterEntry e = entry();
    EXPECT_EQ(e.EngineStateReport, 3u);
    EXPECT_EQ(e.MonitorActive, 0u);
    EXPECT_EQ(e.MonitorRunning, 0u);
}

TEST_F(PanelTest, TheProgramAcknowledgesReadinessAndEndsOnTheCloseRequest)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(WATCHPANEL_PROGRAM, WATCHPANEL_PROGRAM, "0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return entry().ReadyAck == 1 && entry().MonitorActive == 1; }));
    EXPECT_EQ(store("VigilExistFlag"), 1u);
    ASSERT_TRUE(watchlist::requestClose(slotTable.view(0)));
    int status = -1;
    ASSERT_TRUE(testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(entry().MonitorActive, 0u);
    EXPECT_EQ(store("VigilExistFlag"), 0u);
}

// The list's job-window request reaches the running program: it clears the request and starts the queue
// program on the printer's shortcut. Told by KESTREL_QUEUE_LIST_TO, which the detail program passes on,
// the queue program writes what it would show to a file instead of opening its window.
TEST_F(PanelTest, TheListsJobWindowRequestStartsTheQueueProgramForThePrinterAndIsCleared)
{
    const std::string name = "Queue desk 'A' $(x)";
    addPrinter(name, "LPT1:", facts::Code::PG03);
    {
        using namespace plat::registry;
        const std::uint32_t jobs = 2;
        ASSERT_EQ(Store::forCurrentRoot().value()->setValue(
                      Root::LocalMachine, std::string(facts::key::kPrinters) + name, "Jobs", ValueType::Dword,
                      std::as_bytes(std::span(&jobs, 1)), Store::Flush::No),
                  Status::Ok);
    }
    const std::filesystem::path listing = root.path() / "queue listing";
    ::setenv("KESTREL_QUEUE_LIST_TO", listing.c_str(), 1);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(WATCHPANEL_PROGRAM, WATCHPANEL_PROGRAM, "0", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::unsetenv("KESTREL_QUEUE_LIST_TO");
    ASSERT_TRUE(testsupport::waitUntil([&] { return entry().ReadyAck == 1 && entry().MonitorActive == 1; }));
    EXPECT_FALSE(std::filesystem::exists(listing)) << "nothing opens before the list asks";

    ASSERT_TRUE(watchlist::requestJobWindow(slotTable.view(0)));
    const std::string expected = "printer: " + name + "\njobs: 2\n  job 1 pending\n  job 2 pending\n";
    auto listed = [&] {
        std::ifstream in(listing);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_TRUE(testsupport::waitUntil([&] { return listed() == expected; })) << listed();
    EXPECT_TRUE(testsupport::waitUntil([&] { return entry().JobWindowRequest == 0; }));

    // Cleared, a later request is served again (the queue program writes only a new file).
    std::filesystem::remove(listing);
    ASSERT_TRUE(watchlist::requestJobWindow(slotTable.view(0)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return listed() == expected; })) << listed();
    EXPECT_TRUE(testsupport::waitUntil([&] { return entry().JobWindowRequest == 0; }));

    ASSERT_TRUE(watchlist::requestClose(slotTable.view(0)));
    int status = -1;
    ASSERT_TRUE(testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// The sounds the window asked for, in order; nothing is played.
class RecordingSound : public Sound {
public:
    bool play(const std::string& path) override
    {
        played.push_back(path);
        return true;
    }
    void stop() override {}
    bool playing() const override { return false; }

    std::vector<std::string> played;
};

TEST_F(PanelTest, AnAlertPlaysItsDefaultSoundOnceAndAnErrorShowsTheHiddenWindowWithoutTheFocus)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    auto sound = std::make_unique<RecordingSound>();
    RecordingSound& recorded = *sound;
    window = std::make_unique<PanelWindow>(0, std::move(sound));
    ASSERT_TRUE(window->start());
    ASSERT_TRUE(eventually([&] { return entry().ReadyAck == 1 && pageShows("印刷できます。"); }));
    EXPECT_TRUE(std::filesystem::exists(plat::windowsDir() / "media" / "03PPROUT.WAV")) << "the default sounds";
    // And the gap tool the build made beside the programs, where the engine looks without a "Path".
    const std::filesystem::path tool = plat::windowsDir() / "RCTOOL" / "TUNEUP.EXE";
    EXPECT_TRUE(std::filesystem::is_symlink(tool));
    EXPECT_TRUE(std::filesystem::is_regular_file(tool)) << "the link leads to the tool";
    EXPECT_FALSE(window->dialog()->isVisible()) << "the list starts it hidden";

    sim.must("LPT1:", "paper-out");
    ASSERT_TRUE(eventually([&] { return entry().AlertCategory == 2 && !recorded.played.empty(); }));
    EXPECT_TRUE(eventually([&] { return window->dialog()->isVisible(); })) << "opened on the error";
    EXPECT_TRUE(window->dialog()->testAttribute(Qt::WA_ShowWithoutActivating)) << "without taking the focus";

    // Back to ready: its sound, and between the two none again for the refreshes in paper out.
    sim.must("LPT1:", "ready");
    ASSERT_TRUE(eventually([&] { return recorded.played.size() >= 2; }));
    const std::filesystem::path media = plat::windowsDir() / "media";
    EXPECT_EQ(recorded.played,
              (std::vector<std::string>{(media / "03PPROUT.WAV").string(), (media / "01READY.WAV").string()}));
}

namespace {

// Records the pages handed to the desktop's browser instead of opening them: a text browser's setSource
// slot takes the address.
struct HelpRecorder {
    HelpRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "setSource"); }
    ~HelpRecorder() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QString topic()
    {
        const QString fragment = browser.source().fragment();
        browser.setSource(QUrl());
        return fragment;
    }
    QTextBrowser browser;
};

}  // namespace

TEST_F(PanelTest, F1OpensTheTopicOfTheFocusedControlOnEveryPageAndElseThePagesOwn)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    HelpRecorder help;
    auto f1 = [&](const QString& control) {
        QWidget* w = control.isEmpty() ? static_cast<QWidget*>(tabs()->tabBar())
                                       : window->dialog()->findChild<QWidget*>(control);
        EXPECT_NE(w, nullptr) << control.toStdString();
        if (w == nullptr) return QString();
        w->setFocus();
        QTest::keyClick(w, Qt::Key_F1);
        return help.topic();
    };
    EXPECT_EQ(f1(QString()), QStringLiteral("1001")) << "the tabs are no control of the table: the page's topic";
    tabs()->setCurrentIndex(1);
    EXPECT_EQ(f1(QStringLiteral("c1602")), QStringLiteral("2107"));
    tabs()->setCurrentIndex(2);
    EXPECT_EQ(f1(QStringLiteral("c1702")), QStringLiteral("6101"));
    EXPECT_EQ(f1(QStringLiteral("c1712")), QStringLiteral("6106"));
    EXPECT_EQ(f1(QString()), QStringLiteral("6001"));
    tabs()->setCurrentIndex(3);
    EXPECT_EQ(f1(QStringLiteral("c1803")), QStringLiteral("5101"));
}

TEST_F(PanelTest, ValuesAreReadOutBesideTheirCaptionsAndLevelsAreToldInWords)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    ASSERT_TRUE(eventually([&] { return pageShows("印刷できます。") && pictureOf(1324) >= 200; }));
    auto accessible = [&](const char* control, QAccessible::Text which) {
        QWidget* w = window->dialog()->findChild<QWidget*>(control);
        QAccessibleInterface* a = w == nullptr ? nullptr : QAccessible::queryAccessibleInterface(w);
        return a == nullptr ? QString() : a->text(which);
    };
    // The caption is the name and the value goes with it: the port is read out, not only "出力先".
    EXPECT_EQ(accessible("c1304", QAccessible::Name), QString::fromUtf8("出力先"));
    EXPECT_EQ(accessible("c1304", QAccessible::Description), QStringLiteral("LPT1:"));
    EXPECT_EQ(accessible("c1302", QAccessible::Description), QStringLiteral("Office"));
    EXPECT_EQ(accessible("c1303", QAccessible::Description), textOf(1303));
    EXPECT_FALSE(textOf(1303).isEmpty());
    // A level in words, in the bar's tooltip too: the simulated printer reports its toner in percent.
    const QString toner = accessible("c1324", QAccessible::Description);
    EXPECT_TRUE(QRegularExpression(QString::fromUtf8("^残量 \\d+%$")).match(toner).hasMatch()) << toner.toStdString();
    EXPECT_EQ(window->dialog()->findChild<QWidget*>("c1324")->toolTip(), toner);
    EXPECT_TRUE(accessible("c1316", QAccessible::Description).size() > 0) << "a cassette's paper size";
}

TEST_F(PanelTest, AnInkjetTellsItsInkInStepsOfItsPictures)
{
    addPrinter("Photo", "LPT2:", facts::Code::IJ09);
    startWindow();
    sim.must("LPT2:", "ink black=60 color=60");
    ASSERT_TRUE(eventually([&] { return pictureOf(1502) == 224; }));
    EXPECT_EQ(window->dialog()->findChild<QWidget*>("c1502")->accessibleDescription(), QString::fromUtf8("残量 4/5"));
    EXPECT_EQ(window->dialog()->findChild<QWidget*>("c1502")->toolTip(), QString::fromUtf8("残量 4/5"));
}

// In an English locale the same window speaks English: tabs, texts, captions with their mnemonics.
TEST_F(PanelTest, InEnglishTheWindowShowsTheEnglishTexts)
{
    kestrel::useLanguage("en");
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    startWindow();
    EXPECT_EQ(window->dialog()->windowTitle(), QStringLiteral("Office - Kestrel"));
    EXPECT_EQ(tabs()->tabText(2), QStringLiteral("Settings"));
    ASSERT_TRUE(eventually([&] { return pageShows("Ready to print."); }));
    sim.must("LPT1:", "cover-open");
    EXPECT_TRUE(eventually([&] { return pageShows("The printer cover is open."); }));
    EXPECT_EQ(textOf(1307), QStringLiteral("Close the printer cover."));
    EXPECT_EQ(textOf(1308), QStringLiteral("&Troubleshooting..."));
    EXPECT_EQ(window->dialog()->findChild<QWidget*>("c1304")->accessibleName(), QStringLiteral("Prints to"));
    EXPECT_TRUE(window->dialog()->findChild<QWidget*>("c1324")->toolTip().endsWith(QLatin1Char('%')));
    tabs()->setCurrentIndex(2);
    EXPECT_EQ(textOf(1725), QStringLiteral("A&pply"));
}

namespace {

// The history of `printer` as another process reads it, newest first.
std::vector<kestrel::history::Change> historyOf(const std::filesystem::path& file, const std::string& printer)
{
    using kestrel::history::HistoryStore;
    auto store = HistoryStore::open(file, HistoryStore::Access::ReadOnly);
    if (!store) return {};
    kestrel::history::Query query;
    query.printer = printer;
    auto changes = store.value()->changes(query);
    return changes ? changes.value() : std::vector<kestrel::history::Change>{};
}

bool newestIs(const std::filesystem::path& file, const std::string& printer, const std::string& state)
{
    const auto changes = historyOf(file, printer);
    return !changes.empty() && changes.front().state == state;
}

// What the window handed the desktop's notifications, recorded on the window's notification thread.
struct NotificationLog {
    std::mutex mutex;
    std::vector<std::pair<Notice, std::uint32_t>> shown;  // with the id each replaces
    std::vector<std::uint32_t> closed;
    NotificationService* service = nullptr;
    QObject* serviceThread = nullptr;

    std::size_t shownCount()
    {
        std::lock_guard lock(mutex);
        return shown.size();
    }
    std::pair<Notice, std::uint32_t> shownAt(std::size_t n)
    {
        std::lock_guard lock(mutex);
        return shown.at(n);
    }
    std::vector<std::uint32_t> closedIds()
    {
        std::lock_guard lock(mutex);
        return closed;
    }
    // The service reports, on its thread, that the user clicked notification `id`.
    void click(std::uint32_t id)
    {
        std::lock_guard lock(mutex);
        NotificationService* s = service;
        QMetaObject::invokeMethod(
            serviceThread, [s, id] { s->actionInvoked(id, "default"); }, Qt::QueuedConnection);
    }
};

// Shows every notification as number 41, as a service that replaces in place does.
class RecordingNotifications : public NotificationService {
public:
    explicit RecordingNotifications(std::shared_ptr<NotificationLog> log) : m_log(std::move(log))
    {
        std::lock_guard lock(m_log->mutex);
        m_log->service = this;
        m_log->serviceThread = &m_thread;
    }
    void notify(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown) override
    {
        {
            std::lock_guard lock(m_log->mutex);
            m_log->shown.emplace_back(notice, replacesId);
        }
        shown(41);
    }
    void close(std::uint32_t id) override
    {
        std::lock_guard lock(m_log->mutex);
        m_log->closed.push_back(id);
    }

private:
    std::shared_ptr<NotificationLog> m_log;
    QObject m_thread;  // made on the thread that makes the service
};

}  // namespace

// Each change the detail program shows goes to the history, once; what it recorded survives the
// program's end, and the next program goes on from there.
TEST_F(PanelTest, TheProgramRecordsEachStatusChangeAndTheHistoryOutlivesIt)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    const auto file = kestrel::history::historyFile(root.path());
    auto runProgram = [&] {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execl(WATCHPANEL_PROGRAM, WATCHPANEL_PROGRAM, "0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return pid;
    };
    auto endProgram = [&](pid_t pid) {
        ASSERT_TRUE(watchlist::requestClose(slotTable.view(0)));
        int status = -1;
        ASSERT_TRUE(testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    };

    const pid_t first = runProgram();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return newestIs(file, "Office", "idle"); }));
    sim.must("LPT1:", "cover-open");
    ASSERT_TRUE(testsupport::waitUntil([&] { return newestIs(file, "Office", "stopped"); }));
    endProgram(first);
    auto changes = historyOf(file, "Office");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].message, 26);
    EXPECT_EQ(changes[0].level, 2);
    EXPECT_EQ(changes[0].reasons, std::vector<std::string>{"cover-open-error"});
    EXPECT_EQ(changes[0].model, static_cast<int>(facts::model(facts::Code::PG03).number()));
    EXPECT_TRUE(changes[1].reasons.empty());

    change([](PrinterEntry& e) {
        e.CloseRequest = 0;
        e.ReadyAck = 0;
    });
    const pid_t second = runProgram();
    ASSERT_GT(second, 0);
    ASSERT_TRUE(testsupport::waitUntil([&] { return entry().ReadyAck == 1 && entry().MonitorActive == 1; }));
    sim.must("LPT1:", "ready");
    ASSERT_TRUE(testsupport::waitUntil([&] { return newestIs(file, "Office", "idle"); }));
    endProgram(second);
    changes = historyOf(file, "Office");
    ASSERT_EQ(changes.size(), 3u) << "the standing cover error is not recorded twice";
    EXPECT_EQ(changes[1].state, "stopped");
    EXPECT_EQ(changes[2].state, "idle");
}

// The window menu opens the printer's history over the database the program records to.
TEST_F(PanelTest, TheWindowMenuOpensThePrintersHistory)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    const auto file = kestrel::history::historyFile(root.path());
    window = std::make_unique<PanelWindow>(0, makeDesktopSound(), file);
    ASSERT_TRUE(window->start());
    ASSERT_TRUE(eventually([&] { return entry().ReadyAck == 1; }));
    sim.must("LPT1:", "cover-open");
    ASSERT_TRUE(eventually([&] { return newestIs(file, "Office", "stopped"); }));

    QAction* item = nullptr;
    for (QAction* action : window->dialog()->actions())
        if (action->objectName() == QStringLiteral("historyAction")) item = action;
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text(), QString::fromUtf8("状態の履歴(&H)..."));
    item->trigger();
    ASSERT_NE(window->historyWindow(), nullptr);
    ASSERT_TRUE(eventually([&] {
        const auto& rows = window->historyWindow()->model().rows();
        return !rows.empty() && rows.front().message == QString::fromUtf8("プリンタカバーが開いています。");
    }));
    EXPECT_TRUE(window->historyWindow()->isVisible());
    EXPECT_EQ(window->historyWindow()->windowTitle(), QString::fromUtf8("Office の状態の履歴"));
}

TEST_F(PanelTest, AnErrorGoesToTheDesktopReplacedByTheNextClosedWhenReadyAndAClickShowsTheWindow)
{
    addPrinter("Office", "LPT1:", facts::Code::PG03);
    auto log = std::make_shared<NotificationLog>();
    window = std::make_unique<PanelWindow>(0, std::make_unique<RecordingSound>(), std::filesystem::path{},
                                           [log] { return std::make_unique<RecordingNotifications>(log); });
    ASSERT_TRUE(window->start());
    ASSERT_TRUE(eventually([&] { return entry().ReadyAck == 1 && pageShows("印刷できます。"); }));
    EXPECT_EQ(log->shownCount(), 0u);

    sim.must("LPT1:", "paper-out");
    ASSERT_TRUE(eventually([&] { return log->shownCount() == 1 && entry().AlertCategory == 2; }));
    const auto [paperOut, replaced] = log->shownAt(0);
    EXPECT_EQ(replaced, 0u);
    EXPECT_EQ(paperOut.summary, "Office");
    EXPECT_EQ(paperOut.urgency, 2);
    EXPECT_EQ(paperOut.category, "device.error");
    EXPECT_EQ(QString::fromStdString(paperOut.body), textOf(1306) + u'\n' + textOf(1307)) << "message and action";

    // Opened on the error; closed by the user; the notification's click brings it back.
    ASSERT_TRUE(eventually([&] { return window->dialog()->isVisible(); }));
    QTest::mouseClick(window->dialog()->findChild<QPushButton*>("c2"), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !window->dialog()->isVisible(); }));
    log->click(41);
    EXPECT_TRUE(eventually([&] { return window->dialog()->isVisible(); }));

    sim.must("LPT1:", "cover-open");
    ASSERT_TRUE(eventually([&] { return log->shownCount() == 2; }));
    EXPECT_EQ(log->shownAt(1).second, 41u) << "replaced";
    EXPECT_EQ(log->shownAt(1).first.body.rfind("プリンタカバーが開いています。", 0), 0u);

    sim.must("LPT1:", "ready");
    EXPECT_TRUE(eventually([&] { return log->closedIds() == std::vector<std::uint32_t>{41}; }));
    EXPECT_EQ(log->shownCount(), 2u) << "ready is no warning";
}
