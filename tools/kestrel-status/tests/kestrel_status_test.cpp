// kestrel-status against a spooler set up with spoolctl and slots made as the list program makes them,
// their records written as the detail programs would. Each test has its own system root; the program
// runs as a process of its own, as scripts run it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "facts/models.h"
#include "facts/store_names.h"
#include "plat/registry/registry.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"
#include "watchlist/slot_table.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// A page printer's reply as the engine stores it: "STATUS CODE=" and 102 field characters with the
// status code at 4, the paper levels given and "0" elsewhere.
std::string pageReply(const std::string& code)
{
    std::string fields(102, '0');
    fields.replace(4, 4, code);
    for (std::size_t at : {60, 62, 64}) fields.replace(at, 2, "64");
    return "@KJL STATUS CODE=" + fields + "\r\n";
}

class KestrelStatus : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        spoolctl({"install-models"});
        spoolctl({"add-port", "LPT1:", "--sim"});
        spoolctl({"add-printer", "Office", "--driver", "VELTA PG-03", "--port", "LPT1:"});
        spoolctl({"add-printer", "Nowhere", "--driver", "VELTA PG-03", "--port", "FILE:"});
        ASSERT_EQ(fCreateRegistoryNotifySubKey(), 1);
    }

    void spoolctl(std::vector<std::string> args)
    {
        args.insert(args.begin(), SPOOLCTL_PROGRAM);
        const auto run = testsupport::runProgram(args);
        ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    }

    // Slot 0 for "Office" with its record and store, as the list program's discovery makes them.
    void monitorOffice()
    {
        const facts::Model& model = facts::model(facts::Code::PG03);
        ASSERT_TRUE(slots.createSlot());
        PrinterInfo2 printer{};
        printer.pPrinterName = const_cast<char*>("Office");
        printer.pPortName = const_cast<char*>("LPT1:");
        printer.pDriverName = const_cast<char*>(model.name);
        ModelTableEntry row{};
        std::strncpy(row.ModelName, model.name, sizeof row.ModelName - 1);
        std::strncpy(row.ShortModelName, model.shortName, sizeof row.ShortModelName - 1);
        std::strncpy(row.InformationFile, model.informationFile, sizeof row.InformationFile - 1);
        ASSERT_TRUE(watchlist::initialiseRecord(slots.view(0), 0, printer, row));
        const PrinterEntry e = record();
        ASSERT_EQ(fInitRegistory(&e), 1);
    }

    PrinterEntry record() const
    {
        PrinterEntry e{};
        EXPECT_EQ(fSharedMemoryReadAccess(slots.view(0), &e, sizeof e), 1);
        return e;
    }
    void detail(const std::function<void(PrinterEntry&)>& change)
    {
        PrinterEntry e = record();
        change(e);
        ASSERT_EQ(fSharedMemoryWriteAccess(slots.view(0), &e, sizeof e), 1);
    }

    // The engine's latest status reply for "Office", written as the engine writes it: no final zero.
    void engineReply(const std::string& reply)
    {
        using namespace plat::registry;
        const std::string key = std::string(facts::key::kPrinters) + "Office" + std::string(facts::key::kEngineStore);
        ASSERT_EQ(Store::forCurrentRoot().value()->setValue(
                      Root::LocalMachine, key, "RealTimeStatusStrings", ValueType::String,
                      std::as_bytes(std::span(reply.data(), reply.size())), Store::Flush::Yes),
                  Status::Ok);
    }

    // The engine's verdict on "Office" (its "PrinterStFlag"), as the engine writes it.
    void engineFlag(std::uint32_t flag)
    {
        using namespace plat::registry;
        const std::string key = std::string(facts::key::kPrinters) + "Office" + std::string(facts::key::kEngineStore);
        ASSERT_EQ(Store::forCurrentRoot().value()->setValue(Root::LocalMachine, key, "PrinterStFlag", ValueType::Dword,
                                                            std::as_bytes(std::span(&flag, 1)), Store::Flush::Yes),
                  Status::Ok);
    }
    // The detail program monitoring "Office" with the page printers' tables, its status decoded from a
    // ready printer and the time of that change set.
    void monitoringReadyOffice()
    {
        monitorOffice();
        ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);
        detail([](PrinterEntry& e) {
            const facts::FamilyCounts counts = facts::countsOf(facts::Family::Page);
            e.MonitorActive = 1;
            e.MessageCount = counts.messages;
            e.PictureCount = counts.pictures;
            e.MessageIndex = 2;
            e.PrinterState = 0;
            e.AlertCategory = 0;
            e.PictureIndex = 0;
            e.JobCount = 0;
            e.StatusChangedTime = kChanged;
        });
        engineReply(pageReply("0000"));
    }
    static constexpr std::uint32_t kChanged = 1'797'000'000;  // 2026-12-11T14:40:00Z

    testsupport::ProgramRun status(std::vector<std::string> args = {"--json"})
    {
        args.insert(args.begin(), KESTREL_STATUS_PROGRAM);
        return testsupport::runProgram(args);
    }
    // The printers of a --json run, after checking that the run was clean.
    json printers(const testsupport::ProgramRun& run, std::uint32_t listRunning)
    {
        EXPECT_EQ(run.err, "") << "nothing on stderr, missing slots included";
        const json doc = json::parse(run.out, nullptr, false);
        EXPECT_FALSE(doc.is_discarded()) << run.out;
        if (doc.is_discarded()) return json::array();
        EXPECT_EQ(doc.at("list_running"), listRunning);
        EXPECT_EQ(doc.at("spooler"), "embedded");  // the tests' choice
        return doc.at("printers");
    }

    watchlist::SlotTable slots;
};

// The program running in the background, its output going to files the test reads while it runs.
class Background {
public:
    Background(const std::vector<std::string>& arguments, const std::filesystem::path& folder)
        : m_out(folder / "status.out"), m_err(folder / "status.err")
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::vector<std::string> argv{KESTREL_STATUS_PROGRAM};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Background()
    {
        if (m_pid > 0 && !m_exitCode) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool started() const { return m_pid > 0; }
    std::string output() const { return read(m_out); }
    std::string errors() const { return read(m_err); }
    // The whole lines written so far; a line still being written is not one yet.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> all;
        std::string text = output();
        const std::size_t end = text.rfind('\n');
        text.resize(end == std::string::npos ? 0 : end + 1);
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) all.push_back(line);
        return all;
    }
    void stop(int signal) { ::kill(m_pid, signal); }
    bool finished()
    {
        return testsupport::waitUntil([&] {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) != m_pid) return false;
            m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return true;
        });
    }
    int exitCode() const { return m_exitCode.value_or(-2); }

private:
    static std::string read(const std::filesystem::path& file)
    {
        std::ifstream in(file);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path m_out, m_err;
    pid_t m_pid = -1;
    std::optional<int> m_exitCode;
};

}  // namespace

TEST_F(KestrelStatus, ShowsTheRowsAsTheListDoes)
{
    monitorOffice();
    ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);

    // Before its detail program reports: not monitoring, no state and no jobs, the record's status.
    auto run = status();
    EXPECT_EQ(run.exitCode, 0);
    json list = printers(run, 2);
    ASSERT_EQ(list.size(), 2u) << run.out;
    EXPECT_EQ(list[0].at("name"), "Office");
    EXPECT_EQ(list[0].at("row"), 0);
    EXPECT_EQ(list[0].at("slot"), 0);
    EXPECT_EQ(list[0].at("monitoring"), "モニタしていません");
    EXPECT_EQ(list[0].at("state"), "not-monitored");
    EXPECT_TRUE(list[0].at("state_text").is_null());
    EXPECT_TRUE(list[0].at("jobs").is_null());
    EXPECT_EQ(list[0].at("level"), record().PrinterState);
    EXPECT_EQ(list[0].at("alert"), record().AlertCategory);
    EXPECT_EQ(list[0].at("network"), false);
    EXPECT_EQ(list[0].at("port"), "LPT1:");

    EXPECT_EQ(list[1], json::parse(R"({"name": "Nowhere", "row": 1, "slot": null, "monitoring": "モニタできません",
        "state": "not-monitored", "state_text": null, "jobs": null, "level": null, "message": null, "action": null,
        "explanation": null, "alert": null, "network": false, "port": "FILE:", "captured": null, "reasons": [],
        "supplies": [], "paper": [], "changed": null, "scheduler": null})"));

    detail([](PrinterEntry& e) {
        e.MonitorActive = 1;
        e.PrinterState = 1;
        e.JobCount = 2;
    });
    run = status();
    list = printers(run, 2);
    ASSERT_EQ(list.size(), 2u) << run.out;
    EXPECT_EQ(list[0].at("monitoring"), "モニタしています");
    EXPECT_EQ(list[0].at("state_text"), "印刷可能又は印刷中です(警告)");
    EXPECT_EQ(list[0].at("jobs"), 2);
    EXPECT_EQ(list[0].at("level"), 1);

    const auto table = status({});
    EXPECT_EQ(table.exitCode, 0);
    EXPECT_NE(table.out.find("プリンタ一覧: 実行中\nスプーラ: embedded\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("Office   モニタしています  印刷可能又は印刷中です(警告)  2 "), std::string::npos)
        << "columns padded by their width on a terminal:\n"
        << table.out;

    // A detail program that cannot monitor its printer turns the row as the list turns it.
    detail([](PrinterEntry& e) { e.EngineStateReport = 3; });
    list = printers(status(), 2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].at("monitoring"), "モニタできません");
    EXPECT_EQ(list[0].at("slot"), 0);
    EXPECT_EQ(list[0].at("state"), "not-monitored");
    EXPECT_TRUE(list[0].at("state_text").is_null());
    EXPECT_TRUE(list[0].at("jobs").is_null());
}

// The texts follow the locale as the desktop's programs read it; the keys and numbers of --json never do.
TEST_F(KestrelStatus, SpeaksTheLanguageOfTheLocale)
{
    monitorOffice();
    ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);
    detail([](PrinterEntry& e) {
        const facts::FamilyCounts counts = facts::countsOf(facts::Family::Page);
        e.MonitorActive = 1;
        e.MessageCount = counts.messages;
        e.PictureCount = counts.pictures;
        e.MessageIndex = 2;
    });
    engineReply(pageReply("0FA2"));  // cover open
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> variables;  // a null value unsets it
        bool japanese;
    };
    const Case cases[] = {
        {"a Japanese locale", {{"LC_ALL", "ja_JP.UTF-8"}}, true},
        {"an English locale", {{"LC_ALL", "en_US.UTF-8"}}, false},
        {"the C locale, whatever LANGUAGE says", {{"LC_ALL", "C"}, {"LANGUAGE", "ja"}}, false},
        {"a locale we have no texts for", {{"LC_ALL", "de_DE.UTF-8"}}, false},
        {"LANGUAGE before the locale", {{"LC_ALL", "de_DE.UTF-8"}, {"LANGUAGE", "fr:ja:en"}}, true},
        {"LANG when nothing else is set",
         {{"LC_ALL", nullptr}, {"LC_MESSAGES", nullptr}, {"LANG", "ja_JP.UTF-8"}},
         true},
    };
    for (const Case& c : cases) {
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG", "LANGUAGE"}) ::unsetenv(name);
        for (const auto& [name, value] : c.variables) {
            if (value != nullptr) ::setenv(name, value, 1);
        }
        const json list = printers(status(), 2);
        ASSERT_EQ(list.size(), 2u) << c.name;
        EXPECT_EQ(list[0].at("monitoring"), c.japanese ? "モニタしています" : "Monitoring") << c.name;
        EXPECT_EQ(list[0].at("message"), c.japanese ? "プリンタカバーが開いています。" : "The printer cover is open.")
            << c.name;
        EXPECT_EQ(list[0].at("level"), 2) << c.name;
        const auto table = status({});
        EXPECT_EQ(table.out.rfind(c.japanese ? "プリンタ一覧: 実行中\nスプーラ: embedded\n名前 "
                                             : "list program: running\nspooler: embedded\nNAME ",
                                  0),
                  0u)
            << c.name << ":\n"
            << table.out;
    }
}

TEST_F(KestrelStatus, ExitsWithThreeWhileTheListProgramIsNotRunningAndStillPrints)
{
    auto run = status();  // no flag stored at all
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(printers(run, 0).size(), 2u);

    ASSERT_EQ(fSetRegistoryKswListRunFlag(1), 1);
    EXPECT_EQ(status().exitCode, 0) << "building its list counts as running";
    ASSERT_EQ(fSetRegistoryKswListRunFlag(0), 1);
    run = status({});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.out.find("プリンタ一覧: 実行していません\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Nowhere"), std::string::npos);
}

TEST_F(KestrelStatus, TheStoredReplyGivesTheStatusPageTextsAndNothingIsChanged)
{
    monitorOffice();
    ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);
    // As the detail program starts monitoring: the family's tables and the first status.
    detail([](PrinterEntry& e) {
        const facts::FamilyCounts counts = facts::countsOf(facts::Family::Page);
        e.MonitorActive = 1;
        e.MessageCount = counts.messages;
        e.PictureCount = counts.pictures;
        e.MessageIndex = 2;
        e.PrinterState = 0;
        e.AlertCategory = 0;
    });
    engineReply(pageReply("0FA2"));  // cover open
    const PrinterEntry before = record();

    json list = printers(status(), 2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].at("message"), "プリンタカバーが開いています。");
    EXPECT_EQ(list[0].at("action"), "プリンタカバーを閉じてください。");
    EXPECT_EQ(list[0].at("explanation"), "プリンタカバーを閉じると、エラー状態が自動的に解除されます。");
    EXPECT_EQ(list[0].at("level"), 2);
    EXPECT_EQ(list[0].at("alert"), 5);
    EXPECT_EQ(list[0].at("state_text"), "印刷可能又は印刷中です") << "the column is the record's, as the list shows it";
    EXPECT_EQ(list[0].at("state"), "stopped");
    EXPECT_EQ(list[0].at("reasons"), json::array({"cover-open-error"}));
    EXPECT_TRUE(list[0].at("changed").is_null()) << "the detail program has seen no change yet";
    EXPECT_EQ(list[0].at("supplies"),
              json::parse(R"([{"name": "toner", "kind": "toner", "color": "black", "level": 0, "low": true}])"));
    EXPECT_EQ(list[0].at("paper"), json::parse(R"([{"source": "tray", "size": null, "level": 100},
        {"source": "cassette-1", "size": null, "level": 100}, {"source": "cassette-2", "size": null, "level": 100}])"));

    const PrinterEntry after = record();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "the record is only read";
    char reply[1024] = "";
    ASSERT_EQ(fGetRegistoryRealTimeStatusStrings("Office", reply, sizeof reply), 1);
    EXPECT_EQ(std::string(reply), pageReply("0FA2"));

    // A reply that cannot be decoded leaves the record's own status.
    engineReply("garbage");
    list = printers(status(), 2);
    EXPECT_EQ(list[0].at("level"), 0);
    EXPECT_EQ(list[0].at("alert"), 0);
    EXPECT_EQ(list[0].at("message"), "印刷できます。");
}

TEST_F(KestrelStatus, WatchPrintsALineWhenARecordChangesAndEndsOnSigterm)
{
    monitorOffice();
    ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);
    detail([](PrinterEntry& e) {
        e.MonitorActive = 1;
        e.JobCount = 2;
    });
    Background watch({"--json", "--watch", "--interval", "20"}, root.path());
    ASSERT_TRUE(watch.started());
    ASSERT_TRUE(testsupport::waitUntil([&] { return watch.lines().size() == 1; })) << watch.output();
    EXPECT_EQ(json::parse(watch.lines()[0]).at("printers").size(), 2u);

    detail([](PrinterEntry& e) { e.JobCount = 5; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return watch.lines().size() == 2; })) << watch.output();
    const json line = json::parse(watch.lines()[1]);
    EXPECT_EQ(line.at("name"), "Office");
    EXPECT_EQ(line.at("jobs"), 5);

    spoolctl({"delete-printer", "Nowhere"});
    ASSERT_TRUE(testsupport::waitUntil([&] { return watch.lines().size() == 3; })) << watch.output();
    EXPECT_EQ(json::parse(watch.lines()[2]), json::parse(R"({"name": "Nowhere", "gone": true})"));

    watch.stop(SIGTERM);
    ASSERT_TRUE(watch.finished());
    EXPECT_EQ(watch.exitCode(), 0);
    EXPECT_EQ(watch.lines().size(), 3u) << "nothing printed while nothing changed:\n" << watch.output();
    EXPECT_EQ(watch.errors(), "");
}

TEST(KestrelStatusFreshRoot, ReportsNothingAndMakesNoStore)
{
    testsupport::TempRoot root;
    const auto run = testsupport::runProgram({KESTREL_STATUS_PROGRAM, "--json"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, "{\"list_running\":0,\"spooler\":\"embedded\",\"printers\":[]}\n");
    EXPECT_EQ(run.err, "");
    EXPECT_FALSE(std::filesystem::exists(root.path() / "registry.db"));
}

TEST(KestrelStatusUsage, RefusesWhatItDoesNotKnow)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--interval", "100"},
                                                 {"--watch", "--interval", "5"},
                                                 {"--watch", "--interval"},
                                                 {"--bogus"},
                                                 {"--output", "x.prom"},
                                                 {"--json", "--prometheus"},
                                                 {"--prometheus", "--watch"},
                                                 {"--prometheus", "--output"},
                                                 {"Office"}}) {
        std::vector<std::string> argv{KESTREL_STATUS_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        const auto run = testsupport::runProgram(argv);
        EXPECT_EQ(run.exitCode, 2) << args[0];
        EXPECT_NE(run.err.find("kestrel-status --help"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST_F(KestrelStatus, ANetworkPrinterShowsAsOneWithItsQueuePath)
{
    monitorOffice();
    ASSERT_EQ(fSetRegistoryKswListRunFlag(2), 1);
    // The detail program found LPT1: captured to a NetWare queue, and monitors the queue.
    detail([](PrinterEntry& e) {
        e.NetworkPort = 1;
        e.NetworkKind = 2;
        e.NetworkResolved = 1;
        std::strcpy(e.OriginalPortName, "LPT1:");
        std::strcpy(e.PortName, "\\\\FS1\\QUEUE1");
    });
    json list = printers(status(), 2);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].at("network"), true);
    EXPECT_EQ(list[0].at("port"), "\\\\FS1\\QUEUE1");
    EXPECT_EQ(list[0].at("captured"), "LPT1:");
    auto table = status({});
    EXPECT_NE(table.out.find("  LPT1:(\\\\FS1\\QUEUE1) (ネットワーク)  "), std::string::npos) << table.out;

    // A queue path as the spooler's port: nothing captured.
    detail([](PrinterEntry& e) {
        e.NetworkResolved = 0;
        std::memset(e.OriginalPortName, 0, sizeof e.OriginalPortName);
    });
    list = printers(status(), 2);
    EXPECT_EQ(list[0].at("port"), "\\\\FS1\\QUEUE1");
    EXPECT_TRUE(list[0].at("captured").is_null());
    table = status({});
    EXPECT_NE(table.out.find("  \\\\FS1\\QUEUE1 (ネットワーク)  "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("  FILE:  "), std::string::npos) << "a local port, unmarked: " << table.out;
}

// The engine's failures show as the detail window shows them, whatever reply the store still holds;
// otherwise the status the detail program put into the record wins over a reply it has not taken yet.
TEST_F(KestrelStatus, SaysWhatTheDetailWindowSaysForEveryEngineFailure)
{
    monitoringReadyOffice();
    engineReply(pageReply("0000"));  // the last reply before the failure: ready
    struct Case {
        std::uint32_t flag;
        const char* message;
        long alert;
        const char* state;
        const char* reason;
    };
    const Case cases[] = {
        {1, "通信エラーが発生しました。", 8, "unreachable", "offline-report"},
        {2, "通信エラーが発生しました。", 8, "unreachable", "offline-report"},
        {7, "通信エラーが発生しました。", 8, "unreachable", "offline-report"},
        {8, "通信エラーが発生しました。", 8, "unreachable", "offline-report"},
        {4, "プリンタから未定義のステータスを受け取りました。", 9, "stopped", "com.velta-printer-error"},
        {9, "プリンタから未定義のステータスを受け取りました。", 9, "stopped", "com.velta-printer-error"},
    };
    for (const Case& c : cases) {
        engineFlag(c.flag);
        const json list = printers(status(), 2);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0].at("message"), c.message) << "flag " << c.flag;
        EXPECT_EQ(list[0].at("level"), 2) << "flag " << c.flag;
        EXPECT_EQ(list[0].at("alert"), c.alert) << "flag " << c.flag;
        EXPECT_EQ(list[0].at("state"), c.state) << "flag " << c.flag;
        EXPECT_EQ(list[0].at("reasons"), json::array({c.reason})) << "flag " << c.flag;
        const auto metrics = status({"--prometheus"});
        EXPECT_NE(metrics.out.find(std::string("kestrel_printer_up{printer=\"Office\"} ") +
                                   (c.flag == 4 || c.flag == 9 ? "1" : "0") + "\n"),
                  std::string::npos)
            << "flag " << c.flag << ":\n"
            << metrics.out;
    }

    // While the engine starts again to retry, its flag is clear for a moment and the window keeps the
    // failure it showed, as the record holds it.
    detail([](PrinterEntry& e) {
        e.PrinterState = 2;
        e.PictureIndex = 2;
        e.MessageIndex = 1;
        e.AlertCategory = 8;
    });
    engineFlag(0);
    json retrying = printers(status(), 2);
    EXPECT_EQ(retrying[0].at("message"), "通信エラーが発生しました。");
    EXPECT_EQ(retrying[0].at("state"), "unreachable");
    EXPECT_EQ(retrying[0].at("reasons"), json::array({"offline-report"}));
    detail([](PrinterEntry& e) {
        e.PrinterState = 0;
        e.PictureIndex = 0;
        e.MessageIndex = 2;
        e.AlertCategory = 0;
    });

    // Monitoring again, the printer's cover open: the reply is news the detail program has not decoded
    // yet, so the record's status (ready) is what the window still shows.
    engineFlag(0);
    engineReply(pageReply("0FA2"));
    json list = printers(status(), 2);
    EXPECT_EQ(list[0].at("message"), "印刷できます。");
    EXPECT_EQ(list[0].at("state"), "idle");
    EXPECT_EQ(list[0].at("changed"), "2026-12-11T14:40:00Z");
    // The detail program decodes it.
    detail([](PrinterEntry& e) {
        e.PrinterState = 2;
        e.MessageIndex = 26;  // cover open
        e.AlertCategory = 5;
        e.PictureIndex = 1;
        e.JobCount = 1;
        e.StatusChangedTime = kChanged + 60;
    });
    list = printers(status(), 2);
    EXPECT_EQ(list[0].at("message"), "プリンタカバーが開いています。");
    EXPECT_EQ(list[0].at("state"), "stopped");
    EXPECT_EQ(list[0].at("changed"), "2026-12-11T14:41:00Z");
    detail([](PrinterEntry& e) {
        e.PrinterState = 0;
        e.MessageIndex = 2;
        e.AlertCategory = 0;
    });
    EXPECT_EQ(printers(status(), 2)[0].at("state"), "idle") << "ready, a job waiting: as the history says it";
    detail([](PrinterEntry& e) { e.MessageIndex = 4; });
    EXPECT_EQ(printers(status(), 2)[0].at("state"), "printing") << "the printer says it prints";
    detail([](PrinterEntry& e) { e.MessageIndex = 2; });
    detail([](PrinterEntry& e) { e.PrinterState = 1; });
    EXPECT_EQ(printers(status(), 2)[0].at("state"), "warning");
}

// What --json prints, for a monitored printer with supplies and paper and one that cannot be monitored,
// keeps to the published schema.
TEST_F(KestrelStatus, JsonKeepsToItsSchema)
{
    monitoringReadyOffice();
    engineReply(pageReply("0FA2"));
    const auto run = status();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::filesystem::path document = root.path() / "status.json";
    std::ofstream(document) << run.out;
    const std::string validate =
        "import json, sys, jsonschema\n"
        "schema = json.load(open(sys.argv[1]))\n"
        "jsonschema.Draft202012Validator.check_schema(schema)\n"
        "errors = list(jsonschema.Draft202012Validator(schema).iter_errors(json.load(open(sys.argv[2]))))\n"
        "for e in errors: print(list(e.absolute_path), e.message)\n"
        "sys.exit(1 if errors else 0)\n";
    const auto checked =
        testsupport::runProgram({PYTHON3_PROGRAM, "-c", validate, KESTREL_STATUS_SCHEMA, document.string()});
    EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err << "\n" << run.out;

    // And a document that breaks it is caught: the check checks.
    json broken = json::parse(run.out);
    broken["printers"][0]["state"] = "Cannot print";
    std::ofstream(document, std::ios::trunc) << broken.dump();
    EXPECT_EQ(
        testsupport::runProgram({PYTHON3_PROGRAM, "-c", validate, KESTREL_STATUS_SCHEMA, document.string()}).exitCode,
        1);
}

// The metrics pass promtool's check and lint; --output replaces the file in one step and leaves nothing
// else in its folder.
TEST_F(KestrelStatus, PrometheusMetricsPassPromtoolAndTheOutputFileIsReplacedWhole)
{
    monitoringReadyOffice();
    engineReply(pageReply("0FA2"));
    detail([](PrinterEntry& e) {
        e.PrinterState = 2;
        e.MessageIndex = 26;
        e.AlertCategory = 5;
    });
    const auto run = status({"--prometheus"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto checked = testsupport::runProgram({PROMTOOL_PROGRAM, "check", "metrics"}, run.out);
    EXPECT_EQ(checked.exitCode, 0) << checked.out << checked.err << "\n" << run.out;
    EXPECT_EQ(checked.out + checked.err, "") << "no lint warning";
    for (const char* line :
         {"kestrel_list_running 1\n", "kestrel_printer_up{printer=\"Office\"} 1\n",
          "kestrel_printer_monitored{printer=\"Nowhere\"} 0\n",
          "kestrel_printer_state{printer=\"Office\",state=\"stopped\"} 1\n",
          "kestrel_printer_state{printer=\"Office\",state=\"idle\"} 0\n",
          "kestrel_printer_state{printer=\"Nowhere\",state=\"not-monitored\"} 1\n",
          "kestrel_printer_reason{printer=\"Office\",reason=\"cover-open-error\"} 1\n",
          "kestrel_supply_level_ratio{printer=\"Office\",supply=\"toner\",kind=\"toner\",color=\"black\"} 0\n",
          "kestrel_printer_jobs{printer=\"Office\"} 0\n",
          "kestrel_last_change_timestamp_seconds{printer=\"Office\"} 1797000000\n",
          "# TYPE kestrel_alerts_total counter\n"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "in:\n" << run.out;
    }

    // A name with quotes and Japanese stays one label value.
    spoolctl({"add-printer", "A \"B\" 事務所", "--driver", "VELTA PG-03", "--port", "FILE:"});
    const auto named = status({"--prometheus"});
    EXPECT_NE(named.out.find("kestrel_printer_up{printer=\"A \\\"B\\\" 事務所\"} 0\n"), std::string::npos) << named.out;
    EXPECT_EQ(testsupport::runProgram({PROMTOOL_PROGRAM, "check", "metrics"}, named.out).exitCode, 0);

    const std::filesystem::path folder = root.path() / "textfile";
    std::filesystem::create_directory(folder);
    const std::filesystem::path file = folder / "kestrel.prom";
    std::ofstream(file) << "old\n";
    const auto written = status({"--prometheus", "--output", file.string()});
    EXPECT_EQ(written.exitCode, 0) << written.err;
    EXPECT_EQ(written.out, "");
    std::ifstream in(file);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(text, named.out);
    EXPECT_EQ(std::filesystem::status(file).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read | std::filesystem::perms::others_read)
        << "the collector, a user of its own, reads it";
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no temporary file left";

    const auto nowhere = status({"--prometheus", "--output", (root.path() / "none" / "kestrel.prom").string()});
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_NE(nowhere.err.find("none"), std::string::npos) << nowhere.err;
}

TEST(KestrelStatusRules, TheExampleAlertRulesPassPromtool)
{
    const auto run = testsupport::runProgram({PROMTOOL_PROGRAM, "check", "rules", KESTREL_RULES_FILE});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("SUCCESS: 4 rules found"), std::string::npos) << run.out;
}
