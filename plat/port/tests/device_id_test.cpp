// A printer named by its identity: device IDs, URIs and port-map targets, and the search by device ID
// through a folder of nodes, including the identity target opened through the port map.

#include "plat/port/device_id.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "plat/port/port.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;
using namespace plat::port;

namespace {

TEST(DeviceIdentity, ComesFromTheDeviceId)
{
    struct Case {
        const char* id;
        std::optional<DeviceIdentity> identity;
    } cases[] = {
        {"MFG:VELTA;MDL:PG-03;CMD:KJL;SN:A1B2;", DeviceIdentity{"VELTA", "PG-03", "A1B2"}},
        {"MANUFACTURER: VELTA ; MODEL:IJ-09;SERIALNUMBER:x 7;", DeviceIdentity{"VELTA", "IJ-09", "x 7"}},
        {"mfg:velta;mdl:dm-02;sern:99", DeviceIdentity{"velta", "dm-02", "99"}},
        {"MFG:VELTA;MDL:PG-03;", DeviceIdentity{"VELTA", "PG-03", ""}},
        {"MFG:VELTA;", std::nullopt},
        {"MDL:PG-03;SN:1;", std::nullopt},
        {"", std::nullopt},
        {";;:;MFG;", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(identityOf(c.id), c.identity) << c.id;
}

TEST(DeviceIdentity, ASerialNumberNamesOnePrinterAndNoSerialNamesTheModel)
{
    const DeviceIdentity a{"VELTA", "PG-03", "A1"}, b{"VELTA", "PG-03", "B2"}, model{"velta", "pg-03", ""};
    EXPECT_TRUE(isSamePrinter(a, a));
    EXPECT_FALSE(isSamePrinter(a, b));
    EXPECT_FALSE(isSamePrinter(a, model)) << "a printer that gives no serial is not the one with A1";
    EXPECT_TRUE(isSamePrinter(model, a));
    EXPECT_TRUE(isSamePrinter(model, b));
    EXPECT_FALSE(isSamePrinter(model, DeviceIdentity{"VELTA", "PG-01", ""}));
    EXPECT_FALSE(isSamePrinter(DeviceIdentity{"VELTA", "PG-03", "a1"}, a)) << "serial numbers keep their case";
}

TEST(DeviceIdentity, UrisRoundTripAndRefuseOtherForms)
{
    for (const DeviceIdentity& id : {DeviceIdentity{"VELTA", "PG-03", "A1B2"}, DeviceIdentity{"VELTA", "IJ-09", ""},
                                     DeviceIdentity{"VELTA", "PG 03/x", "a&b?c=d%"}}) {
        const std::string uri = uriOfIdentity(id);
        EXPECT_EQ(identityOfUri(uri), id) << uri;
    }
    EXPECT_EQ(uriOfIdentity({"VELTA", "PG-03", "A1"}), "velta://VELTA/PG-03?serial=A1");
    EXPECT_EQ(uriOfIdentity({"VELTA", "PG 03", ""}), "velta://VELTA/PG%2003");
    for (const char* bad :
         {"velta:/dev/usb/lp0", "velta:///dev/usb/lp0", "velta://VELTA/", "velta:///PG-03", "velta://VELTA/dev/lp0",
          "velta://VELTA/PG-03?serial=", "velta://VELTA/PG-03?x=1", "velta://VELTA/PG-03?serial=1&x=2",
          "velta://VELTA/PG-03#f", "velta://VELTA/PG%0A03", "velta://VELTA/PG%2", "usb://VELTA/PG-03?serial=1"}) {
        EXPECT_FALSE(identityOfUri(bad)) << bad;
    }
}

TEST(DeviceIdentity, TargetsRoundTrip)
{
    const DeviceIdentity id{"VELTA", "PG-03", "A&1"};
    const std::string target = targetOfIdentity("/tmp/a b?/usb", id);
    EXPECT_EQ(target.rfind("id:/tmp/a%20b%3F/usb?", 0), 0u) << target;
    auto parsed = parseIdentityTarget(target);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->folder, "/tmp/a b?/usb");
    EXPECT_EQ(parsed->identity, id);
    EXPECT_EQ(parseIdentityTarget("id:/dev/usb?mfg=VELTA&mdl=PG-03")->identity, (DeviceIdentity{"VELTA", "PG-03", ""}));
    for (const char* bad : {"device:/dev/usb/lp0", "id:/dev/usb", "id:relative?mfg=V&mdl=M", "id:/d?mfg=V",
                            "id:/d?mfg=V&mdl=M&mdl=N", "id:/d?mfg=V&mdl=M&x=1"}) {
        EXPECT_FALSE(parseIdentityTarget(bad)) << bad;
    }
}

TEST(DeviceIdentity, TheSearchGoesByDeviceIdInNodeOrder)
{
    testsupport::TempRoot root;
    const fs::path folder = root.path() / "usb";
    fs::create_directories(folder);
    std::map<std::string, std::optional<std::string>> ids = {
        {"lp10", "MFG:VELTA;MDL:PG-03;SN:A1;"},
        {"lp2", "MFG:VELTA;MDL:PG-03;SN:B2;"},
        {"lp3", std::nullopt},  // held by another program
        {"lp4", "MFG:OTHER;MDL:PG-03;SN:A1;"},
    };
    for (const auto& [name, id] : ids) std::ofstream(folder / name) << "";
    std::ofstream(folder / "not-a-printer") << "";
    EXPECT_EQ(printerNodes(folder.string()),
              (std::vector<std::string>{(folder / "lp2").string(), (folder / "lp3").string(), (folder / "lp4").string(),
                                        (folder / "lp10").string()}));
    auto readId = [&](const std::string& node) { return ids.at(fs::path(node).filename().string()); };
    auto search = findPrinter(folder.string(), {"VELTA", "PG-03", "A1"}, readId);
    EXPECT_EQ(search.matches, std::vector<std::string>{(folder / "lp10").string()});
    EXPECT_EQ(search.unreadable, std::vector<std::string>{(folder / "lp3").string()});
    EXPECT_EQ(findPrinter(folder.string(), {"VELTA", "PG-03", ""}, readId).matches.size(), 2u);
    EXPECT_TRUE(findPrinter((root.path() / "none").string(), {"VELTA", "PG-03", ""}, readId).matches.empty());
}

TEST(DeviceIdentity, AnIdentityTargetThatFindsNoPrinterDoesNotOpen)
{
    testsupport::TempRoot root;
    const fs::path folder = root.path() / "usb";
    fs::create_directories(folder);
    std::ofstream(folder / "lp0") << "";  // a plain file gives no device ID
    auto opened = openTarget(targetOfIdentity(folder.string(), {"VELTA", "PG-03", "A1"}));
    ASSERT_FALSE(opened.ok());
    EXPECT_NE(opened.error().detail.find("no printer in " + folder.string() + " is velta://VELTA/PG-03?serial=A1"),
              std::string::npos)
        << opened.error().detail;
}

}  // namespace
