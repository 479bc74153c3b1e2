// The status history database: what it keeps, for how long, and what two processes see of it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "status_history.h"
#include "testsupport/temp_root.h"

namespace {

using namespace kestrel::history;
using namespace std::chrono_literals;

const Clock::time_point kStart = Clock::time_point(std::chrono::milliseconds(1'780'000'000'000));

Change change(const std::string& printer, int message, Clock::time_point time, std::vector<std::string> reasons = {},
              const std::string& state = "idle")
{
    Change c;
    c.time = time;
    c.printer = printer;
    c.model = 3;
    c.level = reasons.empty() ? 0 : 2;
    c.message = message;
    c.state = state;
    c.reasons = std::move(reasons);
    return c;
}

Query of(const std::string& printer)
{
    Query query;
    query.printer = printer;
    return query;
}
Query since(Clock::time_point time)
{
    Query query;
    query.since = time;
    return query;
}
Query newest(std::size_t count)
{
    Query query;
    query.limit = count;
    return query;
}
Limits limits(std::size_t count, std::chrono::hours age = Limits{}.age) { return Limits{count, age}; }

class StatusHistory : public testsupport::RootTest {
protected:
    std::unique_ptr<HistoryStore> open(Limits limits = {}, Clock::time_point now = kStart,
                                       HistoryStore::Access access = HistoryStore::Access::ReadWrite)
    {
        auto store = HistoryStore::open(file(), access, limits, now);
        EXPECT_TRUE(store.ok()) << (store.ok() ? "" : store.error().detail);
        return store.ok() ? std::move(store).value() : nullptr;
    }
    std::filesystem::path file() const { return historyFile(root.path()); }
    std::vector<Change> all(HistoryStore& store, Query query = {})
    {
        auto read = store.changes(query);
        EXPECT_TRUE(read.ok());
        return read.ok() ? read.value() : std::vector<Change>{};
    }
};

TEST_F(StatusHistory, KeepsChangesNewestFirstAndSkipsRepeats)
{
    auto store = open();
    EXPECT_TRUE(store->record(change("Office", 2, kStart)).value());
    EXPECT_FALSE(store->record(change("Office", 2, kStart + 1s)).value()) << "the same status again";
    EXPECT_TRUE(store->record(change("Office", 26, kStart + 2s, {"cover-open-error"}, "stopped")).value());
    EXPECT_TRUE(store->record(change("Desk", 2, kStart + 3s)).value()) << "another printer's first";

    const auto office = all(*store, of("Office"));
    ASSERT_EQ(office.size(), 2u);
    EXPECT_EQ(office[0], change("Office", 26, kStart + 2s, {"cover-open-error"}, "stopped"));
    EXPECT_EQ(office[1], change("Office", 2, kStart));
    EXPECT_EQ(all(*store).size(), 3u);
    EXPECT_EQ(all(*store, since(kStart + 2s)).size(), 2u);
    EXPECT_EQ(all(*store, newest(1)).front().printer, "Desk");
    EXPECT_TRUE(all(*store, of("Nobody")).empty());
}

TEST_F(StatusHistory, KeepsAtMostTheNewestChangesOfEachPrinter)
{
    auto store = open(limits(5));
    for (int i = 0; i < 12; ++i) store->record(change("Office", i % 2 == 0 ? 2 : 4, kStart + i * 1s));
    store->record(change("Desk", 2, kStart));
    const auto office = all(*store, of("Office"));
    ASSERT_EQ(office.size(), 5u);
    EXPECT_EQ(office.front().time, kStart + 11s);
    EXPECT_EQ(office.back().time, kStart + 7s);
    EXPECT_EQ(all(*store, of("Desk")).size(), 1u) << "the limit is per printer";
}

TEST_F(StatusHistory, ForgetsWhatAgedOutEvenOfAPrinterThatIsGone)
{
    {
        auto store = open(limits(1000, 24h));
        store->record(change("Gone", 26, kStart, {"cover-open-error"}));
        store->record(change("Office", 2, kStart));
        store->record(change("Office", 4, kStart + 20h));
        // A new change ages out the old ones of every printer.
        store->record(change("Office", 2, kStart + 25h));
        EXPECT_TRUE(all(*store, of("Gone")).empty());
        EXPECT_EQ(all(*store, of("Office")).size(), 2u);
    }
    // Opening prunes too, with nothing recorded since.
    auto store = open(limits(1000, 24h), kStart + 50h);
    EXPECT_TRUE(all(*store).empty());
    EXPECT_TRUE(store->alertCounts().value().empty()) << "a printer with no history left has no counters";
}

TEST_F(StatusHistory, CountsEachReasonAsItComesUp)
{
    auto store = open();
    store->record(change("Office", 26, kStart, {"cover-open-error"}));
    store->record(change("Office", 31, kStart + 1s, {"cover-open-error", "media-jam-error"}));
    store->record(change("Office", 2, kStart + 2s));
    store->record(change("Office", 26, kStart + 3s, {"cover-open-error"}));
    store->record(change("Desk", 33, kStart + 3s, {"media-empty-error"}));
    const std::vector<AlertCount> expected = {
        {"Desk", "media-empty-error", 1}, {"Office", "cover-open-error", 2}, {"Office", "media-jam-error", 1}};
    EXPECT_EQ(store->alertCounts().value(), expected);
}

TEST_F(StatusHistory, SurvivesReopeningAndIsSharedBetweenConnections)
{
    auto writer = open();
    writer->record(change("Office", 26, kStart, {"cover-open-error"}));
    auto reader = open({}, kStart, HistoryStore::Access::ReadOnly);
    ASSERT_EQ(all(*reader).size(), 1u) << "a committed change is seen at once";
    writer->record(change("Office", 2, kStart + 1s));
    EXPECT_EQ(all(*reader).size(), 2u);
    writer.reset();
    auto again = open();
    EXPECT_FALSE(again->record(change("Office", 2, kStart + 5s)).value()) << "the newest survives a restart";
    EXPECT_EQ(all(*again).size(), 2u);
}

TEST_F(StatusHistory, ReadingMakesNothingAndTheFileIsPrivate)
{
    auto reader = open({}, kStart, HistoryStore::Access::ReadOnly);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(all(*reader).empty());
    EXPECT_FALSE(reader->record(change("Office", 2, kStart)).ok());
    EXPECT_FALSE(std::filesystem::exists(file())) << "a reader made the database";

    open();
    struct stat info {};
    ASSERT_EQ(::stat(file().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(StatusHistory, AFileThatIsNoHistoryIsAnError)
{
    {
        std::FILE* f = std::fopen(file().c_str(), "w");
        std::fputs("not a database, not at all, but long enough to have a header of sorts.....", f);
        std::fclose(f);
    }
    EXPECT_FALSE(HistoryStore::open(file(), HistoryStore::Access::ReadWrite).ok());
    EXPECT_FALSE(HistoryStore::open(file(), HistoryStore::Access::ReadOnly).ok());
}

}  // namespace
