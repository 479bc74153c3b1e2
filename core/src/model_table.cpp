// The built-in model table: the 21 models the system knows, in model-number order.

#include <array>
#include <cstring>

#include "plat/heap/heap.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

struct Row {
    int32_t group;
    const char* model;
    const char* driverFile;
    const char* monitor;
    const char* shortName;
    const char* informationFile;
};

constexpr std::array<Row, 21> kRows{{
    {1, "VELTA PG-03", "KDRV01.DRV", "KMON01.DLL", "PG-03", "PG03.DAT"},
    {1, "VELTA PG-01", "KDRV01.DRV", "KMON01.DLL", "PG-01", "PG01.DAT"},
    {2, "VELTA IJ-03", "KDRV02.DRV", "KMON02.DLL", "IJ-03", "IJ03.DAT"},
    {3, "VELTA IJ-09", "KDRV03.DRV", "KMON03.DLL", "IJ-09", "IJ09.DAT"},
    {3, "VELTA IJ-06", "KDRV04.DRV", "KMON03.DLL", "IJ-06", "IJ06.DAT"},
    {3, "VELTA IJ-10", "KDRV04.DRV", "KMON03.DLL", "IJ-10", "IJ10.DAT"},
    {4, "VELTA DM-02", "KDRV05.DRV", "KMON08.DLL", "DM-02", "DM02.DAT"},
    {4, "VELTA DM-04", "KDRV05.DRV", "KMON08.DLL", "DM-04", "DM04.DAT"},
    {1, "VELTA PG-05", "KDRV01.DRV", "KMON01.DLL", "PG-05", "PG05.DAT"},
    {5, "VELTA IJ-01", "KDRV06.DRV", "", "IJ-01", "IJ01.DAT"},
    {3, "VELTA IJ-02", "KDRV07.DRV", "KMON03.DLL", "IJ-02", "IJ02.DAT"},
    {3, "VELTA IJ-04", "KDRV08.DRV", "KMON03.DLL", "IJ-04", "IJ04.DAT"},
    {4, "VELTA DM-01", "KDRV09.DRV", "KMON08.DLL", "DM-01", "DM01.DAT"},
    {3, "VELTA IJ-08", "KDRV03.DRV", "KMON03.DLL", "IJ-08", "IJ08.DAT"},
    {3, "VELTA IJ-07", "KDRV10.DRV", "KMON04.DLL", "IJ-07", "IJ07.DAT"},
    {3, "VELTA IJ-05", "KDRV11.DRV", "KMON05.DLL", "IJ-05", "IJ05.DAT"},
    {3, "VELTA IJ-12", "KDRV12.DRV", "KMON06.DLL", "IJ-12", "IJ12.DAT"},
    {3, "VELTA IJ-11", "KDRV13.DRV", "KMON07.DLL", "IJ-11", "IJ11.DAT"},
    {1, "VELTA PG-04", "KDRV01.DRV", "KMON01.DLL", "PG-04", "PG04.DAT"},
    {1, "VELTA PG-02", "KDRV01.DRV", "KMON01.DLL", "PG-02", "PG02.DAT"},
    {1, "VELTA PG-06", "KDRV01.DRV", "KMON01.DLL", "PG-06", "PG06.DAT"},
}};

template <std::size_t N>
void fill(char (&field)[N], const char* text)
{
    plat::text::copyBounded(field, N, text);
}

}  // namespace

int32_t fReadPrinterInfoFile(ModelTable* table, plat::Heap* heap)
{
    if (table == nullptr) return 0;
    // It reads no file: the table is built in.
    table->EntryCount = static_cast<uint32_t>(kRows.size());
    table->Entries = heap != nullptr ? static_cast<ModelTableEntry*>(heap->allocate(sizeof(ModelTableEntry) * kRows.size()))
                                     : nullptr;
    if (table->Entries == nullptr) return 0;
    table->Built = 1;
    for (std::size_t i = 0; i < kRows.size(); ++i) {
        ModelTableEntry& e = table->Entries[i];
        e.DriverGroup = kRows[i].group;
        fill(e.ModelName, kRows[i].model);
        fill(e.DriverFile, kRows[i].driverFile);
        fill(e.LanguageMonitor, kRows[i].monitor);
        fill(e.ShortModelName, kRows[i].shortName);
        fill(e.InformationFile, kRows[i].informationFile);
    }
    return 1;
}
