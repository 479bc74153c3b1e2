#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alerts.h"

using namespace watchpanel;

namespace {

// A page printer's alert settings as the defaults make them: every type on with a sound, but
// "paper low" (row 3) off.
DetailSettings pageDefaults()
{
    DetailSettings settings;
    for (int row = 0; row < kAlertSlots; ++row)
        settings.alerts[row] = {true, true, "/media/" + std::to_string(row) + ".WAV"};
    settings.alerts[3].enabled = false;
    return settings;
}

PrinterEntry pageEntry()
{
    PrinterEntry entry{};
    entry.PrinterFamily = 0;
    entry.AlertCategoryCount = 10;
    return entry;
}

class Alerts : public ::testing::Test {
protected:
    // The sounds the rule plays for the alert indexes, one status refresh each.
    std::vector<std::string> play(std::initializer_list<int> indexes)
    {
        std::vector<std::string> played;
        for (int index : indexes) {
            entry.AlertCategory = static_cast<std::uint16_t>(index);
            if (auto sound = rule.soundFor(entry, settings)) played.push_back(*sound);
        }
        return played;
    }

    AlertRule rule;
    DetailSettings settings = pageDefaults();
    PrinterEntry entry = pageEntry();
};

TEST_F(Alerts, AnEnabledAlertPlaysOnceWhenItComesAndNotWhileItLasts)
{
    EXPECT_TRUE(play({0, 0}).empty()) << "the first status, printable, is no change";
    EXPECT_TRUE(play({3}).empty()) << "paper low is off";
    EXPECT_EQ(play({2, 2, 2}), std::vector<std::string>{"/media/2.WAV"});
    EXPECT_TRUE(play({3, 2}).empty()) << "through a type that is off and back: the memory stayed 2";
    EXPECT_EQ(play({0, 2}), (std::vector<std::string>{"/media/0.WAV", "/media/2.WAV"}));
}

TEST_F(Alerts, ATypeWithoutASoundCountsButPlaysNothing)
{
    settings.alerts[4] = {true, false, ""};
    settings.alerts[5].path.clear();
    EXPECT_TRUE(play({4, 5}).empty());
    EXPECT_TRUE(play({5}).empty()) << "5 was taken as the last alert";
    EXPECT_EQ(play({2}), std::vector<std::string>{"/media/2.WAV"});
}

TEST_F(Alerts, AnIndexOutsideTheFamilysTypesIsIgnored)
{
    EXPECT_TRUE(play({10, 11, 65535}).empty()) << "10 types: 10 is past the last";
    entry.AlertCategoryCount = 11;
    EXPECT_TRUE(play({11}).empty()) << "never past the eleven settings";
    EXPECT_EQ(play({1}), std::vector<std::string>{"/media/1.WAV"});
}

class Opening : public ::testing::Test {
protected:
    // One tick of the open rules: whether the window is shown afterwards.
    bool tick(bool forced = false)
    {
        rules.apply(entry, forced);
        return entry.HideRequest == 0;
    }

    OpenRules rules;
    PrinterEntry entry = [] {
        PrinterEntry e = pageEntry();
        e.HideRequest = 1;
        e.PrintOpenFlag = 1;
        e.ErrorOpenFlag = 1;
        return e;
    }();
};

TEST_F(Opening, PrintingShowsAHiddenWindowAndHidesItAgainAfterwards)
{
    EXPECT_FALSE(tick());
    entry.MessageIndex = 11;  // printing
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    entry.MessageIndex = 0;
    EXPECT_FALSE(tick());
    EXPECT_FALSE(tick());
}

TEST_F(Opening, AWindowTheUserHadOpenStaysOpenAfterPrinting)
{
    entry.HideRequest = 0;
    entry.MessageIndex = 11;
    EXPECT_TRUE(tick());
    entry.MessageIndex = 0;
    EXPECT_TRUE(tick());
}

TEST_F(Opening, ImpactAndInkjetPrintersPrintOnMessagesThreeAndFive)
{
    for (std::uint32_t family : {1u, 2u}) {
        for (std::uint16_t message : {3, 5}) {
            OpenRules fresh;
            entry.PrinterFamily = family;
            entry.MessageIndex = message;
            entry.HideRequest = 1;
            fresh.apply(entry, false);
            EXPECT_EQ(entry.HideRequest, 0u) << family << " " << message;
        }
    }
}

TEST_F(Opening, AnErrorShowsTheWindowOnceAndAWindowTheUserClosedStaysClosed)
{
    entry.PrinterState = 2;
    entry.MessageIndex = 4;
    EXPECT_TRUE(tick());
    EXPECT_TRUE(tick());
    entry.HideRequest = 1;  // the user closes it while the error lasts
    EXPECT_FALSE(tick());
    EXPECT_FALSE(tick());
    entry.MessageIndex = 6;  // another error
    EXPECT_TRUE(tick());
    entry.HideRequest = 1;
    entry.PrinterState = 0;
    entry.MessageIndex = 0;
    EXPECT_FALSE(tick());
    entry.PrinterState = 1;  // the first error again, after a good spell
    entry.MessageIndex = 4;
    EXPECT_TRUE(tick());
}

TEST_F(Opening, TheFlagsOffOpenNothingButADoubleClickAlwaysDoes)
{
    entry.PrintOpenFlag = 0;
    entry.ErrorOpenFlag = 0;
    entry.PrinterState = 2;
    entry.MessageIndex = 11;
    EXPECT_FALSE(tick());
    EXPECT_TRUE(tick(true));
}

}  // namespace
