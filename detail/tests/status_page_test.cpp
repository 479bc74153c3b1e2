// The status page's rules: which table, text, picture and paper row a printer's entry and paper block
// give, and how long texts are cut to fit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "facts/paper_block.h"
#include "watchpanel/status_page.h"

using namespace watchpanel;
using namespace facts::paper;

namespace {

struct Printer {
    PrinterEntry entry{};
    std::int32_t paper[kPaperWords] = {};
    std::int32_t information[kInformationWords] = {};

    Printer(std::uint32_t family, std::uint32_t model, std::uint16_t message = 2, std::uint16_t picture = 0)
    {
        entry.PrinterFamily = family;
        entry.ModelCode = model;
        entry.MessageIndex = message;
        entry.MessageCount = family == 0 ? 41 : 20;
        entry.PictureIndex = picture;
        entry.PictureCount = family == 1 ? (model == 12 ? 7 : 6) : family == 0 ? 7 : 9;
        presetEquipment(model, paper, information);
    }
    Changes status() const { return statusChanges(entry, paper); }
};

// The change to `control` of `kind`, or nothing.
std::optional<ControlChange> find(const Changes& changes, int control, ControlChange::Kind kind)
{
    auto it = std::find_if(changes.begin(), changes.end(),
                           [&](const ControlChange& c) { return c.control == control && c.kind == kind; });
    if (it == changes.end()) return std::nullopt;
    return *it;
}
std::optional<std::string> textOf(const Changes& changes, int control)
{
    auto c = find(changes, control, ControlChange::Kind::Text);
    return c ? std::optional(c->text) : std::nullopt;
}
std::optional<bool> enabledOf(const Changes& changes, int control)
{
    auto c = find(changes, control, ControlChange::Kind::Enabled);
    return c ? std::optional(c->on) : std::nullopt;
}
std::optional<bool> visibleOf(const Changes& changes, int control)
{
    auto c = find(changes, control, ControlChange::Kind::Visible);
    return c ? std::optional(c->on) : std::nullopt;
}
std::optional<int> pictureOf(const Changes& changes, int control)
{
    auto c = find(changes, control, ControlChange::Kind::Picture);
    return c ? std::optional(c->picture) : std::nullopt;
}

}  // namespace

TEST(StatusTexts, TheTableFollowsFamilyAndModel)
{
    EXPECT_EQ(messageBase(0, 0), 10100);
    EXPECT_EQ(messageBase(0, 19), 11900);
    EXPECT_EQ(messageBase(1, 12), 10400);
    EXPECT_EQ(messageBase(2, 9), 10700);
    EXPECT_EQ(messageBase(2, 11), 11000);
    EXPECT_EQ(messageBase(2, 14), 11300);
    EXPECT_EQ(messageBase(2, 17), 11600);
    EXPECT_EQ(messageBase(3, 0), std::nullopt);

    // Before the first status arrives every family says it can print.
    for (auto [family, model] : {std::pair{0u, 0u}, {0u, 20u}, {1u, 6u}, {2u, 2u}, {2u, 17u}}) {
        EXPECT_EQ(textOf(Printer(family, model).status(), 1306), "印刷できます。") << family << "/" << model;
    }

    Printer rom(0, 19, 34);
    EXPECT_EQ(textOf(rom.status(), 1306), "排紙部で紙づまりが発生しました。");
    EXPECT_EQ(enabledOf(rom.status(), 1308), true);
    Printer plain(0, 1, 34);
    EXPECT_EQ(textOf(plain.status(), 1306), "") << "an empty cell shows blank";
    EXPECT_EQ(enabledOf(plain.status(), 1308), false) << "no explanation, no troubleshooting";
    int explanation = 0;
    statusChanges(plain.entry, plain.paper, &explanation);
    EXPECT_EQ(explanation, 10334);
}

TEST(StatusTexts, OnlyTheInkjetInkRowTakesTheInkName)
{
    Printer ij05(2, 15, 12);
    ij05.entry.MessageFlag = 1;
    ij05.paper[kInkColourIndex] = 1;
    EXPECT_EQ(textOf(ij05.status(), 1306), "黒インクがありません。");
    Printer ij01(2, 9, 12);
    ij01.entry.MessageFlag = 1;
    ij01.paper[kInkColourIndex] = 2;
    EXPECT_EQ(textOf(ij01.status(), 1306), "カラーインクがありません。");
    ij01.paper[kInkColourIndex] = 77;  // no such ink: the name is left out, the text stays whole
    EXPECT_EQ(textOf(ij01.status(), 1306), "がありません。");
    Printer impact(1, 6, 12);
    impact.entry.MessageFlag = 1;
    impact.paper[kInkColourIndex] = 1;
    EXPECT_EQ(textOf(impact.status(), 1306), "インクがありません。");
}

TEST(StatusTexts, TheGuideButtonNeedsAnInkAlertOnAGuideModel)
{
    Printer ij11(2, 17, 12);
    ij11.entry.AlertCategory = 5;
    EXPECT_EQ(enabledOf(ij11.status(), 1339), true);
    ij11.entry.AlertCategory = 6;
    EXPECT_EQ(enabledOf(ij11.status(), 1339), true);
    ij11.entry.AlertCategory = 4;
    EXPECT_EQ(enabledOf(ij11.status(), 1339), false);
    Printer ij09(2, 3, 12);
    ij09.entry.AlertCategory = 5;
    EXPECT_EQ(enabledOf(ij09.status(), 1339), false);
    EXPECT_EQ(enabledOf(Printer(0, 0).status(), 1339), std::nullopt) << "page printers have no guide button";
}

TEST(StatusTexts, PicturesComeFromTheModelsSet)
{
    EXPECT_EQ(pictureOf(Printer(0, 18, 2, 3).status(), 1305), 403);
    EXPECT_EQ(pictureOf(Printer(0, 20, 2, 5).status(), 1305), 485);
    EXPECT_EQ(pictureOf(Printer(1, 12, 2, 6).status(), 1305), 506);
    EXPECT_EQ(pictureOf(Printer(2, 10, 2, 8).status(), 1305), 498);
}

TEST(StatusTexts, IndexesOutOfRangeLeaveTheControlsAsTheyWere)
{
    Printer picture(1, 6, 2, 6);  // DM-02 has six pictures
    EXPECT_EQ(pictureOf(picture.status(), 1305), std::nullopt);
    EXPECT_EQ(textOf(picture.status(), 1306), "印刷できます。");

    Printer message(0, 0, 41);
    EXPECT_TRUE(textOf(message.status(), 1306) == std::nullopt && textOf(message.status(), 1307) == std::nullopt);
    EXPECT_EQ(enabledOf(message.status(), 1308), std::nullopt);

    Printer model(0, 0);
    model.entry.ModelCode = 21;
    EXPECT_EQ(pictureOf(model.status(), 1305), std::nullopt);
    EXPECT_EQ(textOf(model.status(), 1306), "印刷できます。");

    Printer family(0, 0);
    family.entry.PrinterFamily = 7;
    EXPECT_EQ(textOf(family.status(), 1306), std::nullopt);
    EXPECT_TRUE(paperVisibility(7, family.paper).empty());
    EXPECT_TRUE(paperTexts(family.entry, family.paper).empty());
}

TEST(PaperRows, PagePrinterCassettesAreNumberedOnlyWhenThereAreSeveral)
{
    Printer two(0, 0);
    two.paper[kCassetteSize] = 8;
    two.paper[kCassetteSize + 1] = 7;
    Changes changes = paperTexts(two.entry, two.paper);
    EXPECT_EQ(textOf(changes, 1312), "ｶｾｯﾄ1");
    EXPECT_EQ(textOf(changes, 1313), "ｶｾｯﾄ2");
    EXPECT_EQ(textOf(changes, 1316), "A4");
    EXPECT_EQ(textOf(changes, 1317), "A3");
    EXPECT_EQ(textOf(changes, 1315), "不明") << "the tray's size is not known yet";

    Printer one(0, 1);
    EXPECT_EQ(textOf(paperTexts(one.entry, one.paper), 1312), "ｶｾｯﾄ");
    one.paper[kCassetteValid] = 0;
    changes = paperTexts(one.entry, one.paper);
    EXPECT_EQ(enabledOf(changes, 1316), false);
    EXPECT_EQ(textOf(changes, 1312), std::nullopt);

    Changes shown = paperVisibility(0, one.paper);
    EXPECT_EQ(visibleOf(shown, 1312), true);
    EXPECT_EQ(visibleOf(shown, 1313), false);
    EXPECT_EQ(visibleOf(shown, 1325), true) << "PG-01 has a photoconductor";
    EXPECT_EQ(visibleOf(paperVisibility(0, two.paper), 1325), false);
}

TEST(PaperRows, ImpactPrinterTractorBinsAndWidth)
{
    Printer dm01(1, 12);
    dm01.paper[kTractorKind] = 5;
    dm01.paper[kPaperWidth] = 10;
    Changes changes = paperTexts(dm01.entry, dm01.paper);
    EXPECT_EQ(textOf(changes, 1401), "ﾌﾛﾝﾄﾌﾟｯｼｭ/ﾌﾟﾙﾄﾗｸﾀ");
    EXPECT_EQ(textOf(changes, 1315), "連続紙 10 ｲﾝﾁ");
    EXPECT_EQ(textOf(changes, 1402), "ｶｯﾄｼｰﾄﾌｨｰﾀﾞ ﾌｧｰｽﾄﾋﾞﾝ");
    EXPECT_EQ(textOf(changes, 1403), "ｶｯﾄｼｰﾄﾌｨｰﾀﾞ ｾｶﾝﾄﾞﾋﾞﾝ");
    dm01.paper[kPaperWidth] = 0;
    dm01.paper[kTractorKind] = 4;
    changes = paperTexts(dm01.entry, dm01.paper);
    EXPECT_EQ(textOf(changes, 1315), "不明");
    EXPECT_EQ(textOf(changes, 1401), "ﾘｱﾌﾟｯｼｭ/ﾌﾟﾙﾄﾗｸﾀ");

    Printer dm02(1, 6);
    changes = paperTexts(dm02.entry, dm02.paper);
    EXPECT_EQ(textOf(changes, 1401), "ﾌﾟｯｼｭﾄﾗｸﾀ");
    EXPECT_EQ(textOf(changes, 1402), "ｶｯﾄｼｰﾄﾌｨｰﾀﾞ") << "one bin has no suffix";

    Printer dm04(1, 7);  // its tractor row is hidden
    EXPECT_EQ(visibleOf(paperTexts(dm04.entry, dm04.paper), 1315), false);
    Printer bare(1, 6);
    bare.paper[kTractorExists] = bare.paper[kBinCount] = 0;
    Changes shown = paperVisibility(1, bare.paper);
    EXPECT_EQ(visibleOf(shown, 1309), false) << "nothing to show: the whole group goes";
    bare.paper[kManualFeedExists] = 1;
    EXPECT_EQ(visibleOf(paperVisibility(1, bare.paper), 1309), true);
}

TEST(PaperRows, LevelsPickTheirPictureAndIgnoreBandsOutOfRange)
{
    Printer ink(2, 3);
    // Until the printer tells its ink, neither cartridge passes for empty, in picture or in words.
    Changes changes = levelPictures(2, ink.paper);
    EXPECT_EQ(pictureOf(changes, 1501), 216);
    EXPECT_EQ(pictureOf(changes, 1502), 226);
    EXPECT_EQ(textOf(levelTexts(2, ink.paper), 1502), "残量 不明");
    ink.paper[kColorLevel] = 0;
    ink.paper[kBlackLevel] = 100;
    ink.paper[kColorBand] = 0;
    ink.paper[kBlackBand] = 5;
    changes = levelPictures(2, ink.paper);
    EXPECT_EQ(pictureOf(changes, 1501), 210);
    EXPECT_EQ(pictureOf(changes, 1502), 225);
    EXPECT_EQ(textOf(levelTexts(2, ink.paper), 1501), "残量 0/5");
    ink.paper[kColorBand] = 6;
    ink.paper[kBlackValid] = 0;
    changes = levelPictures(2, ink.paper);
    EXPECT_EQ(pictureOf(changes, 1501), std::nullopt);
    EXPECT_EQ(pictureOf(changes, 1502), std::nullopt);

    Printer page(0, 19);
    page.paper[kTrayBand] = 4;
    page.paper[kTonerBand] = 2;
    page.paper[kPhotoBand] = -1;
    changes = levelPictures(0, page.paper);
    EXPECT_EQ(pictureOf(changes, 1320), 204);
    EXPECT_EQ(pictureOf(changes, 1324), 202);
    EXPECT_EQ(pictureOf(changes, 1321), 200);
    EXPECT_EQ(pictureOf(changes, 1327), std::nullopt);
    EXPECT_TRUE(levelPictures(1, page.paper).empty()) << "impact printers show no levels";
}

TEST(PaperRows, PresetsFollowTheModel)
{
    Printer pg06(0, 20);
    EXPECT_EQ(pg06.paper[kCassetteCount], 3);
    EXPECT_EQ(pg06.paper[kPhotoCount], 0);
    EXPECT_EQ(pg06.information[1], 1) << "duplex";
    EXPECT_EQ(pg06.information[41], 2);
    Printer pg01(0, 1);
    EXPECT_EQ(pg01.paper[kPhotoCount], 1);
    EXPECT_EQ(pg01.information[1], 0);
    EXPECT_EQ(pg01.information[34], 1);
    Printer dm01(1, 12);
    EXPECT_EQ(dm01.paper[kBinCount], 2);
    EXPECT_EQ(dm01.paper[kBinSize + 1], kUnknownSize);
    Printer ij(2, 13);
    EXPECT_EQ(ij.paper[kColorCount] + ij.paper[kBlackCount], 2);
    Printer unknown(0, 99);
    EXPECT_EQ(std::count(std::begin(unknown.paper), std::end(unknown.paper), 0), kPaperWords - 8);
}

TEST(Header, LongTextsAreCutAtACharacterWithAnEllipsis)
{
    // Every character is as wide as its bytes: the test sees byte positions.
    const Measure bytes = [](std::string_view s) { return static_cast<int>(s.size()); };
    EXPECT_EQ(shortened("short", 10, bytes), "short");
    EXPECT_EQ(shortened("abcdefghijkl", 10, bytes), "abcdefg...");
    // "ﾌﾟﾘﾝﾀ" is three bytes a character: seven bytes of room keep two characters, not a half.
    EXPECT_EQ(shortened("ﾌﾟﾘﾝﾀﾌﾟﾘﾝﾀ", 10, bytes), "ﾌﾟ...");

    PrinterEntry entry{};
    std::strcpy(entry.PortName, "LPT1:");
    EXPECT_EQ(outputDestination(entry, 40, bytes), "LPT1:");
    std::strcpy(entry.OriginalPortName, "\\\\SERVER\\QUEUE");
    entry.NetworkResolved = 1;
    EXPECT_EQ(outputDestination(entry, 40, bytes), "\\\\SERVER\\QUEUE(LPT1:)");
    EXPECT_EQ(outputDestination(entry, 10, bytes), "\\\\SERVER\\Q\nUEUE(LP...");
    EXPECT_EQ(outputDestination(entry, 8, bytes), "\\\\SERVER\n\\QUEU...");

    // A name without its terminating zero is read to the end of its field, never beyond.
    std::memset(entry.PrinterName, 'A', sizeof entry.PrinterName);
    EXPECT_EQ(fieldText(entry.PrinterName).size(), sizeof entry.PrinterName);
}
