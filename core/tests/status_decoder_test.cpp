// Status decoding of page and impact printer replies: the places a decoder goes wrong.

#include "status_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "registry_store.h"
#include "testsupport/temp_root.h"
#include "watchcore.h"

using watchcore::decodeImpactReply;
using watchcore::decodePageReply;

namespace {

// A page printer's reply: "STATUS CODE=" and 102 field characters, "0" where not given.
std::string pageReply(const std::map<int, std::string>& fields, const std::string& code = "03E8")
{
    std::string f(102, '0');
    f.replace(4, 4, code);
    for (const auto& [at, text] : fields) f.replace(static_cast<std::size_t>(at), text.size(), text);
    return "@KJL STATUS CODE=" + f + "\r\n";
}

struct Decoded {
    PrinterEntry entry{};
    std::int32_t paper[watchcore::kPaperWords] = {};
    std::int32_t information[watchcore::kInformationWords] = {};
    bool ok = false;
};

Decoded page(const std::string& reply, int cassettes = 2)
{
    Decoded d;
    d.paper[6] = cassettes;
    d.ok = decodePageReply(reply, d.entry, d.paper, d.information);
    return d;
}

Decoded impact(const std::string& reply, std::uint32_t model = 6)
{
    Decoded d;
    d.entry.ModelCode = model;
    for (int w : {83, 84, 85, 97}) d.paper[w] = -7;  // marks words a reply must not touch
    d.ok = decodeImpactReply(reply, d.entry, d.paper);
    return d;
}

void expectOutcome(const PrinterEntry& e, std::uint32_t level, std::uint16_t message, std::uint16_t picture,
                   std::uint16_t alert)
{
    EXPECT_EQ(e.PrinterState, level);
    EXPECT_EQ(e.MessageIndex, message);
    EXPECT_EQ(e.PictureIndex, picture);
    EXPECT_EQ(e.AlertCategory, alert);
    EXPECT_EQ(e.MessageFlag, 0u);
}

std::string hex(int byte)
{
    char text[3];
    std::snprintf(text, sizeof text, "%02X", byte);
    return text;
}

struct CodeCase {
    const char* name;
    const char* code;
    std::uint32_t level;
    std::uint16_t message, picture, alert;
};

const CodeCase kCodes[] = {
    {"Ready", "03E8", 0, 2, 0, 0},
    {"CannotPrint", "03E9", 2, 3, 6, 1},
    {"ProcessingOtherInterface", "03F4", 0, 13, 0, 0},
    {"TonerLowIsAWarning", "07D1", 1, 15, 3, 6},
    {"CoverOpen", "0FA2", 2, 26, 1, 5},
    {"JamInDuplexUnit", "0FB1", 2, 39, 5, 4},
    {"ServiceCall", "1770", 2, 40, 6, 9},
    {"CodeMissingFromTheTable1011IsUndefined", "03F3", 2, 0, 6, 9},
    {"CodeMissingFromTheTable4005IsUndefined", "0FA5", 2, 0, 6, 9},
    {"CodeMissingFromTheTable3002IsUndefined", "0BBA", 2, 0, 6, 9},
};

class PageStatusCode : public ::testing::TestWithParam<CodeCase> {};

}  // namespace

TEST_P(PageStatusCode, SetsLevelMessagePictureAndAlert)
{
    const auto& c = GetParam();
    auto d = page(pageReply({{60, "64"}, {62, "64"}, {64, "64"}}, c.code));
    ASSERT_TRUE(d.ok);
    expectOutcome(d.entry, c.level, c.message, c.picture, c.alert);
}

INSTANTIATE_TEST_SUITE_P(Decoder, PageStatusCode, ::testing::ValuesIn(kCodes),
                         [](const auto& i) { return i.param.name; });

TEST(PageReply, AnUnreadableOrMissingStatusCodeFails)
{
    EXPECT_FALSE(page(pageReply({}, "03e8")).ok) << "lower-case hex is unreadable";
    EXPECT_FALSE(page("@KJL STATUS=03E8").ok) << "no STATUS CODE=";
    EXPECT_FALSE(page("@KJL STATUS CODE=000003E").ok) << "a code cut short by the end of the reply";
    EXPECT_TRUE(page("@KJL STATUS CODE=000003E8").ok) << "the other fields may all be missing";
}

TEST(PageReply, PaperLevelsWarnInOrderWhileTheStatusIsNormal)
{
    auto out = page(pageReply({{60, "00"}, {62, "64"}, {64, "64"}}));
    EXPECT_EQ(out.entry.PrinterState, 1u);
    EXPECT_EQ(out.entry.AlertCategory, 2u) << "paper out";
    EXPECT_EQ(out.entry.MessageIndex, 2u) << "the message stays the status code's";
    auto low = page(pageReply({{60, "14"}, {62, "00"}, {64, "64"}}));
    EXPECT_EQ(low.entry.AlertCategory, 3u) << "the tray comes first: paper low, not the cassette's paper out";
    auto enough = page(pageReply({{60, "1A"}, {62, "64"}, {64, "64"}}));
    EXPECT_EQ(enough.entry.PrinterState, 0u) << "26 is not low";
    auto warning = page(pageReply({{60, "00"}, {62, "64"}, {64, "64"}}, "07D1"));
    EXPECT_EQ(warning.entry.AlertCategory, 6u) << "a warning code keeps its own alert";
    auto absent = page(pageReply({{60, "FF"}, {62, "FF"}, {64, "00"}}, "03E8"), 1);
    EXPECT_EQ(absent.entry.PrinterState, 0u) << "255 is no level, and cassette 2 is not counted";
}

TEST(PageReply, BandsOfPaperTonerAndPhotoconductor)
{
    struct Band {
        int level, paper, toner;
    } bands[] = {{0, 0, 0},  {1, 1, 1},  {25, 1, 1},  {26, 2, 2},  {50, 2, 2}, {51, 3, 3},
                 {75, 3, 3}, {76, 4, 4}, {100, 4, 4}, {101, 4, 0}, {254, 4, 0}};
    for (const auto& b : bands) {
        auto d = page(pageReply({{56, hex(b.level)}, {58, hex(b.level)}, {60, hex(b.level)}}));
        EXPECT_EQ(d.paper[2], b.paper) << "tray " << b.level;
        EXPECT_EQ(d.paper[29], b.toner) << "toner " << b.level;
        EXPECT_EQ(d.paper[60], b.paper) << "photoconductor " << b.level;
    }
    auto full = page(pageReply({{56, "FF"}, {58, "FF"}, {60, "FF"}}));
    EXPECT_EQ(full.paper[28], 1) << "toner 255 is a valid level";
    EXPECT_EQ(full.paper[30], 255);
    EXPECT_EQ(full.paper[29], 0);
    EXPECT_EQ(full.paper[58], 0) << "photoconductor 255 is not";
    EXPECT_EQ(full.paper[1], 0);
    EXPECT_EQ(full.paper[3], -1) << "an invalid level is stored as -1";
}

TEST(PageReply, PaperSizesAndTheLevelTheyDependOn)
{
    struct Size {
        const char* name;
        std::string levelField, sizeField;
        int index;
    } sizes[] = {
        {"A3", "64", "0D", 7},
        {"half letter", "64", "1F", 1},
        {"A3 wide", "64", "48", 121},
        {"user-defined", "64", "FF", 151},
        {"an unknown byte", "64", "63", 152},
        {"an unreadable byte", "64", "g1", 152},
        {"an empty tray", "00", "0E", 152},
        {"an unreadable level still reads its size", "FF", "0E", 8},
    };
    for (const auto& s : sizes) {
        auto d = page(pageReply({{60, s.levelField}, {78, s.sizeField}}));
        EXPECT_EQ(d.paper[4], s.index) << s.name;
    }
}

TEST(PageReply, CardsInterfacesDuplexAndMemory)
{
    struct Card {
        std::string byte;
        int code;
    } cards[] = {{"FF", 0}, {"00", 10}, {"62", 1}, {"65", 3}, {"64", 4}, {"A4", 8}, {"4D", 9}, {"zz", 0}};
    for (const auto& c : cards) {
        auto d = page(pageReply({{86, c.byte}, {88, c.byte}}));
        EXPECT_EQ(d.information[36], c.code) << c.byte;
        EXPECT_EQ(d.information[37], c.code) << c.byte;
    }
    auto d = page(pageReply({{84, "01"}, {90, "02"}, {92, "40"}}));
    EXPECT_EQ(d.information[33], 1);
    EXPECT_EQ(d.information[43], 0);
    EXPECT_EQ(d.information[44], 1);
    EXPECT_EQ(d.information[48], 64);

    Decoded kept;
    kept.information[33] = kept.information[43] = kept.information[48] = 7;
    decodePageReply(pageReply({{84, "x1"}, {90, "--"}, {92, "?"}}), kept.entry, kept.paper, kept.information);
    EXPECT_EQ(kept.information[33], 7) << "unreadable fields leave their words";
    EXPECT_EQ(kept.information[43], 7);
    EXPECT_EQ(kept.information[48], 7);
}

TEST(PageReply, ACassetteCountBeyondThreeReadsOnlyThree)
{
    Decoded d;
    d.paper[6] = 1000;
    d.paper[22] = d.paper[10] = 55;
    ASSERT_TRUE(decodePageReply(pageReply({{62, "10"}, {64, "20"}, {94, "30"}}), d.entry, d.paper, d.information));
    EXPECT_EQ(d.paper[15], 16);
    EXPECT_EQ(d.paper[17], 48);
    EXPECT_EQ(d.paper[10], 55) << "no word beyond the third cassette's is written";
    EXPECT_EQ(d.paper[22], 55);
}

struct StateCase {
    const char* name;
    std::string reply;
    std::uint32_t model;
    std::uint32_t level;
    std::uint16_t message, picture, alert;
};

const StateCase kImpactStates[] = {
    {"ErrorSixIsPaperNotSet", "ST:00;ER:06;", 6, 2, 13, 2, 2},
    {"CoverOpen", "ST:00;ER:02;", 6, 2, 9, 5, 4},
    {"CoverOpenOfModelTwelveHasItsOwnPicture", "ST:00;ER:02;", 12, 2, 9, 6, 4},
    {"AnUnknownErrorIsAnError", "ST:00;ER:42;", 6, 2, 6, 5, 6},
    {"AnErrorWithoutItsFieldIsAnError", "ST:00;", 6, 2, 6, 5, 6},
    {"SelfTest", "ST:01;TP:00;", 6, 2, 17, 5, 6},
    {"DemonstrationPattern", "ST:01;TP:01;", 6, 2, 18, 5, 6},
    {"Printing", "ST:02;", 6, 0, 5, 0, 0},
    {"Ready", "ST:04;", 6, 0, 2, 0, 0},
    {"Stopped", "ST:05;", 6, 1, 4, 0, 1},
    {"NoStateIsACommunicationError", "ER:00;", 6, 2, 0, 1, 5},
    {"AStateStartingOtherThanZero", "ST:14;", 6, 2, 0, 1, 5},
    {"AStateCutShortByTheEnd", "ST:0", 6, 2, 0, 1, 5},
};

class ImpactState : public ::testing::TestWithParam<StateCase> {};

TEST_P(ImpactState, SetsLevelMessagePictureAndAlert)
{
    const auto& c = GetParam();
    auto d = impact("@BDC ST\r\n" + c.reply, c.model);
    ASSERT_TRUE(d.ok);
    expectOutcome(d.entry, c.level, c.message, c.picture, c.alert);
}

INSTANTIATE_TEST_SUITE_P(Decoder, ImpactState, ::testing::ValuesIn(kImpactStates),
                         [](const auto& i) { return i.param.name; });

TEST(ImpactReply, PaperEntriesOfTheCutSheetBins)
{
    const std::string filler(20, '0');
    auto d = impact("ST:04;CD:" + filler + "0300" + "0301" + "0902" + "0000;");
    EXPECT_EQ(d.paper[83], 8) << "A4 portrait";
    EXPECT_EQ(d.paper[84], 76) << "A4 landscape";
    EXPECT_EQ(d.paper[85], 152) << "an orientation other than 00 or 01";
    auto more = impact("ST:04;CD:" + filler + "0A00" + "0a01" + "1300" + "0000;");
    EXPECT_EQ(more.paper[83], 4) << "legal";
    EXPECT_EQ(more.paper[84], 151) << "legal landscape";
    EXPECT_EQ(more.paper[85], 152) << "a size pair must start with 0";
    auto none = impact("ST:04;PP:0001;");
    EXPECT_EQ(none.paper[83], -7) << "without CD: the bins stay as they were";
    EXPECT_EQ(none.paper[97], -7);
    EXPECT_EQ(none.paper[99], 5) << "front push/pull tractor";
}

TEST(ImpactReply, ContinuousPaperWidthSteps)
{
    const std::string bins = std::string(20, '0') + "030003000300";
    struct Width {
        std::uint32_t model;
        int value;
        int inches;
    } widths[] = {{12, 0, 0},    {12, 1, 4},     {12, 1619, 4},  {12, 1620, 5},  {12, 1979, 5},
                  {12, 1980, 6}, {12, 4859, 13}, {12, 4860, 14}, {12, 9000, 14}, {6, 0, 0},
                  {6, 1, 4},     {6, 1365, 5},   {7, 65281, 0},  {7, 65280, 14}};
    for (const auto& w : widths) {
        char field[5];
        std::snprintf(field, sizeof field, "%04X", w.value);
        auto d = impact("ST:04;CD:" + bins + field + ";", w.model);
        EXPECT_EQ(d.paper[97], w.inches) << "model " << w.model << " width " << w.value;
    }
    auto unreadable = impact("ST:04;CD:" + bins + "12x4;");
    EXPECT_EQ(unreadable.paper[97], 0);
}

TEST(ImpactReply, TractorKinds)
{
    struct Kind {
        const char* pp;
        int kind;
    } kinds[] = {{"0000", 4}, {"0001", 5}, {"0101", 6}, {"0102", 7}, {"0201", 9}, {"0202", 0}, {"00", 0}};
    for (const auto& k : kinds) {
        EXPECT_EQ(impact(std::string("ST:04;PP:") + k.pp).paper[99], k.kind) << k.pp;
    }
}

namespace {

Decoded inkjet(const std::string& reply, std::uint32_t model, bool color = true, bool black = true)
{
    Decoded d;
    d.entry.ModelCode = model;
    d.paper[38] = color ? 1 : 0;
    d.paper[47] = black ? 1 : 0;
    for (int w : {39, 41, 43, 45}) d.paper[w] = color ? d.paper[w] : -7;
    d.ok = watchcore::decodeInkjetReply(reply, reply, d.entry, d.paper);
    return d;
}

}  // namespace

TEST(InkjetReply, LowInkOnAReadyPrinterIsAWarning)
{
    auto d = inkjet("@BDC ST\r\nST:04;IQ:08323232;", 4);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.entry.PrinterState, 1u);
    EXPECT_EQ(d.entry.AlertCategory, 6u);
    EXPECT_EQ(d.entry.MessageIndex, 2u);
    EXPECT_EQ(d.paper[52], 8);
    EXPECT_EQ(d.paper[43], 50);
    EXPECT_EQ(d.paper[41], 3);
}

TEST(InkjetReply, BothInksOutEndOnTheBothOutPicture)
{
    auto d = inkjet("ST:04;IQ:01000000;", 4);
    EXPECT_EQ(d.entry.PrinterState, 2u);
    EXPECT_EQ(d.entry.MessageIndex, 12u);
    EXPECT_EQ(d.entry.AlertCategory, 5u);
    EXPECT_EQ(d.entry.MessageFlag, 1u);
    EXPECT_EQ(d.entry.PictureIndex, 2u);
    EXPECT_EQ(d.paper[56], 0) << "both out";
    auto colorOnly = inkjet("ST:04;IQ:50000000;", 4);
    EXPECT_EQ(colorOnly.entry.PictureIndex, 4u);
    EXPECT_EQ(colorOnly.paper[56], 2);
    auto blackOnly = inkjet("ST:04;IQ:01505050;", 4);
    EXPECT_EQ(blackOnly.entry.PictureIndex, 3u);
    EXPECT_EQ(blackOnly.paper[56], 1);
}

TEST(InkjetReply, WarningsLowerLevelsAndALoneLastTokenIsIgnored)
{
    auto d = inkjet("ST:04;IQ:50505050;WR:11,10;", 4);
    EXPECT_EQ(d.paper[52], 2);
    EXPECT_EQ(d.paper[43], 2);
    EXPECT_EQ(d.paper[45], 1);
    EXPECT_EQ(d.paper[54], 1);
    EXPECT_EQ(d.paper[50], 0) << "the black band of level 1";
    auto lone = inkjet("ST:04;IQ:50505050;WR:11", 4);
    EXPECT_EQ(lone.paper[45], 0);
    EXPECT_EQ(lone.paper[43], 80);
    auto none = inkjet("ST:04;IQ:50505050;", 4);
    EXPECT_EQ(none.paper[45], 0);
    EXPECT_EQ(none.paper[54], 0);
}

TEST(InkjetReply, BlackThresholdsByModel)
{
    EXPECT_EQ(inkjet("ST:04;IQ:04505050;", 3).entry.PrinterState, 0u) << "model 3 with black 4 is not low";
    EXPECT_EQ(inkjet("ST:04;IQ:03505050;", 3).entry.PrinterState, 1u);
    EXPECT_EQ(inkjet("ST:04;IQ:09505050;", 4).entry.PrinterState, 1u) << "model 4 with black 9 is low";
    EXPECT_EQ(inkjet("ST:04;IQ:0A505050;", 4).entry.PrinterState, 0u);
    EXPECT_EQ(inkjet("ST:04;IQ:04505050;", 13).paper[50], 2) << "above model 13's threshold";
    EXPECT_EQ(inkjet("ST:04;IQ:03505050;", 13).paper[50], 1);
}

TEST(InkjetReply, UnreadableFieldsAndTheLaterModels)
{
    auto unknown = inkjet("ST:04;IQ:50xx5050;", 3);
    EXPECT_EQ(unknown.paper[43], 255) << "model 3: an unreadable colour field is unknown";
    EXPECT_EQ(unknown.entry.PrinterState, 0u) << "an unknown level is not judged";
    auto zero = inkjet("ST:04;IQ:50xx5050;", 4);
    EXPECT_EQ(zero.paper[43], 0) << "model 4: it is 0";
    EXPECT_EQ(zero.entry.PrinterState, 2u);
    EXPECT_EQ(inkjet("ST:04;IQ:xx505050;", 10).paper[52], 255) << "model 10's unreadable black is unknown";
    EXPECT_EQ(inkjet("ST:04;IQ:C8FFFFFF;", 4).paper[43], 100) << "the first colour field is capped at 100";
    EXPECT_EQ(inkjet("ST:04;IQ:50000000;", 14).paper[43], 255) << "model 14: three zeros are unknown";
    auto warned = inkjet("ST:04;IQ:50646464;WR:12;", 15);
    EXPECT_EQ(warned.entry.PrinterState, 1u) << "models 14-17 judge by the warning";
    EXPECT_EQ(warned.paper[41], 1) << "their colour band of level 1";
    EXPECT_EQ(inkjet("ST:04;IQ:50646464321E;", 16).paper[43], 30) << "model 16 reads five colour fields";
    auto noColor = inkjet("ST:04;IQ:50;", 4, /*color=*/false);
    EXPECT_EQ(noColor.paper[43], -7) << "a model without colour ink keeps its colour words";
    EXPECT_FALSE(inkjet("ST:04;", 4).ok) << "no IQ: fails";
}

TEST(InkjetReply, AModelAskedForItsInkApartShowsItsStateBeforeTheFirstAnswer)
{
    // IJ-03 is asked for its ink only when ready: busy when monitoring started, it has no ink text yet.
    Decoded d;
    d.entry.ModelCode = 2;
    d.paper[38] = d.paper[47] = 1;
    EXPECT_TRUE(watchcore::decodeInkjetReply("ST:00;ER:02;", "", d.entry, d.paper));
    EXPECT_EQ(d.entry.PictureIndex, 7u) << "the open cover shows";
    EXPECT_EQ(d.entry.PrinterState, 2u);
    EXPECT_EQ(d.paper[43], 255) << "colour not known";
    EXPECT_EQ(d.paper[52], 255) << "black not known";
    EXPECT_EQ(d.entry.MessageFlag, 0u) << "no ink out made up";
}

TEST(InkjetReply, ErrorsOfTheInkjetFamily)
{
    auto out = inkjet("ST:00;ER:05;IQ:50505050;", 4);
    EXPECT_EQ(out.entry.MessageIndex, 12u);
    EXPECT_EQ(out.entry.PictureIndex, 2u);
    EXPECT_EQ(out.entry.AlertCategory, 5u);
    EXPECT_EQ(out.entry.MessageFlag, 1u);
    EXPECT_EQ(inkjet("ST:00;ER:02;IQ:50505050;", 17).entry.PictureIndex, 8u) << "model 17's cover picture";
    EXPECT_EQ(inkjet("ST:00;ER:02;IQ:50505050;", 4).entry.PictureIndex, 7u);
    auto noState = inkjet("IQ:50505050;", 4);
    EXPECT_EQ(noState.entry.AlertCategory, 7u) << "the inkjet communication error";
    auto lowOnError = inkjet("ST:00;ER:04;IQ:08505050;", 4);
    EXPECT_EQ(lowOnError.entry.PrinterState, 2u) << "low ink never lowers an error";
    EXPECT_EQ(lowOnError.entry.AlertCategory, 3u);
}

namespace {

class GetStatus : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        std::strcpy(entry.PrinterName, "Office");
        std::strcpy(entry.ModelName, "PG-03");
        ASSERT_EQ(fInitRegistory(&entry), 1);
    }
    void reply(const std::string& text)
    {
        ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, "Office",
                                       "RealTimeStatusStrings", text));
    }
    int get() { return iGetStatus(&entry, paper, information, last); }

    PrinterEntry entry{};
    std::int32_t paper[watchcore::kPaperWords] = {};
    std::int32_t information[watchcore::kInformationWords] = {};
    char last[1024] = "";
};

}  // namespace

TEST_F(GetStatus, DecodesANewReplyOnceAndReportsTheSameOneUnchanged)
{
    paper[6] = 2;
    reply(pageReply({{60, "00"}, {62, "64"}, {64, "64"}}));
    ASSERT_EQ(get(), 1);
    EXPECT_EQ(entry.AlertCategory, 2u);
    entry.AlertCategory = 99;  // nothing may touch the entry on an unchanged reply
    EXPECT_EQ(get(), 2);
    EXPECT_EQ(entry.AlertCategory, 99u);
    last[0] = '\0';  // emptied: the same reply counts as new
    EXPECT_EQ(get(), 1);
    EXPECT_EQ(entry.AlertCategory, 2u);
}

TEST_F(GetStatus, AReplyThatCannotBeDecodedStillBecomesTheLastReply)
{
    const std::string bad = pageReply({}, "03e8");
    reply(bad);
    EXPECT_EQ(get(), 0);
    EXPECT_EQ(std::string(last), bad);
    EXPECT_EQ(get(), 2) << "it is not decoded again";
}

TEST_F(GetStatus, InkjetsThatReportInkApartReadTheirInkLevel)
{
    entry.PrinterFamily = 2;
    entry.ModelCode = 2;
    paper[38] = paper[47] = 1;
    reply("@BDC ST\r\nST:04;");
    EXPECT_EQ(get(), 1) << "no ink text yet: the state shows";
    EXPECT_EQ(paper[52], 255) << "the ink is not known";
    ASSERT_TRUE(watchcore::setText(testsupport::rootStore(), watchcore::StoreKey::Vigilmon, "Office", "InkLevel",
                                   "@BDC IQ\r\nIQ:3C464646;"));
    reply("@BDC ST\r\nST:04; ");
    ASSERT_EQ(get(), 1);
    EXPECT_EQ(paper[52], 60);
    EXPECT_EQ(paper[43], 70);
}

TEST_F(GetStatus, AMissingStoreOrAnUnknownFamily)
{
    PrinterEntry nobody{};
    std::strcpy(nobody.PrinterName, "Nobody");
    EXPECT_EQ(iGetStatus(&nobody, paper, information, last), 0);
    entry.PrinterFamily = 7;
    reply("anything");
    EXPECT_EQ(get(), 1) << "a family the system does not know decodes nothing and succeeds";
    EXPECT_EQ(iGetStatus(nullptr, paper, information, last), 0);
}

TEST(InkjetReply, ColourAndBlackBandBoundaries)
{
    struct Band {
        int level;
        int colour, black;  // model 4 (black threshold 9)
        int later;          // models 14..17, colour and black alike
    } bands[] = {{1, 0, 0, 1},  {2, 1, 1, 2},  {9, 1, 1, 2},  {10, 2, 2, 2}, {25, 2, 2, 2}, {26, 3, 3, 3},
                 {50, 3, 3, 3}, {51, 4, 4, 4}, {75, 4, 4, 4}, {76, 5, 5, 5}, {254, 5, 5, 5}};
    for (const auto& b : bands) {
        const std::string field = hex(b.level);
        const std::string reply = "ST:04;IQ:" + field + field + field + field + ";";
        auto d = inkjet(reply, 4);
        EXPECT_EQ(d.paper[41], b.colour) << "colour " << b.level;
        EXPECT_EQ(d.paper[50], b.black) << "black " << b.level;
        auto later = inkjet(reply, 15);
        EXPECT_EQ(later.paper[41], b.later) << "model 15 colour " << b.level;
        EXPECT_EQ(later.paper[50], b.later) << "model 15 black " << b.level;
    }
    EXPECT_EQ(inkjet("ST:04;IQ:FFxxFFFF;", 3).paper[41], 0) << "an unknown level (255) has no band";
    EXPECT_EQ(inkjet("ST:04;IQ:FFFFFFFF;", 3).paper[52], 255) << "black 255 is a reported level";
    EXPECT_EQ(inkjet("ST:04;IQ:FFFFFFFF;", 3).paper[50], 0) << "without a band";
}
