// vprinter's network interfaces, from the outside: packets over UDP to the addresses the environment
// file gives, built and read with the engine's own packet functions. A reply that must not come is
// shown absent by ordering, never by waiting: datagrams between two sockets on the loopback arrive in
// order, so a later request's reply arriving first proves the earlier request went unanswered.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "plat/netware/environment.h"
#include "plat/port/port.h"
#include "testsupport/run_program.h"
#include "testsupport/simulator.h"
#include "testsupport/temp_root.h"
#include "vigil/ipx_packets.h"

namespace ipx = vigil::ipx;
using plat::netware::Address;
using testsupport::NetworkPrinter;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The engine's side of the conversation, reduced to what the tests need.
class Client {
public:
    Client()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof local;
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&local), &size);
        m_self = Address::loopback(ntohs(local.sin_port));
    }
    ~Client() { ::close(m_fd); }

    // Sends `data` behind an IPX header of `packetType`.
    void send(const Address& to, const Bytes& data, std::uint8_t packetType = ipx::kPacketType) const
    {
        Bytes datagram(ipx::kHeaderBytes);
        ipx::writeHeader({static_cast<std::uint16_t>(ipx::kHeaderBytes + data.size()), packetType, to, m_self},
                         std::span<std::uint8_t, ipx::kHeaderBytes>(datagram.data(), ipx::kHeaderBytes));
        datagram.insert(datagram.end(), data.begin(), data.end());
        sendRaw(to, datagram);
    }
    void sendRaw(const Address& to, const Bytes& datagram) const
    {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = htonl(to.ipv4());
        peer.sin_port = htons(to.port());
        ASSERT_EQ(::sendto(m_fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&peer), sizeof peer),
                  static_cast<ssize_t>(datagram.size()));
    }
    // The next datagram, whole; nothing when none comes within a generous bound.
    std::optional<Bytes> receive() const
    {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) != 1) return std::nullopt;
        Bytes datagram(65536);
        const ssize_t n = ::recv(m_fd, datagram.data(), datagram.size(), 0);
        if (n < 0) return std::nullopt;
        datagram.resize(static_cast<std::size_t>(n));
        return datagram;
    }
    // The data of the next datagram (after the IPX header).
    Bytes replyData() const
    {
        auto datagram = receive();
        if (!datagram || datagram->size() < ipx::kHeaderBytes) {
            ADD_FAILURE() << "no reply";
            return {};
        }
        return Bytes(datagram->begin() + ipx::kHeaderBytes, datagram->end());
    }

    Bytes connect(const Address& server, const std::string& name, int number, std::uint32_t sequence) const
    {
        send(server, ipx::encode(ipx::connectRequest(name, static_cast<std::uint16_t>(number), sequence)));
        return replyData();
    }
    Bytes query(const Address& conversation, ipx::Kind kind, bool extended, std::uint32_t sequence) const
    {
        send(conversation, ipx::encode(*ipx::queryRequest(kind, extended, sequence)));
        return replyData();
    }
    // The payload of a well-formed reply to that query.
    std::string payload(const Address& conversation, ipx::Kind kind, bool extended, std::uint32_t sequence) const
    {
        const Bytes reply = query(conversation, kind, extended, sequence);
        auto p = ipx::parseReply(kind, extended, reply);
        if (!p) {
            ADD_FAILURE() << "a reply that does not parse, " << reply.size() << " bytes";
            return {};
        }
        EXPECT_EQ(p->sequence, sequence);
        return std::string(reply.begin() + static_cast<long>(p->offset),
                           reply.begin() + static_cast<long>(p->offset + p->length));
    }

    const Address& self() const { return m_self; }

private:
    int m_fd = -1;
    Address m_self;
};

const NetworkPrinter kPage{"FS1", "PS1", 0, "PG-03", false, ""};
const NetworkPrinter kInkjet{"FS1", "IJ9", 2, "IJ-09", true, ""};

class Network : public testsupport::RootTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.ready()) << sim.output();
        auto address = testsupport::printServerAddress("FS1");
        ASSERT_TRUE(address) << "the file server's address is entered";
        server = *address;
        page = conversationOf(kPage);
        inkjet = conversationOf(kInkjet);
    }

    Address conversationOf(const NetworkPrinter& printer)
    {
        auto reply = ipx::parseConnectReply(client.connect(server, printer.name, printer.number, 1));
        EXPECT_TRUE(reply) << printer.name;
        return reply ? reply->conversation : Address{};
    }

    std::string must(const NetworkPrinter& printer, const std::string& command)
    {
        return sim.must(testsupport::networkPort(printer), command);
    }

    testsupport::Simulator sim{VPRINTER_PROGRAM, testsupport::netwareConfig({kPage, kInkjet})};
    Client client;
    Address server, page, inkjet;
};

}  // namespace

TEST_F(Network, ConnectGivesEachPrintersConversationAndWhetherItOffersTheExtendedQuery)
{
    const Bytes pageReply = client.connect(server, "ps1", 0, 0x01020304);
    auto connected = ipx::parseConnectReply(pageReply);
    ASSERT_TRUE(connected) << "names are compared without regard to case";
    EXPECT_EQ(connected->sequence, 0x01020304u);
    EXPECT_FALSE(connected->extendedRequest);
    EXPECT_EQ(connected->conversation.ipv4(), 0x7F000001u);

    auto extended = ipx::parseConnectReply(client.connect(server, "IJ9", 2, 5));
    ASSERT_TRUE(extended);
    EXPECT_TRUE(extended->extendedRequest);
    EXPECT_NE(extended->conversation, connected->conversation) << "every printer has a conversation of its own";
    EXPECT_NE(extended->conversation, server);

    for (const auto& [name, number] : {std::pair<std::string, int>{"PS9", 0}, {"PS1", 1}, {"IJ9", 0}}) {
        const Bytes refused = client.connect(server, name, number, 6);
        ASSERT_GE(refused.size(), 9u) << name << "/" << number;
        EXPECT_NE(refused[8], 0) << name << "/" << number << " is unknown: the result is not 0";
        EXPECT_FALSE(ipx::parseConnectReply(refused));
    }
}

TEST_F(Network, EveryQueryPlainAndExtendedAnswersWhatThePrinterAnswersOnALocalPort)
{
    EXPECT_NE(client.payload(page, ipx::Kind::DeviceId, false, 10).find("MFG:VELTA;MDL:PG-03;"), std::string::npos);
    const std::string status = client.payload(page, ipx::Kind::Status, false, 11);
    ASSERT_GT(status.size(), 111u);
    EXPECT_EQ(status.substr(0, 17), "@KJL STATUS CODE=");
    EXPECT_EQ(status.substr(21, 4), "03E8") << "ready";
    EXPECT_NE(client.payload(page, ipx::Kind::OptionCard, false, 12).find("PGSCRIPT mlS OPTIONCARD"),
              std::string::npos);

    // The printer's state and control commands are those of a local printer.
    must(kPage, "paper-out");
    EXPECT_EQ(client.payload(page, ipx::Kind::Status, false, 13).substr(21, 4), "0FAA");
    must(kPage, "device-id MFG:VELTA;MDL:PG-03;X:1;");
    EXPECT_EQ(client.payload(page, ipx::Kind::DeviceId, false, 14), "MFG:VELTA;MDL:PG-03;X:1;");

    EXPECT_EQ(client.payload(inkjet, ipx::Kind::DeviceId, true, 20).substr(0, 20), "MFG:VELTA;MDL:IJ-09;");
    EXPECT_EQ(client.payload(inkjet, ipx::Kind::Status, true, 21).substr(9, 6), "ST:04;");
    must(kInkjet, "ink-out");
    EXPECT_EQ(client.payload(inkjet, ipx::Kind::Status, true, 22).substr(9, 12), "ST:00;ER:05;");
    EXPECT_EQ(client.payload(inkjet, ipx::Kind::Status, false, 23).substr(9, 12), "ST:00;ER:05;")
        << "the plain queries are answered too";
    EXPECT_EQ(client.payload(inkjet, ipx::Kind::OptionCard, false, 24), "") << "an inkjet has no option card";
}

TEST(NetworkPrinter, AnswersTheStatusALocalPortOfTheSameModelAndStateReads)
{
    testsupport::TempRoot root;
    NetworkPrinter printer{"FS1", "PS1", 0, "PG-03", false, "toner-low"};
    testsupport::Simulator sim{VPRINTER_PROGRAM,
                               testsupport::netwareConfig({printer}, R"({"port": "LPT1:", "model": "PG-03"})")};
    ASSERT_TRUE(sim.ready()) << sim.output();
    sim.must("LPT1:", "toner-low");
    auto port = plat::port::openPort(testsupport::rootStore(), "LPT1:");
    ASSERT_TRUE(port.ok()) << port.error().detail;
    const std::string enable = "\x1b\x01@KJL REQUEST STATUS=1\r\n";
    ASSERT_EQ(port.value()->write(std::as_bytes(std::span(enable.data(), enable.size()))),
              static_cast<plat::port::IoResult>(enable.size()));
    std::byte local[2048];
    const auto n = port.value()->read(local);
    ASSERT_GT(n, 0);

    Client client;
    auto connected = ipx::parseConnectReply(client.connect(*testsupport::printServerAddress("FS1"), "PS1", 0, 1));
    ASSERT_TRUE(connected);
    EXPECT_EQ(client.payload(connected->conversation, ipx::Kind::Status, false, 2),
              std::string(reinterpret_cast<const char*>(local), static_cast<std::size_t>(n)));
}

TEST_F(Network, ReplyFaultsSpoilOnlyWhatTheyNameAndHealRestoresTheReplies)
{
    must(kPage, "wrong-sequence");
    ASSERT_TRUE(ipx::parseConnectReply(client.connect(server, "PS1", 0, 30))) << "connects are answered as usual";
    auto wrong = ipx::parseReply(ipx::Kind::Status, false, client.query(page, ipx::Kind::Status, false, 31));
    ASSERT_TRUE(wrong);
    EXPECT_NE(wrong->sequence, 31u);

    must(kPage, "short-reply");
    client.send(page, ipx::encode(*ipx::queryRequest(ipx::Kind::DeviceId, false, 32)));
    auto shortReply = client.receive();
    ASSERT_TRUE(shortReply);
    const auto header = ipx::readHeader(*shortReply);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->length, shortReply->size() + 1) << "the header counts the byte the datagram lost";
    EXPECT_FALSE(ipx::parseReply(ipx::Kind::DeviceId, false, std::span(*shortReply).subspan(ipx::kHeaderBytes)));

    must(kInkjet, "oversized-reply");
    for (const bool extended : {false, true}) {
        const Bytes oversized = client.query(inkjet, ipx::Kind::Status, extended, 33);
        EXPECT_GT(oversized.size(), ipx::kReceiveBufferBytes);
        ASSERT_GE(oversized.size(), 14u);
        EXPECT_EQ(oversized[12] << 8 | oversized[13], 0xFFFF) << "a payload length past the datagram";
        EXPECT_FALSE(ipx::parseReply(ipx::Kind::Status, extended, oversized));
        // As the engine's 556-byte buffer would hold it.
        EXPECT_FALSE(
            ipx::parseReply(ipx::Kind::Status, extended, std::span(oversized).first(ipx::kReceiveBufferBytes)));
    }
    const Bytes oversizedId = client.query(inkjet, ipx::Kind::DeviceId, false, 36);
    ASSERT_GE(oversizedId.size(), 15u);
    EXPECT_EQ(oversizedId[13] << 8 | oversizedId[14], 0xFFFF) << "the device ID's length sits one byte later";
    EXPECT_FALSE(ipx::parseReply(ipx::Kind::DeviceId, false, oversizedId));
    EXPECT_NE(must(kInkjet, "show").find("reply fault oversized-reply"), std::string::npos);

    must(kPage, "heal");
    must(kInkjet, "heal");
    EXPECT_FALSE(client.payload(page, ipx::Kind::DeviceId, false, 34).empty());
    EXPECT_FALSE(client.payload(inkjet, ipx::Kind::Status, true, 35).empty());
}

TEST_F(Network, SilentUnpluggedAndRefusingPrintersAnswerAsTheirFaultSays)
{
    // Silent: the interface takes the conversation but the printer answers no query.
    must(kPage, "silent");
    ASSERT_TRUE(ipx::parseConnectReply(client.connect(server, "PS1", 0, 40)));
    client.send(page, ipx::encode(*ipx::queryRequest(ipx::Kind::Status, false, 41)));
    ASSERT_TRUE(testsupport::waitUntil([&] { return must(kPage, "log").find("\n1 ") != std::string::npos; }))
        << "the query reached the printer";
    must(kPage, "heal");
    auto reply = ipx::parseReply(ipx::Kind::Status, false, client.query(page, ipx::Kind::Status, false, 42));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->sequence, 42u) << "the query made while silent was not answered";

    // Unplugged: nothing answers, not even the connect; a printer that refuses opens refuses it.
    must(kPage, "unplug");
    client.send(server, ipx::encode(ipx::connectRequest("PS1", 0, 43)));
    auto other = ipx::parseConnectReply(client.connect(server, "IJ9", 2, 44));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->sequence, 44u) << "the unplugged printer's connect was not answered";
    must(kPage, "plug");
    must(kPage, "no-open");
    const Bytes refused = client.connect(server, "PS1", 0, 45);
    ASSERT_GE(refused.size(), 9u);
    EXPECT_NE(refused[8], 0);
    must(kPage, "heal");
    EXPECT_TRUE(ipx::parseConnectReply(client.connect(server, "PS1", 0, 46)));

    // Asleep: the device ID is empty until the printer wakes.
    must(kPage, "sleep");
    EXPECT_EQ(client.payload(page, ipx::Kind::DeviceId, false, 47), "");
    must(kPage, "heal");

    // Slow: the reply still comes, whole.
    must(kInkjet, "slow 300");
    EXPECT_EQ(client.payload(inkjet, ipx::Kind::Status, true, 48).substr(9, 6), "ST:04;");
}

TEST_F(Network, PacketsThatAreNotRequestsForThatSocketAreIgnoredAndLogged)
{
    must(kPage, "reset-log");
    const Bytes status = ipx::encode(*ipx::queryRequest(ipx::Kind::Status, false, 50));
    client.sendRaw(page, Bytes(10, 0xFF));                                            // shorter than a header
    client.send(page, status, 17);                                                    // not packet type 4
    client.send(page, {9, 0, 0, 0, 0, 0, 51, 0, 0});                                  // unknown function
    client.send(page, {2, 9, 0, 0, 0, 0, 52, 0, 0});                                  // unknown query code
    client.send(page, {2, 3, 0, 0, 0, 0, 53, 0, 5, 1});                               // parameters cut short
    client.send(page, ipx::encode(*ipx::queryRequest(ipx::Kind::Status, true, 54)));  // not offered
    client.send(page, ipx::encode(ipx::connectRequest("PS1", 0, 55)));                // a connect, to a conversation
    client.send(server, status);                                                      // a query, to the file server
    Bytes cut = ipx::encode(ipx::connectRequest("PS1", 0, 56));
    cut[8] = 20;
    cut.resize(9 + 20);
    client.send(server, cut);  // a connect without the printer number
    auto reply = ipx::parseReply(ipx::Kind::Status, false, client.query(page, ipx::Kind::Status, false, 57));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->sequence, 57u) << "none of the bad packets was answered";

    const std::string log = must(kPage, "log");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8) << log;
    EXPECT_EQ(log.substr(0, 8), "0 10 - F") << "a datagram without a header is logged whole";
    EXPECT_NE(log.find("020300000000390000 |"), std::string::npos) << "the last query's data in hex";
}

TEST(NetworkEnvironment, TheAddressIsEnteredBesideTheOtherRecordsAndTakenOutAtTheEnd)
{
    testsupport::TempRoot root;
    ASSERT_TRUE(plat::netware::update([](plat::netware::Environment& env) {
        env.put(plat::netware::FileServer{"FS1", 4});
        env.put(plat::netware::Queue{"FS1", "Q1", {"PS1"}});
        plat::netware::FileServer other{"FS9"};
        other.printServerAddress = Address::loopback(9);
        env.put(other);
    }));
    {
        testsupport::Simulator sim{VPRINTER_PROGRAM, testsupport::netwareConfig({kPage})};
        ASSERT_TRUE(sim.ready()) << sim.output();
        auto env = plat::netware::load();
        ASSERT_TRUE(env);
        const auto* fs1 = env.value().server("FS1");
        ASSERT_TRUE(fs1 && fs1->printServerAddress);
        EXPECT_EQ(fs1->majorVersion, 4) << "the file server keeps its version";
        EXPECT_EQ(fs1->printServerAddress->ipv4(), 0x7F000001u);
        EXPECT_TRUE(env.value().queue("FS1", "Q1"));
        EXPECT_EQ(env.value().server("FS9")->printServerAddress, Address::loopback(9));
    }
    auto env = plat::netware::load();
    ASSERT_TRUE(env);
    ASSERT_TRUE(env.value().server("FS1")) << "the file server stays";
    EXPECT_FALSE(env.value().server("FS1")->printServerAddress) << "its address goes with the simulator";
    EXPECT_EQ(env.value().server("FS1")->majorVersion, 4);
    EXPECT_TRUE(env.value().queue("FS1", "Q1"));
    EXPECT_EQ(env.value().server("FS9")->printServerAddress, Address::loopback(9));
}

TEST(NetworkEnvironment, TwoSimulatorsServeTheirOwnFileServersInOneRoot)
{
    testsupport::TempRoot root;
    const NetworkPrinter first{"FS1", "PS1", 0, "PG-03", false, ""}, second{"FS2", "PS1", 0, "IJ-09", true, ""};
    auto one = std::make_unique<testsupport::Simulator>(VPRINTER_PROGRAM, testsupport::netwareConfig({first}));
    testsupport::Simulator two{VPRINTER_PROGRAM, testsupport::netwareConfig({second})};
    ASSERT_TRUE(one->ready() && two.ready()) << one->output() << two.output();
    const auto fs1 = testsupport::printServerAddress("FS1"), fs2 = testsupport::printServerAddress("FS2");
    ASSERT_TRUE(fs1 && fs2);
    EXPECT_NE(*fs1, *fs2);

    Client client;
    auto onFs1 = ipx::parseConnectReply(client.connect(*fs1, "PS1", 0, 1));
    auto onFs2 = ipx::parseConnectReply(client.connect(*fs2, "PS1", 0, 2));
    ASSERT_TRUE(onFs1 && onFs2);
    EXPECT_FALSE(onFs1->extendedRequest);
    EXPECT_TRUE(onFs2->extendedRequest);
    EXPECT_NE(client.payload(onFs2->conversation, ipx::Kind::DeviceId, true, 3).find("MDL:IJ-09;"), std::string::npos);

    // ctl needs the file server when the name is served on both.
    auto ambiguous = two.control("NET:PS1/0", "show");
    EXPECT_EQ(ambiguous.exitCode, 1);
    EXPECT_NE(ambiguous.err.find("NET:FS2/PS1/0"), std::string::npos) << ambiguous.err;
    EXPECT_NE(two.must("NET:fs2/ps1/0", "show").find("model IJ-09"), std::string::npos);

    one.reset();
    EXPECT_FALSE(testsupport::printServerAddress("FS1"));
    EXPECT_EQ(testsupport::printServerAddress("FS2"), fs2);
    EXPECT_NE(two.must("NET:PS1/0", "show").find("model IJ-09"), std::string::npos) << "now only FS2 has it";
}

TEST(NetworkConfig, BadNetworkEntriesAreRefusedWithAReason)
{
    testsupport::TempRoot root;
    struct Case {
        const char* config;
        const char* says;
    } cases[] = {
        {R"({"netware": [{"server": "FS1", "name": "PS1"}]})", "\"server\", \"name\" and \"model\""},
        {R"({"netware": [{"server": "FS 1", "name": "PS1", "model": "PG-03"}]})", "without blanks"},
        {R"({"netware": [{"server": "FS1", "name": "P/S", "model": "PG-03"}]})", "without blanks or \"/\""},
        {R"({"netware": [{"server": "FS1", "name": "PS1", "number": 256, "model": "PG-03"}]})", "0..255"},
        {R"({"netware": [{"server": "FS1", "name": "PS1", "model": "PG-03", "extended": 1}]})", "true or false"},
        {R"({"netware": [{"server": "FS1", "name": "PS1", "model": "PG-03"},
                         {"server": "fs1", "name": "ps1", "model": "IJ-09"}]})",
         "NET:FS1/PS1/0 given twice"},
        {R"({"printers": [{"port": "NET:FS1/PS1/0", "model": "PG-03"}]})", "network printers"},
        {R"({"netware": []})", "no printers"},
    };
    for (const auto& c : cases) {
        const std::string file = std::string(std::getenv("KESTREL_ROOT")) + "/bad.json";
        std::ofstream(file) << c.config;
        auto run = testsupport::runProgram({VPRINTER_PROGRAM, "run", file});
        EXPECT_EQ(run.exitCode, 2) << c.config;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << c.config << " said: " << run.err;
    }
    EXPECT_FALSE(testsupport::printServerAddress("FS1")) << "nothing was entered";
}

TEST_F(Network, TheControlSocketOfANetworkPrinterTakesControlCommandsOnly)
{
    auto unknown = sim.control("NET:FS1/PS7/0", "show");
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("no network printer NET:FS1/PS7/0"), std::string::npos) << unknown.err;
    auto malformed = sim.control("NET:PS1", "show");
    EXPECT_EQ(malformed.exitCode, 1);
    EXPECT_NE(malformed.err.find("NET:SERVER/NAME/NUMBER"), std::string::npos) << malformed.err;
    EXPECT_NE(
        plat::port::openTarget("sim:" + std::string(std::getenv("KESTREL_ROOT")) + "/run/vprinter-net-FS1-PS1-0.sock")
            .ok(),
        true)
        << "it is no port to open";
}
