// The printer information page: the lines each category shows for a fixture of the information and paper
// blocks, and the page's lists built from template 1600 over a fake window.

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "info_page.h"
#include "info_widget.h"
#include "templates.h"
#include "watchpanel/status_page.h"

using namespace watchpanel;
namespace ic = watchpanel::info_control;
using Lines = std::vector<std::string>;

namespace {

// A page printer with two resolutions, duplex, two card slots (a font card and an IC card), one fitted
// interface of two, 4 megabytes, a fitted tray at 80 % and two cassettes of which the second is fitted.
struct Blocks {
    Blocks()
    {
        for (int n : {0, 1, 2, 3, 4, 5, 6, 7}) information[n] = 1;
        information[10] = 2;
        information[33] = 1;
        information[34] = 2;
        information[36] = 3;
        information[37] = 10;
        information[41] = 2;
        information[43] = 1;
        information[44] = 0;
        information[48] = 4096;
        paper[0] = 1;
        paper[1] = 1;
        paper[3] = 80;
        paper[6] = 2;
        paper[7] = 0;
        paper[8] = 1;
        paper[15] = 10;
        paper[16] = 50;
    }
    std::int32_t information[kInformationWords] = {};
    std::int32_t paper[kPaperWords] = {};
};

class InfoLines : public ::testing::Test {
protected:
    Lines lines(int category)
    {
        InfoSources sources;
        sources.information = blocks.information;
        sources.paper = blocks.paper;
        sources.readEntry = [this] { return entryReadable; };
        sources.cardName = [this](int slot) { return slot < static_cast<int>(cards.size()) ? cards[slot] : ""; };
        return infoDetailLines(category, sources);
    }
    Blocks blocks;
    bool entryReadable = true;
    std::vector<std::string> cards = {"", "ｶｰﾄﾞ社内様式"};
};

TEST_F(InfoLines, CategoriesListThoseThePrinterReports)
{
    EXPECT_EQ(infoCategoryItems(blocks.information, 10),
              (Lines{"解像度\t0", "両面印刷\t1", "ﾌｫﾝﾄｶｰﾄﾞの装着情報\t2", "ｵﾌﾟｼｮﾝｲﾝﾀｰﾌｪｲｽの情報\t3",
                     "ﾒﾓﾘに関する情報\t4", "給紙装置の装着情報\t5", "ﾄﾚｲ,ｶｾｯﾄの情報\t6", "ICｶｰﾄﾞの情報\t7"}));
    EXPECT_EQ(infoCategoryItems(blocks.information, 2), (Lines{"解像度\t0", "両面印刷\t1"}));
    EXPECT_TRUE(infoCategoryItems(blocks.information, 0).empty());
}

TEST_F(InfoLines, ResolutionDuplexMemoryAndInterfaces)
{
    EXPECT_EQ(lines(0), (Lines{"はやい", "きれい"}));
    EXPECT_EQ(lines(1), Lines{"サポートされています。"});
    // The format's space and the unit's own leading space.
    EXPECT_EQ(lines(4), Lines{"4194304  ｷﾛﾊﾞｲﾄ"});
    EXPECT_EQ(lines(3), (Lines{"ｽﾛｯﾄ1  装着されています。", "ｽﾛｯﾄ2  装着されていません。"}));
    EXPECT_TRUE(lines(10).empty());
    EXPECT_TRUE(lines(-1).empty());
}

TEST_F(InfoLines, FontCardsAndIcCards)
{
    EXPECT_EQ(lines(2), (Lines{"ｽﾛｯﾄA　丸ゴシック体", "ｽﾛｯﾄB　装着されていません。"}));
    EXPECT_EQ(lines(9), (Lines{"(A)　丸ゴシック体", "(B)　装着されていません。"}));
    // Slot A holds a font card, not an IC card; slot B's IC card has its name in the store.
    EXPECT_EQ(lines(7), (Lines{"ｽﾛｯﾄA　装着されていません。", "ｽﾛｯﾄB　ｶｰﾄﾞ社内様式"}));
    EXPECT_EQ(lines(8), (Lines{"(A)　装着されていません。", "(B)　ｶｰﾄﾞ社内様式"}));
    // An IC card whose store name is empty.
    cards = {"", ""};
    EXPECT_EQ(lines(7)[1], "ｽﾛｯﾄB　装着されていません。");
    entryReadable = false;
    EXPECT_TRUE(lines(7).empty());
}

TEST_F(InfoLines, FeedersAndPaperLevels)
{
    EXPECT_EQ(lines(5), (Lines{"用紙トレイ　  装着されています。", "用紙カセット1 装着されていません。",
                               "用紙カセット2 装着されています。"}));
    EXPECT_EQ(lines(6), (Lines{"用紙トレイ　  用紙残量は80％です。", "用紙カセット2 用紙残量は50％です。"}));
    // One cassette: no number, two spaces before the sentence.
    blocks.paper[6] = 1;
    blocks.paper[7] = 1;
    blocks.paper[1] = 0;
    EXPECT_EQ(lines(6), Lines{"用紙カセット  用紙残量は10％です。"});
    EXPECT_EQ(lines(5), (Lines{"用紙トレイ　  装着されていません。", "用紙カセット  装着されています。"}));
}

TEST_F(InfoLines, ValuesOutsideTheirTablesNeverReadBeyondTheBlocksOrBorrowOtherTexts)
{
    blocks.information[33] = 5;       // no duplex text of that number
    blocks.information[34] = 100000;  // more card slots than the block has words for
    blocks.information[36] = 42;      // an unknown card kind
    blocks.information[41] = -3;
    blocks.paper[6] = 1000;
    EXPECT_EQ(lines(1), Lines{""});
    EXPECT_EQ(lines(2).size(), 5u);
    EXPECT_EQ(lines(2)[0], "ｽﾛｯﾄA　装着されていません。");
    EXPECT_TRUE(lines(3).empty());
    EXPECT_EQ(lines(5).size(), 4u);
}

class FakeWindow : public InfoHost {
public:
    const std::int32_t* informationBlock() const override { return blocks.information; }
    const std::int32_t* paperBlock() const override { return blocks.paper; }
    int informationCategoryCount() const override { return categories; }
    bool readEntry(PrinterEntry& e) override
    {
        e = PrinterEntry{};
        std::strcpy(e.PrinterName, "Laser 2F");
        return true;
    }
    std::string icCardName(const std::string& printer, int slot) override
    {
        asked.push_back(printer + "#" + std::to_string(slot));
        return "ｶｰﾄﾞ" + std::to_string(slot);
    }
    Blocks blocks;
    int categories = 10;
    std::vector<std::string> asked;
};

QStringList texts(QListWidget* list)
{
    QStringList shown;
    for (int i = 0; i < list->count(); ++i) shown << list->item(i)->text();
    return shown;
}

TEST(InfoPage, TheListsShowTheCategoriesAndTheSelectedOnesLines)
{
    FakeWindow window;
    InfoWidget info(window);
    std::unique_ptr<QWidget> page = loadTemplate(1600);
    ASSERT_NE(page, nullptr);
    info.attach(page.get());
    info.pageSelected();
    auto* categories = page->findChild<QListWidget*>(QStringLiteral("c%1").arg(ic::kCategories));
    auto* details = page->findChild<QListWidget*>(QStringLiteral("c%1").arg(ic::kDetails));
    ASSERT_NE(categories, nullptr);
    ASSERT_NE(details, nullptr);
    auto* label = page->findChild<QLabel*>(QStringLiteral("c%1").arg(ic::kListLabel));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromUtf8("情報ﾘｽﾄ(&L) :"));
    EXPECT_EQ(label->buddy(), categories);
    EXPECT_EQ(categories->count(), 8);
    EXPECT_EQ(categories->currentRow(), 0);
    EXPECT_EQ(texts(details), (QStringList{QString::fromUtf8("はやい"), QString::fromUtf8("きれい")}));

    categories->setCurrentRow(7);
    EXPECT_EQ(texts(details),
              (QStringList{QString::fromUtf8("ｽﾛｯﾄA　装着されていません。"), QString::fromUtf8("ｽﾛｯﾄB　ｶｰﾄﾞ1")}));
    EXPECT_EQ(window.asked, std::vector<std::string>{"Laser 2F#1"});
    // The lines are as wide as the widest and one character more, so the list scrolls to see them all.
    const QFontMetrics metrics(details->font());
    EXPECT_GE(details->item(0)->sizeHint().width(), metrics.horizontalAdvance(details->item(0)->text()));

    // Selected again, the page starts from the first category; a printer without categories lists none.
    info.pageSelected();
    EXPECT_EQ(categories->currentRow(), 0);
    EXPECT_EQ(details->count(), 2);
    window.blocks.information[0] = 0;
    info.pageSelected();
    EXPECT_EQ(categories->item(0)->text().section('\t', 0, 0), QString::fromUtf8("両面印刷"));
    EXPECT_EQ(texts(details), QStringList{QString::fromUtf8("サポートされています。")});
}

}  // namespace
