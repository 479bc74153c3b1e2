#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "plat/registry/registry.h"
#include "registry_store.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

using namespace plat::registry;
using watchcore::StoreKey;

namespace {

constexpr const char* kPrinter = "PG-03 Office";

PrinterEntry entryFor(const char* printer, const char* model)
{
    PrinterEntry entry{};
    std::strncpy(entry.PrinterName, printer, sizeof entry.PrinterName - 1);
    std::strncpy(entry.ModelName, model, sizeof entry.ModelName - 1);
    return entry;
}

class PrinterStore : public testsupport::RootTest {
protected:
    Store& store() { return *Store::forCurrentRoot().value(); }

    std::string vigilmonPath(const char* printer = kPrinter)
    {
        return *watchcore::storeKeyPath(StoreKey::Vigilmon, printer);
    }

    bool keyExists(const std::string& path, Root r = Root::LocalMachine)
    {
        Key key;
        return store().openKey(r, path, Query, key) == Status::Ok;
    }

    // Writes a value the way the engine does: an existing key, and strings without their zero.
    void engineWrites(const char* name, ValueType type, std::string_view data)
    {
        Key key;
        ASSERT_EQ(store().openKey(Root::LocalMachine, vigilmonPath(), QueryAndSet, key), Status::Ok);
        ASSERT_EQ(key.set(name, type, std::as_bytes(std::span(data.data(), data.size()))), Status::Ok);
    }

    std::uint32_t vigilmonDword(const char* name)
    {
        std::uint32_t v = 0xDEADBEEF;
        EXPECT_TRUE(watchcore::getDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, name, v)) << name;
        return v;
    }

    std::string vigilmonText(const char* name)
    {
        char buffer[1024] = "unset";
        EXPECT_TRUE(
            watchcore::getText(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, name, buffer, sizeof buffer))
            << name;
        return buffer;
    }
};

}  // namespace

TEST_F(PrinterStore, InitWritesEveryValueOfAFreshPrinter)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);

    for (const char* zero : {"LanMonExistFlag", "RunFlag", "CommandLength", "PassLength", "CommandOkFlag",
                             "VigilExistFlag", "StRealThreadExistFlag", "PrinterStFlag", "PaperCheckFlag",
                             "DeviceIDLength", "MonitorFlag", "GetTimeCount"}) {
        EXPECT_EQ(vigilmonDword(zero), 0u) << zero;
    }
    EXPECT_EQ(vigilmonDword("GetRealTimeStatusStartFlag"), 1u);
    EXPECT_EQ(vigilmonDword("CommandExecStartFlag"), 1u);
    EXPECT_EQ(vigilmonDword("GetRealTimeStatusTime"), 5000u);
    EXPECT_EQ(vigilmonDword("StRetryTime"), 20000u);
    EXPECT_EQ(vigilmonText("IDMDL"), "PG-03");
    for (const char* empty : {"RetStrings", "RealTimeStatusStrings", "ICCardName", "InkLevel", "GapStrings",
                              "CDStrings", "ICCardSlotA", "ICCardSlotB"}) {
        EXPECT_EQ(vigilmonText(empty), "") << empty;
    }
    Key key;
    ASSERT_EQ(store().openKey(Root::LocalMachine, vigilmonPath(), Query, key), Status::Ok);
    std::uint32_t size = 99;
    ValueType type{};
    ASSERT_EQ(key.query("CommandStrings", {}, &size, &type), Status::Ok);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(type, ValueType::Binary);
    ASSERT_EQ(key.query("RetStrings", {}, &size, &type), Status::Ok);
    EXPECT_EQ(size, 1u) << "strings of the library carry their terminating zero";
    EXPECT_EQ(type, ValueType::String);
    std::uint32_t display = 0;
    EXPECT_EQ(key.query("DisplayFlag", {}, &display), Status::NotFound) << "init does not write DisplayFlag";
}

TEST_F(PrinterStore, ReinitKeepsTheUsersTimeSettingsButClearsTheRest)
{
    const PrinterEntry entry = entryFor(kPrinter, "IJ-09");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    ASSERT_TRUE(
        watchcore::setDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "GetRealTimeStatusTime", 10000));
    ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "StRetryTime", 30000));
    ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "PrinterStFlag", 2));
    ASSERT_TRUE(
        watchcore::setText(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "RealTimeStatusStrings", "ST:00"));

    ASSERT_EQ(fInitRegistory(&entry), 1);
    EXPECT_EQ(vigilmonDword("GetRealTimeStatusTime"), 10000u);
    EXPECT_EQ(vigilmonDword("StRetryTime"), 30000u);
    EXPECT_EQ(vigilmonDword("PrinterStFlag"), 0u);
    EXPECT_EQ(vigilmonText("RealTimeStatusStrings"), "");
}

TEST_F(PrinterStore, ZeroTimeSettingsAreReplacedByTheDefaults)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    ASSERT_TRUE(
        watchcore::setDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "GetRealTimeStatusTime", 0));
    ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "StRetryTime", 0));
    ASSERT_EQ(fInitRegistory(&entry), 1);
    EXPECT_EQ(vigilmonDword("GetRealTimeStatusTime"), 5000u);
    EXPECT_EQ(vigilmonDword("StRetryTime"), 20000u);
}

TEST_F(PrinterStore, InitCopiesTheSizeCheckSettingAndDoesWithoutIt)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1) << "no \\StEnviron yet";
    EXPECT_FALSE(keyExists(*watchcore::storeKeyPath(StoreKey::StEnviron, kPrinter))) << "init does not make it";
    EXPECT_EQ(vigilmonDword("PaperCheckFlag"), 0u);

    ASSERT_TRUE(watchcore::createStoreKey(testsupport::rootStore(), StoreKey::StEnviron, kPrinter));
    ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), StoreKey::StEnviron, kPrinter, "SizeCheckFlag", 1));
    ASSERT_EQ(fInitRegistory(&entry), 1);
    EXPECT_EQ(vigilmonDword("PaperCheckFlag"), 1u);
}

TEST_F(PrinterStore, InitOfAnOverLongPrinterNameFailsWithoutWriting)
{
    const std::string longest(197, 'p');  // 48-byte prefix + 197 + "\StEnviron" = 255
    const PrinterEntry fits = entryFor(longest.c_str(), "PG-03");
    EXPECT_EQ(fInitRegistory(&fits), 1);
    EXPECT_TRUE(watchcore::storeKeyPath(StoreKey::StEnviron, longest).has_value());

    const std::string tooLong(198, 'p');
    EXPECT_FALSE(watchcore::storeKeyPath(StoreKey::StEnviron, tooLong).has_value());
    const std::string vigilmonLimit(199, 'p');  // 48 + 199 + "\Vigilmon" (9) = 256: no room for the zero
    const PrinterEntry over = entryFor(vigilmonLimit.c_str(), "PG-03");
    EXPECT_EQ(fInitRegistory(&over), 0);
    EXPECT_EQ(fInitRegistory(nullptr), 0);
}

TEST_F(PrinterStore, GettersFailForAPrinterWithoutStoreAndNeverCreateIt)
{
    std::uint32_t value = 77;
    char buffer[64] = "kept";
    EXPECT_EQ(fGetRegistoryStRetryTime("Nobody", &value), 0);
    EXPECT_EQ(fGetRegistoryVigilExistFlag("Nobody", &value), 0);
    EXPECT_EQ(fGetRegistoryPrinterStFlag("Nobody", &value), 0);
    EXPECT_EQ(value, 77u) << "a failed DWORD getter leaves the out value untouched";
    EXPECT_EQ(fGetRegistoryRealTimeStatusStrings("Nobody", buffer, sizeof buffer), 0);
    EXPECT_EQ(fSetRegistoryVigilExistFlag("Nobody", 1), 0) << "setters do not create the key either";
    EXPECT_FALSE(keyExists(vigilmonPath("Nobody")));
    EXPECT_EQ(fGetRegistoryKswExitFlag(&value), 0);
    EXPECT_FALSE(keyExists("Software\\VELTA\\VELTA Kestrel\\KswList\\Notify", Root::CurrentUser));
    EXPECT_EQ(fGetRegistoryStRetryTime(nullptr, &value), 0);
    EXPECT_EQ(fGetRegistoryStRetryTime(kPrinter, nullptr), 0);
}

TEST_F(PrinterStore, CardNamesAreReadBySlot)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "ICCardSlotA", "CARD-A"));
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "ICCardSlotB", "CARD-B"));
    char buffer[32];
    ASSERT_EQ(fGetRegistoryIcCardNameOnSlot(kPrinter, buffer, sizeof buffer, 0), 1);
    EXPECT_STREQ(buffer, "CARD-A");
    ASSERT_EQ(fGetRegistoryIcCardNameOnSlot(kPrinter, buffer, sizeof buffer, 1), 1);
    EXPECT_STREQ(buffer, "CARD-B");
    ASSERT_EQ(fGetRegistoryIcCardNameOnSlot(kPrinter, buffer, sizeof buffer, 7), 1);
    EXPECT_STREQ(buffer, "CARD-B");
}

TEST_F(PrinterStore, AStatusReplyOfUpTo1023BytesIsReadWhole)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    char buffer[1023];

    const std::string withZero(1022, 'a');  // 1022 + zero = 1023 bytes stored
    ASSERT_TRUE(
        watchcore::setText(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "RealTimeStatusStrings", withZero));
    ASSERT_EQ(fGetRegistoryRealTimeStatusStrings(kPrinter, buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer), withZero);

    engineWrites("RealTimeStatusStrings", ValueType::String, std::string(1022, 'b'));
    ASSERT_EQ(fGetRegistoryRealTimeStatusStrings(kPrinter, buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer), std::string(1022, 'b'));

    engineWrites("RealTimeStatusStrings", ValueType::String, std::string(1023, 'c'));
    EXPECT_EQ(fGetRegistoryRealTimeStatusStrings(kPrinter, buffer, sizeof buffer), 0)
        << "1023 bytes without their zero do not fit 1023 bytes as a text";
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "RealTimeStatusStrings",
                                   std::string(1023, 'd')));
    EXPECT_EQ(fGetRegistoryRealTimeStatusStrings(kPrinter, buffer, sizeof buffer), 0);
}

TEST_F(PrinterStore, EngineStringsWithoutTheirZeroReadBackAsTheSameText)
{
    const PrinterEntry entry = entryFor(kPrinter, "IJ-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    engineWrites("InkLevel", ValueType::String, "IQ:50,40");
    engineWrites("GapStrings", ValueType::String, "EX:00000006\x03");
    engineWrites("ICcardName", ValueType::String, "PGSCRIPT mlS OPTIONCARD");
    char buffer[64];
    ASSERT_EQ(fGetRegistoryInkLevel(kPrinter, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "IQ:50,40");
    ASSERT_EQ(fGetRegistoryGepStrings(kPrinter, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "EX:00000006\x03");
    ASSERT_EQ(fGetRegistoryICCardName(kPrinter, buffer, sizeof buffer), 1) << "ICcardName and ICCardName are one value";
    EXPECT_STREQ(buffer, "PGSCRIPT mlS OPTIONCARD");
    EXPECT_EQ(fGetRegistoryICCardName(kPrinter, buffer, 23), 0) << "too small for text and zero";
}

TEST_F(PrinterStore, DeviceIdIsReadAsBytes)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    const std::string id = "MFG:VELTA;MDL:PG-03;";
    engineWrites("DeviceIDStrings", ValueType::Binary, id);
    ASSERT_TRUE(
        watchcore::setDword(testsupport::rootStore(), StoreKey::Vigilmon, kPrinter, "DeviceIDLength", id.size()));
    char buffer[64] = {};
    ASSERT_EQ(fGetRegistoryDeviceIDStrings(kPrinter, buffer, sizeof buffer), 1);
    EXPECT_EQ(std::string(buffer, id.size()), id);
    std::uint32_t length = 0;
    ASSERT_EQ(fGetRegistoryDeviceIDLength(kPrinter, &length), 1);
    EXPECT_EQ(length, id.size());
    EXPECT_EQ(fGetRegistoryDeviceIDStrings(kPrinter, buffer, 10), 0);
}

TEST_F(PrinterStore, FlagsRoundTripThroughTheExports)
{
    const PrinterEntry entry = entryFor(kPrinter, "PG-03");
    ASSERT_EQ(fInitRegistory(&entry), 1);
    std::uint32_t value = 0;
    ASSERT_EQ(fSetRegistoryVigilExistFlag(kPrinter, 1), 1);
    ASSERT_EQ(fGetRegistoryVigilExistFlag(kPrinter, &value), 1);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(fSetRegistoryStRealThreadExistFlag(kPrinter, 0x21), 1);
    ASSERT_EQ(fGetRegistoryStRealThreadExistFlag(kPrinter, &value), 1);
    EXPECT_EQ(value, 0x21u);
    ASSERT_EQ(fSetRegistoryDisplayFlag(kPrinter, 1), 1);
    ASSERT_EQ(fGetRegistoryDisplayFlag(kPrinter, &value), 1);
    EXPECT_EQ(value, 1u);
    ASSERT_EQ(fGetRegistoryGetRealTimeStatusTime(kPrinter, &value), 1);
    EXPECT_EQ(value, 5000u);
}

TEST_F(PrinterStore, TheNotifyKeyCarriesTheListProgramsFlags)
{
    ASSERT_EQ(fCreateRegistoryNotifySubKey(), 1);
    ASSERT_EQ(fCreateRegistoryNotifySubKey(), 1) << "an existing key is opened";
    std::uint32_t value = 5;
    EXPECT_EQ(fGetRegistoryKswExitFlag(&value), 0) << "the key exists, the value not yet";
    ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);
    ASSERT_EQ(fSetRegistoryKswExitFlag(1), 1);
    ASSERT_EQ(fGetRegistoryKswListRunFlag(&value), 1);
    EXPECT_EQ(value, 2u);
    ASSERT_EQ(fGetRegistoryKswExitFlag(&value), 1);
    EXPECT_EQ(value, 1u);
}

TEST_F(PrinterStore, DriverAndMonitorKeysGiveTheLanguageMonitor)
{
    Key driver, monitor;
    ASSERT_EQ(
        store().createKey(Root::LocalMachine, *watchcore::storeKeyPath(StoreKey::Driver, "VELTA PG-03"), "", driver),
        Status::Ok);
    ASSERT_EQ(driver.set("Monitor", ValueType::String, std::as_bytes(std::span("VELTA Language Monitor", 23))),
              Status::Ok);
    ASSERT_EQ(store().createKey(Root::LocalMachine,
                                *watchcore::storeKeyPath(StoreKey::Monitor, "VELTA Language Monitor"), "", monitor),
              Status::Ok);
    ASSERT_EQ(monitor.set("Driver", ValueType::String, std::as_bytes(std::span("KMON01.DLL", 11))), Status::Ok);

    char buffer[255];
    ASSERT_EQ(fGetRegistoryDriverMonitor("velta pg-03", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "VELTA Language Monitor");
    ASSERT_EQ(fGetRegistoryLanguageMonitorDriver(buffer, buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "KMON01.DLL");
    EXPECT_EQ(fGetRegistoryDriverMonitor("VELTA PG-99", buffer, sizeof buffer), 0);
}

TEST_F(PrinterStore, NumberedSettingNamesFollowTheirFormat)
{
    EXPECT_EQ(watchcore::numberedName("AreatType%ld", 0), "AreatType0");
    EXPECT_EQ(watchcore::numberedName("SoundName%ld", 10), "SoundName10");
}
