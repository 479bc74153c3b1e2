// The velta backend's reading of status replies, and its commands.

#include <gtest/gtest.h>

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
    return "@KJL STATUS CODE=" + f + "\r\n";
}

std::set<std::string> reasonsOf(Code code, const std::string& reply, const std::string& ink = "")
{
    return decode(model(code), reply, ink).reasons;
}

TEST(VeltaStatus, PageCodesGiveTheirReasons)
{
    EXPECT_TRUE(reasonsOf(Code::PG03, pageReply("03E8")).empty());                                    // 1000, ready
    EXPECT_TRUE(reasonsOf(Code::PG03, pageReply("03EA")).empty());                                    // 1002, printing
    EXPECT_EQ(reasonsOf(Code::PG03, pageReply("0FAA")), std::set<std::string>{"media-empty-error"});  // 4010
    EXPECT_EQ(reasonsOf(Code::PG03, pageReply("0FA7")), std::set<std::string>{"media-empty-error"});  // 4007
    EXPECT_EQ(reasonsOf(Code::PG01, pageReply("0FA8")), std::set<std::string>{"media-jam-error"});    // 4008
    EXPECT_EQ(reasonsOf(Code::PG01, pageReply("0FB1")), std::set<std::string>{"media-jam-error"});    // 4017
    EXPECT_EQ(reasonsOf(Code::PG05, pageReply("0FA2")), std::set<std::string>{"cover-open"});         // 4002
    EXPECT_EQ(reasonsOf(Code::PG05, pageReply("07D1")), std::set<std::string>{"marker-supply-low-warning"});
    EXPECT_EQ(reasonsOf(Code::PG05, pageReply("0FA1")), std::set<std::string>{"com.velta-toner-empty-error"});
    EXPECT_EQ(reasonsOf(Code::PG05, pageReply("1770")), std::set<std::string>{"com.velta-printer-error"});  // 6000
    EXPECT_EQ(reasonsOf(Code::PG05, pageReply("0FA5")), std::set<std::string>{"com.velta-printer-error"});  // 4005
    EXPECT_TRUE(reasonsOf(Code::PG05, pageReply("07D2")).empty());  // 2002, a warning without a reason
}

TEST(VeltaStatus, UnreadablePageRepliesSayTheStatusIsUnknown)
{
    EXPECT_EQ(reasonsOf(Code::PG03, "garbage"), std::set<std::string>{"com.velta-status-unknown"});
    EXPECT_EQ(reasonsOf(Code::PG03, pageReply("03e8")), std::set<std::string>{"com.velta-status-unknown"});
    EXPECT_EQ(reasonsOf(Code::PG03, "@KJL STATUS CODE=00"), std::set<std::string>{"com.velta-status-unknown"});
}

TEST(VeltaStatus, PageTonerIsAMarkerLevel)
{
    auto d = decode(model(Code::PG03), pageReply("03E8", "2A"), "");
    ASSERT_EQ(d.markers.size(), 1u);
    EXPECT_EQ(d.markers[0].name, "Toner");
    EXPECT_EQ(d.markers[0].level, 42);
    EXPECT_EQ(decode(model(Code::PG03), pageReply("03E8", "FF"), "").markers.at(0).level, -2);
    // A reply cut before the toner field has no marker at all.
    EXPECT_TRUE(decode(model(Code::PG03), "@KJL STATUS CODE=000003E8", "").markers.empty());
}

TEST(VeltaStatus, ImpactAndInkjetErrors)
{
    EXPECT_TRUE(reasonsOf(Code::DM02, "@BDC ST\r\nST:04;CD:;").empty());
    EXPECT_TRUE(reasonsOf(Code::DM02, "@BDC ST\r\nST:02;").empty());
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:00;ER:02;"), std::set<std::string>{"cover-open"});
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:00;ER:04;"), std::set<std::string>{"media-jam-error"});
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:00;ER:06;"), std::set<std::string>{"media-empty-error"});
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:00;ER:05;"), std::set<std::string>{"com.velta-ribbon-empty-error"});
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:00;"), std::set<std::string>{"com.velta-printer-error"});
    EXPECT_EQ(reasonsOf(Code::DM02, "nothing"), std::set<std::string>{"com.velta-status-unknown"});
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:A4;"), std::set<std::string>{"com.velta-status-unknown"});
    EXPECT_EQ(reasonsOf(Code::DM02, "ST:0"), std::set<std::string>{"com.velta-status-unknown"});
    auto inkOut = reasonsOf(Code::IJ09, "ST:00;ER:05;IQ:50505050;");
    EXPECT_TRUE(inkOut.count("com.velta-ink-empty-error"));
}

TEST(VeltaStatus, InkLevelsAndLowInk)
{
    auto d = decode(model(Code::IJ09), "@BDC ST\r\nST:04;IQ:50463C28;\r\n", "");
    ASSERT_EQ(d.markers.size(), 2u);
    EXPECT_EQ(d.markers[0].level, 0x50);
    EXPECT_EQ(d.markers[1].level, 0x28);  // the lowest colour
    EXPECT_TRUE(d.reasons.empty());
    // IJ-09 counts black as low at 3, not 4; colour at 9.
    EXPECT_TRUE(reasonsOf(Code::IJ09, "ST:04;IQ:04505050;").empty());
    EXPECT_EQ(reasonsOf(Code::IJ09, "ST:04;IQ:03505050;"),
              (std::set<std::string>{"com.velta-ink-low-warning", "marker-supply-low-warning"}));
    EXPECT_EQ(reasonsOf(Code::IJ06, "ST:04;IQ:50505009;").count("marker-supply-low-warning"), 1u);
    EXPECT_TRUE(reasonsOf(Code::IJ06, "ST:04;IQ:5050500A;").empty());
    EXPECT_EQ(reasonsOf(Code::IJ06, "ST:04;IQ:00505050;").count("com.velta-ink-empty-error"), 1u);
    // The later models go by their warnings alone.
    EXPECT_TRUE(reasonsOf(Code::IJ07, "ST:04;IQ:05505050;").empty());
    EXPECT_EQ(reasonsOf(Code::IJ07, "ST:04;IQ:50505050;WR:11;").count("marker-supply-low-warning"), 1u);
    EXPECT_TRUE(reasonsOf(Code::IJ07, "ST:04;IQ:50505050;WR:16;").empty());
}

TEST(VeltaStatus, ModelsReportingInkApartReadTheInkReply)
{
    auto d = decode(model(Code::IJ03), "@BDC ST\r\nST:04;\r\n", "@BDC IQ\r\nIQ:08505050;\r\n");
    ASSERT_EQ(d.markers.size(), 2u);
    EXPECT_EQ(d.markers[0].level, 8);
    EXPECT_TRUE(d.reasons.count("marker-supply-low-warning"));
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
