// The state keyword of a printer's status, by family, level and message row.

#include <gtest/gtest.h>

#include "facts/state_keywords.h"

namespace {

using facts::Family;
using facts::State;

struct Case {
    const char* name;
    facts::StatusSummary status;
    State expected;
};

const Case kCases[] = {
    {"A printer nobody monitors is not monitored, whatever its record says",
     {false, Family::Page, 2, 26},
     State::NotMonitored},
    {"A page printer ready to print is idle", {true, Family::Page, 0, 2}, State::Idle},
    {"A page printer printing", {true, Family::Page, 0, 4}, State::Printing},
    {"A page printer warming up is at rest", {true, Family::Page, 0, 8}, State::Idle},
    {"Low toner is a warning", {true, Family::Page, 1, 15}, State::Warning},
    {"An open cover stops the printer", {true, Family::Page, 2, 26}, State::Stopped},
    {"No answer is unreachable in every family", {true, Family::Inkjet, 2, 1}, State::Unreachable},
    {"An undecodable status stops the printer", {true, Family::Impact, 2, 0}, State::Stopped},
    {"An impact printer printing", {true, Family::Impact, 0, 3}, State::Printing},
    {"An inkjet's self test prints", {true, Family::Inkjet, 0, 17}, State::Printing},
    {"Row 4 of the impact table is a stop at rest, not printing", {true, Family::Impact, 0, 4}, State::Idle},
};

TEST(StateKeywords, EachStatusHasItsKeyword)
{
    for (const Case& c : kCases) EXPECT_EQ(facts::stateOf(c.status), c.expected) << c.name;
}

TEST(StateKeywords, KeywordsGoBothWaysAndNeverChange)
{
    const char* expected[] = {"idle", "printing", "warning", "stopped", "unreachable", "not-monitored"};
    for (std::size_t i = 0; i < facts::kStates.size(); ++i) {
        EXPECT_STREQ(facts::keyword(facts::kStates[i]), expected[i]);
        EXPECT_EQ(facts::stateFromKeyword(expected[i]), facts::kStates[i]);
    }
    EXPECT_FALSE(facts::stateFromKeyword("Idle").has_value());
    EXPECT_STREQ(facts::stateKeyword({true, Family::Page, 2, 1}), "unreachable");
}

TEST(StateKeywords, ReasonsComeFromTheReplyOfTheModel)
{
    const facts::Model& inkjet = facts::model(facts::Code::IJ09);
    EXPECT_EQ(facts::reasons(inkjet, "@BDC ST\r\nST:00;ER:02;\r\n", ""), std::set<std::string>{"cover-open-error"});
    EXPECT_TRUE(facts::reasons(inkjet, "@BDC ST\r\nST:04;IQ:50505050;\r\n", "").empty());
}

}  // namespace
