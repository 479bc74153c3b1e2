// The status history window: its state class alone, then the window over a real database.

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTreeWidget>

#include "facts/models.h"
#include "history_model.h"
#include "history_window.h"
#include "testsupport/temp_root.h"

namespace {

using namespace kestrel::history;
using namespace std::chrono_literals;

const Clock::time_point kStart = Clock::time_point(std::chrono::milliseconds(1'780'000'000'000));

Change change(const std::string& printer, int message, const std::string& state, Clock::time_point time,
              std::vector<std::string> reasons = {})
{
    const facts::Model& page = facts::model(facts::Code::PG03);
    return {time,  printer,           static_cast<int>(page.number()), state == "idle" ? 0 : 2, message,
            state, std::move(reasons)};
}

TEST(HistoryModel, ShowsThePrintersChangesInItsLanguage)
{
    HistoryModel model("Office");
    EXPECT_EQ(model.title(), QStringLiteral("Office の状態の履歴"));
    EXPECT_EQ(model.columnHeads().size(), 5);
    EXPECT_EQ(model.phase(), HistoryModel::Phase::Reading);
    EXPECT_FALSE(model.notice().isEmpty()) << "says it reads";

    model.show({change("Office", 26, "stopped", kStart + 5s, {"cover-open"}), change("Desk", 2, "idle", kStart),
                change("Office", 2, "idle", kStart)});
    EXPECT_EQ(model.phase(), HistoryModel::Phase::Shown);
    EXPECT_TRUE(model.notice().isEmpty());
    ASSERT_EQ(model.rows().size(), 2u) << "another printer's changes are not shown";
    const HistoryRow& newest = model.rows()[0];
    EXPECT_EQ(newest.state, QStringLiteral("停止"));
    EXPECT_EQ(newest.message, QStringLiteral("プリンタカバーが開いています。"));
    EXPECT_EQ(newest.reasons, QStringLiteral("cover-open"));
    EXPECT_EQ(newest.level, QStringLiteral("2"));
    EXPECT_TRUE(newest.accessibleText().contains(QStringLiteral("停止")));
    EXPECT_EQ(model.rows()[1].message, QStringLiteral("印刷できます。"));

    EXPECT_EQ(*model.query().printer, "Office");
    EXPECT_GT(model.query().limit, 0u);
}

TEST(HistoryModel, SaysWhenThereIsNothingOrTheHistoryCannotBeRead)
{
    HistoryModel model("Office");
    model.show({change("Desk", 2, "idle", kStart)});
    EXPECT_EQ(model.phase(), HistoryModel::Phase::Empty);
    EXPECT_EQ(model.notice(), QStringLiteral("記録された状態の変化はありません。"));

    model.fail("disk on fire");
    EXPECT_EQ(model.phase(), HistoryModel::Phase::Failed);
    EXPECT_TRUE(model.notice().contains(QStringLiteral("disk on fire")));
    EXPECT_TRUE(model.rows().empty());
}

TEST(HistoryModel, UnknownValuesShowAsTheyAre)
{
    HistoryModel model("Office");
    Change odd = change("Office", 7, "someday", kStart);
    odd.model = 99;
    model.show({odd});
    ASSERT_EQ(model.rows().size(), 1u);
    EXPECT_EQ(model.rows()[0].state, QStringLiteral("someday"));
    EXPECT_EQ(model.rows()[0].message, QStringLiteral("7"));
    EXPECT_EQ(stateText("unreachable"), QStringLiteral("応答なし"));
    EXPECT_TRUE(menuText().contains(QLatin1Char('&'))) << "the menu item has a mnemonic";
}

class HistoryWindowTest : public testsupport::RootTest {};

TEST_F(HistoryWindowTest, ReadsTheDatabaseOffItsThreadAndShowsWithoutTakingTheFocus)
{
    const auto file = historyFile(root.path());
    {
        auto store = HistoryStore::open(file, HistoryStore::Access::ReadWrite, {}, kStart);
        ASSERT_TRUE(store.ok());
        store.value()->record(change("Office", 2, "idle", kStart));
        store.value()->record(change("Office", 26, "stopped", kStart + 1s, {"cover-open"}));
    }
    HistoryWindow window(file, "Office");
    EXPECT_TRUE(window.testAttribute(Qt::WA_ShowWithoutActivating));
    QSignalSpy done(&window, &HistoryWindow::readingDone);
    window.refresh();
    window.present();
    ASSERT_TRUE(done.wait(20000));
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("historyList"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("停止"));
    EXPECT_FALSE(list->accessibleName().isEmpty());
    EXPECT_FALSE(window.findChild<QLabel*>(QStringLiteral("noticeLabel"))->isVisible());

    // A change recorded while the window shows appears with the next refresh.
    {
        auto store = HistoryStore::open(file, HistoryStore::Access::ReadWrite, {}, kStart);
        store.value()->record(change("Office", 2, "idle", kStart + 2s));
    }
    window.refresh();
    ASSERT_TRUE(done.wait(20000));
    EXPECT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("待機中"));
}

TEST_F(HistoryWindowTest, AMissingHistoryIsAnEmptyOne)
{
    HistoryWindow window(historyFile(root.path()), "Office");
    QSignalSpy done(&window, &HistoryWindow::readingDone);
    window.refresh();
    ASSERT_TRUE(done.wait(20000));
    EXPECT_EQ(window.model().phase(), HistoryModel::Phase::Empty);
    EXPECT_FALSE(std::filesystem::exists(historyFile(root.path())));
}

}  // namespace
