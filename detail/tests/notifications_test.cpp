// The printer's desktop notification without D-Bus: when a status puts one up, replaces or closes it,
// what it says, and how the notifier keeps to one notification per printer over a service that answers
// late, refuses or is not there.

#include "notifications.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

using namespace watchpanel;

namespace {

PrinterEntry status(std::uint32_t level, std::uint16_t message)
{
    PrinterEntry entry{};
    entry.PrinterFamily = 0;
    entry.ModelCode = 0;  // a page printer with the common page table
    entry.MessageCount = 41;
    entry.MessageIndex = message;
    entry.PrinterState = level;
    return entry;
}

TEST(NoticeRule, AFiredAlertAtWarningOrErrorShowsNormalLevelOrNotificationsOffClose)
{
    struct Case {
        const char* name;
        std::uint32_t level;
        bool fired, enabled;
        NoticeStep step;
    };
    const Case cases[] = {
        {"an error alert", 2, true, true, NoticeStep::Show},
        {"a warning alert", 1, true, true, NoticeStep::Show},
        {"the same error going on", 2, false, true, NoticeStep::Keep},
        {"an alert at normal level", 0, true, true, NoticeStep::Close},
        {"normal level without an alert", 0, false, true, NoticeStep::Close},
        {"an error alert with notifications off", 2, true, false, NoticeStep::Close},
        {"a level that says nothing", 3, true, true, NoticeStep::Keep},
    };
    for (const Case& c : cases) EXPECT_EQ(noticeStep(status(c.level, 1), c.fired, c.enabled), c.step) << c.name;
}

TEST(NoticeText, TheMessageAndItsActionUnderThePrintersName)
{
    const std::int32_t paper[128] = {};
    const std::optional<Notice> error = noticeFor("Office 2F", status(2, 1), paper);
    ASSERT_TRUE(error);
    EXPECT_EQ(*error, (Notice{"Office 2F", "通信エラーが発生しました。\nケーブル，電源の状態を確認してください。", 2,
                              "device.error"}));

    // A message without an action: the message alone.
    const std::optional<Notice> warning = noticeFor("Office 2F", status(1, 0), paper);
    ASSERT_TRUE(warning);
    EXPECT_EQ(warning->body, "プリンタから未定義のステータスを受け取りました。");
    EXPECT_EQ(warning->urgency, 1);
    EXPECT_EQ(warning->category, "device");

    EXPECT_FALSE(noticeFor("Office 2F", status(0, 2), paper)) << "normal level has none";
    EXPECT_FALSE(noticeFor("Office 2F", status(2, 41), paper)) << "a message past the table";
}

// Records the calls; the test answers them.
class FakeService : public NotificationService {
public:
    struct Call {
        Notice notice;
        std::uint32_t replacesId;
    };
    void notify(const Notice& notice, std::uint32_t replacesId, std::function<void(std::uint32_t)> shown) override
    {
        calls.push_back({notice, replacesId});
        pending.push_back(std::move(shown));
    }
    void close(std::uint32_t id) override { closes.push_back(id); }
    // The service answers the oldest notify().
    void answer(std::uint32_t id)
    {
        auto shown = std::move(pending.front());
        pending.pop_front();
        shown(id);
    }

    std::vector<Call> calls;
    std::deque<std::function<void(std::uint32_t)>> pending;
    std::vector<std::uint32_t> closes;
};

class Notifier : public testing::Test {
protected:
    Notifier()
    {
        auto fake = std::make_unique<FakeService>();
        service = fake.get();
        notifier = std::make_unique<DesktopNotifier>(std::move(fake), [this] { ++activated; });
    }
    static Notice notice(const char* body) { return {"Office", body, 2, "device.error"}; }

    FakeService* service = nullptr;
    std::unique_ptr<DesktopNotifier> notifier;
    int activated = 0;
};

TEST_F(Notifier, ALaterAlertReplacesTheNotificationAndNormalLevelClosesIt)
{
    notifier->show(notice("paper out"));
    service->answer(7);
    EXPECT_EQ(notifier->shownId(), 7u);
    notifier->show(notice("cover open"));
    ASSERT_EQ(service->calls.size(), 2u);
    EXPECT_EQ(service->calls[0].replacesId, 0u);
    EXPECT_EQ(service->calls[1].replacesId, 7u);
    service->answer(7);
    notifier->close();
    notifier->close();
    EXPECT_EQ(service->closes, std::vector<std::uint32_t>{7}) << "closed once";
    notifier->show(notice("paper out"));
    EXPECT_EQ(service->calls.back().replacesId, 0u) << "a new one after the close";
}

TEST_F(Notifier, CallsBeforeTheAnswerWaitForItsIdAndTheLastOneCounts)
{
    notifier->show(notice("paper out"));
    notifier->show(notice("cover open"));
    notifier->show(notice("jam"));
    EXPECT_EQ(service->calls.size(), 1u) << "one call on its way at a time";
    service->answer(3);
    ASSERT_EQ(service->calls.size(), 2u);
    EXPECT_EQ(service->calls[1].notice.body, "jam");
    EXPECT_EQ(service->calls[1].replacesId, 3u);

    // "jam" is on its way: a show and a close after it come to the close alone.
    notifier->show(notice("paper out"));
    notifier->close();
    service->answer(3);
    EXPECT_EQ(service->closes, std::vector<std::uint32_t>{3}) << "the close, not the show before it";
    EXPECT_EQ(service->calls.size(), 2u);
    EXPECT_EQ(notifier->shownId(), 0u);
    EXPECT_FALSE(notifier->waiting());
}

TEST_F(Notifier, WithoutAServiceNothingIsShownOrClosedAndTheNextAlertTriesAgain)
{
    notifier->show(notice("paper out"));
    service->answer(0);
    EXPECT_EQ(notifier->shownId(), 0u);
    EXPECT_FALSE(notifier->waiting());
    notifier->close();
    EXPECT_TRUE(service->closes.empty());
    notifier->show(notice("cover open"));
    EXPECT_EQ(service->calls.size(), 2u);
    EXPECT_EQ(service->calls.back().replacesId, 0u);
}

TEST_F(Notifier, OnlyTheDefaultActionOfOurNotificationBringsTheWindowUp)
{
    service->actionInvoked(7, "default");
    EXPECT_EQ(activated, 0) << "none of ours yet";
    notifier->show(notice("paper out"));
    service->answer(7);
    service->actionInvoked(8, "default");
    service->actionInvoked(7, "other");
    EXPECT_EQ(activated, 0);
    service->actionInvoked(7, "default");
    EXPECT_EQ(activated, 1);

    // Closed on the desktop: forgotten, so the next alert puts up a new one.
    service->closed(8);
    EXPECT_EQ(notifier->shownId(), 7u);
    service->closed(7);
    EXPECT_EQ(notifier->shownId(), 0u);
    service->actionInvoked(7, "default");
    EXPECT_EQ(activated, 1);
    notifier->show(notice("jam"));
    EXPECT_EQ(service->calls.back().replacesId, 0u);
}

}  // namespace
