// kestrel-status --history over a history database of a root of its own.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "status_history.h"
#include "testsupport/run_program.h"
#include "testsupport/temp_root.h"

namespace {

using namespace kestrel::history;
using namespace std::chrono_literals;

class HistoryOutput : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        auto store = HistoryStore::open(historyFile(root.path()), HistoryStore::Access::ReadWrite);
        ASSERT_TRUE(store.ok());
        const auto now = Clock::now();
        // Model 0 is a page printer: row 26 is its cover message.
        store.value()->record({now - 3h, "Office", 0, 0, 2, "idle", {}});
        store.value()->record({now - 2h, "Office", 0, 2, 26, "stopped", {"cover-open"}});
        store.value()->record({now - 1h, "Desk", 0, 2, 1, "unreachable", {"offline-report"}});
    }
    testsupport::ProgramRun run(std::vector<std::string> args)
    {
        args.insert(args.begin(), KESTREL_STATUS_PROGRAM);
        return testsupport::runProgram(args);
    }
};

TEST_F(HistoryOutput, JsonListsTheChangesNewestFirstWithKeywords)
{
    const auto all = run({"--history", "--json"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    const auto changes = nlohmann::json::parse(all.out).at("changes");
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[0].at("printer"), "Desk");
    EXPECT_EQ(changes[0].at("state"), "unreachable");
    EXPECT_EQ(changes[1].at("reasons"), nlohmann::json::array({"cover-open"}));
    EXPECT_EQ(changes[1].at("message"), 26);
    EXPECT_EQ(changes[1].at("message_text"), "プリンタカバーが開いています。");
    EXPECT_EQ(changes[1].at("level"), 2);
    EXPECT_TRUE(changes[1].at("time").get<std::string>().find('T') != std::string::npos);

    const auto office = run({"--history", "Office", "--json", "--since", "150m"});
    ASSERT_EQ(office.exitCode, 0) << office.err;
    const auto recent = nlohmann::json::parse(office.out).at("changes");
    ASSERT_EQ(recent.size(), 1u);
    EXPECT_EQ(recent[0].at("state"), "stopped");
    EXPECT_EQ(nlohmann::json::parse(run({"--json", "--history", "--limit", "1"}).out).at("changes").size(), 1u);
}

TEST_F(HistoryOutput, TableHasARowPerChangeAndKeywordsNeverTranslated)
{
    const auto table = run({"--history", "Office"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 3) << table.out;
    EXPECT_NE(table.out.find("stopped"), std::string::npos);
    EXPECT_NE(table.out.find("cover-open"), std::string::npos);
    EXPECT_EQ(table.out.find("Desk"), std::string::npos);
}

TEST_F(HistoryOutput, BadInputIsAUsageError)
{
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"--history", "--since", "yesterday"},
                                                                               {"--history", "--since"},
                                                                               {"--history", "A", "B"},
                                                                               {"--history", "--limit", "0"},
                                                                               {"--history", "--watch"}}) {
        const auto bad = run(args);
        EXPECT_EQ(bad.exitCode, 2) << args.back();
        EXPECT_FALSE(bad.err.empty());
    }
    const auto help = run({"--history", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--since"), std::string::npos);
}

}  // namespace
