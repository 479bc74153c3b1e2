#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <QDir>

#include <set>
#include <string>

using kestrel::StringTable;

namespace {

StringTable table(const std::string& file) { return StringTable::load(":/strings/" + file); }

std::string textOf(const std::string& file, int number) { return table(file).text(number).value_or("<missing>"); }

}  // namespace

// --- The reader's rules ---------------------------------------------------------------------------

TEST(StringTableReader, TurnsEscapesIntoBytes)
{
    const StringTable t = StringTable::parse(
        "1\tﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ(\\x1eT\\x1fﾄ)...\n"
        "2\tfirst  \\r\\nsecond\n"
        "3\ta\\\\b\\tc\\x41\n");
    EXPECT_EQ(t.badLines(), 0);
    EXPECT_EQ(t.text(1), "ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ(\x1eT\x1fﾄ)...");
    EXPECT_EQ(t.text(2), "first  \r\nsecond");
    EXPECT_EQ(t.text(3), "a\\b\tcA");
}

TEST(StringTableReader, SingleSpaceIsEmptyButOtherSpacesStay)
{
    const StringTable t = StringTable::parse("1\t \n2\t ﾌｧｰｽﾄﾋﾞﾝ\n3\t  \n4\t\n5\tend \n");
    EXPECT_EQ(t.text(1), "");
    EXPECT_EQ(t.text(2), " ﾌｧｰｽﾄﾋﾞﾝ");
    EXPECT_EQ(t.text(3), "  ");
    EXPECT_EQ(t.text(4), "");
    EXPECT_EQ(t.text(5), "end ");
    EXPECT_TRUE(t.contains(1));
}

TEST(StringTableReader, MissingNumberGivesNothing)
{
    const StringTable t = StringTable::parse("10\tten\n");
    EXPECT_EQ(t.text(10), "ten");
    EXPECT_EQ(t.text(11), std::nullopt);
    EXPECT_FALSE(t.contains(11));
    EXPECT_EQ(StringTable().text(10), std::nullopt);
}

TEST(StringTableReader, AcceptsCrLfByteOrderMarkBlankLinesAndNoFinalNewline)
{
    const StringTable t = StringTable::parse(
        "\xEF\xBB\xBF"
        "1\tone\r\n\n2\ttwo\r\n3\tthree");
    EXPECT_EQ(t.badLines(), 0);
    EXPECT_EQ(t.size(), 3u);
    EXPECT_EQ(t.text(1), "one");
    EXPECT_EQ(t.text(2), "two");
    EXPECT_EQ(t.text(3), "three");
}

TEST(StringTableReader, SkipsBadLinesAndKeepsTheGoodOnes)
{
    const StringTable t = StringTable::parse(
        "1\tgood\n"
        "no tab here\n"
        "x2\tletters\n"
        "3a\ttrailing letter\n"
        "-4\tnegative\n"
        "\tno number\n"
        "99999999999\ttoo large\n"
        "1\tsecond one\n"
        "5\tunknown \\q escape\n"
        "6\tshort \\x4\n"
        "7\tnul \\x00\n"
        "8\tends in a backslash \\\n"
        "9\tnot utf-8 \\xff\n"
        "10\traw \xC3\n"
        "11\talso good\n");
    EXPECT_EQ(t.badLines(), 13);
    EXPECT_EQ(t.size(), 2u);
    EXPECT_EQ(t.text(1), "good");  // the first of two equal numbers stays
    EXPECT_EQ(t.text(11), "also good");
    for (int n : {3, 4, 5, 6, 7, 8, 9, 10}) {
        EXPECT_EQ(t.text(n), std::nullopt) << n;
    }
}

TEST(StringTableReader, ARawZeroByteIsABadLineAsAnEscapedOneIs)
{
    using namespace std::string_view_literals;
    const StringTable t = StringTable::parse("1\tbefore\0after\n2\t\x1e\0\0A\x1f\n3\tgood\n"sv);
    EXPECT_EQ(t.badLines(), 2);
    EXPECT_EQ(t.text(1), std::nullopt);
    EXPECT_EQ(t.text(2), std::nullopt);
    EXPECT_EQ(t.text(3), "good");
}

TEST(StringTableReader, MissingResourceGivesAnEmptyTable)
{
    const StringTable t = StringTable::load(":/strings/no_such_table.txt");
    EXPECT_EQ(t.size(), 0u);
    EXPECT_EQ(t.text(10000), std::nullopt);
}

// --- The compiled-in tables -----------------------------------------------------------------------

TEST(StringTables, EveryTableLoadsWithoutABadLine)
{
    const QStringList files = QDir(":/strings").entryList(QDir::Files);
    std::set<std::string> names;
    for (const QString& file : files) {
        names.insert(file.toStdString());
        const StringTable t = table(file.toStdString());
        EXPECT_EQ(t.badLines(), 0) << file.toStdString();
        EXPECT_GT(t.size(), 0u) << file.toStdString();
    }
    const std::set<std::string> expected{
        "main_window.txt",   "status_page.txt",         "status_page_rom.txt",     "status_impact.txt",
        "status_inkjet.txt", "status_inkjet_11000.txt", "status_inkjet_11300.txt", "status_inkjet_11600.txt",
        "ink_names.txt",     "paper_sizes.txt",         "paper_sources.txt",       "ink_guide.txt",
        "alert_names.txt",   "alert_sounds.txt",        "info_categories.txt",     "info_details.txt",
        "window_texts.txt"};
    EXPECT_EQ(names, expected);
}

TEST(StringTables, NoNumberIsInTwoTables)
{
    std::set<int> seen;
    for (const QString& file : QDir(":/strings").entryList(QDir::Files)) {
        const StringTable t = table(file.toStdString());
        for (int n = 0; n < 30000; ++n) {
            if (t.contains(n)) {
                EXPECT_TRUE(seen.insert(n).second) << n << " again in " << file.toStdString();
            }
        }
    }
}

TEST(StringTables, EachStatusTableHasEveryRowInAllThreeColumns)
{
    struct Family {
        const char* file;
        int base;
        int rows;
    };
    for (const Family& f : {Family{"status_page.txt", 10100, 41}, Family{"status_page_rom.txt", 11900, 41},
                            Family{"status_impact.txt", 10400, 20}, Family{"status_inkjet.txt", 10700, 20},
                            Family{"status_inkjet_11000.txt", 11000, 20}, Family{"status_inkjet_11300.txt", 11300, 20},
                            Family{"status_inkjet_11600.txt", 11600, 20}}) {
        const StringTable t = table(f.file);
        EXPECT_EQ(t.size(), static_cast<std::size_t>(3 * f.rows)) << f.file;
        for (int column = 0; column < 3; ++column) {
            for (int row = 0; row < f.rows; ++row) {
                EXPECT_TRUE(t.contains(f.base + 100 * column + row)) << f.file << " " << f.base + 100 * column + row;
            }
        }
    }
}

TEST(StringTables, PagePrinterMessages)
{
    EXPECT_EQ(textOf("status_page.txt", 10100), "プリンタから未定義のステータスを受け取りました。");
    EXPECT_EQ(textOf("status_page.txt", 10101), "通信エラーが発生しました。");
    EXPECT_EQ(textOf("status_page.txt", 10201), "ケーブル，電源の状態を確認してください。");
    EXPECT_EQ(textOf("status_page.txt", 10102), "印刷できます。");
    EXPECT_EQ(textOf("status_page.txt", 10202), "");
    EXPECT_EQ(textOf("status_page.txt", 10134), "");
    EXPECT_EQ(textOf("status_page.txt", 10334), "");
    EXPECT_EQ(textOf("status_page.txt", 10140), "サービスコールエラーが発生しました。");
    EXPECT_EQ(textOf("status_page.txt", 10340),
              "再度このメッセージが表示された場合は、ディスプレイの表示を書き写し、販売店またはヴェルタ販売にご連絡くだ"
              "さい。");
}

TEST(StringTables, PagePrinterVariantDiffersOnlyWhereItSays)
{
    const StringTable plain = table("status_page.txt");
    const StringTable rom = table("status_page_rom.txt");
    EXPECT_EQ(rom.text(11934), "排紙部で紙づまりが発生しました。");
    EXPECT_EQ(rom.text(12034), "つまった用紙を取り除いてください。");
    EXPECT_EQ(rom.text(11907), "ROMモジュールまたはICカードにデータを書き込み中です。");
    EXPECT_EQ(rom.text(12027), "電源をオフにして、正しいROMモジュールまたはICカードに交換してください。");
    const std::set<int> changed{11907, 11914, 11927, 11928, 11929, 11934, 11938,
                                12014, 12027, 12029, 12034, 12114, 12129, 12134};
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 41; ++row) {
            const int n = 11900 + 100 * column + row;
            if (!changed.contains(n)) {
                EXPECT_EQ(rom.text(n), plain.text(10100 + 100 * column + row)) << n;
            }
        }
    }
}

TEST(StringTables, ImpactAndInkjetMessages)
{
    EXPECT_EQ(textOf("status_impact.txt", 10400), "予期せぬエラーが発生しました。");
    EXPECT_EQ(textOf("status_impact.txt", 10402), "印刷できます。");
    EXPECT_EQ(textOf("status_impact.txt", 10412), "インクがありません。");
    EXPECT_EQ(textOf("status_impact.txt", 10406), "");
    EXPECT_EQ(textOf("status_inkjet.txt", 10712), "%sがありません。");
    EXPECT_EQ(textOf("status_inkjet.txt", 10702), "印刷できます。");
    EXPECT_EQ(textOf("status_inkjet_11300.txt", 11312), "%sがありません。");
    EXPECT_EQ(textOf("status_inkjet_11000.txt", 11111), "つまった用紙を取り除き、給紙／排紙スイッチを押してください。");
    EXPECT_EQ(textOf("status_inkjet_11300.txt", 11413),
              "給紙装置に用紙を正しくセットし、給紙／排紙スイッチを押してください。");
    EXPECT_EQ(
        textOf("status_inkjet_11600.txt", 11812),
        "当社指定の新しいインクカートリッジと交換してください。交換の手順ボタンを押すと、交換の手順を図示します。");
    // The 11600 table keeps the plain actions; the 11000 table the plain explanation.
    EXPECT_EQ(textOf("status_inkjet_11600.txt", 11711), "つまった用紙を取り除き、印刷可スイッチを押してください。");
    EXPECT_EQ(textOf("status_inkjet_11000.txt", 11212), "当社指定の新しいインクカートリッジと交換してください。");
    EXPECT_EQ(textOf("ink_names.txt", 19000), "インク");
    EXPECT_EQ(textOf("ink_names.txt", 19001), "黒インク");
    EXPECT_EQ(textOf("ink_names.txt", 19002), "カラーインク");
}

TEST(StringTables, TabsAndTheAboutItem)
{
    const StringTable t = table("main_window.txt");
    EXPECT_EQ(t.text(10000),
              "ﾊﾞｰｼﾞｮﾝ情報 (\x1e"
              "A\x1fﾊ)...");
    EXPECT_EQ(t.text(10010), "ｽﾃｰﾀｽ詳細");
    EXPECT_EQ(t.text(10011), "ﾌﾟﾘﾝﾀ情報");
    EXPECT_EQ(t.text(10012), "環境設定");
    EXPECT_EQ(t.text(10013), "ﾂｰﾙ");
    EXPECT_EQ(t.text(10020), "ｽﾃｰﾀｽ詳細");
    EXPECT_EQ(t.text(10021), "環境設定");
    EXPECT_EQ(t.text(10022), "ﾂｰﾙ");
}

TEST(StringTables, PaperSizesAndSources)
{
    const StringTable sizes = table("paper_sizes.txt");
    for (int index = 0; index <= 152; ++index) {
        EXPECT_TRUE(sizes.contains(17000 + index)) << index;
    }
    EXPECT_EQ(sizes.text(17000), "ﾚﾀｰ");
    EXPECT_EQ(sizes.text(17001), "ﾊｰﾌﾚﾀｰ");
    EXPECT_EQ(sizes.text(17002), "ﾀﾌﾞﾛｲﾄﾞ");
    EXPECT_EQ(sizes.text(17007), "A3");
    EXPECT_EQ(sizes.text(17008), "A4");
    EXPECT_EQ(sizes.text(17010), "A5");
    EXPECT_EQ(sizes.text(17011), "B4");
    EXPECT_EQ(sizes.text(17012), "B5");
    EXPECT_EQ(sizes.text(17042), "はがき");
    EXPECT_EQ(sizes.text(17047), "");
    EXPECT_EQ(sizes.text(17048), "");
    EXPECT_EQ(sizes.text(17117), "PRC Envelope #10 横");
    EXPECT_EQ(sizes.text(17118), "ﾊｶﾞｷ");
    EXPECT_EQ(sizes.text(17119), "ｶﾞﾊﾞｰﾒﾝﾄﾚﾀｰ");
    EXPECT_EQ(sizes.text(17120), "F4");
    EXPECT_EQ(sizes.text(17121), "A3ﾉﾋﾞ");
    EXPECT_EQ(sizes.text(17122), "連続紙");
    EXPECT_EQ(sizes.text(17150), "連続紙");
    EXPECT_EQ(sizes.text(17151), "ﾕｰｻﾞ定義ｻｲｽﾞ");
    EXPECT_EQ(sizes.text(17152), "不明");
    EXPECT_EQ(sizes.text(17153), std::nullopt);

    const StringTable sources = table("paper_sources.txt");
    EXPECT_EQ(sources.size(), 13u);
    EXPECT_EQ(sources.text(18000), "用紙ﾄﾚｲ");
    EXPECT_EQ(sources.text(18009), "ﾌﾟｯｼｭﾄﾗｸﾀ");
    EXPECT_EQ(sources.text(18010), "ﾘｱﾌﾟｯｼｭ/ﾌﾟﾙﾄﾗｸﾀ");
    EXPECT_EQ(sources.text(18011), "ﾌﾛﾝﾄﾌﾟｯｼｭ/ﾌﾟﾙﾄﾗｸﾀ");
    EXPECT_EQ(sources.text(18012), "ﾌﾟｯｼｭ/ﾌﾟﾙﾄﾗｸﾀ");
}

TEST(StringTables, InkGuideKeepsLineBreaksAndSpaces)
{
    const StringTable t = table("ink_guide.txt");
    EXPECT_EQ(t.size(), 13u);
    EXPECT_EQ(t.text(20008), "１．プリンタカバーを開けます。");
    EXPECT_EQ(t.text(20004), "１．［インクメンテナンス］スイッチを\r\n     ３秒間押したままにします。");
    EXPECT_EQ(t.text(20000),
              "１．［インクメンテナンス］スイッチ  \r\n    （黒の場合：上側、カラーの場合\r\n     "
              "：下側)を３秒間押したままにし  "
              "\r\n     ます。");
}

TEST(StringTables, AlertTypesOfEachFamily)
{
    const StringTable names = table("alert_names.txt");
    const StringTable sounds = table("alert_sounds.txt");
    // Rows 0..count-1 of each family, and nothing past them.
    const int counts[3] = {10, 7, 9};
    for (int family = 0; family < 3; ++family) {
        for (int row = 0; row <= counts[family]; ++row) {
            const bool inside = row < counts[family];
            EXPECT_EQ(names.contains(15000 + 100 * family + row), inside) << family << " " << row;
            EXPECT_EQ(sounds.contains(15300 + 100 * family + row), inside) << family << " " << row;
        }
    }
    EXPECT_EQ(names.text(15003), "用紙残量少");
    EXPECT_EQ(sounds.text(15303), "04PPRFEW.WAV");
    EXPECT_EQ(names.text(15105), "通信エラー");
    EXPECT_EQ(sounds.text(15406), "12ERROR.WAV");
    EXPECT_EQ(names.text(15205), "インク切れ");
    EXPECT_EQ(sounds.text(15506), "09INKFEW.WAV");
}

TEST(StringTables, InformationPageKeepsItsSpaces)
{
    const StringTable categories = table("info_categories.txt");
    EXPECT_EQ(categories.size(), 10u);
    EXPECT_EQ(categories.text(16000), "解像度");
    EXPECT_EQ(categories.text(16009), "ｵﾌﾟｼｮﾝﾌｫﾝﾄの装着情報");

    const StringTable details = table("info_details.txt");
    EXPECT_EQ(details.text(16100), "サポートされていません。");
    EXPECT_EQ(details.text(16102), "ｽﾛｯﾄA　");
    EXPECT_EQ(details.text(16112), "認識できないﾌｫﾝﾄ");
    EXPECT_EQ(details.text(16201), "ｽﾛｯﾄ1  ");
    EXPECT_EQ(details.text(16205), " ｷﾛﾊﾞｲﾄ");
    EXPECT_EQ(details.text(16206), "用紙トレイ　  ");
    EXPECT_EQ(details.text(16213), "(B)　");
    EXPECT_EQ(details.text(16200), std::nullopt);
}

TEST(DisplayText, MnemonicPairsBecomeQtMnemonicsOnCaptionsOnly)
{
    using kestrel::displayText;
    EXPECT_EQ(displayText("ﾊﾞｰｼﾞｮﾝ情報 (\x1e"
                          "A\x1fﾊ)...",
                          true),
              QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報 (&A)..."));
    EXPECT_EQ(displayText("ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ(\x1eT\x1fﾄ)...", false), QString::fromUtf8("ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ(T)..."));
    EXPECT_EQ(displayText("A & B", true), QStringLiteral("A && B"));
    EXPECT_EQ(displayText("A & B", false), QStringLiteral("A & B"));
    EXPECT_EQ(displayText("one\r\ntwo"), QStringLiteral("one\ntwo"));
    // A pair cut short keeps what there is and never reads beyond the text.
    EXPECT_EQ(displayText("(\x1eX", true), QStringLiteral("(&X"));
    EXPECT_EQ(displayText("\x1e", true), QString());
}

TEST(DisplayText, AMnemonicInsideAWordKeepsTheWord)
{
    using kestrel::displayText;
    const StringTable t = StringTable::parse("1\tStatus check \\&frequency\n2\tA\\&pply\n3\tend \\&\n");
    EXPECT_EQ(t.text(1),
              "Status check \x1e"
              "f\x1frequency");
    EXPECT_EQ(displayText(*t.text(1), true), QStringLiteral("Status check &frequency"));
    EXPECT_EQ(displayText(*t.text(1), false), QStringLiteral("Status check frequency"));
    EXPECT_EQ(displayText(*t.text(2), true), QStringLiteral("A&pply"));
    EXPECT_EQ(t.text(3), std::nullopt) << "a mark with no letter after it is a broken line";
    EXPECT_EQ(t.badLines(), 1);
    // The katakana letter of the system's own pairs still goes.
    EXPECT_EQ(displayText("更新(\x1eP\x1fｺ)", true), QString::fromUtf8("更新(&P)"));
}

TEST(StringTableReader, CommentLinesAreSkipped)
{
    const StringTable t = StringTable::parse("# what the table is for\n1\tone\n#2\ttwo\n");
    EXPECT_EQ(t.badLines(), 0);
    EXPECT_EQ(t.size(), 1u);
}

TEST(FillIn, PlacesTakeTheirArgumentsInTheTablesOrder)
{
    using kestrel::fillIn;
    EXPECT_EQ(fillIn("Step %1 of %2", {"1", "4"}), "Step 1 of 4");
    EXPECT_EQ(fillIn("%2 / %1", {"a", "b"}), "b / a");
    EXPECT_EQ(fillIn("%1%", {"60"}), "60%");
    EXPECT_EQ(fillIn("%3 and %s stay", {"x"}), "%3 and %s stay");
    EXPECT_EQ(fillIn("%1", {"%2"}), "%2") << "an argument is not read again";
}
