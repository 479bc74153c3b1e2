// The PPD reader of the CUPS spooler: the few keywords it takes, in the encodings PPDs come in, and
// what it makes of lines and values that are not what it expects.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "plat/spool/ppd_facts.h"

using plat::spool::PpdFacts;

namespace {

PpdFacts read(std::string text)
{
    std::FILE* file = ::fmemopen(text.data(), text.size(), "r");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return {};
    PpdFacts facts = plat::spool::parsePpd(file);
    std::fclose(file);
    return facts;
}

}  // namespace

TEST(PpdFacts, OurKeywordsAreTakenQuotedOrBare)
{
    const PpdFacts facts = read(
        "*PPD-Adobe: \"4.3\"\n*NickName: \"VELTA PG-03\"\n*VELTADriverFile: KDRV01.DRV\r\n"
        "*VELTALanguageMonitor: \"VELTA KMON01 Language Monitor\"\n"
        "*VELTALanguageMonitorFile: \"KMON01.DLL\"\n*DefaultResolution: 360dpi\n");
    EXPECT_EQ(facts.nickName, "VELTA PG-03");
    EXPECT_EQ(facts.driverFile, "KDRV01.DRV");
    EXPECT_EQ(facts.monitor, "VELTA KMON01 Language Monitor");
    EXPECT_EQ(facts.monitorFile, "KMON01.DLL");
    EXPECT_EQ(facts.quality, 360);
    EXPECT_TRUE(facts.ours());
}

TEST(PpdFacts, LatinOneTextsBecomeUtf8AndUtf8StaysAsItIs)
{
    EXPECT_EQ(read("*NickName: \"Caf\xe9\"\n").nickName, "Caf\xc3\xa9");
    EXPECT_EQ(read("*NickName: \"Caf\xc3\xa9\"\n").nickName, "Caf\xc3\xa9");
}

TEST(PpdFacts, ValuesOverSeveralLinesAndOverlongLinesAreNotTaken)
{
    const PpdFacts facts = read("*NickName: \"VELTA\nPG-03\"\n*Comment: " + std::string(3000, 'x') +
                                "\n*VELTADriverFile: \"KDRV01.DRV\"\n");
    EXPECT_EQ(facts.nickName, "");
    EXPECT_EQ(facts.driverFile, "KDRV01.DRV") << "the line after an overlong one is read";
    EXPECT_FALSE(read("*NickName: \"Other\"\n").ours());
}

TEST(PpdFacts, AResolutionThatIsNoNumberOrDoesNotFitIsNotKnown)
{
    EXPECT_EQ(read("*DefaultResolution: 600x600dpi\n").quality, 600);
    EXPECT_EQ(read("*DefaultResolution: dpi\n").quality, 0);
    // Once read as -1, the draft quality, and a number whose magnitude could not be taken.
    EXPECT_EQ(read("*DefaultResolution: 99999999999999999999dpi\n").quality, 0);
    EXPECT_EQ(read("*DefaultResolution: -2147483648dpi\n").quality, 0);
}
