// The velta backend as the print system runs it: the private cupsd of the test run (the "cupsd" CTest
// fixture, whose velta scheme is the built backend, with VELTA_DEVICE_DIR at its usb/ folder) prints
// to printers played by vprinter.
//
// What a desktop's printer panel sees while a job prints: the test sets each condition the simulator
// can set, and ipptool reads the queue's printer-state-reasons and printer-state-message as any IPP
// client would. And a queue that names its printer by identity keeps printing to it when the nodes
// swap.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

const fs::path kCupsd = KESTREL_CUPSD_DIR;

constexpr const char* kAttributesTest = R"({
    NAME "Printer state"
    OPERATION Get-Printer-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR keyword requested-attributes printer-state,printer-state-reasons,printer-state-message,marker-names,marker-levels,marker-low-levels,marker-high-levels
    STATUS successful-ok
    DISPLAY printer-state
    DISPLAY printer-state-reasons
    DISPLAY printer-state-message
    DISPLAY marker-names
    DISPLAY marker-levels
    DISPLAY marker-low-levels
    DISPLAY marker-high-levels
}
)";

// One condition: the control commands that set it, the reason a panel must see and the words of
// printer-state-message (nullptr: not checked).
struct Condition {
    const char* name;
    std::vector<std::string> commands;
    const char* reason;
    const char* words;
};

struct Family {
    const char* model;
    std::vector<std::string> reset;  // back to a printer with nothing to report
    std::vector<Condition> conditions;
    const char* markers;  // marker-names once the first reply is in
    const char* lowLevels;
};

const Family kFamilies[] = {
    {"PG-03",
     {"ready", "paper-low 200", "cassette 1 200", "cassette 2 200", "toner 80"},
     {
         {"paper out", {"paper-out"}, "media-empty-error", "Paper out, or no paper cassette"},
         {"paper low in the tray", {"paper-low 10"}, "media-low-warning", "Paper low in the tray"},
         {"a cassette empty", {"cassette 2 0"}, "media-empty-warning", "Paper out in cassette 2"},
         {"cover open", {"cover-open"}, "cover-open-error", "Cover open"},
         {"paper jam", {"jam"}, "media-jam-error", "Paper jam inside the printer"},
         {"toner low", {"toner-low"}, "toner-low-warning", "Toner low"},
         {"toner out", {"toner-out"}, "toner-empty-error", "Toner out"},
         {"no toner cartridge", {"error 4000"}, "marker-supply-missing-error", "No toner cartridge"},
         {"cassette not set", {"error 4007"}, "input-tray-missing-error", nullptr},
         {"duplex unit cover open", {"error 4015"}, "door-open-error", nullptr},
         {"paper size differs", {"error 3003"}, "media-needed-error", nullptr},
         {"off line", {"stopped"}, "offline-report", nullptr},
         {"service call", {"error 6000"}, "com.velta-service-call-error", nullptr},
         {"another error", {"error 4014"}, "com.velta-printer-error", "Option interface error"},
         {"another warning", {"error 2004"}, "com.velta-printer-warning", nullptr},
     },
     "Toner",
     "25"},
    {"DM-02",
     {"ready"},
     {
         {"paper out", {"paper-out"}, "media-empty-error", "Paper out or not set correctly"},
         {"cover open", {"cover-open"}, "cover-open-error", "Cover open"},
         {"paper jam", {"jam"}, "media-jam-error", "Paper jam"},
         {"ribbon out", {"ink-out"}, "marker-supply-empty-error", "Ribbon out"},
         {"release lever", {"error 03"}, "com.velta-release-lever-error", nullptr},
         {"panel setting", {"error 07"}, "com.velta-panel-setting-warning", nullptr},
         {"stopped", {"stopped"}, "offline-report", "Printing stopped"},
         {"test printing", {"test-printing"}, "com.velta-test-printing-report", "Test printing"},
     },
     nullptr,
     nullptr},
    {"IJ-09",
     {"ready", "ink black=80 color=80", "warnings none"},
     {
         {"ink out", {"ink-out"}, "marker-supply-empty-error", "Ink out"},
         {"ink low", {"ink black=2 color=60"}, "marker-supply-low-warning", "Ink low"},
         {"paper out", {"paper-out"}, "media-empty-error", nullptr},
         {"cover open", {"cover-open"}, "cover-open-error", "Cover open"},
         {"paper jam", {"jam"}, "media-jam-error", nullptr},
         {"unplugged", {"unplug"}, "offline-report", nullptr},
     },
     "Black,Color",
     "3,9"},
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.model; }

class CupsReasons : public testsupport::RootTest, public ::testing::WithParamInterface<Family> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(fs::exists(kCupsd / "cups.sock")) << "the cupsd fixture is not running in " << kCupsd;
        const Family& f = GetParam();
        sim = std::make_unique<testsupport::Simulator>(
            VPRINTER_PROGRAM, std::string(R"({"printers": [{"port": "LPT1:", "model": ")") + f.model + "\"}]}");
        ASSERT_TRUE(sim->ready()) << sim->output();
        queue = std::string("r_") + f.model;
        queue.erase(std::remove(queue.begin(), queue.end(), '-'), queue.end());
        std::string ppd = f.model;
        ppd.erase(std::remove(ppd.begin(), ppd.end(), '-'), ppd.end());
        for (char& c : ppd) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::string socket = (root.path() / "run" / "vprinter-LPT1_.sock").string();
        auto added = admin({"-p", queue, "-E", "-v", "velta:" + socket, "-P", VELTA_PPD_DIR "/" + ppd + ".ppd"});
        ASSERT_EQ(added.exitCode, 0) << added.err;
        test = root.path() / "attrs.test";
        std::ofstream(test) << kAttributesTest;
    }

    void TearDown() override
    {
        if (sim) sim->control("LPT1:", "heal");
        if (!queue.empty()) admin({"-x", queue});
    }

    testsupport::ProgramRun admin(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"/usr/sbin/lpadmin", "-h", (kCupsd / "cups.sock").string()});
        return testsupport::runProgram(args);
    }

    testsupport::ProgramRun print(const std::string& bytes)
    {
        const fs::path doc = root.path() / ("job" + std::to_string(++jobs));
        std::ofstream(doc, std::ios::binary) << bytes;
        return testsupport::runProgram(
            {"/usr/bin/lp", "-h", (kCupsd / "cups.sock").string(), "-d", queue, "-o", "raw", doc.string()});
    }

    // The queue's attributes as ipptool shows them: name -> value.
    std::map<std::string, std::string> attributes()
    {
        std::string socket = (kCupsd / "cups.sock").string(), escaped;
        for (char c : socket) escaped += c == '/' ? std::string("%2F") : std::string(1, c);
        auto run = testsupport::runProgram(
            {"/usr/bin/ipptool", "-T", "10", "-t", "ipp://" + escaped + "/printers/" + queue, test.string()});
        std::map<std::string, std::string> found;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const auto open = line.find(" ("), equals = line.find(") = ");
            if (open == std::string::npos || equals == std::string::npos || equals < open) continue;
            std::string name = line.substr(0, open);
            name.erase(0, name.find_first_not_of(' '));
            found[name] = line.substr(equals + 4);
        }
        return found;
    }

    std::vector<std::string> reasons()
    {
        std::vector<std::string> list;
        std::istringstream words(attributes()["printer-state-reasons"]);
        for (std::string w; std::getline(words, w, ',');) list.push_back(w);
        return list;
    }

    bool hasReason(const std::string& reason)
    {
        auto list = reasons();
        return std::find(list.begin(), list.end(), reason) != list.end();
    }

    void control(const std::vector<std::string>& commands)
    {
        for (const auto& c : commands) sim->must("LPT1:", c);
    }

    std::unique_ptr<testsupport::Simulator> sim;
    std::string queue;
    fs::path test;
    int jobs = 0;
};

TEST_P(CupsReasons, EachConditionShowsItsStandardReasonWhileAJobPrints)
{
    const Family& f = GetParam();
    control(f.reset);
    // A first job prints through and switches the printer's status reports on.
    auto first = print("FIRST-JOB");
    ASSERT_EQ(first.exitCode, 0) << first.err;
    ASSERT_TRUE(waitUntil([&] { return sim->must("LPT1:", "log").find("FIRST-JOB") != std::string::npos; }, 30s));
    ASSERT_TRUE(waitUntil([&] { return attributes()["printer-state"] == "idle"; }, 30s));
    // The second one stays printing: the printer takes nothing more until it is healed.
    sim->must("LPT1:", "busy 600000");
    auto second = print("SECOND-JOB");
    ASSERT_EQ(second.exitCode, 0) << second.err;
    ASSERT_TRUE(waitUntil([&] { return attributes()["printer-state"] == "processing"; }, 30s));
    ASSERT_TRUE(waitUntil([&] { return attributes()["printer-state-message"] == "Ready"; }, 30s))
        << attributes()["printer-state-message"];
    if (f.markers != nullptr) {
        auto shown = attributes();
        EXPECT_EQ(shown["marker-names"], f.markers);
        EXPECT_EQ(shown["marker-low-levels"], f.lowLevels);
        EXPECT_FALSE(shown["marker-high-levels"].empty());
    }

    for (const Condition& c : f.conditions) {
        SCOPED_TRACE(c.name);
        control(c.commands);
        EXPECT_TRUE(waitUntil([&] { return hasReason(c.reason); }, 30s))
            << "printer-state-reasons: " << attributes()["printer-state-reasons"];
        if (c.words != nullptr) {
            EXPECT_TRUE(waitUntil([&] { return attributes()["printer-state-message"] == c.words; }, 30s))
                << "printer-state-message: " << attributes()["printer-state-message"];
        }
        if (c.commands.front() == "unplug") sim->must("LPT1:", "plug");
        control(f.reset);
        EXPECT_TRUE(waitUntil([&] { return !hasReason(c.reason); }, 30s))
            << "printer-state-reasons: " << attributes()["printer-state-reasons"];
    }

    // The job ends and takes back whatever the backend set.
    sim->must("LPT1:", "heal");
    EXPECT_TRUE(waitUntil([&] { return sim->must("LPT1:", "log").find("SECOND-JOB") != std::string::npos; }, 30s));
    EXPECT_TRUE(waitUntil([&] { return attributes()["printer-state"] == "idle"; }, 30s));
    EXPECT_EQ(attributes()["printer-state-reasons"], "none");
}

INSTANTIATE_TEST_SUITE_P(Families, CupsReasons, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) {
                             std::string name = info.param.model;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

// Two printers of one model on the fixture's USB nodes (symbolic links to their simulated sockets),
// a queue for the one with serial number B2, and the nodes swapped between two jobs.
TEST(CupsStableUri, AQueueByIdentityPrintsToItsPrinterWhereverTheKernelPutsIt)
{
    testsupport::TempRoot root;
    testsupport::Simulator sim(VPRINTER_PROGRAM, R"({"printers": [
        {"port": "LPT1:", "model": "PG-03", "device_id": "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:U-A1;"},
        {"port": "LPT2:", "model": "PG-03", "device_id": "MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;SN:U-B2;"}]})");
    ASSERT_TRUE(sim.ready()) << sim.output();
    const fs::path usb = kCupsd / "usb";
    fs::create_directories(usb);
    auto plug = [&](const std::string& port, const std::string& node) {
        fs::remove(usb / node);
        fs::create_symlink(root.path() / "run" / ("vprinter-" + port + "_.sock"), usb / node);
    };
    plug("LPT1", "lp0");
    plug("LPT2", "lp1");
    const std::string socket = (kCupsd / "cups.sock").string(), queue = "u_byid";
    auto run = [&](std::vector<std::string> args) { return testsupport::runProgram(args); };
    auto added = run({"/usr/sbin/lpadmin", "-h", socket, "-p", queue, "-E", "-v", "velta://VELTA/PG-03?serial=U-B2",
                      "-P", VELTA_PPD_DIR "/pg03.ppd"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    struct Remove {
        std::function<void()> f;
        ~Remove() { f(); }
    } remove{[&] {
        run({"/usr/sbin/lpadmin", "-h", socket, "-x", queue});
        fs::remove(usb / "lp0");
        fs::remove(usb / "lp1");
    }};
    auto print = [&](const std::string& bytes) {
        const fs::path doc = root.path() / bytes;
        std::ofstream(doc, std::ios::binary) << bytes;
        return run({"/usr/bin/lp", "-h", socket, "-d", queue, "-o", "raw", doc.string()});
    };
    auto printed = [&](const std::string& port, const std::string& bytes) {
        return sim.must(port, "log").find("|" + bytes + "|") != std::string::npos;
    };

    ASSERT_EQ(print("FIRST-FOR-B2").exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return printed("LPT2:", "FIRST-FOR-B2"); }, 30s)) << sim.must("LPT2:", "log");
    plug("LPT2", "lp0");
    plug("LPT1", "lp1");
    ASSERT_EQ(print("AGAIN-FOR-B2").exitCode, 0);
    EXPECT_TRUE(waitUntil([&] { return printed("LPT2:", "AGAIN-FOR-B2"); }, 30s)) << sim.must("LPT2:", "log");
    EXPECT_FALSE(printed("LPT1:", "FIRST-FOR-B2"));
    EXPECT_FALSE(printed("LPT1:", "AGAIN-FOR-B2"));
}

}  // namespace
