// The list's items and their polling, on a spooler set up with spoolctl and slots whose records the
// test writes as the detail programs would.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "list_rows.h"
#include "row_poller.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

using namespace watchlist;

namespace {

class CountingStarter : public DetailStarter {
public:
    bool start(int) override { return true; }
};

class RowsTest : public testsupport::RootTest {
protected:
    void SetUp() override { ::setenv("KESTREL_MESSAGE_BOXES", "stderr", 1); }
    void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    // The spooler's printers, one per (name, driver, port), then a build over them.
    void printers(const std::vector<std::array<std::string, 3>>& list)
    {
        spoolctl({"install-models"});
        for (const auto& [name, driver, port] : list) {
            if (port.rfind("LPT", 0) == 0) spoolctl({"add-port", port, "--sim"});
            if (port == "\\\\FS1\\QUEUE1") spoolctl({"add-netware-queue", "FS1", "QUEUE1"});
            spoolctl({"add-printer", name, "--driver", driver, "--port", port});
        }
        CountingStarter starter;
        Build build = buildRows(slots, starter);
        items.reset(std::move(build.rows));
    }
    // Changes slot `slot`'s record as its detail program would.
    void detail(int slot, const std::function<void(PrinterEntry&)>& change)
    {
        PrinterEntry e{};
        ASSERT_EQ(fSharedMemoryReadAccess(slots.view(slot), &e, sizeof e), 1);
        change(e);
        ASSERT_EQ(fSharedMemoryWriteAccess(slots.view(slot), &e, sizeof e), 1);
    }
    PrinterEntry record(int slot)
    {
        PrinterEntry e{};
        EXPECT_EQ(fSharedMemoryReadAccess(slots.view(slot), &e, sizeof e), 1);
        return e;
    }
    std::string cell(int position, int column) const { return items.item(position).texts[column]; }

    SlotTable slots;
    ListRows items;
    int rebuilds = 0;
    RowPoller poller{items, slots, [this] { ++rebuilds; }};
};

}  // namespace

TEST(ListRowsSort, NumbersSortAsTextAndTiesGoByName)
{
    ListRows items;
    std::vector<Row> rows;
    const std::pair<const char*, int> printers[] = {{"delta", 2}, {"Alpha", 10}, {"charlie", -1}, {"bravo", 2}};
    for (int r = 0; r < 4; ++r) {
        Row row;
        row.row = r;
        row.slot = static_cast<std::uint16_t>(r);
        row.name = printers[r].first;
        row.jobCount = printers[r].second;
        rows.push_back(row);
    }
    items.reset(rows);
    std::vector<int> changes;
    items.changed = [&](int position) { changes.push_back(position); };
    auto names = [&] {
        std::vector<std::string> order;
        for (int p = 0; p < items.count(); ++p) order.push_back(items.item(p).texts[0]);
        return order;
    };
    items.sort(3);
    EXPECT_EQ(names(), (std::vector<std::string>{"charlie", "Alpha", "bravo", "delta"})) << "-1, then 10 before 2";
    items.sort(0);
    EXPECT_EQ(names(), (std::vector<std::string>{"Alpha", "bravo", "charlie", "delta"}));
    EXPECT_EQ(changes, (std::vector<int>{-1, -1}));

    // After a sort a change still reaches the item of its row.
    items.sort(3);
    items.markCannotMonitor(0);
    EXPECT_EQ(items.item(0).texts[0], "charlie");
    EXPECT_EQ(items.item(0).row(), 2);
    EXPECT_FALSE(items.item(0).monitorable());
    EXPECT_EQ(items.row(2)->state, MonitorState::CannotMonitor);
    EXPECT_EQ(items.item(0).texts[1], "モニタできません");
}

// The list program polls a copy of the items on its worker and the window's copy takes what changed,
// by row, whatever order either copy is in.
TEST(ListRowsCopy, ChangesReachTheItemOfTheirRowAndTheOrderFollowsTheWindow)
{
    std::vector<Row> rows;
    for (int r = 0; r < 3; ++r) {
        Row row;
        row.row = r;
        row.slot = static_cast<std::uint16_t>(r);
        row.name = std::string(1, static_cast<char>('c' - r));  // "c", "b", "a"
        row.state = MonitorState::NotMonitoring;
        rows.push_back(row);
    }
    ListRows shown, polled;
    shown.reset(rows);
    polled.reset(rows);
    shown.sort(0);  // a, b, c: rows 2, 1, 0
    std::vector<int> changes;
    shown.changed = [&](int position) { changes.push_back(position); };

    polled.markCannotMonitor(0);  // row 0, "c"
    polled.row(0)->jobCount = 4;
    shown.update(polled.item(0), *polled.row(0));
    EXPECT_EQ(changes, std::vector<int>{2}) << "told at the item's place in the window";
    EXPECT_EQ(shown.item(2).texts[0], "c");
    EXPECT_FALSE(shown.item(2).monitorable());
    EXPECT_EQ(shown.row(0)->state, MonitorState::CannotMonitor);
    EXPECT_EQ(shown.row(0)->jobCount, 4);
    changes.clear();
    shown.update(polled.item(0), *polled.row(0));
    EXPECT_TRUE(changes.empty()) << "the same values tell nobody";

    std::vector<int> order;
    for (int p = 0; p < shown.count(); ++p) order.push_back(shown.item(p).row());
    polled.arrange(order);
    for (int p = 0; p < shown.count(); ++p) EXPECT_EQ(polled.item(p), shown.item(p)) << p;
    polled.arrange({1});
    EXPECT_EQ(polled.item(0).row(), 1);
    EXPECT_EQ(polled.item(1).row(), 2) << "the rows not named keep their order";
    EXPECT_EQ(polled.item(2).row(), 0);
}

TEST_F(RowsTest, ColumnsFollowTheRecordsAndTheSpooler)
{
    printers({{"Office", "VELTA PG-03", "LPT1:"}, {"Nowhere", "VELTA PG-03", "FILE:"}});
    ASSERT_EQ(items.count(), 2);
    EXPECT_EQ(cell(0, 1), "モニタしていません");
    EXPECT_EQ(cell(1, 1), "モニタできません");

    poller.tick(1);
    EXPECT_EQ(cell(0, 1), "モニタしていません") << "not yet monitoring";
    EXPECT_EQ(cell(0, 3), "");
    spoolctl({"submit", "Office", "--count", "2"});
    detail(0, [](PrinterEntry& e) {
        e.MonitorActive = 1;
        e.PrinterState = 1;
    });
    poller.tick(1);
    EXPECT_EQ(cell(0, 1), "モニタしています");
    EXPECT_EQ(cell(0, 3), "2");
    EXPECT_EQ(record(0).JobCount, 2) << "the job count goes to the record too";
    poller.tick(2);
    EXPECT_EQ(cell(0, 2), "印刷可能又は印刷中です(警告)");

    spoolctl({"submit", "Office", "--count", "8"});
    poller.spoolerChanged();
    EXPECT_EQ(cell(0, 3), "10");
    EXPECT_EQ(rebuilds, 0);
}

TEST_F(RowsTest, EngineReportsAndVanishedPrintersEndOneRowOrTheWholeList)
{
    printers({{"Office", "VELTA PG-03", "LPT1:"}, {"Photo", "VELTA IJ-09", "LPT2:"}});
    detail(0, [](PrinterEntry& e) { e.EngineStateReport = 3; });
    poller.tick(1);
    EXPECT_EQ(cell(0, 1), "モニタできません");
    EXPECT_FALSE(items.item(0).monitorable());
    EXPECT_EQ(record(0).CloseRequest, 1u) << "its detail program is asked to close";
    EXPECT_TRUE(items.item(1).monitorable()) << "the other row is untouched";
    EXPECT_EQ(rebuilds, 0);

    detail(1, [](PrinterEntry& e) { e.EngineStateReport = 6; });
    poller.tick(2);
    EXPECT_EQ(rebuilds, 1);
    detail(1, [](PrinterEntry& e) { e.EngineStateReport = 0; });
    spoolctl({"delete-printer", "Photo"});
    poller.tick(3);
    EXPECT_EQ(rebuilds, 2) << "a printer the spooler no longer knows rebuilds the list";
}

TEST_F(RowsTest, APrinterNotYetMonitoringGivesWayToOneMonitoringOnItsPort)
{
    printers({{"First", "VELTA PG-03", "LPT1:"}, {"Second", "VELTA IJ-09", "LPT1:"}});
    detail(0, [](PrinterEntry& e) { e.MonitorActive = 1; });
    poller.tick(1);
    EXPECT_TRUE(items.item(0).monitorable());
    EXPECT_FALSE(items.item(1).monitorable());
    EXPECT_EQ(record(1).CloseRequest, 1u);
}

TEST_F(RowsTest, ANetworkPrinterShowsTheNetworkPictureAndItsQueueOnceItsDetailProgramHasCheckedThePort)
{
    printers({{"Shared", "VELTA PG-04", "\\\\FS1\\QUEUE1"}, {"Captured", "VELTA PG-03", "LPT2:"}});
    ASSERT_EQ(items.count(), 2);
    ASSERT_TRUE(items.item(0).monitorable());
    ASSERT_TRUE(items.item(1).monitorable());
    std::vector<int> changes;
    items.changed = [&](int position) { changes.push_back(position); };

    // The record is made before the detail program has looked at the port.
    EXPECT_FALSE(items.item(0).network);
    poller.tick(1);
    EXPECT_FALSE(items.item(0).network);

    detail(0, [](PrinterEntry& e) {
        e.NetworkPort = 1;
        e.NetworkKind = 2;
    });
    detail(1, [](PrinterEntry& e) {
        e.NetworkPort = 1;
        e.NetworkKind = 2;
        e.NetworkResolved = 1;
        std::strcpy(e.OriginalPortName, "LPT2:");
        std::strcpy(e.PortName, "\\\\FS1\\QUEUE1");
    });
    changes.clear();
    poller.tick(2);
    EXPECT_TRUE(items.item(0).network);
    EXPECT_EQ(items.item(0).destination, "\\\\FS1\\QUEUE1");
    EXPECT_TRUE(items.item(1).network);
    EXPECT_EQ(items.item(1).destination, "LPT2:(\\\\FS1\\QUEUE1)");
    EXPECT_TRUE(items.rows()[0].network);
    EXPECT_EQ(changes, (std::vector<int>{0, 1}));

    // Both on one queue, monitoring or not: network paths never push each other out.
    detail(0, [](PrinterEntry& e) { e.MonitorActive = 1; });
    changes.clear();
    poller.tick(3);
    EXPECT_TRUE(items.item(1).monitorable());
    EXPECT_EQ(changes, (std::vector<int>{})) << "an unchanged connection tells nobody";
}
