// The road a printer's state travels: the engine reads the simulated printer and keeps the store
// current, and the calls the windows make (iGetStatus, fGetRegistoryPrinterStFlag) turn the store into
// what they show.

#include <array>
#include <cstring>

#include "engine_fixture.h"
#include "watchcore.h"

using namespace enginetest;

namespace {

class Road : public EngineTest {
protected:
    // The entry the list program would have made for the printer.
    PrinterEntry entryFor(std::uint32_t family, std::uint32_t modelCode) const
    {
        PrinterEntry entry{};
        std::strncpy(entry.PrinterName, m_printer.c_str(), sizeof entry.PrinterName - 1);
        entry.PrinterFamily = family;
        entry.ModelCode = modelCode;
        return entry;
    }

    // Decodes until `shown` holds for what the windows would show.
    template <class Shown>
    bool windowsShow(PrinterEntry& entry, Shown shown)
    {
        return testsupport::waitUntil([&] {
            iGetStatus(&entry, paper.data(), information.data(), lastReply.data());
            return shown(entry);
        });
    }

    std::array<int32_t, 128> paper{};
    std::array<int32_t, 64> information{};
    std::array<char, 1024> lastReply{};
};

}  // namespace

TEST_F(Road, APagePrintersCoverFollowsFromThePrinterToTheDecodedEntry)
{
    preparePrinter("Office", "LPT1:", "VELTA PG-03", "PG-03");
    start(m_printer, "LPT1:", "VELTA PG-03", 1);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));
    uint32_t flag = 99;
    ASSERT_EQ(fGetRegistoryPrinterStFlag(m_printer.c_str(), &flag), 1);
    EXPECT_EQ(flag, 0u) << "monitoring";

    PrinterEntry entry = entryFor(0, 0);
    ASSERT_TRUE(windowsShow(entry, [](const PrinterEntry& e) { return e.PrinterState == 0 && e.MessageIndex == 2; }))
        << "ready: level " << entry.PrinterState << ", message " << entry.MessageIndex;
    EXPECT_EQ(paper[28], 1) << "the toner level is read";

    sim.must("LPT1:", "cover-open");
    EXPECT_TRUE(windowsShow(entry, [](const PrinterEntry& e) { return e.PrinterState == 2 && e.MessageIndex == 26; }))
        << "cover open: level " << entry.PrinterState << ", message " << entry.MessageIndex;
}

TEST_F(Road, AnInkjetRunningLowWarnsAndAnUnpluggedOneReportsTheCommunicationError)
{
    preparePrinter("Photo", "LPT2:", "VELTA IJ-09", "IJ-09");
    start(m_printer, "LPT2:", "VELTA IJ-09", 2);
    ASSERT_TRUE(storeBecomes("VigilExistFlag", 1));

    PrinterEntry entry = entryFor(2, 3);
    paper[38] = 1;  // the detail window's counts: one colour cartridge, one black
    paper[47] = 1;
    sim.must("LPT2:", "ink black=2 color=60");
    EXPECT_TRUE(windowsShow(entry, [&](const PrinterEntry& e) { return e.PrinterState == 1 && paper[52] == 2; }))
        << "level " << entry.PrinterState << ", black " << paper[52];
    EXPECT_EQ(entry.AlertCategory, 6) << "ink low";
    EXPECT_EQ(paper[43], 60);

    sim.must("LPT2:", "unplug");
    EXPECT_TRUE(testsupport::waitUntil([&] {
        uint32_t flag = 0;
        return fGetRegistoryPrinterStFlag(m_printer.c_str(), &flag) == 1 && (flag == 1 || flag == 2);
    }));
}
