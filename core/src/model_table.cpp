// The model table as the spooler checks see it, built from the system's model facts in model-number
// order.

#include "facts/models.h"
#include "plat/heap/heap.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

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
    const auto models = facts::all();
    table->EntryCount = static_cast<uint32_t>(models.size());
    table->Entries = heap != nullptr
                         ? static_cast<ModelTableEntry*>(heap->allocate(sizeof(ModelTableEntry) * models.size()))
                         : nullptr;
    if (table->Entries == nullptr) return 0;
    table->Built = 1;
    for (std::size_t i = 0; i < models.size(); ++i) {
        ModelTableEntry& e = table->Entries[i];
        e.DriverGroup = static_cast<int32_t>(models[i].group);
        fill(e.ModelName, models[i].name);
        fill(e.DriverFile, models[i].driverFile);
        fill(e.LanguageMonitor, models[i].monitor);
        fill(e.ShortModelName, models[i].shortName);
        fill(e.InformationFile, models[i].informationFile);
    }
    return 1;
}
