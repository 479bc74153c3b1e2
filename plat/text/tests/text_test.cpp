#include "plat/text/text.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testsupport/temp_root.h"

using namespace plat::text;

namespace {

struct CutCase {
    const char* name;
    std::string text;
    std::size_t limit;
    std::size_t expected;
};

// "ｹ" (U+FF79) is 3 bytes, "é" 2 bytes, "𝄞" 4 bytes in UTF-8.
const CutCase kCuts[] = {
    {"ASCII is cut at the limit", "abcdef", 4, 4},
    {"a limit beyond the text keeps it whole", "abc", 10, 3},
    {"a cut inside a three-byte character goes before it", "ab\xEF\xBD\xB9", 4, 2},
    {"a cut right after a character keeps it", "ab\xEF\xBD\xB9", 5, 5},
    {"a cut inside a two-byte character goes before it", "\xC3\xA9\xC3\xA9", 3, 2},
    {"a cut inside a four-byte character goes before it", "x\xF0\x9D\x84\x9E", 4, 1},
    {"a stray continuation byte counts as a character",
     "a\x80"
     "b",
     2, 2},
    {"a sequence cut short by the text's end counts byte by byte", "a\xEF\xBD", 2, 2},
    {"limit zero gives nothing", "abc", 0, 0},
};

class CutAtBoundary : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutAtBoundary, NeverSplitsACharacter)
{
    const auto& c = GetParam();
    EXPECT_EQ(boundaryAtOrBefore(c.text, c.limit), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Text, CutAtBoundary, ::testing::ValuesIn(kCuts), [](const auto& info) {
    std::string name = info.param.name;
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

}  // namespace

TEST(Text, LeadBytesAreTheStartsOfMultiByteCharacters)
{
    EXPECT_FALSE(isLeadByte('A'));
    EXPECT_FALSE(isLeadByte(0x80));  // continuation
    EXPECT_FALSE(isLeadByte(0xC0));  // never valid in UTF-8
    EXPECT_TRUE(isLeadByte(0xC3));
    EXPECT_TRUE(isLeadByte(0xEF));
    EXPECT_TRUE(isLeadByte(0xF0));
    EXPECT_FALSE(isLeadByte(0xF5));
    EXPECT_EQ(characterLength("\xEF\xBD\xB9"), 3u);
    EXPECT_EQ(characterLength("\xEF"
                              "A"),
              1u)
        << "a malformed sequence is one byte at a time";
}

TEST(Text, CopyBoundedTerminatesAndKeepsCharactersWhole)
{
    char buffer[5];
    EXPECT_EQ(copyBounded(buffer, sizeof buffer, "ab\xEF\xBD\xB9"), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(copyBounded(buffer, sizeof buffer, "abcd"), 4u);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(copyBounded(buffer, 0, "abcd"), 0u);
}

TEST(Text, WholeStringComparisons)
{
    EXPECT_TRUE(equalWholeIgnoringCase("LPT1:", "lpt1:"));
    EXPECT_FALSE(equalWholeIgnoringCase("LPT1:", "LPT1"));
    EXPECT_FALSE(equalWhole("LPT1:", "lpt1:"));
    EXPECT_TRUE(equalWhole("LPT1:", "LPT1:"));
    EXPECT_TRUE(equalWholeIgnoringCase("ﾌﾟﾘﾝﾀ A", "ﾌﾟﾘﾝﾀ a"));
    EXPECT_LT(compareIgnoringCase("10", "2"), 0) << "numbers compare as text";
    EXPECT_LT(compareIgnoringCase("-1", "0"), 0);
    EXPECT_LT(compareIgnoringCase("abc", "ABCD"), 0);
    EXPECT_EQ(compareIgnoringCase("Name", "nAME"), 0);
}

class ProfileInt : public testsupport::RootTest {
protected:
    std::filesystem::path write(const std::string& text)
    {
        auto file = root.path() / "qspool3.ini";
        std::ofstream(file) << text;
        return file;
    }
};

TEST_F(ProfileInt, ReadsTheKeyOfItsSectionIgnoringCase)
{
    auto file = write("[Other]\nLPT1:=7\n\n[ports]\r\n ; a comment\r\n lpt1: = 1 \r\nLPT2:=0x1F\r\n");
    EXPECT_EQ(readProfileInt(file, "Ports", "LPT1:", 99), 1);
    EXPECT_EQ(readProfileInt(file, "PORTS", "LPT2:", 99), 31);
    EXPECT_EQ(readProfileInt(file, "Other", "LPT1:", 99), 7);
}

TEST_F(ProfileInt, GivesTheFallbackForAMissingFileSectionOrKey)
{
    auto file = write("[Ports]\nLPT1:=1\n");
    EXPECT_EQ(readProfileInt(root.path() / "missing.ini", "Ports", "LPT1:", 5), 5);
    EXPECT_EQ(readProfileInt(file, "Nope", "LPT1:", 5), 5);
    EXPECT_EQ(readProfileInt(file, "Ports", "LPT3:", 5), 5);
}

TEST_F(ProfileInt, ReadsLeadingDigitsOnly)
{
    auto file = write("[S]\na=12abc\nb=abc\nc=-4\nd=\n");
    EXPECT_EQ(readProfileInt(file, "S", "a", 9), 12);
    EXPECT_EQ(readProfileInt(file, "S", "b", 9), 0);
    EXPECT_EQ(readProfileInt(file, "S", "c", 9), -4);
    EXPECT_EQ(readProfileInt(file, "S", "d", 9), 0);
}

TEST(Text, FileNamePatternsIgnoreCase)
{
    EXPECT_TRUE(matchesPatternIgnoringCase("KSW1A2B.LNK", "ksw*.lnk"));
    EXPECT_TRUE(matchesPatternIgnoringCase("ksw1a2b.tmp", "KSW*.TMP"));
    EXPECT_TRUE(matchesPatternIgnoringCase("ksw.lnk", "ksw*.lnk")) << "the star may stand for nothing";
    EXPECT_FALSE(matchesPatternIgnoringCase("KSW1.LNK.bak", "ksw*.lnk"));
    EXPECT_FALSE(matchesPatternIgnoringCase("xksw1.lnk", "ksw*.lnk"));
    EXPECT_TRUE(matchesPatternIgnoringCase("KSWa.lnk.lnk", "ksw*.lnk")) << "back-tracks past an early match";
    EXPECT_TRUE(matchesPatternIgnoringCase("KSW1.TMP", "ksw?.tmp"));
    EXPECT_FALSE(matchesPatternIgnoringCase("KSW12.TMP", "ksw?.tmp"));
}
