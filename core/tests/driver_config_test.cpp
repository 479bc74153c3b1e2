// Driver configuration against the embedded spooler: the blob's bytes, the printers that get it, the
// modes, the card slots and their names, and the gap-setting check.

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "plat/spool/spooler.h"
#include "registry_store.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

namespace {

using plat::registry::ValueType;

std::uint32_t word(const std::vector<std::byte>& blob, std::size_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, blob.data() + at, 4);
    return v;
}

class DriverConfig : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        spooler = std::move(plat::spool::embedded(testsupport::rootStore())).value();
        for (const char* model : {"VELTA PG-03", "VELTA DM-02", "VELTA IJ-09"})
            ASSERT_TRUE(spooler->addDriver({model, "C:\\X.DRV", "M"}).ok());
        for (const char* port : {"LPT1:", "LPT2:", "LPT3:"}) ASSERT_TRUE(spooler->addPort(port, std::nullopt).ok());
        addMonitored("Office", "VELTA PG-03", "PG-03", "LPT1:", 600);
        addMonitored("Second", "VELTA PG-03", "PG-03", "LPT2:", -3);
        std::strcpy(entry.PrinterName, "Office");
        std::strcpy(entry.ModelFullName, "VELTA PG-03");
        entry.PanelTimer2Period = 300000;
        entry.MessageIndex = 2;
        paper[0] = paper[1] = 1;  // the tray exists and is fitted
        paper[6] = 2;
        paper[8] = 1;  // of two cassettes only the second is valid
        information[33] = 1;
        information[34] = 2;
        information[48] = 16;
    }

    void addMonitored(const char* name, const char* driver, const char* shortModel, const char* port, int quality)
    {
        ASSERT_TRUE(spooler->addPrinter({name, port, driver, 0, 0, 0, quality}).ok());
        PrinterEntry e{};
        std::strcpy(e.PrinterName, name);
        std::strcpy(e.ModelName, shortModel);
        ASSERT_EQ(fInitRegistory(&e), 1);
        const std::string id = std::string("MFG:VELTA;MDL:") + shortModel + ";";
        ASSERT_TRUE(watchcore::setBinary(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, name,
                                         "DeviceIDStrings", id.data(), id.size()));
        ASSERT_TRUE(watchcore::setDword(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, name, "DeviceIDLength",
                                        id.size()));
    }

    // A page reply: tray size A4 (14), cassette sizes A4 and B5 (25), card slots as given.
    std::string reply(const std::string& card1 = "00", const std::string& card2 = "63")
    {
        std::string f(102, '0');
        f.replace(2, 2, "07");
        f.replace(4, 4, "03E8");
        f.replace(78, 2, "0E");
        f.replace(80, 2, "0E");
        f.replace(82, 2, "19");
        f.replace(86, 2, card1);
        f.replace(88, 2, card2);
        return "@KJL STATUS CODE=" + f;
    }

    std::optional<std::vector<std::byte>> data(const char* printer, const char* name)
    {
        auto got = spooler->printerData(printer, name);
        if (!got) return std::nullopt;
        return got.value();
    }

    int update(const std::string& lastReply, std::uint32_t mode)
    {
        return fUpDateDriverConfig(&entry, paper, information, lastReply.c_str(), nullptr, mode);
    }

    std::unique_ptr<plat::spool::Spooler> spooler;
    PrinterEntry entry{};
    std::int32_t paper[128] = {};
    std::int32_t information[64] = {};
};

}  // namespace

TEST_F(DriverConfig, ThePagePrintersBlobGoesToEveryPrinterOfTheModel)
{
    ASSERT_EQ(update(reply(), 0), 1);
    auto blob = data("Office", "VLPrinterInfo");
    ASSERT_TRUE(blob);
    EXPECT_EQ(word(*blob, 0), 48u);
    EXPECT_EQ(word(*blob, 4), 1u) << "status valid";
    EXPECT_EQ(word(*blob, 8), 300u) << "update interval in seconds";
    EXPECT_GT(word(*blob, 12), 1700000000u) << "time of writing";
    EXPECT_EQ(word(*blob, 16), 7u) << "the code field at P+2";
    EXPECT_EQ(word(*blob, 20), 2u) << "the tray and the one valid cassette";
    EXPECT_EQ(word(*blob, 24), 48u);
    EXPECT_EQ(word(*blob, 28), 2u);
    EXPECT_EQ(word(*blob, 32), 56u) << "card slot array behind two paper sizes";
    EXPECT_EQ(word(*blob, 36), 16u * 1024);
    EXPECT_EQ(word(*blob, 44), 1u);
    EXPECT_EQ(word(*blob, 48), 9u) << "A4 as paper number 9";
    EXPECT_EQ(word(*blob, 52), 13u) << "the second cassette's B5";
    ASSERT_EQ(blob->size(), 56u + 2 * 36);
    EXPECT_EQ(word(*blob, 56) & ~2u, 0x80020000u) << "slot 1 holds an IC card";
    EXPECT_EQ(word(*blob, 92), 0x80010000u) << "slot 2 a font card";
    EXPECT_STREQ(reinterpret_cast<const char*>(blob->data() + 96), "正楷書体");
    EXPECT_EQ(word(*data("Office", "VLPrinterInfoSize"), 0), blob->size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data("Office", "VLDeviceID")->data()), 20),
              "MFG:VELTA;MDL:PG-03;");
    EXPECT_EQ(information[11], 600) << "the entry's own printer's resolution";
    EXPECT_TRUE(data("Second", "VLPrinterInfo")) << "every printer of the same model";
    EXPECT_TRUE(data("Second", "VLDeviceID"));
}

TEST_F(DriverConfig, ModeTwoMarksTheStatusInvalidAndWritesNoDeviceId)
{
    ASSERT_EQ(update(reply(), 2), 1);
    EXPECT_EQ(word(*data("Office", "VLPrinterInfo"), 4), 0u);
    EXPECT_FALSE(data("Office", "VLDeviceID"));
    entry.MessageIndex = 1;  // a communication error
    ASSERT_EQ(update(reply(), 1), 1);
    EXPECT_EQ(word(*data("Office", "VLPrinterInfo"), 4), 0u);
}

TEST_F(DriverConfig, NothingIsWrittenWithoutAStatusCodeOrForAnInkjet)
{
    EXPECT_EQ(update("@KJL STATUS=03E8", 0), 0);
    EXPECT_FALSE(data("Office", "VLPrinterInfo"));
    entry.PrinterFamily = 2;
    EXPECT_EQ(update(reply(), 0), 1);
    EXPECT_FALSE(data("Office", "VLPrinterInfo"));
}

TEST_F(DriverConfig, APrinterOfTheModelWithoutAStoreFailsModeZero)
{
    ASSERT_TRUE(spooler->addPrinter({"Unmonitored", "LPT3:", "VELTA PG-03"}).ok());
    EXPECT_EQ(update(reply(), 0), 0);
    EXPECT_EQ(update(reply(), 1), 1) << "modes 1 and 2 read no device ID";
}

TEST_F(DriverConfig, CardNamesAreDecodedIntoTheSlotValues)
{
    ASSERT_TRUE(
        watchcore::setText(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, "Office", "ICCardName",
                           "PGSCRIPT mlS OPTIONCARD\r\nSLOTA CARD_NAME|6 4B4559\r\nSLOTB CARD_NAME|4 4142\r\n"));
    ASSERT_EQ(update(reply(), 0), 1);
    char name[32];
    ASSERT_EQ(fGetRegistoryIcCardNameOnSlot("Office", name, sizeof name, 0), 1);
    EXPECT_STREQ(name, "KEY");
    ASSERT_EQ(fGetRegistoryIcCardNameOnSlot("Office", name, sizeof name, 1), 1);
    EXPECT_STREQ(name, "AB");
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, "Office", "ICCardName",
                                   "SLOTA CARD_NAME|4 41ZZ"));
    ASSERT_EQ(update(reply(), 0), 1);
    ASSERT_EQ(fGetRegistoryIcCardNameOnSlot("Office", name, sizeof name, 0), 1);
    EXPECT_STREQ(name, "") << "a pair that is not hexadecimal gives an empty name";
}

TEST_F(DriverConfig, CardSlotFlagsByTheirByte)
{
    ASSERT_EQ(update(reply("FF", "4D"), 0), 1);
    auto blob = *data("Office", "VLPrinterInfo");
    EXPECT_EQ(word(blob, 56), 0u) << "255 is an empty slot";
    EXPECT_EQ(blob[60], std::byte{0});
    EXPECT_EQ(word(blob, 92), 0x80010000u);
    EXPECT_STREQ(reinterpret_cast<const char*>(blob.data() + 96), "認識できないﾌｫﾝﾄ");
    entry.PrinterState = 2;  // an error: an IC card slot is marked only when its name is missing
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, "Office", "ICCardName",
                                   "SLOTA CARD_NAME|2 41"));
    ASSERT_EQ(update(reply("00", "FF"), 0), 1);
    EXPECT_EQ(word(*data("Office", "VLPrinterInfo"), 56), 0x80020000u);
    information[34] = 1000;
    ASSERT_EQ(update(reply(), 0), 1);
    EXPECT_LE(data("Office", "VLPrinterInfo")->size(), 256u) << "the blob never grows past 256 bytes";
}

TEST_F(DriverConfig, TheImpactRecordAndItsMaintenanceText)
{
    addMonitored("Forms", "VELTA DM-02", "DM-02", "LPT3:", 0);
    std::strcpy(entry.PrinterName, "Forms");
    std::strcpy(entry.ModelFullName, "VELTA DM-02");
    entry.PrinterFamily = 1;
    ASSERT_EQ(update("ST:04;CD:0123456789ABCDEFGHIJKLMNOP;", 0), 1);
    auto record = *data("Forms", "VLPrinterInfo2");
    ASSERT_EQ(record.size(), 16u);
    EXPECT_EQ(word(record, 0), 16u);
    EXPECT_EQ(word(record, 4), 1u);
    EXPECT_EQ(word(record, 8), 300000u);
    auto maintenance = *data("Forms", "VLImpMaint");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(maintenance.data()), maintenance.size()),
              "0123456789ABCDEFGHIJ");
    EXPECT_EQ(word(*data("Forms", "VLImpMaintSize"), 0), 20u);
    EXPECT_EQ(update("ST:04;", 0), 0) << "no CD: is no maintenance text";
}

TEST_F(DriverConfig, TheGapSettingIsAskedForByTheExtendedReply)
{
    auto gap = [&](const char* text) {
        EXPECT_TRUE(
            watchcore::setText(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, "Office", "GapStrings", text));
        return fCheckNeedGapSetting("Office");
    };
    EXPECT_EQ(gap("@BDC EX\r\nEX:0000000601;"), 1);
    EXPECT_EQ(gap("EX:0000000600;"), 0);
    EXPECT_EQ(gap("EX:000000060g;"), 0);
    EXPECT_EQ(gap("EX:00000007 01"), 0);
    EXPECT_EQ(fCheckNeedGapSetting("Nobody"), 0);
}
