// The eligibility rules on a spooler set up with spoolctl, as the maker's installer and a user would.

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <fstream>

#include "plat/base/system_root.h"
#include "plat/heap/heap.h"
#include "plat/spool/spooler.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace {

constexpr uint32_t kNone = 0xFFFFFFFF;

class Eligibility : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(spoolctl({"install-models"}), 0);
        for (const char* port : {"LPT1:", "LPT2:", "FILE:", "COM1:", "com2:", "\\\\SERVER\\QUEUE"}) {
            ASSERT_EQ(spoolctl({"add-port", port}), 0) << port;
        }
        heap = plat::Heap::create();
        ASSERT_EQ(fReadPrinterInfoFile(&table, heap), 1);
    }
    void TearDown() override { plat::Heap::destroy(heap); }

    int spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        auto run = testsupport::runProgram(args);
        EXPECT_EQ(run.err, "");
        return run.exitCode;
    }

    // A printer record as the spooler lists it.
    PrinterInfo2 printer(const char* driver, const char* port)
    {
        m_texts.push_back(driver);
        m_texts.push_back(port);
        PrinterInfo2 p{};
        p.pDriverName = m_texts[m_texts.size() - 2].data();
        p.pPortName = m_texts.back().data();
        return p;
    }

    plat::Heap* heap = nullptr;
    ModelTable table{};

private:
    std::deque<std::string> m_texts;  // the records point into it; a deque never moves its elements
};

}  // namespace

TEST_F(Eligibility, TheModelTableHasTheTwentyOneModelsInOrder)
{
    EXPECT_EQ(table.EntryCount, 21u);
    EXPECT_EQ(table.Built, 1u);
    EXPECT_STREQ(table.Entries[0].ModelName, "VELTA PG-03");
    EXPECT_STREQ(table.Entries[9].ShortModelName, "IJ-01");
    EXPECT_STREQ(table.Entries[9].LanguageMonitor, "");
    EXPECT_STREQ(table.Entries[20].InformationFile, "PG06.DAT");
    EXPECT_EQ(table.Entries[6].DriverGroup, 4);
    ModelTable none{};
    EXPECT_EQ(fReadPrinterInfoFile(&none, nullptr), 0);
    EXPECT_EQ(none.EntryCount, 21u);
    EXPECT_EQ(none.Entries, nullptr);
}

TEST_F(Eligibility, ModelAndPortRules)
{
    auto lower = printer("velta pg-03", "LPT1:");
    EXPECT_EQ(fCheckModel(&lower, &table), 1) << "the driver name is compared without regard to case";
    auto ij02Local = printer("VELTA IJ-02", "LPT1:");
    auto ij02Queue = printer("VELTA IJ-02", "\\\\SERVER\\QUEUE");
    auto pg03Queue = printer("VELTA PG-03", "\\\\SERVER\\QUEUE");
    auto other = printer("Other Vendor Laser", "LPT1:");
    EXPECT_EQ(fCheckModel(&ij02Local, &table), 1);
    EXPECT_EQ(fCheckModel(&ij02Queue, &table), 0);
    EXPECT_EQ(fCheckModel(&pg03Queue, &table), 1);
    EXPECT_EQ(fCheckModel(&other, &table), 0);
}

TEST_F(Eligibility, AnIJ01PortOfTheSpoolManagerIsNotOurs)
{
    auto ij01 = printer("VELTA IJ-01", "LPT1:");
    EXPECT_EQ(fCheckModel(&ij01, &table), 1) << "no qspool3.ini";
    std::ofstream(plat::windowsDir() / "qspool3.ini") << "[Ports]\nLPT2:=1\n";
    EXPECT_EQ(fCheckModel(&ij01, &table), 1) << "the file does not name LPT1:";
    std::ofstream(plat::windowsDir() / "qspool3.ini") << "[Ports]\nlpt1:=1\n";
    EXPECT_EQ(fCheckModel(&ij01, &table), 0);
}

TEST_F(Eligibility, TheDriverFileDecidesTheModelNumber)
{
    int32_t count = 0;
    DriverInfo2* drivers = lpdiGetDriverInformation(&count, heap);
    ASSERT_NE(drivers, nullptr);
    ASSERT_EQ(count, 21);
    auto pg03 = printer("VELTA PG-03", "LPT1:");
    EXPECT_EQ(dwCheckDriver(&pg03, drivers, count, &table), 0u) << "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV gives KDRV01.DRV";
    auto dm02 = printer("VELTA DM-02", "LPT1:");
    EXPECT_EQ(dwCheckDriver(&dm02, drivers, count, &table), 6u);

    char name[] = "VELTA PG-03", bare[] = "kdrv01.drv", otherCase[] = "velta pg-03";
    DriverInfo2 pathless{0, name, nullptr, bare, nullptr, nullptr};
    EXPECT_EQ(dwCheckDriver(&pg03, &pathless, 1, &table), 0u) << "a path without a backslash is taken whole";
    DriverInfo2 spelledOtherwise{0, otherCase, nullptr, bare, nullptr, nullptr};
    EXPECT_EQ(dwCheckDriver(&pg03, &spelledOtherwise, 1, &table), kNone) << "the driver match is case-sensitive";
    char wrongFile[] = "C:\\WINDOWS\\SYSTEM\\KDRV02.DRV", folder[] = "C:\\WINDOWS\\SYSTEM\\";
    DriverInfo2 otherFile{0, name, nullptr, wrongFile, nullptr, nullptr};
    EXPECT_EQ(dwCheckDriver(&pg03, &otherFile, 1, &table), kNone);
    DriverInfo2 noFile{0, name, nullptr, folder, nullptr, nullptr};
    EXPECT_EQ(dwCheckDriver(&pg03, &noFile, 1, &table), kNone);
}

TEST_F(Eligibility, FileAndSerialPortsAreRefused)
{
    for (const char* port : {"FILE:", "COM1:", "com2:"}) {
        auto p = printer("VELTA PG-03", port);
        EXPECT_EQ(fCheckOutPort(&p, nullptr), 0) << port;
    }
    for (const char* port : {"LPT1:", "\\\\SERVER\\QUEUE"}) {
        auto p = printer("VELTA PG-03", port);
        EXPECT_EQ(fCheckOutPort(&p, nullptr), 1) << port;
    }
}

TEST_F(Eligibility, LanguageMonitorsOfTheInstalledDrivers)
{
    EXPECT_EQ(fCheckDriverMonitorFlag("VELTA PG-03"), 1);
    EXPECT_EQ(fCheckDriverMonitorFlag("velta ij-01"), 1) << "IJ-01 needs no language monitor";
    EXPECT_EQ(fCheckDriverMonitorFlag("Other Vendor Laser"), 0);
    char library[256];
    ASSERT_EQ(fGetLanguageMonitorName("VELTA DM-02", library), 1);
    EXPECT_STREQ(library, "KMON08.DLL");
    EXPECT_EQ(fCheckLanguageMonitor(&table, 0), 1);
    EXPECT_EQ(fCheckLanguageMonitor(&table, 9), 1) << "IJ-01's monitor has an empty library";
    EXPECT_EQ(fCheckLanguageMonitor(&table, 21), 0);
    ASSERT_EQ(
        spoolctl({"add-driver", "VELTA PG-01", "--path", "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV", "--monitor", "Plain Port"}),
        0);
    EXPECT_EQ(fCheckDriverMonitorFlag("VELTA PG-01"), 0);
    EXPECT_EQ(fCheckLanguageMonitor(&table, 1), 0);
}

TEST_F(Eligibility, PrinterListsJobCountsAndPresence)
{
    ASSERT_EQ(spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"}), 0);
    ASSERT_EQ(spoolctl({"add-printer", "Photo", "--driver", "VELTA IJ-09", "--port", "LPT2:"}), 0);
    ASSERT_EQ(spoolctl({"submit", "Photo", "--count", "4"}), 0);
    int32_t count = 0;
    PrinterInfo2* printers = lppiGetPrinterInformation(&count, heap);
    ASSERT_EQ(count, 2);
    EXPECT_STREQ(printers[0].pPrinterName, "Office");
    EXPECT_STREQ(printers[1].pPortName, "LPT2:");
    EXPECT_STREQ(printers[1].pDriverName, "VELTA IJ-09");
    EXPECT_EQ(printers[1].cJobs, 4u);
    EXPECT_TRUE(heap->free(printers)) << "one block for the whole list";
    EXPECT_EQ(dwGetPrinterJobCount("Photo"), 4u);
    EXPECT_EQ(dwGetPrinterJobCount("Nobody"), 0u);
    EXPECT_EQ(fCheckPrinter("office"), 1);
    EXPECT_EQ(fCheckPrinter("Nobody"), 0);

    PortList ports{};
    ASSERT_EQ(fGetPortNameList(&ports, heap), 1);
    EXPECT_EQ(ports.Count, 6u);
    EXPECT_EQ(ports.Entries[0].Flag, 1u);
}

TEST(EligibilityWithoutPrinters, AnEmptySpoolerIsNotAnError)
{
    testsupport::TempRoot root;
    plat::Heap* heap = plat::Heap::create();
    int32_t count = 7;
    EXPECT_EQ(lppiGetPrinterInformation(&count, heap), nullptr);
    EXPECT_EQ(count, 0);
    PortList ports{};
    ASSERT_EQ(fGetPortNameList(&ports, heap), 1) << "FILE: is a port of every spooler";
    ASSERT_EQ(ports.Count, 1u);
    EXPECT_STREQ(ports.Entries[0].Name, "FILE:");
    plat::Heap::destroy(heap);
}

TEST_F(Eligibility, TheConnectionCheckClassifiesThePortThroughTheEngine)
{
    PrinterEntry entry{};
    std::strcpy(entry.PrinterName, "Office");
    std::strcpy(entry.PortName, "LPT1:");
    entry.NetworkPort = 1;
    EXPECT_EQ(fCheckConnectStatus(&entry), 1);
    EXPECT_EQ(entry.NetworkPort, 0u);
    EXPECT_EQ(entry.NetworkKind, 0u);

    // A port the engine does not serve: "cannot monitor" in the store, and 0.
    ASSERT_EQ(spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "FILE:"}), 0);
    std::strcpy(entry.PortName, "FILE:");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    EXPECT_EQ(fCheckConnectStatus(&entry), 0);
    uint32_t status = 0;
    ASSERT_EQ(fGetRegistoryPrinterStFlag("Office", &status), 1);
    EXPECT_EQ(status, 3u);
}
