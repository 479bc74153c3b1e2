#include "watchlist/slot_table.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "plat/shm/shm.h"
#include "testsupport/temp_root.h"

using namespace watchlist;

namespace {

PrinterEntry readRecord(void* view)
{
    PrinterEntry entry{};
    EXPECT_EQ(fSharedMemoryReadAccess(view, &entry, sizeof entry), 1);
    return entry;
}

void writeRecord(void* view, const PrinterEntry& entry)
{
    ASSERT_EQ(fSharedMemoryWriteAccess(view, &entry, sizeof entry), 1);
}

bool clientCanOpen(int slot)
{
    char name[32];
    fSharedMemoryCreateMapName(name, slot);
    intptr_t mapping = hSharedMemoryOpenFileMapping(name);  // a failure reports its box on stderr
    if (mapping == 0) return false;
    fSharedMemoryClientClose(nullptr, mapping);
    return true;
}

class Slots : public testsupport::RootTest {
protected:
    SlotTable table;
};

}  // namespace

TEST_F(Slots, TwentyOpenWithAViewEachAndTheTwentyFirstIsRefused)
{
    for (int i = 0; i < kSlotCount; ++i) ASSERT_TRUE(table.createSlot()) << "slot " << i;
    EXPECT_FALSE(table.createSlot());
    EXPECT_EQ(table.count(), 20);
    for (int i = 0; i < kSlotCount; ++i) EXPECT_NE(table.view(i), nullptr) << "slot " << i;
    table.closeAll();
    EXPECT_EQ(table.count(), 0);
    for (int i = 0; i < kSlotCount; ++i) EXPECT_FALSE(clientCanOpen(i)) << "slot " << i << " still exists";
    EXPECT_FALSE(table.closeNewest()) << "nothing left to close";
}

TEST_F(Slots, AreClosedNewestFirst)
{
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(table.createSlot());
    ASSERT_TRUE(table.closeNewest());
    EXPECT_EQ(table.current(), 1);
    EXPECT_FALSE(clientCanOpen(2));
    EXPECT_TRUE(clientCanOpen(1));
    EXPECT_EQ(table.view(2), nullptr);
    ASSERT_TRUE(table.closeNewest());
    ASSERT_TRUE(table.closeNewest());
    EXPECT_EQ(table.current(), -1) << "no slot is current";
    EXPECT_EQ(table.currentView(), nullptr);
}

TEST_F(Slots, ARecordIsInitialisedFromThePrinterAndItsModelRow)
{
    ASSERT_TRUE(table.createSlot());
    char printerName[] = "Impact on LPT3", port[] = "LPT3:";
    PrinterInfo2 printer{};
    printer.pPrinterName = printerName;
    printer.pPortName = port;
    ModelTableEntry model{4, "VELTA DM-02", "KDRV05.DRV", "KMON08.DLL", "DM-02", "DM02.DAT"};
    ASSERT_TRUE(initialiseRecord(table.currentView(), 0, printer, model));

    const PrinterEntry e = readRecord(table.currentView());
    EXPECT_STREQ(e.PrinterName, "Impact on LPT3");
    EXPECT_STREQ(e.ModelFullName, "VELTA DM-02");
    EXPECT_STREQ(e.ModelName, "DM-02");
    EXPECT_STREQ(e.PortName, "LPT3:");
    EXPECT_STREQ(e.DataFileName, "DM02.DAT");
    EXPECT_EQ(e.PrinterFamily, 1u);
    EXPECT_EQ(e.ModelCode, 6u);
    EXPECT_EQ(e.HideRequest, 1u) << "a new record's window stays hidden";
    EXPECT_EQ(e.MonitorActive, 0u);
    EXPECT_EQ(e.PrinterState, 2u);
    EXPECT_EQ(e.PictureIndex, 6);
    EXPECT_EQ(e.MessageIndex, 3);
    EXPECT_EQ(e.AlertCategory, 9);
    EXPECT_EQ(e.JobCount, -1);
    EXPECT_EQ(e.StatusInterval, 5000u);
    EXPECT_EQ(e.PanelTimer1Period, 500u);
    EXPECT_EQ(e.PanelTimer2Period, 300000u);
}

TEST(ModelCodes, ComeFromTheShortModelName)
{
    EXPECT_EQ(modelCodeOf("DM-02").family, 1u);
    EXPECT_EQ(modelCodeOf("DM-02").code, 6u);
    EXPECT_EQ(modelCodeOf("PG-03").family, 0u);
    EXPECT_EQ(modelCodeOf("PG-03").code, 0u);
    EXPECT_EQ(modelCodeOf("ij-12").code, 16u) << "compared without regard to case";
    EXPECT_EQ(modelCodeOf("ij-12").family, 2u);
    EXPECT_EQ(modelCodeOf("XX-99").code, 0u);
    EXPECT_EQ(modelCodeOf("PG-0").code, 0u) << "whole names only";
}

TEST_F(Slots, ShowAndJobWindowRequestsReachOnlyAMonitoringDetailProgram)
{
    ASSERT_TRUE(table.createSlot());
    void* view = table.currentView();
    PrinterEntry e{};
    e.HideRequest = 1;
    writeRecord(view, e);
    ASSERT_TRUE(requestShow(view));
    ASSERT_TRUE(requestJobWindow(view));
    EXPECT_EQ(readRecord(view).HideRequest, 1u) << "not monitoring yet: nothing written";
    EXPECT_EQ(readRecord(view).JobWindowRequest, 0u);

    e.MonitorActive = 1;
    writeRecord(view, e);
    ASSERT_TRUE(requestShow(view));
    ASSERT_TRUE(requestJobWindow(view));
    const PrinterEntry after = readRecord(view);
    EXPECT_EQ(after.HideRequest, 0u);
    EXPECT_EQ(after.ForegroundRequest, 1u);
    EXPECT_EQ(after.JobWindowRequest, 1u);
}

TEST_F(Slots, CloseRequestsAndJobCountsAreWrittenWhatever)
{
    ASSERT_TRUE(table.createSlot());
    void* view = table.currentView();
    PrinterEntry e{};
    e.ReadyAck = 1;
    writeRecord(view, e);
    ASSERT_TRUE(requestClose(view));
    ASSERT_TRUE(storeJobCount(view, 12));
    const PrinterEntry after = readRecord(view);
    EXPECT_EQ(after.ReadyAck, 0u);
    EXPECT_EQ(after.CloseRequest, 1u);
    EXPECT_EQ(after.JobCount, 12);
    EXPECT_TRUE(requestShow(nullptr)) << "a slot without a view counts as done";
    EXPECT_TRUE(requestClose(nullptr));
}

TEST_F(Slots, TheFirstSlotAfterACrashStartsZeroFilledNotWithTheOldRecord)
{
    // What a crashed list program leaves: the object of slot 0 with a record in it, and no process
    // that serves it.
    const std::string object = plat::shm::objectName("WTCHM0");
    const int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, sizeof(PrinterEntry)), 0);
    const char stale[] = "Old Printer";
    ASSERT_EQ(::pwrite(fd, stale, sizeof stale, offsetof(PrinterEntry, PrinterName)),
              static_cast<ssize_t>(sizeof stale));
    ::close(fd);

    SlotTable table;
    ASSERT_TRUE(table.createSlot());
    EXPECT_STREQ(readRecord(table.view(0)).PrinterName, "");
}
