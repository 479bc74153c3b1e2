// The client operations answer from the root's environment file, and IPX carries packets between two
// sockets of this process.

#include "plat/netware/client.h"

#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <fstream>

#include "plat/base/system_root.h"
#include "testsupport/temp_root.h"

namespace nw = plat::netware;

namespace {

class NetwareClient : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        std::ofstream(nw::environmentFile()) << "server FS1\n"
                                                "print-server-address FS1 00000001:00007F000001:9C40\n"
                                                "server FS4 version 4\n"
                                                "queue FS1 Q1 PS1 PRN-IF\n"
                                                "queue FS4 Q4 PS4\n"
                                                "print-server FS1 PS1 Q1 2 3\n"
                                                "print-server FS4 PS4 Q4 1\n"
                                                "capture LPT2 FS1 Q1.SALES\n";
    }
    nw::Connection connection(const char* server)
    {
        auto c = nw::connectionHandle(server);
        EXPECT_TRUE(c) << server;
        return c ? c.value() : nw::Connection{};
    }
};

}  // namespace

TEST_F(NetwareClient, TheBinderyHoldsTheQueuesAndThePrinterInterfaceAddressObject)
{
    ASSERT_TRUE(nw::initCalls());
    EXPECT_FALSE(nw::connectionHandle("NOSUCH"));
    const auto fs1 = connection("fs1");
    EXPECT_EQ(fs1.server, "FS1");
    EXPECT_TRUE(nw::scanObject(fs1, "q1", nw::kObjectPrintQueue));
    EXPECT_FALSE(nw::scanObject(fs1, "Q4", nw::kObjectPrintQueue)) << "another server's queue";

    auto property = nw::scanProperty(fs1, "FS1", nw::kObjectPrinterInterface, "*");
    ASSERT_TRUE(property);
    auto segment = nw::readPropertyValue(fs1, "FS1", nw::kObjectPrinterInterface, property.value(), 1);
    ASSERT_TRUE(segment);
    nw::Address address;
    std::copy_n(segment->begin(), 12, address.bytes.begin());
    EXPECT_EQ(address, nw::Address::loopback(40000));
    EXPECT_FALSE(nw::readPropertyValue(fs1, "FS1", nw::kObjectPrinterInterface, property.value(), 2));

    const auto fs4 = connection("FS4");
    EXPECT_FALSE(nw::scanObject(fs4, "FS4", nw::kObjectPrinterInterface)) << "FS4 has no print-server address";
    EXPECT_EQ(nw::fileServerVersion(fs4)->major, 4);
    EXPECT_EQ(nw::fileServerVersion(fs1)->major, 3);
}

TEST_F(NetwareClient, ACapturedPortNamesItsServerAndQueueObject)
{
    EXPECT_EQ(nw::captureStatus(2), nw::kCaptured);
    EXPECT_EQ(nw::captureStatus(1), 0);
    EXPECT_EQ(nw::captureStatus(-3), 0);
    EXPECT_FALSE(nw::captureFlags(1));
    auto flags = nw::captureFlags(2);
    ASSERT_TRUE(flags);
    EXPECT_EQ(nw::fileServerName(flags->connection).value(), "FS1");
    EXPECT_EQ(nw::objectName(flags->connection, flags->queueId)->name, "Q1.SALES");
    EXPECT_FALSE(nw::objectName(flags->connection, 0x12345678));
}

TEST_F(NetwareClient, AQueuesPrintServersAreScannedInOrderAndOnlyARecordedOneCanBeAttached)
{
    const auto fs1 = connection("FS1");
    nw::QueueAttributeScan scan;
    auto first = nw::firstPrintQueueAttribute(fs1, "Q1", scan);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.value(), "PS1");
    EXPECT_EQ(nw::nextPrintQueueAttribute(scan).value(), "PRN-IF");
    auto none = nw::nextPrintQueueAttribute(scan);
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().code, nw::kNoMoreEntries);
    nw::endPrintQueueAttributeScan(scan);
    EXPECT_FALSE(nw::nextPrintQueueAttribute(scan)) << "an ended scan gives nothing";

    EXPECT_FALSE(nw::attachToPrintServer(fs1, "PRN-IF", 50000)) << "the interface itself has no print server";
    auto ps = nw::attachToPrintServer(fs1, "ps1", 50000);
    ASSERT_TRUE(ps);
    EXPECT_FALSE(nw::printersServicingQueue(ps.value(), "Q1", 255)) << "not logged in";
    ASSERT_TRUE(nw::loginToPrintServer(ps.value()));
    EXPECT_EQ(nw::printersServicingQueue(ps.value(), "Q1", 255).value(), (std::vector<std::uint16_t>{2, 3}));
    EXPECT_EQ(nw::printersServicingQueue(ps.value(), "Q1", 1).value(), (std::vector<std::uint16_t>{2}));
    nw::detachFromPrintServer(ps.value());
    EXPECT_FALSE(nw::loginToPrintServer(ps.value()));
}

TEST_F(NetwareClient, InDirectoryModeNamesComeTypedThroughTheContext)
{
    EXPECT_FALSE(nw::createContext()) << "a context needs the Unicode tables";
    auto locale = nw::setLocale("");
    ASSERT_TRUE(locale);
    ASSERT_TRUE(nw::initUnicodeTables(locale->country, locale->codePage));
    auto context = nw::createContext();
    ASSERT_TRUE(context);
    const auto fs4 = connection("FS4");
    auto binderyContext = nw::binderyContext(fs4);
    ASSERT_TRUE(binderyContext);
    ASSERT_TRUE(nw::setContext(context.value(), nw::ContextKey::NameContext, binderyContext.value()));
    ASSERT_TRUE(nw::setContext(context.value(), nw::ContextKey::Typeless, "1"));

    nw::QueueAttributeScan scan;
    auto name = nw::firstPrintQueueAttribute(context.value(), "Q4", scan);
    ASSERT_TRUE(name);
    EXPECT_EQ(name.value(), "CN=PS4");
    EXPECT_EQ(nw::removeAllTypes(context.value(), name.value()).value(), "PS4");
    EXPECT_EQ(nw::removeAllTypes(context.value(), "CN=PS4.OU=SALES.O=FS4").value(), "PS4.SALES.FS4");
    nw::endPrintQueueAttributeScan(scan);

    nw::freeContext(context.value());
    EXPECT_FALSE(nw::removeAllTypes(context.value(), "CN=X")) << "a freed context";
    nw::freeUnicodeTables();
}

TEST_F(NetwareClient, IpxCarriesAPacketToTheHeadersSocketThroughTheLocalTarget)
{
    auto ipx = nw::ipxInitialize(5, 576);
    ASSERT_TRUE(ipx);
    auto a = nw::openSocket(ipx.value());
    auto b = nw::openSocket(ipx.value());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->number(), b->number());

    std::vector<std::uint8_t> packet(40, 0);
    const nw::Address to = b->address();
    std::copy(to.bytes.begin(), to.bytes.end(), packet.begin() + 6);
    packet[39] = 0x5A;
    const std::array<std::uint8_t, 6> target{0, 0, 127, 0, 0, 1};
    auto sent = nw::send(a.value(), packet, target);
    ASSERT_TRUE(sent) << sent.error().detail;
    std::vector<std::uint8_t> buffer(100);
    auto got = nw::receive(b.value(), buffer, std::chrono::seconds(20));
    ASSERT_TRUE(got) << got.error().detail;
    ASSERT_EQ(got.value(), 40u);
    EXPECT_EQ(buffer[39], 0x5A);

    EXPECT_FALSE(nw::send(a.value(), std::span(packet).first(29), target)) << "no whole header";
    auto none = nw::receive(b.value(), buffer, std::chrono::milliseconds(1));
    ASSERT_FALSE(none);
    EXPECT_EQ(none.error().code, ETIMEDOUT);

    const int cancel = ::eventfd(1, EFD_CLOEXEC);
    auto cancelled = nw::receive(b.value(), buffer, std::chrono::seconds(60), cancel);
    ::close(cancel);
    ASSERT_FALSE(cancelled);
    EXPECT_EQ(cancelled.error().code, ECANCELED);

    nw::closeSocket(b.value());
    EXPECT_FALSE(nw::receive(b.value(), buffer, std::chrono::milliseconds(1)));
    nw::ipxDeinitialize(ipx.value());
    EXPECT_FALSE(nw::openSocket(ipx.value())) << "IPX is no longer initialised";
}
