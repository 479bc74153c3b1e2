// The network link against a printer's network interface played by the test (a UDP responder built on
// the interface's side of ipx_packets.h), with the NetWare environment written by the test and the
// real NODEQRY.EXE doing the address lookups; and the port classification.

#include "vigil/netware_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/netware/client.h"
#include "plat/registry/registry.h"
#include "printer_interface.h"
#include "testsupport/temp_root.h"
#include "vigil/ipx_packets.h"

namespace nw = plat::netware;
namespace ipx = vigil::ipx;
using vigil::NetwareLink;
using vigil::NetworkLink;
using Bytes = std::vector<std::uint8_t>;
using networktest::Interface;

namespace {

class NetwareLinkTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        // FS1: a bindery server with print server PS1 (printers 2 and 3 service Q1) and a queue whose
        // print server is the interface itself; FS4: a directory-mode server.
        writeEnvironment(
            "server FS1\n"
            "print-server-address FS1 " +
            printer.address().text() +
            "\n"
            "server FS4 version 4\n"
            "print-server-address FS4 " +
            printer.address().text() +
            "\n"
            "queue FS1 Q1 PS1\n"
            "queue FS1 Q2 NOSUCH PRN-IF\n"
            "queue FS1 REFUSED PS1 OTHER-IF\n"
            "queue FS4 Q4 PS4\n"
            "print-server FS1 PS1 Q1 2 3\n"
            "print-server FS1 PS1 REFUSED 7\n"
            "print-server FS4 PS4 Q4 1\n");
        printer.serves("PS1", 3);
        printer.serves("PRN-IF", 0);
        printer.serves("PS4", 1);
    }
    static void writeEnvironment(const std::string& text) { std::ofstream(nw::environmentFile()) << text; }

    // Fast fixed waits; the reply waits stay at their floor.
    plat::ScaledClock fastClock{0.01};
    NetwareLink link{{NODEQRY_DIR, &fastClock}};
    Interface printer;

    std::string request(NetworkLink::Request kind, bool* ok = nullptr, std::size_t capacity = 2048)
    {
        std::vector<char> buffer(capacity);
        std::uint32_t length = 99;
        const bool done = link.request(kind, buffer, length);
        if (ok != nullptr) *ok = done;
        if (!done) {
            EXPECT_EQ(length, 0u);
        }
        return std::string(buffer.data(), length);
    }
};

}  // namespace

// ---- open and locate ----------------------------------------------------------------------------------

TEST_F(NetwareLinkTest, APrintServerToAttachToGivesThePrinterNumberThatConnects)
{
    ASSERT_TRUE(link.open("\\\\fs1\\q1"));
    ASSERT_TRUE(link.located());
    EXPECT_EQ(link.located()->printServer, "PS1");
    EXPECT_EQ(link.located()->printer, 3) << "printer 2 refused the connect, 3 took it";
    EXPECT_EQ(printer.connects, 2);
    EXPECT_FALSE(link.extendedRequest());
}

TEST_F(NetwareLinkTest, ANameWithNoPrintServerIsThePrintersInterfaceItself)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q2"));
    EXPECT_EQ(link.located()->printServer, "PRN-IF");
    EXPECT_EQ(link.located()->printer, 0);
}

TEST_F(NetwareLinkTest, InDirectoryModeThePrintServersTypedNameIsStripped)
{
    ASSERT_TRUE(link.open("\\\\FS4\\Q4"));
    EXPECT_EQ(link.located()->printServer, "PS4");
    EXPECT_EQ(link.located()->printer, 1);
    EXPECT_EQ(request(NetworkLink::Request::Status), "STATUS CODE=1000");
}

TEST_F(NetwareLinkTest, AQueueNobodyServesFailsTheOpenButNotTheNextOne)
{
    EXPECT_FALSE(link.open("\\\\FS1\\REFUSED"));
    EXPECT_FALSE(link.located());
    EXPECT_FALSE(link.open("\\\\FS1\\NOQUEUE"));
    EXPECT_FALSE(link.open("\\\\NOSERVER\\Q1"));
    EXPECT_FALSE(link.open("\\\\FS1\\"));
    EXPECT_FALSE(link.open("LPT1:"));
    EXPECT_TRUE(link.open("\\\\FS1\\Q1")) << "a failed open does not end the link for good";
}

TEST_F(NetwareLinkTest, AnOpenLinkIsNotOpenedTwiceAndACloseKeepsThePrinterLocated)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_FALSE(link.open("\\\\FS1\\Q1")) << "already open";
    EXPECT_TRUE(link.close(false));
    EXPECT_FALSE(link.close(false)) << "no longer open";
    const int connects = printer.connects;
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_EQ(printer.connects, connects) << "the located printer is kept: no new location";
    EXPECT_EQ(request(NetworkLink::Request::Status), "STATUS CODE=1000");
}

TEST_F(NetwareLinkTest, AfterACloseForGoodNoLinkOpensAgain)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_TRUE(link.close(true));
    EXPECT_FALSE(link.open("\\\\FS1\\Q1"));
    EXPECT_FALSE(link.close(true));
    bool ok = true;
    request(NetworkLink::Request::Status, &ok);
    EXPECT_FALSE(ok);
}

TEST_F(NetwareLinkTest, AClosedLinkThatIsEndedForGoodStaysShut)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    ASSERT_TRUE(link.close(false));
    EXPECT_FALSE(link.close(true)) << "it was not open";
    EXPECT_FALSE(link.open("\\\\FS1\\Q1")) << "yet the link is ended for good";
}

TEST_F(NetwareLinkTest, WithoutTheAddressLookupProgramTheOpenFails)
{
    const auto empty = root.path() / "no-programs";
    std::filesystem::create_directory(empty);
    NetwareLink withoutLookup{{empty, &fastClock}};
    EXPECT_FALSE(withoutLookup.open("\\\\FS1\\Q1"));
    EXPECT_EQ(printer.connects, 0);
    EXPECT_TRUE(std::filesystem::is_empty(plat::tmpDir())) << "no lookup file is left behind";
}

TEST_F(NetwareLinkTest, AnAddressOffTheLoopbackNetworkHasNoLocalTarget)
{
    writeEnvironment("server FS1\nprint-server-address FS1 00000002:00007F000001:9C40\nqueue FS1 Q1 PS1\n");
    EXPECT_FALSE(link.open("\\\\FS1\\Q1"));
    EXPECT_TRUE(std::filesystem::is_empty(plat::tmpDir()));
}

// ---- requests ---------------------------------------------------------------------------------------

TEST_F(NetwareLinkTest, PlainQueriesAnswerEachKind)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_EQ(request(NetworkLink::Request::DeviceId), "MFG:VELTA;MDL:PG-03;");
    EXPECT_EQ(printer.lastFunction, 2);
    EXPECT_EQ(printer.lastCode, 2);
    EXPECT_EQ(request(NetworkLink::Request::Status), "STATUS CODE=1000");
    EXPECT_EQ(printer.lastCode, 3);
    EXPECT_EQ(request(NetworkLink::Request::OptionCard), "PGSCRIPT mlS OPTIONCARD");
    EXPECT_EQ(printer.lastCode, 4);
}

TEST_F(NetwareLinkTest, ExtendedQueriesAnswerDeviceIdAndStatusButNoOptionCard)
{
    printer.extended = true;
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_TRUE(link.extendedRequest());
    EXPECT_EQ(request(NetworkLink::Request::DeviceId), "MFG:VELTA;MDL:PG-03;");
    EXPECT_EQ(printer.lastFunction, 16);
    EXPECT_EQ(request(NetworkLink::Request::Status), "STATUS CODE=1000");
    const int queries = printer.queries;
    bool ok = true;
    request(NetworkLink::Request::OptionCard, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(printer.queries, queries) << "nothing is asked";
}

TEST_F(NetwareLinkTest, AnExtendedReplyWithoutItsLengthTakesTheWholeLengthLessThree)
{
    printer.extended = true;
    printer.zeroExtendedLength = true;
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_EQ(request(NetworkLink::Request::Status), "STATUS CODE=1000");
    EXPECT_EQ(request(NetworkLink::Request::DeviceId), "MFG:VELTA;MDL:PG-03;");
}

TEST_F(NetwareLinkTest, AReplyWithAnotherSequenceNumberIsIgnored)
{
    printer.staleReplyFirst = true;
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    EXPECT_EQ(request(NetworkLink::Request::Status), "STATUS CODE=1000");
}

TEST_F(NetwareLinkTest, APayloadLongerThanTheCallersBufferFailsTheRequest)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    bool ok = true;
    request(NetworkLink::Request::Status, &ok, 10);
    EXPECT_FALSE(ok);
    EXPECT_EQ(request(NetworkLink::Request::Status, &ok, 16), "STATUS CODE=1000");
    EXPECT_TRUE(ok);
}

TEST_F(NetwareLinkTest, AnInterfaceThatDoesNotAnswerFailsTheRequestAfterFiveConnectTries)
{
    ASSERT_TRUE(link.open("\\\\FS1\\Q1"));
    printer.silentToConnects = true;
    const int connects = printer.connects;
    bool ok = true;
    request(NetworkLink::Request::Status, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(printer.connects - connects, 5);

    printer.silentToConnects = false;
    printer.silentToQueries = true;
    const int queries = printer.queries;
    request(NetworkLink::Request::Status, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(printer.queries - queries, 1) << "a query is sent once";
}

TEST_F(NetwareLinkTest, ACloseDuringAPendingRequestCutsItsWaitShort)
{
    // At this scale a reply's wait lasts minutes: only the close can end the request in time.
    const plat::ScaledClock slowClock{100};
    NetwareLink slow{{NODEQRY_DIR, &slowClock}};
    ASSERT_TRUE(slow.open("\\\\FS1\\Q1"));
    printer.silentToQueries = true;
    const int queries = printer.queries;
    std::atomic<bool> done{false}, ok{true};
    std::thread requester([&] {
        std::vector<char> buffer(2048);
        std::uint32_t length = 0;
        ok = slow.request(NetworkLink::Request::Status, buffer, length);
        done = true;
    });
    ASSERT_TRUE(testsupport::waitUntil([&] { return printer.queries > queries; }));
    EXPECT_TRUE(slow.close(true));
    requester.join();
    EXPECT_TRUE(done);
    EXPECT_FALSE(ok);
}

// ---- classification -----------------------------------------------------------------------------------

namespace {

class PortClassTest : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        std::ofstream(nw::environmentFile()) << "server FS1\n"
                                                "queue FS1 Q1 PS1\n"
                                                "capture LPT2 FS1 Q1.SALES\n"
                                                "capture LPT3 FS1 Q1\n";
    }
    void installProvider(bool withFile)
    {
        auto store = plat::registry::Store::forCurrentRoot();
        ASSERT_TRUE(store);
        plat::registry::Key key;
        ASSERT_EQ(store.value()->createKey(plat::registry::Root::LocalMachine, facts::key::kNetwareProvider, "", key),
                  plat::registry::Status::Ok);
        const std::string name = "nwprov.dll";
        ASSERT_EQ(store.value()->setValue(plat::registry::Root::LocalMachine, facts::key::kNetwareProvider,
                                          facts::value::kProviderName, plat::registry::ValueType::String,
                                          std::as_bytes(std::span(name.data(), name.size() + 1)),
                                          plat::registry::Store::Flush::No),
                  plat::registry::Status::Ok);
        if (withFile) std::ofstream(plat::windowsDir() / "system" / name) << "provider";
    }
    std::uint32_t classify(std::string_view port)
    {
        queuePath.fill('#');
        return vigil::classifyPort(*plat::registry::Store::forCurrentRoot().value(), port, queuePath);
    }
    std::string path() const { return std::string(queuePath.data()); }
    std::array<char, 512> queuePath{};
};

}  // namespace

TEST_F(PortClassTest, LptPortsAreLocalUnlessCapturedAndThenNameTheirQueueWithoutContext)
{
    EXPECT_EQ(classify("LPT1:"), vigil::kLocalPort) << "not captured";
    EXPECT_EQ(classify("LPT0"), vigil::kLocalPort);
    EXPECT_EQ(classify("LPT2:"), vigil::kCapturedPort);
    EXPECT_EQ(path(), "\\\\FS1\\Q1") << "the queue name is cut at its first \".\"";
    EXPECT_EQ(classify("LPT3"), vigil::kCapturedPort);
    EXPECT_EQ(path(), "\\\\FS1\\Q1");
    EXPECT_EQ(classify("lpt2:"), vigil::kNotServed) << "the prefix is compared case-sensitively";
    EXPECT_EQ(classify("LPT:"), vigil::kNotServed);
    EXPECT_EQ(classify("LPTA"), vigil::kNotServed);
    EXPECT_EQ(classify("FILE:"), vigil::kNotServed);
    EXPECT_EQ(classify("COM1:"), vigil::kNotServed);

    std::array<char, 6> small{};
    EXPECT_EQ(vigil::classifyPort(*plat::registry::Store::forCurrentRoot().value(), "LPT2:", small),
              vigil::kCapturedPort);
    EXPECT_EQ(std::string(small.data()), "\\\\FS1") << "cut to the buffer, zero-terminated";
}

TEST_F(PortClassTest, ACapturedPortWhoseServerIsGoneIsLocal)
{
    std::ofstream(nw::environmentFile()) << "capture LPT2 FS9 Q1\n";
    EXPECT_EQ(classify("LPT2:"), vigil::kLocalPort);
}

TEST_F(PortClassTest, AQueuePathNeedsTheProviderItsFileAndTheQueue)
{
    EXPECT_EQ(classify("\\\\FS1\\Q1"), vigil::kNotServed) << "no provider";
    installProvider(/*withFile=*/false);
    EXPECT_EQ(classify("\\\\FS1\\Q1"), vigil::kNotServed) << "the provider's file is missing";
    installProvider(/*withFile=*/true);
    EXPECT_EQ(classify("\\\\FS1\\Q1"), vigil::kQueuePath);
    EXPECT_EQ(classify("\\\\fs1\\q1"), vigil::kQueuePath);
    EXPECT_EQ(classify("\\\\FS1\\Q9"), vigil::kNotServed);
    EXPECT_EQ(classify("\\\\FS9\\Q1"), vigil::kNotServed);
    EXPECT_EQ(classify("//FS1/Q1"), vigil::kNotServed);
    EXPECT_EQ(classify("\\\\FS1\\"), vigil::kNotServed);
}

TEST(QueuePathSplit, TakesTheServerUpToTheNextBackslashAndTheQueueAfterTheLast)
{
    auto p = vigil::splitQueuePath("\\\\fs1\\sub\\queue");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->server, "FS1");
    EXPECT_EQ(p->queue, "QUEUE");
    EXPECT_FALSE(vigil::splitQueuePath("\\\\FS1"));
    EXPECT_FALSE(vigil::splitQueuePath("\\\\\\Q1"));
    EXPECT_FALSE(vigil::splitQueuePath("\\\\FS1\\Q1\\"));
    EXPECT_FALSE(vigil::splitQueuePath("FS1\\Q1"));
}
