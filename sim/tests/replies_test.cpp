// vprinter's replies carry every field where the decoder and the engine read it. The offsets here are
// the system's reply grammar, written out independently of the simulator's code.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "printer.h"
#include "testsupport/temp_root.h"

using vprinter::Printer;

namespace {

const std::string kPageStatusEnable =
    std::string("\x1b\x01@KJL REQUEST STATUS=1\r\n") + "\x1b\x01@KJL \n" + "\x1b\x01@KJL \n";
const std::string kRemoteEntry("\x1b(R\x08\x00\x00REMOTE1", 13);
const std::string kRemoteExit("\x1b\x00\x00\x00", 4);
const std::string kRemoteStatusEnable =
    "\x1b@\x1b@" + kRemoteEntry + std::string("ST\x02\x00\x00\x01", 6) + kRemoteExit;

Printer make(const char* model)
{
    const auto* m = vprinter::findModel(model);
    EXPECT_NE(m, nullptr) << model;
    return Printer("LPT1:", *m, std::nullopt);
}

// The status reply a read finds, as on a fresh open of the port.
std::string read(Printer& printer)
{
    bool statusTaken = false;
    return printer.take(2047, statusTaken);
}

// A query reply, once the printer has had its moment to answer.
std::string answerTo(Printer& printer, const std::string& query)
{
    printer.receive(query);
    std::string reply;
    bool statusTaken = true;  // this session already had its status
    testsupport::waitUntil([&] { return !(reply = printer.take(2047, statusTaken)).empty(); }, std::chrono::seconds(5));
    return reply;
}

void control(Printer& printer, const std::vector<std::string>& words)
{
    bool ok = false;
    std::string answer = printer.control(words, ok);
    ASSERT_TRUE(ok) << answer;
}

// Position just behind "STATUS CODE=".
std::size_t fieldsOf(const std::string& reply)
{
    std::size_t at = reply.find("STATUS CODE=");
    EXPECT_NE(at, std::string::npos) << reply;
    return at + 12;
}

}  // namespace

TEST(PageReplies, NothingIsSentBeforeTheStatusEnable)
{
    Printer printer = make("PG-03");
    EXPECT_EQ(read(printer), "");
    printer.receive(kPageStatusEnable);
    EXPECT_NE(read(printer), "");
}

TEST(PageReplies, FieldsSitAtTheirFixedOffsets)
{
    Printer printer = make("PG-01");  // one cassette and a photoconductor
    printer.receive(kPageStatusEnable);
    const std::string reply = read(printer);
    const std::size_t p = fieldsOf(reply);
    ASSERT_GE(reply.size(), p + 102);
    EXPECT_EQ(reply.substr(21, 4), "03E8") << "the engine reads the status code at reply offset 21";
    EXPECT_EQ(reply.substr(p + 4, 4), "03E8");
    EXPECT_EQ(reply.substr(p + 56, 2), "50") << "toner 80";
    EXPECT_EQ(reply.substr(p + 58, 2), "5A") << "photoconductor 90";
    EXPECT_EQ(reply.substr(p + 60, 2), "64") << "tray 100";
    EXPECT_EQ(reply.substr(p + 62, 2), "64") << "cassette 1";
    EXPECT_EQ(reply.substr(p + 64, 2), "FF") << "no cassette 2";
    EXPECT_EQ(reply.substr(p + 94, 2), "FF") << "no cassette 3";
    EXPECT_EQ(reply.substr(p + 78, 2), "0E") << "tray size byte 14 (A4)";
    EXPECT_EQ(reply.substr(p + 80, 2), "0E");
    EXPECT_EQ(reply.substr(p + 84, 2), "01") << "duplex";
    EXPECT_EQ(reply.substr(103, 2), "00") << "card slot 1 holds an IC card, where the engine looks";
    EXPECT_EQ(reply.substr(105, 2), "FF") << "card slot 2 empty";
    EXPECT_EQ(reply.substr(p + 92, 2), "10") << "16 MB";
    for (char c : reply.substr(p, 102)) ASSERT_TRUE(std::isdigit(c) || (c >= 'A' && c <= 'F')) << reply;
}

TEST(PageReplies, NamedStatesSetTheStatusCodeAndLevels)
{
    Printer printer = make("PG-06");  // three cassettes
    printer.receive(kPageStatusEnable);
    const std::size_t p = fieldsOf(read(printer));
    control(printer, {"paper", "low", "20"});
    EXPECT_EQ(read(printer).substr(p + 60, 2), "14");
    control(printer, {"toner-out"});
    std::string reply = read(printer);
    EXPECT_EQ(reply.substr(p + 4, 4), "0FA1") << "4001";
    EXPECT_EQ(reply.substr(p + 56, 2), "00");
    control(printer, {"cover-open"});
    EXPECT_EQ(read(printer).substr(p + 4, 4), "0FA2");
    control(printer, {"error", "4005"});
    EXPECT_EQ(read(printer).substr(p + 4, 4), "0FA5");
    control(printer, {"cassette", "3", "7"});
    EXPECT_EQ(read(printer).substr(p + 94, 2), "07");
    control(printer, {"cards", "FF", "00"});
    reply = read(printer);
    EXPECT_EQ(reply.substr(103, 2), "FF");
    EXPECT_EQ(reply.substr(105, 2), "00");
}

TEST(PageReplies, TheOptionCardQueryIsAnsweredWithTheCardNames)
{
    Printer printer = make("PG-03");
    const std::string query = std::string("\x1b\x01@KJL EN LA=PGSCRIPT\n") +
                              "\x1d"
                              "10;1lS"
                              "\x1d"
                              "12mlS";
    control(printer, {"card-name", "B", "AB"});
    const std::string reply = answerTo(printer, query);
    EXPECT_NE(reply.find("PGSCRIPT mlS OPTIONCARD"), std::string::npos) << reply;
    EXPECT_NE(reply.find("SLOTA CARD_NAME|20 4B45535452454C2D4943"), std::string::npos) << reply;
    EXPECT_NE(reply.find("SLOTB CARD_NAME|4 4142"), std::string::npos) << reply;
}

TEST(InkjetReplies, StateAtOffset12AndInkBehindIQ)
{
    Printer printer = make("IJ-09");
    EXPECT_EQ(read(printer), "") << "nothing before the status enable";
    printer.receive(kRemoteStatusEnable);
    std::string reply = read(printer);
    EXPECT_EQ(reply.substr(9, 3), "ST:");
    EXPECT_EQ(reply.substr(12, 2), "04") << "ready, where the engine looks";
    control(printer, {"ink", "black=5", "color=40"});
    reply = read(printer);
    std::size_t q = reply.find("IQ:");
    ASSERT_NE(q, std::string::npos) << reply;
    q += 3;
    EXPECT_EQ(reply.substr(q, 2), "05") << "black at Q+0";
    EXPECT_EQ(reply.substr(q + 2, 6), "282828") << "colours at Q+2, Q+4, Q+6";
    control(printer, {"warnings", "10", "11"});
    EXPECT_NE(read(printer).find("WR:10,11;"), std::string::npos);
    control(printer, {"cover-open"});
    reply = read(printer);
    EXPECT_EQ(reply.substr(12, 2), "00");
    EXPECT_NE(reply.find("ER:02"), std::string::npos);
    control(printer, {"test-printing", "01"});
    reply = read(printer);
    EXPECT_EQ(reply.substr(12, 2), "01");
    EXPECT_NE(reply.find("TP:01"), std::string::npos);
}

TEST(InkjetReplies, ModelTwelveReportsFiveColourFields)
{
    Printer printer = make("IJ-12");
    printer.receive(kRemoteStatusEnable);
    control(printer, {"ink", "black=1", "color=2"});
    const std::string reply = read(printer);
    EXPECT_NE(reply.find("IQ:010202020202;"), std::string::npos) << reply;
}

TEST(InkjetReplies, TheExtendedQueryOfIJ09CarriesTheGapByte)
{
    Printer printer = make("IJ-09");
    control(printer, {"gap", "0"});
    const std::string query = kRemoteEntry + std::string("EX\x05\x00\x01\x00\x00\x00\x06", 9) + kRemoteExit;
    ASSERT_EQ(query.size(), 26u);
    const std::string reply = answerTo(printer, query);
    std::size_t at = reply.find("EX:00000006");
    ASSERT_NE(at, std::string::npos) << reply;
    EXPECT_EQ(reply.substr(at + 11, 2), "00");
}

TEST(InkjetReplies, IJ03AnswersTheInkQueryAndKeepsInkOutOfItsStatus)
{
    Printer printer = make("IJ-03");
    printer.receive(kRemoteStatusEnable);
    EXPECT_EQ(read(printer).find("IQ:"), std::string::npos);
    const std::string query = kRemoteEntry + std::string("IQ\x01\x00\x01", 5) + kRemoteExit;
    ASSERT_EQ(query.size(), 22u);
    const std::string reply = answerTo(printer, query);
    std::size_t at = reply.find("IQ:");
    ASSERT_NE(at, std::string::npos) << reply;
    EXPECT_EQ(reply.find("@BDC PS"), std::string::npos) << "that text means a printer that cannot be monitored";
    // Once the engine drops the two bytes behind "IQ:", black and three colours follow.
    EXPECT_EQ(reply.substr(at + 5, 8), "50464646") << reply;
}

TEST(ImpactReplies, PaperEntriesWidthAndTractorBehindTheirKeys)
{
    Printer printer = make("DM-02");
    printer.receive(kRemoteStatusEnable);
    control(printer, {"paper-width", "1620"});
    const std::string reply = read(printer);
    EXPECT_EQ(reply.substr(12, 2), "04");
    std::size_t k = reply.find("CD:");
    ASSERT_NE(k, std::string::npos) << reply;
    k += 3;
    EXPECT_EQ(reply.substr(k + 20, 4), "0300") << "bin 1: A4 portrait";
    EXPECT_EQ(reply.substr(k + 24, 4), "0300");
    EXPECT_EQ(reply.substr(k + 28, 4), "0300");
    EXPECT_EQ(reply.substr(k + 32, 4), "0654") << "1620/360 inch, high byte first";
    std::size_t pp = reply.find("PP:");
    ASSERT_NE(pp, std::string::npos);
    EXPECT_EQ(reply.substr(pp + 3, 4), "0000");
}

TEST(PrinterControl, BadCommandsChangeNothing)
{
    Printer printer = make("IJ-09");
    printer.receive(kRemoteStatusEnable);
    const std::string before = printer.statusReply();
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{{"frobnicate"},
                                                                                     {"paper-low", "20"},
                                                                                     {"ink", "black=300"},
                                                                                     {"ink", "magenta=3"},
                                                                                     {"toner", "5"},
                                                                                     {"busy", "-1"},
                                                                                     {"ready", "now"},
                                                                                     {"error"},
                                                                                     {}}) {
        bool ok = true;
        std::string answer = printer.control(bad, ok);
        EXPECT_FALSE(ok) << ::testing::PrintToString(bad);
        EXPECT_FALSE(answer.empty());
    }
    EXPECT_EQ(printer.statusReply(), before);
}

TEST(PrinterControl, EachCommandIsTakenOnlyByTheFamiliesItIsFor)
{
    const std::pair<const char*, unsigned> printers[] = {
        {"PG-03", vprinter::kPageOnly}, {"DM-02", vprinter::kImpactOnly}, {"IJ-09", vprinter::kInkjetOnly}};
    for (const auto& command : vprinter::controlCommands()) {
        for (const auto& [model, family] : printers) {
            Printer printer = make(model);
            bool ok = true;
            const std::string answer = printer.control({std::string(command.name)}, ok);
            const bool refusedForItsFamily =
                answer.find("only") != std::string::npos && answer.find(" take ") != std::string::npos;
            EXPECT_EQ(refusedForItsFamily, (command.families & family) == 0)
                << command.name << " on " << model << ": " << answer;
            if (refusedForItsFamily) {
                EXPECT_FALSE(ok);
            }
        }
    }
}

TEST(PrinterControl, AnUnknownCommandIsAnsweredWithTheCommandsThereAre)
{
    Printer printer = make("PG-03");
    bool ok = true;
    const std::string answer = printer.control({"explode", "now"}, ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(answer.rfind("unknown command \"explode\"", 0), 0u) << answer;
    for (const auto& command : vprinter::controlCommands()) {
        EXPECT_NE(answer.find(" " + std::string(command.name)), std::string::npos) << command.name;
    }
    const std::string help = "\n" + vprinter::controlHelp();
    for (const auto& command : vprinter::controlCommands()) {
        EXPECT_NE(help.find("\n  " + std::string(command.name) + " "), std::string::npos) << command.name;
    }
}

TEST(PrinterControl, ADashedNameMayBeGivenAsTwoWords)
{
    Printer printer = make("PG-03");
    printer.receive(kPageStatusEnable);
    control(printer, {"raw", "reply", "X\\r\\n"});
    EXPECT_EQ(read(printer), "X\r\n");
    control(printer, {"raw-reply"});
    control(printer, {"cover", "open"});
    const std::string reply = read(printer);
    EXPECT_EQ(reply.substr(fieldsOf(reply) + 4, 4), "0FA2") << "status 4002";
    bool ok = true;
    printer.control({"cover", "closed"}, ok);
    EXPECT_FALSE(ok) << "not a command: cover";
}

TEST(PrinterControl, TheLogKeepsTheMostRecentWritesAndNumbersThemOn)
{
    Printer printer = make("PG-03");
    const std::string chunk(64 * 1024, 'J');
    for (int i = 0; i < 20; ++i) printer.receive(chunk);
    bool ok = false;
    const std::string log = printer.control({"log"}, ok);
    ASSERT_TRUE(ok);
    const std::size_t kept = vprinter::kLogBytes / chunk.size();
    EXPECT_EQ(log.rfind(std::to_string(20 - kept) + " 65536 ", 0), 0u) << log.substr(0, 40);
    EXPECT_EQ(static_cast<std::size_t>(std::count(log.begin(), log.end(), '\n')), kept);
    EXPECT_NE(log.find("\n19 65536 "), std::string::npos);
    printer.control({"reset-log"}, ok);
    printer.receive("AB");
    EXPECT_EQ(printer.control({"log"}, ok), "0 2 4142 |AB|\n");
}

TEST(PrinterControl, TheDeviceIdNamesMakerAndModel)
{
    for (const auto& name : vprinter::modelNames()) {
        Printer printer = make(name.c_str());
        const std::string id = printer.deviceId();
        EXPECT_NE(id.find("MFG:VELTA;"), std::string::npos) << id;
        EXPECT_NE(id.find("MDL:" + name + ";"), std::string::npos) << id;
    }
    EXPECT_EQ(vprinter::modelNames().size(), 21u);
}

// ---- maintenance commands ------------------------------------------------------------------------

namespace {

std::string actions(Printer& printer)
{
    bool ok = false;
    std::string answer = printer.control({"actions"}, ok);
    EXPECT_TRUE(ok) << answer;
    return answer;
}

std::string gapCommand(int setting)
{
    return kRemoteEntry + std::string("GA\x02\x00\x00", 5) + static_cast<char>(setting) + kRemoteExit;
}

}  // namespace

TEST(MaintenanceCommands, TheHeadActionIsCountedAndLeavesNoReplyBehind)
{
    Printer printer = make("IJ-09");
    printer.receive(kRemoteEntry + std::string("EI\x01\x00\x00", 5) + kRemoteExit);
    EXPECT_NE(actions(printer).find("head-actions 1\n"), std::string::npos) << actions(printer);
    // The next read is the status, not an answer to the head action.
    printer.receive(kRemoteStatusEnable);
    EXPECT_EQ(read(printer).rfind("@BDC ST", 0), 0u);
}

TEST(MaintenanceCommands, IJ09TakesAGapSettingInRangeAndStopsAskingForOne)
{
    Printer printer = make("IJ-09");
    EXPECT_NE(answerTo(printer, gapCommand(7)).find("GA:00;"), std::string::npos);
    EXPECT_NE(actions(printer).find("gap-settings 1\ngap-setting 7\n"), std::string::npos) << actions(printer);
    const std::string query = kRemoteEntry + std::string("EX\x05\x00\x01\x00\x00\x00\x06", 9) + kRemoteExit;
    const std::string reply = answerTo(printer, query);
    const std::size_t at = reply.find("EX:00000006");
    ASSERT_NE(at, std::string::npos) << reply;
    EXPECT_EQ(reply.substr(at + 11, 2), "00");
}

TEST(MaintenanceCommands, AGapSettingOutOfRangeIsRefusedAndChangesNothing)
{
    Printer printer = make("IJ-09");
    for (int setting : {0, 10, 255}) {
        EXPECT_NE(answerTo(printer, gapCommand(setting)).find("GA:01;"), std::string::npos) << setting;
    }
    EXPECT_NE(actions(printer).find("gap-settings 3\ngap-setting 5\n"), std::string::npos) << actions(printer);
}

TEST(MaintenanceCommands, OtherInkjetsIgnoreTheGapCommand)
{
    Printer printer = make("IJ-08");
    printer.receive(gapCommand(7));
    bool statusTaken = true;
    EXPECT_EQ(printer.take(2047, statusTaken), "");
    EXPECT_NE(actions(printer).find("gap-settings 0\n"), std::string::npos);
}
