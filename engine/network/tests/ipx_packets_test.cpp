#include "vigil/ipx_packets.h"

#include <gtest/gtest.h>

#include <string>

namespace ipx = vigil::ipx;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::string payloadOf(const Bytes& reply, const ipx::Payload& p)
{
    return std::string(reply.begin() + static_cast<long>(p.offset),
                       reply.begin() + static_cast<long>(p.offset + p.length));
}

}  // namespace

TEST(IpxPackets, TheHeaderCarriesLengthTypeAndBothAddresses)
{
    ipx::Header h{88, 4, plat::netware::Address::loopback(1000), plat::netware::Address::loopback(2000)};
    std::array<std::uint8_t, ipx::kHeaderBytes> out{};
    ipx::writeHeader(h, out);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[4], 0);  // transport control
    auto back = ipx::readHeader(out);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->length, 88);
    EXPECT_EQ(back->packetType, 4);
    EXPECT_EQ(back->destination.port(), 1000);
    EXPECT_EQ(back->source.port(), 2000);
    EXPECT_FALSE(ipx::readHeader(std::span(out).first(29)));
}

TEST(IpxPackets, RequestsAreLaidOutByFunctionCodeAndParameters)
{
    const auto connect = ipx::encode(ipx::connectRequest("ps1", 2, 0x01020304));
    ASSERT_EQ(connect.size(), 58u);
    EXPECT_EQ(connect[0], 1);
    EXPECT_EQ(connect[1], 3);
    EXPECT_EQ((Bytes{connect[3], connect[4], connect[5], connect[6]}), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(connect[8], 49);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&connect[9])), "PS1");
    EXPECT_EQ(connect[9 + 48], 2);

    const auto longName = ipx::encode(ipx::connectRequest(std::string(60, 'A'), 0, 1));
    EXPECT_EQ(longName[9 + 47], 0) << "the name field always ends with its zero";

    const std::pair<ipx::Kind, Bytes> plain[] = {
        {ipx::Kind::DeviceId, {2, 2, 0}}, {ipx::Kind::Status, {2, 3, 0}}, {ipx::Kind::OptionCard, {2, 4, 1}}};
    for (const auto& [kind, expected] : plain) {
        const auto data = ipx::encode(*ipx::queryRequest(kind, false, 7));
        EXPECT_EQ((Bytes{data[0], data[1], data[8]}), expected);
        EXPECT_EQ(data.size(), 9u + expected[2]);
    }
    const auto extended = ipx::encode(*ipx::queryRequest(ipx::Kind::Status, true, 7));
    EXPECT_EQ(extended, (Bytes{16, 0, 0, 0, 0, 0, 7, 0, 3, 1, 0, 0}));
    EXPECT_FALSE(ipx::queryRequest(ipx::Kind::OptionCard, true, 7));

    auto decoded = ipx::decodeRequest(connect);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->sequence, 0x01020304u);
    EXPECT_EQ(decoded->parameters.size(), 49u);
    EXPECT_FALSE(ipx::decodeRequest(std::span(connect).first(20))) << "fewer bytes than the parameter length";
}

TEST(IpxPackets, RepliesOfEveryKindGiveBackTheirPayload)
{
    const auto conversation = plat::netware::Address::loopback(4321);
    const auto connect = ipx::connectReply(9, 0, conversation, true);
    auto c = ipx::parseConnectReply(connect);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->sequence, 9u);
    EXPECT_EQ(c->conversation, conversation);
    EXPECT_TRUE(c->extendedRequest);
    EXPECT_FALSE(ipx::parseConnectReply(ipx::connectReply(9, 1, conversation, true)));
    EXPECT_FALSE(ipx::parseConnectReply(std::span(connect).first(23)));

    const std::string id = "MFG:VELTA;MDL:PG-03;";
    for (bool extended : {false, true}) {
        for (auto kind : {ipx::Kind::DeviceId, ipx::Kind::Status, ipx::Kind::OptionCard}) {
            if (extended && kind == ipx::Kind::OptionCard) continue;
            const auto reply = ipx::queryReply(kind, extended, 5, 0, bytes(id));
            auto p = ipx::parseReply(kind, extended, reply);
            ASSERT_TRUE(p) << int(kind) << extended;
            EXPECT_EQ(payloadOf(reply, *p), id);
            EXPECT_EQ(p->sequence, 5u);
            EXPECT_FALSE(ipx::parseReply(kind, extended, ipx::queryReply(kind, extended, 5, 3, bytes(id))))
                << "a nonzero result byte fails";
        }
    }
}

TEST(IpxPackets, AnExtendedReplyWithoutItsLengthTakesItFromOffsetNineMinusThree)
{
    auto reply = ipx::queryReply(ipx::Kind::Status, true, 1, 0, bytes("ST:01;"));
    reply[12] = reply[13] = 0;
    auto p = ipx::parseReply(ipx::Kind::Status, true, reply);
    ASSERT_TRUE(p);
    EXPECT_EQ(payloadOf(reply, *p), "ST:01;");

    reply[9] = 0;
    reply[10] = 2;  // 2 - 3 would wrap
    EXPECT_FALSE(ipx::parseReply(ipx::Kind::Status, true, reply));
}

TEST(IpxPackets, LengthsThatReachPastTheReplyAndWrongMarksAreRefused)
{
    auto status = ipx::queryReply(ipx::Kind::Status, false, 1, 0, bytes("ST:01;"));
    status[12] = 0x02;  // 512 + 6 bytes claimed, 6 there
    EXPECT_FALSE(ipx::parseReply(ipx::Kind::Status, false, status));

    auto id = ipx::queryReply(ipx::Kind::DeviceId, false, 1, 0, bytes("MFG:VELTA;"));
    id[12] = 1;
    EXPECT_FALSE(ipx::parseReply(ipx::Kind::DeviceId, false, id)) << "byte 12 must be 0 for a device ID";

    auto extended = ipx::queryReply(ipx::Kind::Status, true, 1, 0, bytes("ST:01;"));
    extended[11] = 0x30;
    EXPECT_FALSE(ipx::parseReply(ipx::Kind::Status, true, extended));

    EXPECT_FALSE(ipx::parseReply(ipx::Kind::Status, false, Bytes(13, 0)));
    const Bytes huge(600, 'x');
    EXPECT_LE(ipx::queryReply(ipx::Kind::Status, false, 1, 0, huge).size(), ipx::kReceiveBufferBytes);
}
