#include "prepared_printer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <utility>

#include "facts/store_names.h"
#include "plat/registry/registry.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace watchpanel::testing {

void preparePrinter(watchlist::SlotTable& slots, const std::string& name, const std::string& port, facts::Code code,
                    std::uint32_t statusIntervalMs)
{
    using namespace plat::registry;
    const facts::Model& model = facts::model(code);
    Store& store = testsupport::rootStore();
    const std::string key = std::string(facts::key::kPrinters) + name;
    Key made;
    ASSERT_EQ(store.createKey(Root::LocalMachine, key, "", made), Status::Ok);
    for (auto [valueName, text] : {std::pair{"Port", port.c_str()}, {"Printer Driver", model.name}}) {
        const std::string value(text);
        ASSERT_EQ(store.setValue(Root::LocalMachine, key, valueName, ValueType::String,
                                 std::as_bytes(std::span(value.c_str(), value.size() + 1)), Store::Flush::No),
                  Status::Ok);
    }

    ASSERT_TRUE(slots.createSlot());
    PrinterInfo2 printer{};
    printer.pPrinterName = const_cast<char*>(name.c_str());
    printer.pPortName = const_cast<char*>(port.c_str());
    printer.pDriverName = const_cast<char*>(model.name);
    ModelTableEntry row{};
    std::strncpy(row.ModelName, model.name, sizeof row.ModelName - 1);
    std::strncpy(row.ShortModelName, model.shortName, sizeof row.ShortModelName - 1);
    std::strncpy(row.InformationFile, model.informationFile, sizeof row.InformationFile - 1);
    ASSERT_TRUE(watchlist::initialiseRecord(slots.view(0), 0, printer, row));
    PrinterEntry e{};
    ASSERT_EQ(fSharedMemoryReadAccess(slots.view(0), &e, sizeof e), 1);
    ASSERT_EQ(fInitRegistory(&e), 1);
    const std::string monitor = key + std::string(facts::key::kEngineStore);
    for (auto [valueName, value] : {std::pair{"GetRealTimeStatusTime", statusIntervalMs}, {"StRetryTime", 100u}}) {
        ASSERT_EQ(store.setValue(Root::LocalMachine, monitor, valueName, ValueType::Dword,
                                 std::as_bytes(std::span(&value, 1)), Store::Flush::No),
                  Status::Ok);
    }
}

}  // namespace watchpanel::testing
