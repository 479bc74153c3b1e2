// The detail program's panel thread without a window: its worker attaches to a slot made as the list
// program makes it, starts the engine of libvigil.so on a printer of the simulator, follows the printer
// and ends on the list's close request, while everything it tells the display arrives on the display's
// thread, in order. Without widgets the test also runs in the ThreadSanitizer build.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <cstring>
#include <functional>
#include <string>

#include "facts/models.h"
#include "facts/store_names.h"
#include "panel_thread.h"
#include "plat/registry/registry.h"
#include "plat/services/services.h"
#include "prepared_printer.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "vigil.h"
#include "watchcore.h"
#include "watchlist/slot_table.h"

using namespace watchpanel;

namespace {

int argc = 1;
char name[] = "watchpanel_thread_test";
char* argv[] = {name, nullptr};

bool eventually(const std::function<bool()>& condition) { return QTest::qWaitFor(condition, 30000); }

// Records what the panel tells it, and whether every call came on its own thread.
class RecordingDisplay final : public QObject, public PanelDisplay {
public:
    void follow(const PanelState& state) override
    {
        check();
        followed = state.entry;
    }
    void redraw(const PrinterEntry& entry) override
    {
        check();
        redrawn = entry;
        ++redraws;
    }
    void selectStatusPage() override { check(); }
    void settingsLoaded(const DetailSettings&, bool) override
    {
        check();
        ++settingsLoads;
    }
    void settingsNotStored() override { check(); }
    void playAlert(const std::string&) override { check(); }
    void updateTray(const PrinterEntry&) override { check(); }
    void showWindow(bool) override { check(); }
    void hideWindow() override { check(); }
    void bringToFront() override { check(); }
    void started() override
    {
        check();
        isStarted = true;
    }
    void finished(int exitCode) override
    {
        check();
        finishedWith = exitCode;
    }

    bool offThread = false;
    bool isStarted = false;
    int finishedWith = -1;
    int redraws = 0;
    int settingsLoads = 0;
    PrinterEntry followed{};
    PrinterEntry redrawn{};

private:
    void check()
    {
        if (QThread::currentThread() != thread()) offThread = true;
    }
};

class PanelThreadTest : public testsupport::RootTest {
protected:
    static void SetUpTestSuite()
    {
        if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
    }
    void SetUp() override
    {
        // The libraries work on the test's root with their fixed waits at 1/50, for the life of the
        // process, as they keep what they are handed.
        static const plat::ScaledClock fast(0.02);
        auto* services = new plat::Services(testsupport::rootStore(), {&fast, {}, {}});
        vWatchcoreUseServices(services);
        VigilUseServices(services);
        ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1);
        ASSERT_TRUE(sim.ready()) << sim.output();
        addPrinter();
    }

    // The spooler's printer "Office" (PG-03 on LPT1:), its store prepared as the list prepares it, and
    // slot 0 with its record.
    void addPrinter()
    {
        // The engine reads every 40 ms and retries after 100 ms.
        watchpanel::testing::preparePrinter(slotTable, "Office", "LPT1:", facts::Code::PG03, 40);
    }
    PrinterEntry entry() const
    {
        PrinterEntry e{};
        EXPECT_EQ(fSharedMemoryReadAccess(slotTable.view(0), &e, sizeof e), 1);
        return e;
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})"};
    watchlist::SlotTable slotTable;
};

}  // namespace

TEST_F(PanelThreadTest, FollowsThePrinterOnItsWorkerAndEndsOnTheCloseRequest)
{
    RecordingDisplay display;
    PanelThread thread(0, display, &display);
    ASSERT_TRUE(thread.panel().attach());
    thread.start();
    ASSERT_TRUE(eventually([&] { return display.isStarted; })) << "finished with " << display.finishedWith;
    ASSERT_TRUE(eventually([&] { return entry().MonitorActive == 1; })) << "the engine never became ready";
    EXPECT_TRUE(eventually([&] { return display.settingsLoads >= 2; })) << "read ahead, then put into effect";

    sim.must("LPT1:", "cover-open");
    EXPECT_TRUE(eventually([&] { return display.redraws > 0 && display.redrawn.PrinterState == 2; }))
        << "the cover reaches the display";
    EXPECT_EQ(display.followed.PrinterState, display.redrawn.PrinterState) << "each call after its state";

    // The user's actions go to the worker while it polls.
    for (int i = 0; i < 20; ++i) {
        thread.post([](Panel& panel) { panel.redrawNow(); });
        thread.refreshTray();
    }
    watchlist::requestClose(slotTable.view(0));
    EXPECT_TRUE(eventually([&] { return display.finishedWith == 0; }));
    thread.stop();
    EXPECT_EQ(entry().MonitorActive, 0u);
    EXPECT_EQ(entry().ReadyAck, 1u) << "the close request is acknowledged";
    EXPECT_FALSE(display.offThread) << "every call reached the display on its own thread";
}
