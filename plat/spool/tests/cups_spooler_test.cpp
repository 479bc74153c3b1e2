// The spooler on CUPS, against the private cupsd of the test run (the "cupsd" CTest fixture): each test
// makes queues of its own, named after it, in its own system root.

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <thread>

#include "facts/store_names.h"
#include "plat/port/device_id.h"
#include "plat/port/port.h"
#include "plat/registry/registry.h"
#include "plat/services/services.h"
#include "plat/spool/spooler.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

using namespace plat::spool;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

const fs::path kCupsd = KESTREL_CUPSD_DIR;
const std::string kScript = KESTREL_CUPSD_SCRIPT;

// Our PG-03 PPD's driver facts, as the installed one has them: other tests on the shared scheduler
// print through queues with that one, and a driver is listed once by name.
constexpr const char* kOurPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "VELTAPG3.PPD"
*Manufacturer: "VELTA"
*Product: "(PG-03)"
*PSVersion: "(3010.000) 0"
*ModelName: "VELTA PG-03"
*ShortNickName: "VELTA PG-03"
*NickName: "VELTA PG-03"
*1284DeviceID: "MFG:VELTA;MDL:PG-03;CMD:VELTA;"
*cupsFilter2: "application/vnd.cups-raw application/vnd.cups-raw 0 -"
*VELTADriverFile: "KDRV01.DRV"
*VELTALanguageMonitor: "VELTA KMON01 Language Monitor"
*VELTALanguageMonitorFile: "KMON01.DLL"
*OpenUI *PageSize: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: ""
*CloseUI: *PageSize
*DefaultImageableArea: A4
*ImageableArea A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4: "595 842"
*DefaultResolution: 360dpi
)PPD";

// Another maker's PPD: none of our keywords.
constexpr const char* kForeignPpd = R"PPD(*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "OTHER.PPD"
*Manufacturer: "Other"
*Product: "(Other 1)"
*PSVersion: "(3010.000) 0"
*ModelName: "Other Printer 1"
*ShortNickName: "Other Printer 1"
*NickName: "Other Printer 1"
*cupsFilter2: "application/vnd.cups-raw application/vnd.cups-raw 0 -"
*OpenUI *PageSize: PickOne
*DefaultPageSize: A4
*PageSize A4/A4: ""
*CloseUI: *PageSize
*DefaultImageableArea: A4
*ImageableArea A4: "0 0 595 842"
*DefaultPaperDimension: A4
*PaperDimension A4: "595 842"
)PPD";

int code(const Done& done)
{
    if (done.ok()) return 0;
    std::cerr << "  (refused: " << done.error().detail << ")\n";
    return done.error().code;
}
template <class T>
int codeOf(const plat::Result<T>& r)
{
    return r.ok() ? 0 : r.error().code;
}

std::optional<Printer> find(Spooler& spooler, const std::string& name)
{
    auto list = spooler.printers();
    if (!list) return std::nullopt;
    for (const auto& p : list.value())
        if (p.name == name) return p;
    return std::nullopt;
}

// The event subscriptions the scheduler at `dir` holds, every client's (Get-Subscriptions); -1 when it
// does not answer.
int subscriptions(const fs::path& dir)
{
    http_t* http = httpConnect2((dir / "cups.sock").c_str(), ippPort(), nullptr, AF_UNSPEC,
                                HTTP_ENCRYPTION_IF_REQUESTED, 1, 5000, nullptr);
    if (http == nullptr) return -1;
    ipp_t* request = ippNewRequest(IPP_OP_GET_SUBSCRIPTIONS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    ippAddBoolean(request, IPP_TAG_OPERATION, "my-subscriptions", 0);
    ipp_t* response = cupsDoRequest(http, request, "/");
    int count = -1;
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) {
        count = 0;  // none at all
    } else if (response != nullptr && cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE) {
        count = 0;
        for (ipp_attribute_t* a = ippFindAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER); a != nullptr;
             a = ippFindNextAttribute(response, "notify-subscription-id", IPP_TAG_INTEGER)) {
            ++count;
        }
    }
    ippDelete(response);
    httpClose(http);
    return count;
}

// The command-line tools as another client of the same scheduler.
testsupport::ProgramRun tool(std::vector<std::string> argv) { return testsupport::runProgram(argv); }

class CupsSpoolerTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kCupsd / "cups.sock")) << "the cupsd fixture is not running in " << kCupsd;
        useServer(kCupsd);
        ppds = root.path() / "ppd";
        fs::create_directories(ppds);
        write(ppds / "pg03.ppd", kOurPpd);
        write(ppds / "other.ppd", kForeignPpd);
        ::setenv("KESTREL_PPD_DIR", ppds.c_str(), 1);
        // Queue names of this test alone: the scheduler is shared by the whole run.
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefix = std::string("t_") + info->name() + "_";
        for (char& c : prefix)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';  // a parameter's "/" included
    }

    void TearDown() override
    {
        if (!spooler) return;
        if (auto list = spooler->printers()) {
            for (const auto& p : list.value())
                if (p.name.rfind(prefix, 0) == 0) spooler->deletePrinter(p.name);
        }
        spooler.reset();
    }

    static void useServer(const fs::path& dir)
    {
        ::setenv("CUPS_SERVER", (dir / "cups.sock").c_str(), 1);
        // libcups reads a local scheduler's PPDs from this folder when it can.
        ::setenv("CUPS_SERVERROOT", (dir / "etc").c_str(), 1);
    }

    static void write(const fs::path& file, const std::string& text) { std::ofstream(file) << text; }

    // A scheduler of this test's own in `dir`, with a system bus of its own that this test's spoolers
    // listen on too, or without any bus.
    enum class Bus { Own, None };
    testsupport::ProgramRun startScheduler(const fs::path& dir, Bus bus)
    {
        if (bus == Bus::Own) {
            ::setenv("KESTREL_CUPSD_BUS", "1", 1);
        } else {
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + (root.path() / "no-bus").string()).c_str(), 1);
        }
        auto run = tool({kScript, "start", dir.string()});
        ::unsetenv("KESTREL_CUPSD_BUS");
        if (bus == Bus::Own && run.exitCode == 0) {
            std::string address;
            std::getline(std::ifstream(dir / "bus" / "address"), address);
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        }
        return run;
    }

    void open(const fs::path& dir = kCupsd)
    {
        CupsOptions options;
        options.server = (dir / "cups.sock").string();
        auto made = cups(testsupport::rootStore(), options);
        ASSERT_TRUE(made.ok()) << made.error().detail;
        spooler = std::move(made).value();
    }

    std::string lpadmin(const std::vector<std::string>& args, const fs::path& dir = kCupsd)
    {
        std::vector<std::string> argv{"/usr/sbin/lpadmin", "-h", (dir / "cups.sock").string()};
        argv.insert(argv.end(), args.begin(), args.end());
        auto run = tool(argv);
        return run.exitCode == 0 ? "" : run.err + " (exit " + std::to_string(run.exitCode) + ")";
    }

    std::optional<std::string> storeText(const std::string& key, const std::string& name)
    {
        auto store = plat::registry::Store::forCurrentRoot();
        if (!store) return std::nullopt;
        char buffer[512];
        std::uint32_t size = 0;
        if (store.value()->getValue(plat::registry::Root::LocalMachine, key, name,
                                    std::as_writable_bytes(std::span(buffer)), &size) != plat::registry::Status::Ok) {
            return std::nullopt;
        }
        return std::string(buffer, strnlen(buffer, size));
    }

    fs::path ppds;
    std::string prefix;
    std::unique_ptr<CupsSpooler> spooler;
};

}  // namespace

TEST_F(CupsSpoolerTest, ListsQueuesWithTheirDriversAndPorts)
{
    open();
    const std::string sim = prefix + "sim", usb = prefix + "usb", net = prefix + "net";
    const std::string socket = (root.path() / "run" / "vprinter-LPT1.sock").string();
    ASSERT_EQ(code(spooler->addPort("LPT1:", "sim:" + socket)), 0);
    ASSERT_EQ(code(spooler->addPrinter({sim, "LPT1:", "VELTA PG-03"})), 0);
    // A device URI given as the port: our backend on a USB node, and a network queue.
    ASSERT_EQ(code(spooler->addPrinter({usb, "velta:/dev/usb/lp7", "VELTA PG-03"})), 0);
    ASSERT_EQ(code(spooler->addPrinter({net, "ipp://192.0.2.1/ipp/print", "VELTA PG-03"})), 0);

    auto simQueue = find(*spooler, sim);
    ASSERT_TRUE(simQueue);
    EXPECT_EQ(simQueue->driver, "VELTA PG-03");
    EXPECT_EQ(simQueue->port, "LPT1:");  // the simulator's socket keeps its port name
    EXPECT_EQ(simQueue->jobs, 0u);
    EXPECT_EQ(simQueue->quality, 360);

    auto usbQueue = find(*spooler, usb);
    ASSERT_TRUE(usbQueue);
    ASSERT_EQ(usbQueue->port.rfind("LPT", 0), 0u) << usbQueue->port;
    EXPECT_NE(usbQueue->port, "LPT1:");
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), usbQueue->port), "device:/dev/usb/lp7");

    auto netQueue = find(*spooler, net);
    ASSERT_TRUE(netQueue);
    EXPECT_EQ(netQueue->port, "ipp://192.0.2.1/ipp/print");
    EXPECT_FALSE(plat::port::portTarget(testsupport::rootStore(), netQueue->port));

    auto drivers = spooler->drivers();
    ASSERT_TRUE(drivers.ok());
    ASSERT_EQ(std::count_if(drivers.value().begin(), drivers.value().end(),
                            [](const Driver& d) { return d.name == "VELTA PG-03"; }),
              1);  // one entry for the three queues of one PPD
    auto ours = *std::find_if(drivers.value().begin(), drivers.value().end(),
                              [](const Driver& d) { return d.name == "VELTA PG-03"; });
    EXPECT_EQ(ours.path, "KDRV01.DRV");
    EXPECT_EQ(ours.monitor, "VELTA KMON01 Language Monitor");

    auto ports = spooler->ports();
    ASSERT_TRUE(ports.ok());
    for (const std::string& p : {std::string("LPT1:"), usbQueue->port, std::string("FILE:")})
        EXPECT_NE(std::find(ports.value().begin(), ports.value().end(), p), ports.value().end()) << p;

    // What the engine reads from the store directly.
    const std::string key = std::string(facts::key::kPrinters) + sim;
    EXPECT_EQ(storeText(key, facts::value::kPrinterPort), "LPT1:");
    EXPECT_EQ(storeText(key, facts::value::kPrinterDriver), "VELTA PG-03");
    EXPECT_EQ(storeText(std::string(facts::key::kDrivers) + "VELTA PG-03", facts::value::kDriverMonitor),
              "VELTA KMON01 Language Monitor");
    EXPECT_EQ(
        storeText(std::string(facts::key::kMonitors) + "VELTA KMON01 Language Monitor", facts::value::kMonitorDriver),
        "KMON01.DLL");

    // The mirror is not a printer of the embedded spooler on the same store.
    auto local = embedded(testsupport::rootStore());
    ASSERT_TRUE(local.ok());
    EXPECT_EQ(codeOf(local.value()->printer(sim)), static_cast<int>(Failure::NotFound));
    EXPECT_TRUE(local.value()->printers().value().empty());

    // Printer data stays in the store, under the queue's key.
    const std::string blob = "\x01\x02\x03";
    ASSERT_EQ(code(spooler->setPrinterData(sim, "VLPrinterInfo", plat::registry::ValueType::Binary,
                                           std::as_bytes(std::span(blob.data(), blob.size())))),
              0);
    auto data = spooler->printerData(sim, "VLPrinterInfo");
    ASSERT_TRUE(data.ok());
    EXPECT_EQ(data.value().size(), 3u);

    auto states = spooler->queueStates();
    ASSERT_TRUE(states.ok());
    auto state =
        std::find_if(states.value().begin(), states.value().end(), [&](const QueueState& s) { return s.name == sim; });
    ASSERT_NE(state, states.value().end());
    EXPECT_EQ(state->deviceUri, "velta:" + socket);
    EXPECT_FALSE(state->processing);
}

// A queue that names its printer by identity (velta://MAKE/MODEL?serial=S) gets a port name as any
// local queue, and the port opens that printer on whichever node it has.
TEST_F(CupsSpoolerTest, AQueueNamingItsPrinterByIdentityGetsAPortThatFollowsThePrinter)
{
    testsupport::Simulator sim(VPRINTER_PROGRAM, R"({"printers": [
        {"port": "LPT1:", "model": "PG-03", "device_id": "MFG:VELTA;MDL:PG-03;CMD:KJL;SN:A1;"},
        {"port": "LPT2:", "model": "PG-03", "device_id": "MFG:VELTA;MDL:PG-03;CMD:KJL;SN:B2;"}]})");
    ASSERT_TRUE(sim.ready()) << sim.output();
    const fs::path folder = root.path() / "usb";
    fs::create_directories(folder);
    auto plug = [&](const std::string& port, const std::string& node) {
        fs::remove(folder / node);
        fs::create_symlink(root.path() / "run" / ("vprinter-" + port + "_.sock"), folder / node);
    };
    plug("LPT1", "lp0");
    plug("LPT2", "lp1");

    CupsOptions options;
    options.server = (kCupsd / "cups.sock").string();
    options.deviceFolder = folder.string();
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_TRUE(made.ok()) << made.error().detail;
    spooler = std::move(made).value();
    const std::string name = prefix + "byid", uri = "velta://VELTA/PG-03?serial=B2";
    ASSERT_EQ(code(spooler->addPrinter({name, uri, "VELTA PG-03"})), 0);
    auto queue = find(*spooler, name);
    ASSERT_TRUE(queue);
    ASSERT_EQ(queue->port.rfind("LPT", 0), 0u) << queue->port;
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), queue->port),
              plat::port::targetOfIdentity(folder.string(), {"VELTA", "PG-03", "B2"}));

    auto serialBehind = [&](const std::string& port) -> std::string {
        auto opened = plat::port::openPort(testsupport::rootStore(), port);
        if (!opened) return "(" + opened.error().detail + ")";
        char id[256] = {};
        auto n = opened.value()->deviceId(std::as_writable_bytes(std::span(id)));
        const std::string text(id, n > 0 ? static_cast<std::size_t>(n) : 0);
        const auto sn = text.find("SN:");
        return sn == std::string::npos ? text : text.substr(sn, text.find(';', sn) - sn);
    };
    EXPECT_EQ(serialBehind(queue->port), "SN:B2");
    plug("LPT2", "lp0");
    plug("LPT1", "lp1");
    EXPECT_EQ(serialBehind(queue->port), "SN:B2") << "the port follows its printer to the other node";

    // The port name stands for the identity when a queue is set to it.
    const std::string other = prefix + "samePort";
    ASSERT_EQ(code(spooler->addPrinter({other, queue->port, "VELTA PG-03"})), 0);
    auto states = spooler->queueStates();
    ASSERT_TRUE(states.ok());
    auto state = std::find_if(states.value().begin(), states.value().end(),
                              [&](const QueueState& s) { return s.name == other; });
    ASSERT_NE(state, states.value().end());
    EXPECT_EQ(state->deviceUri, uri);
}

// CUPS's own tools refuse PPD lines over 255 bytes, but the scheduler serves what it was sent.
TEST_F(CupsSpoolerTest, APpdLineLongerThanAnyWeReadIsSkippedWhole)
{
    std::string ppd = kOurPpd;
    const auto nick = ppd.find("*NickName");
    ppd.replace(nick, ppd.find('\n', nick) - nick, "*NickName: \"VELTA Long\"");
    // Its tail, past what one read takes, looks like one of our keywords.
    ppd += "*%" + std::string(1023, 'x') + "*VELTADriverFile: \"WRONG.DRV\"\n";
    write(ppds / "long.ppd", ppd);
    open();
    const std::string name = prefix + "long";
    ASSERT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp1", "VELTA Long"})), 0);
    auto drivers = spooler->drivers();
    ASSERT_TRUE(drivers.ok());
    auto found = std::find_if(drivers.value().begin(), drivers.value().end(),
                              [](const Driver& d) { return d.name == "VELTA Long"; });
    ASSERT_NE(found, drivers.value().end());
    EXPECT_EQ(found->path, "KDRV01.DRV");
}

TEST_F(CupsSpoolerTest, RefusesWhatItCannotDo)
{
    open();
    const std::string name = prefix + "q";
    EXPECT_EQ(code(spooler->addPrinter({name, "LPT9:", "VELTA PG-03"})), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp0", "No Such Driver"})),
              static_cast<int>(Failure::NotFound));
    ASSERT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp0", "VELTA PG-03"})), 0);
    EXPECT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp0", "VELTA PG-03"})),
              static_cast<int>(Failure::Exists));
    EXPECT_EQ(code(spooler->addDriver({"X", "X.DRV", "M"})), static_cast<int>(Failure::Unsupported));
    EXPECT_EQ(codeOf(spooler->printer(prefix + "none")), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->deletePrinter(prefix + "none")), static_cast<int>(Failure::NotFound));
    EXPECT_EQ(code(spooler->setPort(prefix + "none", "velta:/dev/usb/lp1")), static_cast<int>(Failure::NotFound));
}

TEST_F(CupsSpoolerTest, SetPortAndSetDriverChangeTheQueue)
{
    std::string other = kOurPpd;
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"*NickName: \"VELTA PG-03\"", "*NickName: \"VELTA Other\""},
          {"KDRV01.DRV", "KDRV02.DRV"}}) {
        other.replace(other.find(from), from.size(), to);
    }
    write(ppds / "other-velta.ppd", other);
    open();
    const std::string name = prefix + "q";
    ASSERT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp1", "VELTA PG-03"})), 0);
    ASSERT_EQ(code(spooler->setPort(name, "velta:/dev/usb/lp2")), 0);
    auto moved = spooler->printer(name);
    ASSERT_TRUE(moved.ok());
    EXPECT_EQ(plat::port::portTarget(testsupport::rootStore(), moved.value().port), "device:/dev/usb/lp2");

    ASSERT_EQ(code(spooler->setDriver(name, "VELTA Other")), 0);
    EXPECT_EQ(spooler->printer(name).value().driver, "VELTA Other");
    // The queue's new PPD is read at once.
    auto drivers = spooler->drivers();
    ASSERT_TRUE(drivers.ok());
    EXPECT_TRUE(std::any_of(drivers.value().begin(), drivers.value().end(),
                            [](const Driver& d) { return d.name == "VELTA Other" && d.path == "KDRV02.DRV"; }));
}

TEST_F(CupsSpoolerTest, JobCountsFollowHeldJobs)
{
    open();
    const std::string name = prefix + "jobs";
    ASSERT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp3", "VELTA PG-03"})), 0);
    ASSERT_EQ(code(spooler->submitJobs(name, 2)), 0);
    // Held: they wait in the queue until finished.
    EXPECT_EQ(spooler->printer(name).value().jobs, 2u);
    ASSERT_EQ(code(spooler->finishJobs(name, 1)), 0);
    EXPECT_EQ(spooler->printer(name).value().jobs, 1u);
    ASSERT_EQ(code(spooler->finishJobs(name, 5)), 0);
    EXPECT_EQ(spooler->printer(name).value().jobs, 0u);
}

// The watcher both ways: woken by the scheduler's D-Bus notices on the fixture's private system bus,
// and asking for events (quicker than by default) as it does without a bus.
class ChangesTest : public CupsSpoolerTest, public ::testing::WithParamInterface<CupsOptions::Events> {
protected:
    void open()
    {
        CupsOptions options;
        options.server = (kCupsd / "cups.sock").string();
        options.events = GetParam();
        options.poll = 300ms;
        options.printingPoll = 100ms;
        auto made = cups(testsupport::rootStore(), options);
        ASSERT_TRUE(made.ok()) << made.error().detail;
        spooler = std::move(made).value();
    }

    testsupport::ProgramRun client(const std::string& program, std::vector<std::string> args)
    {
        args.insert(args.begin(), {program, "-h", (kCupsd / "cups.sock").string()});
        return tool(args);
    }

    std::uint32_t jobs(const std::string& name) { return find(*spooler, name).value_or(Printer{}).jobs; }
};

TEST_P(ChangesTest, ChangesOfOtherClientsMoveTheCountAndWakeWaiters)
{
    open();
    const std::string name = prefix + "other";
    const std::string ppd = (ppds / "pg03.ppd").string();

    std::uint64_t seen = spooler->changeCount();
    EXPECT_EQ(spooler->changeSource(),
              GetParam() == CupsOptions::Events::Listen ? ChangeSource::SystemBus : ChangeSource::Asking);
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp4", "-P", ppd}), "");
    EXPECT_TRUE(spooler->waitForChange(seen, 20s));
    EXPECT_TRUE(testsupport::waitUntil([&] { return find(*spooler, name).has_value(); }));

    seen = spooler->changeCount();
    const fs::path doc = root.path() / "doc.bin";
    write(doc, "job");
    auto lp = client("/usr/bin/lp", {"-d", name, "-o", "raw", "-H", "hold", doc.string()});
    ASSERT_EQ(lp.exitCode, 0) << lp.err;
    EXPECT_TRUE(spooler->waitForChange(seen, 20s));
    EXPECT_TRUE(testsupport::waitUntil([&] { return jobs(name) == 1; }));

    // A held job cancelled: the queue's state does not change, only its jobs.
    seen = spooler->changeCount();
    auto cancel = client("/usr/bin/cancel", {"-a", name});
    ASSERT_EQ(cancel.exitCode, 0) << cancel.err;
    EXPECT_TRUE(spooler->waitForChange(seen, 20s));
    EXPECT_TRUE(testsupport::waitUntil([&] { return jobs(name) == 0; }));

    seen = spooler->changeCount();
    ASSERT_EQ(lpadmin({"-x", name}), "");
    EXPECT_TRUE(spooler->waitForChange(seen, 20s));
    EXPECT_TRUE(testsupport::waitUntil([&] { return !find(*spooler, name).has_value(); }));
}

// A job that prints through our backend is counted while it prints and not once it has completed, even
// when the last events of its completion come before the scheduler has let go of it.
TEST_P(ChangesTest, AJobThatCompletedIsNotCountedAnyMore)
{
    testsupport::Simulator sim(VPRINTER_PROGRAM, R"({"printers": [{"port": "LPT1:", "model": "PG-03"}]})");
    ASSERT_TRUE(sim.ready()) << sim.output();
    open();
    const std::string name = prefix + "printing";
    const std::string socket = (root.path() / "run" / "vprinter-LPT1_.sock").string();
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:" + socket, "-P", (ppds / "pg03.ppd").string()}), "");
    spooler->changeCount();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        sim.must("LPT1:", "busy 600000");
        const fs::path doc = root.path() / ("doc" + std::to_string(round));
        write(doc, "JOB-" + std::to_string(round));
        ASSERT_EQ(client("/usr/bin/lp", {"-d", name, "-o", "raw", doc.string()}).exitCode, 0);
        EXPECT_TRUE(testsupport::waitUntil([&] { return jobs(name) == 1; }));
        sim.must("LPT1:", "heal");
        EXPECT_TRUE(testsupport::waitUntil([&] { return jobs(name) == 0; })) << "still counted: " << jobs(name);
    }
}

INSTANTIATE_TEST_SUITE_P(BothWays, ChangesTest,
                         ::testing::Values(CupsOptions::Events::Listen, CupsOptions::Events::Ask),
                         [](const ::testing::TestParamInfo<CupsOptions::Events>& info) {
                             return std::string(info.param == CupsOptions::Events::Listen ? "OnTheBus" : "Asking");
                         });

// A reader (the list program's services library, a detail program) beside a watcher of the same session
// reads the scheduler again when the watcher has seen a change, however young its snapshot, and not
// otherwise: the watcher publishes its changes in the store.
TEST_F(CupsSpoolerTest, AReaderFollowsTheChangesAWatcherOfTheSessionPublishes)
{
    open();
    spooler->changeCount();  // the watcher
    CupsOptions options;
    options.server = (kCupsd / "cups.sock").string();
    options.snapshotLife = std::chrono::hours(1);
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_TRUE(made.ok()) << made.error().detail;
    auto& reader = *made.value();
    const std::string name = prefix + "published";
    ASSERT_FALSE(find(reader, name).has_value());
    std::uint64_t seen = spooler->changeCount();
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp4", "-P", (ppds / "pg03.ppd").string()}), "");
    ASSERT_TRUE(spooler->waitForChange(seen, 20s));
    // At once, as the list asks its services library the moment its own watcher moves on.
    EXPECT_TRUE(find(reader, name).has_value());
    const fs::path doc = root.path() / "doc.bin";
    write(doc, "job");
    for (std::uint32_t jobs = 1; jobs <= 3; ++jobs) {
        seen = spooler->changeCount();
        auto lp = tool({"/usr/bin/lp", "-h", (kCupsd / "cups.sock").string(), "-d", name, "-o", "raw", "-H", "hold",
                        doc.string()});
        ASSERT_EQ(lp.exitCode, 0) << lp.err;
        ASSERT_TRUE(testsupport::waitUntil([&] { return spooler->printer(name).value().jobs == jobs; }));
        EXPECT_EQ(reader.printer(name).value().jobs, jobs) << "the reader must not lag behind the watcher";
    }

    // Without a watcher in the session the reader goes by its snapshot's life alone.
    spooler.reset();
    ASSERT_EQ(lpadmin({"-x", name}), "");
    std::this_thread::sleep_for(1s);  // past the reader's look at the store; its snapshot is an hour young
    EXPECT_TRUE(find(reader, name).has_value()) << "read again although no watcher said so";
    reader.deletePrinter(name);
}

TEST_F(CupsSpoolerTest, ListsTheQueuesJobsAndCancelsOneOrAll)
{
    open();
    const std::string name = prefix + "jobs", other = prefix + "others";
    for (const auto& q : {name, other})
        ASSERT_EQ(lpadmin({"-p", q, "-E", "-v", "velta:/dev/usb/lp4", "-P", (ppds / "pg03.ppd").string()}), "");
    const fs::path doc = root.path() / "report.bin";
    write(doc, std::string(3000, 'x'));
    auto hold = [&](const std::string& queue, const std::string& title) {
        auto lp = tool({"/usr/bin/lp", "-h", (kCupsd / "cups.sock").string(), "-d", queue, "-o", "raw", "-H", "hold",
                        "-t", title, doc.string()});
        EXPECT_EQ(lp.exitCode, 0) << lp.err;
    };
    const std::int64_t before = std::time(nullptr);
    hold(name, "Quarterly report");
    hold(name, "Second");
    hold(name, "Third");
    hold(other, "Not this queue's");

    auto listed = spooler->jobs(name);
    ASSERT_TRUE(listed.ok()) << listed.error().detail;
    ASSERT_EQ(listed.value().size(), 3u);
    const Job& first = listed.value().front();
    EXPECT_EQ(first.name, "Quarterly report");
    EXPECT_EQ(first.owner, cupsUser());
    EXPECT_EQ(first.kilobytes, 3u);
    EXPECT_EQ(first.state, Job::State::Held);
    EXPECT_GE(first.submitted, before - 5);
    EXPECT_LE(first.submitted, std::time(nullptr) + 5);
    EXPECT_LT(first.id, listed.value()[1].id) << "oldest first";

    ASSERT_EQ(code(spooler->cancelJob(name, listed.value()[1].id)), 0);
    auto left = spooler->jobs(name);
    ASSERT_TRUE(left.ok());
    ASSERT_EQ(left.value().size(), 2u);
    EXPECT_EQ(left.value()[1].name, "Third");
    EXPECT_EQ(spooler->printer(name).value().jobs, 2u) << "the count follows at once";
    // A job that ended meanwhile is cancelled all the same.
    EXPECT_EQ(code(spooler->cancelJob(name, listed.value()[1].id)), 0);

    ASSERT_EQ(code(spooler->cancelAllJobs(name)), 0);
    EXPECT_TRUE(spooler->jobs(name).value().empty());
    EXPECT_EQ(spooler->printer(name).value().jobs, 0u);
    EXPECT_EQ(spooler->jobs(other).value().size(), 1u) << "another queue's jobs stay";
    EXPECT_EQ(codeOf(spooler->jobs(prefix + "none")), static_cast<int>(Failure::NotFound));
}

TEST_F(CupsSpoolerTest, AQueueDeletedWhileListedIsGoneForTheEngine)
{
    open();
    const std::string name = prefix + "gone";
    ASSERT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp5", "VELTA PG-03"})), 0);
    const std::string blob = "data";
    ASSERT_EQ(code(spooler->setPrinterData(name, "VLDeviceID", plat::registry::ValueType::Binary,
                                           std::as_bytes(std::span(blob.data(), blob.size())))),
              0);
    const std::string key = std::string(facts::key::kPrinters) + name;
    ASSERT_TRUE(storeText(key, facts::value::kPrinterPort));

    ASSERT_EQ(lpadmin({"-x", name}), "");
    ASSERT_TRUE(testsupport::waitUntil([&] { return !find(*spooler, name).has_value(); }));
    EXPECT_EQ(codeOf(spooler->printer(name)), static_cast<int>(Failure::NotFound));
    // The engine's port watch sees the printer gone; what it stored for the printer stays.
    EXPECT_FALSE(storeText(key, facts::value::kPrinterPort));
    EXPECT_FALSE(storeText(key, facts::value::kPrinterDriver));
    EXPECT_TRUE(storeText(key + std::string(facts::key::kDriverData), "VLDeviceID"));
}

TEST_F(CupsSpoolerTest, AQueueWithAForeignPpdHasNoDriverData)
{
    open();
    const std::string name = prefix + "foreign";
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp6", "-P", (ppds / "other.ppd").string()}), "");
    ASSERT_TRUE(testsupport::waitUntil([&] { return find(*spooler, name).has_value(); }));
    EXPECT_EQ(find(*spooler, name)->driver, "Other Printer 1");
    auto drivers = spooler->drivers();
    ASSERT_TRUE(drivers.ok());
    for (const auto& d : drivers.value()) EXPECT_NE(d.name, "Other Printer 1");
    EXPECT_FALSE(storeText(std::string(facts::key::kDrivers) + "Other Printer 1", facts::value::kDriverPath));
}

TEST_F(CupsSpoolerTest, NamesTheSchedulerRefusesOrTheStoreCannotHold)
{
    open();
    // The scheduler refuses a space in a queue name.
    EXPECT_EQ(code(spooler->addPrinter({prefix + "with space", "velta:/dev/usb/lp2", "VELTA PG-03"})),
              static_cast<int>(Failure::Invalid));
    // Our own refusal comes first for bytes that are not UTF-8.
    EXPECT_EQ(code(spooler->addPrinter({prefix + "caf\xE9"
                                                 "2",
                                        "velta:/dev/usb/lp2", "VELTA PG-03"})),
              static_cast<int>(Failure::Invalid));
}

TEST_F(CupsSpoolerTest, ASchedulerThatDoesNotRunIsAClearFailure)
{
    CupsOptions options;
    options.server = (root.path() / "no-cupsd.sock").string();
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().code, static_cast<int>(Failure::Unavailable));
    EXPECT_NE(made.error().detail.find("does not answer"), std::string::npos) << made.error().detail;
}

// A scheduler of this test's own, where every subscription is one of ours.
class OwnSchedulerTest : public CupsSpoolerTest {
protected:
    void SetUp() override
    {
        CupsSpoolerTest::SetUp();
        own = root.path() / "cupsd";
        auto started = startScheduler(own, withBus() ? Bus::Own : Bus::None);
        ASSERT_EQ(started.exitCode, 0) << started.err;
        running = true;
        useServer(own);
    }

    virtual bool withBus() const { return true; }

    void TearDown() override
    {
        spooler.reset();  // before its scheduler stops
        if (running) tool({kScript, "stop", own.string()});
    }

    fs::path own;
    bool running = false;
};

// The same without any system bus: cupsd sends no notices, and the spoolers ask.
class OwnSchedulerWithoutBusTest : public OwnSchedulerTest {
protected:
    bool withBus() const override { return false; }
};

TEST_F(OwnSchedulerTest, RecoversFromASchedulerRestart)
{
    open(own);
    const std::string before = prefix + "before", after = prefix + "after";
    ASSERT_EQ(code(spooler->addPrinter({before, "velta:/dev/usb/lp1", "VELTA PG-03"})), 0);

    const std::uint64_t seen = spooler->changeCount();
    EXPECT_EQ(spooler->changeSource(), ChangeSource::SystemBus);
    auto restarted = tool({kScript, "restart", own.string()});
    ASSERT_EQ(restarted.exitCode, 0) << restarted.err;
    ASSERT_EQ(lpadmin({"-p", after, "-E", "-v", "velta:/dev/usb/lp2", "-P", (ppds / "pg03.ppd").string()}, own), "");
    EXPECT_TRUE(testsupport::waitUntil([&] { return find(*spooler, after).has_value(); }));
    EXPECT_TRUE(find(*spooler, before).has_value());
    EXPECT_GT(spooler->changeCount(), seen);
}

TEST_F(OwnSchedulerWithoutBusTest, RecoversFromASchedulerRestart)
{
    CupsOptions options;
    options.poll = 200ms;
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_TRUE(made.ok()) << made.error().detail;
    spooler = std::move(made).value();
    const std::string before = prefix + "before", after = prefix + "after";
    ASSERT_EQ(code(spooler->addPrinter({before, "velta:/dev/usb/lp1", "VELTA PG-03"})), 0);

    const std::uint64_t seen = spooler->changeCount();
    EXPECT_EQ(spooler->changeSource(), ChangeSource::Asking);
    auto restarted = tool({kScript, "restart", own.string()});
    ASSERT_EQ(restarted.exitCode, 0) << restarted.err;
    ASSERT_EQ(lpadmin({"-p", after, "-E", "-v", "velta:/dev/usb/lp2", "-P", (ppds / "pg03.ppd").string()}, own), "");
    EXPECT_TRUE(testsupport::waitUntil([&] { return find(*spooler, after).has_value(); }));
    EXPECT_TRUE(find(*spooler, before).has_value());
    EXPECT_GT(spooler->changeCount(), seen);
}

// A scheduler that refuses cancels (as a desktop's refuses another user's jobs): the refusal is said
// plainly, and nothing is lost.
TEST_F(CupsSpoolerTest, ACancelTheSchedulerRefusesIsARefusal)
{
    const fs::path own = root.path() / "refusing";
    ::setenv("KESTREL_CUPSD_DENY", "Cancel-Job Cancel-Jobs Purge-Jobs", 1);
    auto started = startScheduler(own, Bus::None);
    ::unsetenv("KESTREL_CUPSD_DENY");
    ASSERT_EQ(started.exitCode, 0) << started.err;
    struct Stop {
        fs::path dir;
        ~Stop() { testsupport::runProgram({kScript, "stop", dir.string()}); }
    } stop{own};
    useServer(own);
    open(own);
    const std::string name = prefix + "kept";
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp1", "-P", (ppds / "pg03.ppd").string()}, own), "");
    ASSERT_EQ(code(spooler->submitJobs(name, 2)), 0);
    auto listed = spooler->jobs(name);
    ASSERT_TRUE(listed.ok());
    ASSERT_EQ(listed.value().size(), 2u);

    auto one = spooler->cancelJob(name, listed.value().front().id);
    ASSERT_FALSE(one.ok());
    EXPECT_EQ(one.error().code, static_cast<int>(Failure::Refused)) << one.error().detail;
    auto all = spooler->cancelAllJobs(name);
    ASSERT_FALSE(all.ok());
    EXPECT_EQ(all.error().code, static_cast<int>(Failure::Refused));
    EXPECT_NE(all.error().detail.find("2 of 2 jobs could not be cancelled"), std::string::npos) << all.error().detail;
    EXPECT_EQ(spooler->jobs(name).value().size(), 2u);
    spooler.reset();  // before its scheduler stops
}

// A bus that goes away (its daemon ended) leaves the watcher asking, and nothing is missed.
TEST_F(OwnSchedulerTest, WhenTheBusGoesAwayTheWatcherAsksInstead)
{
    CupsOptions options;
    options.poll = 200ms;
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_TRUE(made.ok()) << made.error().detail;
    spooler = std::move(made).value();
    std::uint64_t seen = spooler->changeCount();
    ASSERT_EQ(spooler->changeSource(), ChangeSource::SystemBus);
    EXPECT_EQ(subscriptions(own), 1);

    std::string pid;
    std::getline(std::ifstream(own / "bus" / "pid"), pid);
    ASSERT_EQ(::kill(std::stoi(pid), SIGTERM), 0);
    EXPECT_TRUE(testsupport::waitUntil([&] { return spooler->changeSource() == ChangeSource::Asking; }));
    EXPECT_EQ(subscriptions(own), 1) << "the pulled one in place of the other";

    seen = spooler->changeCount();
    const std::string name = prefix + "afterBus";
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp1", "-P", (ppds / "pg03.ppd").string()}, own), "");
    EXPECT_TRUE(spooler->waitForChange(seen, 20s));
    EXPECT_TRUE(testsupport::waitUntil([&] { return find(*spooler, name).has_value(); }));
}

// The scheduler takes queue names that are not UTF-8 (only without a bus: Debian's cupsd aborts in
// libdbus when it signals one): such a queue is listed, but has no printer data.
TEST_F(OwnSchedulerWithoutBusTest, AQueueNameThatIsNotUtf8IsListedWithoutPrinterData)
{
    open(own);
    const std::string latin1 = prefix + "caf\xE9";
    ASSERT_EQ(lpadmin({"-p", latin1, "-E", "-v", "velta:/dev/usb/lp2", "-P", (ppds / "pg03.ppd").string()}, own), "");
    ASSERT_TRUE(testsupport::waitUntil([&] { return find(*spooler, latin1).has_value(); }));
    EXPECT_EQ(codeOf(spooler->printerData(latin1, "VLDeviceID")), static_cast<int>(Failure::Invalid));
}

// Only a spooler asked for changes subscribes: a reader (a detail program) reads a snapshot that is
// read again once it is older than its life, and sees other clients' changes that way.
TEST_F(OwnSchedulerTest, AReaderHoldsNoSubscriptionAndSeesOtherClientsChanges)
{
    const std::string first = prefix + "first", second = prefix + "second";
    ASSERT_EQ(lpadmin({"-p", first, "-E", "-v", "velta:/dev/usb/lp1", "-P", (ppds / "pg03.ppd").string()}, own), "");
    CupsOptions options;
    options.snapshotLife = 200ms;
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_TRUE(made.ok()) << made.error().detail;
    auto& reader = *made.value();
    ASSERT_TRUE(find(reader, first).has_value());
    ASSERT_TRUE(reader.printer(first).ok());
    ASSERT_TRUE(reader.drivers().ok());
    ASSERT_TRUE(reader.ports().ok());
    ASSERT_TRUE(reader.queueStates().ok());
    EXPECT_EQ(subscriptions(own), 0);

    ASSERT_EQ(lpadmin({"-p", second, "-E", "-v", "velta:/dev/usb/lp2", "-P", (ppds / "pg03.ppd").string()}, own), "");
    EXPECT_TRUE(testsupport::waitUntil([&] { return find(reader, second).has_value(); }));
    // Another driver for a queue, with no event to say so: its new PPD is read all the same.
    auto driverNames = [&] {
        std::vector<std::string> names;
        if (auto list = reader.drivers())
            for (const auto& d : list.value()) names.push_back(d.name);
        return names;
    };
    EXPECT_EQ(driverNames(), std::vector<std::string>{"VELTA PG-03"});
    ASSERT_EQ(lpadmin({"-p", first, "-P", (ppds / "other.ppd").string()}, own), "");
    ASSERT_EQ(lpadmin({"-x", second}, own), "");
    EXPECT_TRUE(testsupport::waitUntil([&] { return driverNames().empty(); }));
    auto changed = find(reader, first);
    ASSERT_TRUE(changed.has_value());
    EXPECT_EQ(changed->driver, "Other Printer 1");
    EXPECT_EQ(subscriptions(own), 0);
}

// Without a watcher nothing notices a restart: the next read after the snapshot's life reconnects.
TEST_F(OwnSchedulerTest, AReaderReadsOnAfterASchedulerRestart)
{
    const std::string name = prefix + "kept";
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp1", "-P", (ppds / "pg03.ppd").string()}, own), "");
    CupsOptions options;
    options.snapshotLife = 200ms;
    auto made = cups(testsupport::rootStore(), options);
    ASSERT_TRUE(made.ok()) << made.error().detail;
    auto& reader = *made.value();
    ASSERT_TRUE(find(reader, name).has_value());
    auto restarted = tool({kScript, "restart", own.string()});
    ASSERT_EQ(restarted.exitCode, 0) << restarted.err;
    const std::string added = prefix + "added";
    ASSERT_EQ(lpadmin({"-p", added, "-E", "-v", "velta:/dev/usb/lp2", "-P", (ppds / "pg03.ppd").string()}, own), "");
    EXPECT_TRUE(testsupport::waitUntil([&] { return find(reader, added).has_value(); }));
    EXPECT_TRUE(find(reader, name).has_value());
    EXPECT_EQ(subscriptions(own), 0);
}

TEST_F(OwnSchedulerTest, ASpoolerAskedForChangesHoldsOneSubscriptionUntilItGoes)
{
    open(own);
    EXPECT_EQ(subscriptions(own), 0);
    std::uint64_t seen = spooler->changeCount();
    EXPECT_EQ(subscriptions(own), 1);
    seen = spooler->changeCount();
    EXPECT_FALSE(spooler->waitForChange(seen, 0ms));
    EXPECT_EQ(subscriptions(own), 1);
    // The first question subscribed before it answered: a change right after it is not missed.
    const std::string name = prefix + "watched";
    ASSERT_EQ(lpadmin({"-p", name, "-E", "-v", "velta:/dev/usb/lp1", "-P", (ppds / "pg03.ppd").string()}, own), "");
    EXPECT_TRUE(spooler->waitForChange(seen, 20s));
    EXPECT_TRUE(find(*spooler, name).has_value());
    spooler.reset();
    EXPECT_EQ(subscriptions(own), 0) << "the subscription is cancelled when the spooler goes";
}

TEST_F(CupsSpoolerTest, TheChoiceFollowsKestrelSpooler)
{
    ::setenv("KESTREL_SPOOLER", "cups", 1);
    plat::Services services(testsupport::rootStore());
    EXPECT_EQ(services.spoolerKind(), Kind::Cups);
    EXPECT_STREQ(spoolerName(services.spoolerKind()), "CUPS");
    auto a = services.spooler();
    auto b = services.spooler();
    ASSERT_TRUE(a.ok()) << a.error().detail;
    ASSERT_TRUE(b.ok());
    EXPECT_EQ(a.value(), b.value()) << "one spooler for the process: one watcher, one subscription at most";
    EXPECT_NE(dynamic_cast<CupsSpooler*>(a.value()), nullptr) << "queueStates() for the bridge";
    const auto seen = a.value()->changeCount();
    const std::string name = prefix + "shared";
    ASSERT_EQ(code(a.value()->addPrinter({name, "velta:/dev/usb/lp1", "VELTA PG-03"})), 0);
    EXPECT_NE(a.value()->changeCount(), seen);
    EXPECT_TRUE(a.value()->printer(name).ok());
    EXPECT_EQ(code(a.value()->deletePrinter(name)), 0);
}

TEST(SpoolerChoice, WithoutASchedulerItIsTheEmbeddedSpooler)
{
    testsupport::TempRoot root;
    ::unsetenv("KESTREL_SPOOLER");
    ::setenv("CUPS_SERVER", (root.path() / "no-cupsd.sock").c_str(), 1);
    plat::Services services(testsupport::rootStore());
    EXPECT_EQ(services.spoolerKind(), Kind::Embedded);
    EXPECT_STREQ(spoolerName(services.spoolerKind()), "embedded");
    EXPECT_TRUE(services.spooler().ok());
}

TEST(SpoolerChoice, ARunningSchedulerIsChosen)
{
    testsupport::TempRoot root;
    ::unsetenv("KESTREL_SPOOLER");
    ::setenv("CUPS_SERVER", (kCupsd / "cups.sock").c_str(), 1);
    EXPECT_EQ(chooseKind(), Kind::Cups);
}

TEST_F(CupsSpoolerTest, SpoolctlServesAndNamesTheSpoolerItIsGiven)
{
    open();
    const std::string name = prefix + "ctl";
    ASSERT_EQ(code(spooler->addPrinter({name, "velta:/dev/usb/lp1", "VELTA PG-03"})), 0);
    auto run = tool({SPOOLCTL_PROGRAM, "--spooler", "cups", "list", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("\"spooler\": \"CUPS\""), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"" + name + "\""), std::string::npos) << run.out;
    // Drivers come from PPD files on CUPS.
    EXPECT_EQ(tool({SPOOLCTL_PROGRAM, "--spooler", "cups", "add-driver", "VELTA PG-03", "--path", "KDRV01.DRV",
                    "--monitor", "VELTA KMON01 Language Monitor"})
                  .exitCode,
              1);
}
