// The velta backend's reading of status replies, and its commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "status.h"

namespace {

using namespace velta;
using facts::Code;
using facts::model;

// A page printer's reply with `code` (four hexadecimal characters) and the toner byte at their
// places behind "STATUS CODE=".
std::string pageReply(const std::string& code, const std::string& toner = "50")
{
    std::string f(102, '0');
    f.replace(4, 4, code);
    f.replace(56, 2, toner);
    for (std::size_t paper : {60, 62, 64, 94}) f.replace(paper, 2, "FF");  // no paper levels reported
    return "@KJL STATUS CODE=" + f + "\r\n";
}

// Every condition the decoders know, with the reason it goes out as and its words: a standard keyword
// wherever one exists.
struct Case {
    const char* name;
    Code model;
    std::string reply, ink;
    std::set<std::string> reasons;
    const char* message;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string withPaper(std::string reply, std::size_t offset, const std::string& level)
{
    reply.replace(reply.find("CODE=") + 5 + offset, 2, level);
    return reply;
}

const Case kCases[] = {
    {"page ready", Code::PG03, pageReply("03E8"), "", {}, "Ready"},
    {"page printing", Code::PG03, pageReply("03EA"), "", {}, "Printing"},
    {"page warming up", Code::PG03, pageReply("03EE"), "", {}, "Warming up"},
    {"page off line", Code::PG03, pageReply("03E9"), "", {"offline-report"}, "Off line: the printer cannot print"},
    {"page toner low", Code::PG05, pageReply("07D1"), "", {"toner-low-warning"}, "Toner low"},
    {"page other warning", Code::PG05, pageReply("07D2"), "", {"com.velta-printer-warning"}, nullptr},
    {"page toner out", Code::PG05, pageReply("0FA1"), "", {"toner-empty-error"}, "Toner out"},
    {"page no toner cartridge", Code::PG05, pageReply("0FA0"), "", {"marker-supply-missing-error"}, nullptr},
    {"page cover open", Code::PG05, pageReply("0FA2"), "", {"cover-open-error"}, "Cover open"},
    {"page duplex cover open", Code::PG05, pageReply("0FAF"), "", {"door-open-error"}, nullptr},
    {"page paper out", Code::PG03, pageReply("0FAA"), "", {"media-empty-error"}, nullptr},
    {"page cassette not set", Code::PG03, pageReply("0FA7"), "", {"input-tray-missing-error"}, nullptr},
    {"page jam inside", Code::PG01, pageReply("0FA8"), "", {"media-jam-error"}, "Paper jam inside the printer"},
    {"page jam in the duplex unit", Code::PG01, pageReply("0FB1"), "", {"media-jam-error"}, nullptr},
    {"page paper size differs", Code::PG01, pageReply("0BBB"), "", {"media-needed-error"}, nullptr},
    {"page out of memory", Code::PG01, pageReply("0BB9"), "", {"com.velta-printer-error"}, "Out of memory"},
    {"page service call", Code::PG05, pageReply("1770"), "", {"com.velta-service-call-error"}, nullptr},
    {"page undefined code", Code::PG05, pageReply("0FA5"), "", {"com.velta-printer-error"}, nullptr},
    {"page tray empty while ready",
     Code::PG03,
     withPaper(pageReply("03E8"), 60, "00"),
     "",
     {"media-empty-warning"},
     "Paper out in the tray"},
    {"page cassette low while ready",
     Code::PG05,
     withPaper(pageReply("03E8"), 62, "14"),
     "",
     {"media-low-warning"},
     "Paper low in cassette 1"},
    {"page paper levels do not speak over a warning",
     Code::PG05,
     withPaper(pageReply("07D1"), 60, "00"),
     "",
     {"toner-low-warning"},
     "Toner low"},
    {"page printer ignores cassettes it does not have",
     Code::PG01,
     withPaper(pageReply("03E8"), 64, "00"),
     "",
     {},
     "Ready"},
    {"page reply without a status code", Code::PG03, "garbage", "", {"com.velta-status-unknown-warning"}, nullptr},
    {"page status code in lower case",
     Code::PG03,
     pageReply("03e8"),
     "",
     {"com.velta-status-unknown-warning"},
     nullptr},
    {"page reply cut short", Code::PG03, "@KJL STATUS CODE=00", "", {"com.velta-status-unknown-warning"}, nullptr},
    {"impact ready", Code::DM02, "@BDC ST\r\nST:04;CD:;", "", {}, "Ready"},
    {"impact printing", Code::DM02, "@BDC ST\r\nST:02;", "", {}, "Printing"},
    {"impact stopped", Code::DM02, "ST:05;", "", {"offline-report"}, "Printing stopped"},
    {"impact test printing", Code::DM02, "ST:01;TP:00;", "", {"com.velta-test-printing-report"}, "Test printing"},
    {"impact error", Code::DM02, "ST:00;ER:00;", "", {"com.velta-printer-error"}, "An error has occurred"},
    {"impact other interface", Code::DM02, "ST:00;ER:01;", "", {"com.velta-other-interface-warning"}, nullptr},
    {"impact cover open", Code::DM02, "ST:00;ER:02;", "", {"cover-open-error"}, "Cover open"},
    {"impact release lever", Code::DM02, "ST:00;ER:03;", "", {"com.velta-release-lever-error"}, nullptr},
    {"impact jam", Code::DM02, "ST:00;ER:04;", "", {"media-jam-error"}, "Paper jam"},
    {"impact ribbon out", Code::DM02, "ST:00;ER:05;", "", {"marker-supply-empty-error"}, "Ribbon out"},
    {"impact paper out", Code::DM02, "ST:00;ER:06;", "", {"media-empty-error"}, "Paper out or not set correctly"},
    {"impact panel setting", Code::DM02, "ST:00;ER:07;", "", {"com.velta-panel-setting-warning"}, nullptr},
    {"impact error without a code", Code::DM02, "ST:00;", "", {"com.velta-printer-error"}, nullptr},
    {"impact without a state", Code::DM02, "nothing", "", {"com.velta-status-unknown-warning"}, nullptr},
    {"impact state out of range", Code::DM02, "ST:A4;", "", {"com.velta-status-unknown-warning"}, nullptr},
    {"impact state cut short", Code::DM02, "ST:0", "", {"com.velta-status-unknown-warning"}, nullptr},
    {"inkjet ink out by the error",
     Code::IJ09,
     "ST:00;ER:05;IQ:50505050;",
     "",
     {"marker-supply-empty-error"},
     "Ink out"},
    {"inkjet ink out by the level", Code::IJ06, "ST:04;IQ:00505050;", "", {"marker-supply-empty-error"}, "Ink out"},
    {"inkjet ink low", Code::IJ09, "ST:04;IQ:03505050;", "", {"marker-supply-low-warning"}, "Ink low"},
    {"inkjet black just above low", Code::IJ09, "ST:04;IQ:04505050;", "", {}, "Ready"},
    {"inkjet colour low", Code::IJ06, "ST:04;IQ:50505009;", "", {"marker-supply-low-warning"}, nullptr},
    {"inkjet colour just above low", Code::IJ06, "ST:04;IQ:5050500A;", "", {}, nullptr},
    {"inkjet by bands ignores a low level", Code::IJ07, "ST:04;IQ:05505050;", "", {}, nullptr},
    {"inkjet by bands warns", Code::IJ07, "ST:04;IQ:50505050;WR:11;", "", {"marker-supply-low-warning"}, nullptr},
    {"inkjet by bands ignores other warnings", Code::IJ07, "ST:04;IQ:50505050;WR:16;", "", {}, nullptr},
    {"inkjet cover open speaks over low ink",
     Code::IJ09,
     "ST:00;ER:02;IQ:03505050;",
     "",
     {"cover-open-error", "marker-supply-low-warning"},
     "Cover open"},
    {"inkjet ink reported apart",
     Code::IJ03,
     "@BDC ST\r\nST:04;\r\n",
     "@BDC IQ\r\nIQ:08505050;\r\n",
     {"marker-supply-low-warning"},
     "Ink low"},
};

class VeltaConditions : public ::testing::TestWithParam<Case> {};

TEST_P(VeltaConditions, GoOutAsTheirReasonWithTheirWords)
{
    const Case& c = GetParam();
    const Decoded d = decode(model(c.model), c.reply, c.ink);
    EXPECT_EQ(d.reasons, c.reasons);
    if (c.message != nullptr) {
        EXPECT_EQ(d.message, c.message);
    }
    EXPECT_FALSE(d.message.empty());
    // Our own keywords only where no standard one says it, and each with its text in the PPDs.
    for (const auto& r : d.reasons) {
        if (!r.starts_with("com.velta-")) continue;
        EXPECT_TRUE(std::any_of(vendorReasons().begin(), vendorReasons().end(), [&](const VendorReason& v) {
            return r == v.keyword;
        })) << r;
    }
}

INSTANTIATE_TEST_SUITE_P(All, VeltaConditions, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

TEST(VeltaStatus, PageTonerIsAMarkerWithItsLowAndHighLevels)
{
    auto d = decode(model(Code::PG03), pageReply("03E8", "2A"), "");
    ASSERT_EQ(d.markers.size(), 1u);
    EXPECT_EQ(d.markers[0].name, "Toner");
    EXPECT_EQ(d.markers[0].level, 42);
    EXPECT_EQ(d.markers[0].low, 25);
    EXPECT_EQ(d.markers[0].high, 100);
    EXPECT_EQ(decode(model(Code::PG03), pageReply("03E8", "FF"), "").markers.at(0).level, -2);
    // A reply cut before the toner field has no marker at all.
    EXPECT_TRUE(decode(model(Code::PG03), "@KJL STATUS CODE=000003E8", "").markers.empty());
}

TEST(VeltaStatus, InkLevelsWithTheModelsLowMarks)
{
    auto d = decode(model(Code::IJ09), "@BDC ST\r\nST:04;IQ:50463C28;\r\n", "");
    ASSERT_EQ(d.markers.size(), 2u);
    EXPECT_EQ(d.markers[0].level, 0x50);
    EXPECT_EQ(d.markers[0].low, 3);       // IJ-09's black is low at 3
    EXPECT_EQ(d.markers[1].level, 0x28);  // the lowest colour
    EXPECT_EQ(d.markers[1].low, 9);
    EXPECT_EQ(decode(model(Code::IJ06), "ST:04;IQ:50505050;", "").markers[0].low, 9);
    EXPECT_EQ(decode(model(Code::IJ07), "ST:04;IQ:50505050;", "").markers[0].low, 1);
    auto apart = decode(model(Code::IJ03), "@BDC ST\r\nST:04;\r\n", "@BDC IQ\r\nIQ:08505050;\r\n");
    ASSERT_EQ(apart.markers.size(), 2u);
    EXPECT_EQ(apart.markers[0].level, 8);
    EXPECT_TRUE(decode(model(Code::IJ03), "ST:04;IQ:00000000;", "").markers.empty());
}

TEST(VeltaStatus, InkReplyEdit)
{
    EXPECT_EQ(editInkReply("@BDC IQ\r\nIQ:0150464646;\r\n"), "@BDC IQ\r\nIQ:50464646;\r\n");
    const std::string exact22(22, 'x');
    EXPECT_EQ(editInkReply(exact22 + ""), exact22);
    EXPECT_EQ(editInkReply("IQ:01"), "IQ:");
    EXPECT_EQ(editInkReply("IQ:0"), "IQ:");
}

TEST(VeltaStatus, CommandsOfEachModel)
{
    const std::string page = statusEnableCommand(model(Code::PG03));
    EXPECT_EQ(page.size(), 41u);
    EXPECT_NE(page.find("@KJL REQUEST STATUS=1\r\n"), std::string::npos);
    const std::string inkjet = statusEnableCommand(model(Code::IJ06));
    ASSERT_EQ(inkjet.size(), 27u);
    EXPECT_EQ(inkjet.substr(0, 17), std::string("\x1b@\x1b@\x1b(R\x08\x00\x00REMOTE1", 17));
    EXPECT_EQ(inkjet[22], '\x01');
    EXPECT_EQ(statusEnableCommand(model(Code::IJ09))[22], '\x03');
    EXPECT_EQ(statusEnableCommand(model(Code::DM04))[22], '\x03');
    EXPECT_EQ(inkQueryCommand(model(Code::IJ03)).size(), 22u);
    EXPECT_TRUE(inkQueryCommand(model(Code::IJ06)).empty());
    EXPECT_TRUE(inkQueryCommand(model(Code::PG03)).empty());
}

TEST(VeltaStatus, DeviceIdsNameTheirModel)
{
    EXPECT_EQ(modelOfDeviceId("MFG:VELTA;MDL:PG-03;CMD:KJL,PGSCRIPT;"), &model(Code::PG03));
    EXPECT_EQ(modelOfDeviceId("MANUFACTURER:velta; MODEL:ij-09;"), &model(Code::IJ09));
    EXPECT_EQ(modelOfDeviceId("MFG:OTHER;MDL:PG-03;"), nullptr);
    EXPECT_EQ(modelOfDeviceId("MFG:VELTA;MDL:PG-99;"), nullptr);
    EXPECT_EQ(modelOfDeviceId(""), nullptr);
}

}  // namespace
