#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include "plat/base/system_root.h"
#include "plat/netware/environment.h"
#include "plat/port/port.h"
#include "plat/registry/registry.h"
#include "plat/spool/spooler.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

namespace {

testsupport::ProgramRun spoolctl(std::vector<std::string> args)
{
    args.insert(args.begin(), SPOOLCTL_PROGRAM);
    return testsupport::runProgram(args);
}

class Spoolctl : public testsupport::RootTest {};

}  // namespace

TEST_F(Spoolctl, InstallsTheModelsDriversWithTheirLanguageMonitors)
{
    auto run = spoolctl({"install-models"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto spooler = plat::spool::embedded(testsupport::rootStore());
    ASSERT_TRUE(spooler.ok());
    auto drivers = spooler.value()->drivers();
    ASSERT_TRUE(drivers.ok());
    ASSERT_EQ(drivers.value().size(), 21u);
    bool sawPg03 = false;
    for (const auto& d : drivers.value()) {
        EXPECT_NE(d.monitor.find("Language Monitor"), std::string::npos) << d.name;
        EXPECT_EQ(d.path.rfind("C:\\WINDOWS\\SYSTEM\\KDRV", 0), 0u) << d.path;
        if (d.name == "VELTA PG-03") {
            sawPg03 = true;
            EXPECT_EQ(d.path, "C:\\WINDOWS\\SYSTEM\\KDRV01.DRV");
        }
    }
    EXPECT_TRUE(sawPg03);
}

TEST_F(Spoolctl, SetsUpPrintersPortsAndJobs)
{
    ASSERT_EQ(spoolctl({"install-models"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-port", "LPT1:", "--sim"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-port", "LPT2:", "--device", "/dev/usb/lp0"}).exitCode, 0);
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), "LPT2:"), "device:/dev/usb/lp0");
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), "LPT1:"), std::nullopt)
        << "vprinter maps simulated ports itself";
    ASSERT_EQ(
        spoolctl({"add-printer", "Office PG-03", "--driver", "VELTA PG-03", "--port", "LPT1:", "--quality", "600"})
            .exitCode,
        0);
    ASSERT_EQ(spoolctl({"submit", "Office PG-03", "--count", "3"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"finish", "Office PG-03"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"set-port", "Office PG-03", "LPT2:"}).exitCode, 0);

    auto json = spoolctl({"list", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"name\": \"Office PG-03\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"jobs\": 2"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"port\": \"LPT2:\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"quality\": 600"), std::string::npos) << json.out;
    auto text = spoolctl({"list"});
    EXPECT_NE(text.out.find("Office PG-03  port LPT2:  driver VELTA PG-03  jobs 2"), std::string::npos) << text.out;

    ASSERT_EQ(spoolctl({"delete-printer", "Office PG-03"}).exitCode, 0);
    EXPECT_EQ(spoolctl({"list", "--json"}).out.find("Office PG-03"), std::string::npos);
}

TEST_F(Spoolctl, RefusalsAreOneLineAndChangeNothing)
{
    ASSERT_EQ(spoolctl({"install-models"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-port", "LPT1:"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"}).exitCode, 0);
    const std::string before = spoolctl({"list", "--json"}).out;
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"add-printer", "office", "--driver", "VELTA PG-03", "--port", "LPT1:"},
             {"add-printer", "Other", "--driver", "VELTA XX-99", "--port", "LPT1:"},
             {"add-printer", "Other", "--driver", "VELTA PG-03", "--port", "LPT9:"},
             {"set-driver", "Nobody", "VELTA PG-03"},
             {"submit", "Nobody"},
             {"delete-printer", "Nobody"},
         }) {
        auto run = spoolctl(refused);
        EXPECT_EQ(run.exitCode, 1) << ::testing::PrintToString(refused);
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"add-printer", "X", "--driver", "VELTA PG-03"},
             {"add-printer", "X", "--driver", "VELTA PG-03", "--port", "LPT1:", "--quality", "fine"},
             {"add-port", "LPT3:", "--device", "/dev/x", "--sim"},
             {"submit", "Office", "--count", "0"},
             {"list", "extra"},
             {"set-port", "Office"},
         }) {
        EXPECT_EQ(spoolctl(wrong).exitCode, 2) << ::testing::PrintToString(wrong);
    }
    EXPECT_EQ(spoolctl({"list", "--json"}).out, before);
    EXPECT_NE(spoolctl({"--help"}).out.find("Examples:"), std::string::npos);
}

TEST_F(Spoolctl, FileIsAPortWithoutAddPort)
{
    ASSERT_EQ(spoolctl({"install-models"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-port", "LPT1:"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"}).exitCode, 0);
    auto moved = spoolctl({"set-port", "Office", "FILE:"});
    ASSERT_EQ(moved.exitCode, 0) << moved.err;
    auto list = spoolctl({"list"});
    EXPECT_NE(list.out.find("Office  port FILE:"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("Ports:\n  FILE:\n  LPT1:\n"), std::string::npos) << list.out;
}

TEST_F(Spoolctl, NamesThatAreNotUtf8AreRefusedAndStoredOnesAreListedNotFatal)
{
    ASSERT_EQ(spoolctl({"install-models"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-port", "LPT1:"}).exitCode, 0);
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"add-port", "LPT\xff:"},
             {"add-printer", "Caf\xe9", "--driver", "VELTA PG-03", "--port", "LPT1:"},
         }) {
        auto run = spoolctl(refused);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("not valid UTF-8"), std::string::npos) << run.err;
    }

    // A store written by other means (an older version, a hand edit) may hold such bytes already.
    {
        auto store = plat::registry::Store::open(plat::registryFile());
        ASSERT_TRUE(store.ok());
        using plat::registry::Root;
        const std::string printer = "System\\CurrentControlSet\\Control\\Print\\Printers\\Caf\xe9";
        plat::registry::Key key;
        ASSERT_EQ(store.value()->createKey(Root::LocalMachine, printer, "", key), plat::registry::Status::Ok);
        const std::string driver = "VELTA PG-03";
        const std::string port = "LPT\xfe:";
        ASSERT_EQ(key.set("Printer Driver", plat::registry::ValueType::String,
                          std::as_bytes(std::span(driver.c_str(), driver.size() + 1))),
                  plat::registry::Status::Ok);
        ASSERT_EQ(
            key.set("Port", plat::registry::ValueType::String, std::as_bytes(std::span(port.c_str(), port.size() + 1))),
            plat::registry::Status::Ok);
    }
    auto json = spoolctl({"list", "--json"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_NE(json.out.find("\"name\": \"Caf\xef\xbf\xbd\""), std::string::npos) << "replaced, not fatal: " << json.out;
    EXPECT_NE(json.out.find("\"port\": \"LPT\xef\xbf\xbd:\""), std::string::npos) << json.out;
}

TEST_F(Spoolctl, AddsANetwareQueueItsPortAndTheNetwarePrintProvider)
{
    // vprinter enters the server with its address when it starts; the queue keeps both.
    ASSERT_TRUE(plat::netware::update([](plat::netware::Environment& env) {
        plat::netware::FileServer fs1("FS1");
        fs1.printServerAddress = plat::netware::Address::loopback(4321);
        env.put(fs1);
    }));
    auto run = spoolctl({"add-netware-queue", "fs1", "queue1", "--print-server", "ps1", "--printers", "0,2"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto env = plat::netware::load();
    ASSERT_TRUE(env.ok());
    const auto* server = env.value().server("FS1");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->majorVersion, 3);
    EXPECT_EQ(server->printServerAddress, plat::netware::Address::loopback(4321));
    const auto* queue = env.value().queue("FS1", "QUEUE1");
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(queue->printServers, std::vector<std::string>{"PS1"});
    const auto* ps = env.value().printServer("FS1", "PS1", "QUEUE1");
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(ps->printers, (std::vector<std::uint16_t>{0, 2}));

    // The queue path is a port of the spooler a printer can use.
    EXPECT_NE(spoolctl({"list"}).out.find("  \\\\FS1\\QUEUE1\n"), std::string::npos);
    ASSERT_EQ(spoolctl({"install-models"}).exitCode, 0);
    auto added = spoolctl({"add-printer", "Shared", "--driver", "VELTA PG-04", "--port", "\\\\FS1\\QUEUE1"});
    EXPECT_EQ(added.exitCode, 0) << added.err;

    // The provider: its value names a file that is there.
    auto store = plat::registry::Store::open(plat::registryFile());
    ASSERT_TRUE(store.ok());
    plat::registry::Key key;
    ASSERT_EQ(store.value()->openKey(plat::registry::Root::LocalMachine,
                                     "System\\CurrentControlSet\\control\\Print\\Providers\\Microsoft Print Provider "
                                     "for NetWare",
                                     plat::registry::Query, key),
              plat::registry::Status::Ok);
    std::array<std::byte, 512> name{};
    std::uint32_t size = 0;
    ASSERT_EQ(key.query("Name", name, &size), plat::registry::Status::Ok);
    const std::string file(reinterpret_cast<const char*>(name.data()));
    EXPECT_FALSE(file.empty());
    EXPECT_TRUE(std::filesystem::exists(plat::windowsDir() / "system" / file)) << file;
}

TEST_F(Spoolctl, AQueueWhosePrintServerIsTheInterfaceItselfHasNoPrintServerRecord)
{
    ASSERT_EQ(spoolctl({"add-netware-queue", "FS2", "Q", "--print-server", "NIC1", "--version", "4"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"add-netware-queue", "FS2", "Q", "--print-server", "NIC2"}).exitCode, 0);
    auto env = plat::netware::load();
    ASSERT_TRUE(env.ok());
    EXPECT_EQ(env.value().server("FS2")->majorVersion, 4) << "kept when not given again";
    EXPECT_EQ(env.value().queue("FS2", "Q")->printServers, (std::vector<std::string>{"NIC1", "NIC2"}));
    EXPECT_TRUE(env.value().printServers.empty());
}

TEST_F(Spoolctl, CapturesAreMadeListedAndEnded)
{
    ASSERT_EQ(spoolctl({"capture", "LPT2", "FS1", "QUEUE1"}).exitCode, 0);
    ASSERT_EQ(spoolctl({"capture", "lpt3:", "FS1", "QUEUE2.SALES"}).exitCode, 0);
    auto text = spoolctl({"list"});
    EXPECT_NE(text.out.find("Captures:\n  LPT2:  \\\\FS1\\QUEUE1\n  LPT3:  \\\\FS1\\QUEUE2.SALES\n"), std::string::npos)
        << text.out;
    auto json = spoolctl({"list", "--json"});
    EXPECT_NE(json.out.find("\"port\": \"LPT2:\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"queue\": \"QUEUE2.SALES\""), std::string::npos) << json.out;

    ASSERT_EQ(spoolctl({"end-capture", "LPT2:"}).exitCode, 0);
    auto env = plat::netware::load();
    ASSERT_TRUE(env.ok());
    EXPECT_EQ(env.value().capture(2), nullptr);
    ASSERT_NE(env.value().capture(3), nullptr);
    auto again = spoolctl({"end-capture", "LPT2"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("not captured"), std::string::npos) << again.err;
}

TEST_F(Spoolctl, NetwareRefusalsChangeNothing)
{
    ASSERT_EQ(spoolctl({"add-netware-queue", "FS1", "QUEUE1"}).exitCode, 0);
    const std::string before = plat::netware::format(plat::netware::load().value());
    for (const std::vector<std::string>& refused : std::vector<std::vector<std::string>>{
             {"add-netware-queue", "FS1", std::string(48, 'Q')},
             {"add-netware-queue", "FS 1", "QUEUE2"},
             {"add-netware-queue", "FS1", "QUEUE2", "--print-server", "P S", "--printers", "0"},
             {"capture", "LPT1", "FS1", "QUEUE 1"},
         }) {
        EXPECT_EQ(spoolctl(refused).exitCode, 1) << ::testing::PrintToString(refused);
    }
    for (const std::vector<std::string>& wrong : std::vector<std::vector<std::string>>{
             {"add-netware-queue", "FS1"},
             {"add-netware-queue", "FS1", "Q", "--printers", "0"},
             {"add-netware-queue", "FS1", "Q", "--print-server", "PS", "--printers", "0,x"},
             {"add-netware-queue", "FS1", "Q", "--print-server", "PS", "--printers", "70000"},
             {"add-netware-queue", "FS1", "Q", "--version", "four"},
             {"capture", "LPT0", "FS1", "Q"},
             {"capture", "COM1", "FS1", "Q"},
             {"capture", "LPT1", "FS1"},
             {"end-capture", "LPT10"},
         }) {
        EXPECT_EQ(spoolctl(wrong).exitCode, 2) << ::testing::PrintToString(wrong);
    }
    EXPECT_EQ(plat::netware::format(plat::netware::load().value()), before);
    EXPECT_EQ(spoolctl({"list"}).out.find("QUEUE2"), std::string::npos);
}

TEST_F(Spoolctl, OnCupsInstallModelsInstallsEveryModelsPpdWhole)
{
    const auto folder = root.path() / "ppd";
    ::setenv("KESTREL_PPD_DIR", folder.c_str(), 1);
    std::filesystem::create_directories(folder);
    {
        std::ofstream(folder / "pg03.ppd") << "an older, shorter file";
    }
    const auto run = spoolctl({"--spooler", "cups", "install-models"});
    ::unsetenv("KESTREL_PPD_DIR");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::size_t ppds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) ppds += entry.path().extension() == ".ppd";
    EXPECT_EQ(ppds, 21u);
    std::ifstream in(folder / "pg03.ppd");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(text.find("*NickName: \"VELTA PG-03\""), std::string::npos);
    EXPECT_EQ(std::filesystem::status(folder / "pg03.ppd").permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::others_read);
}

TEST_F(Spoolctl, OnCupsInstallModelsFindsThePpdsOfAnInstalledProgramDirectory)
{
    // As installed: PREFIX/lib/velta-kestrel/spoolctl, the PPD files in PREFIX/share/ppd/velta-kestrel.
    namespace fs = std::filesystem;
    const fs::path prefix = root.path() / "usr";
    const fs::path programs = prefix / "lib" / "velta-kestrel";
    fs::create_directories(programs);
    fs::copy_file(SPOOLCTL_PROGRAM, programs / "spoolctl");
    fs::create_directories(prefix / "share" / "ppd");
    fs::copy(fs::path(SPOOLCTL_PROGRAM).parent_path().parent_path() / "share" / "ppd" / "velta-kestrel",
             prefix / "share" / "ppd" / "velta-kestrel", fs::copy_options::recursive);
    const fs::path folder = root.path() / "ppd";
    ::setenv("KESTREL_PPD_DIR", folder.c_str(), 1);
    const auto run = testsupport::runProgram({(programs / "spoolctl").string(), "--spooler", "cups", "install-models"});
    ::unsetenv("KESTREL_PPD_DIR");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::size_t ppds = 0;
    for (const auto& entry : fs::directory_iterator(folder)) ppds += entry.path().extension() == ".ppd";
    EXPECT_EQ(ppds, 21u);
}
