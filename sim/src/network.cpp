#include "network.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "vigil/ipx_packets.h"

namespace vprinter::net {
namespace ipx = vigil::ipx;
using plat::netware::Address;

namespace {

// The log answers one control request, whose answer has a bounded size: the oldest lines go first,
// and no datagram fills more than one line of reasonable length.
constexpr std::size_t kLogBytes = 48 * 1024;
constexpr std::size_t kLoggedBytesPerDatagram = 600;

std::string hex(std::span<const std::uint8_t> bytes)
{
    std::string out;
    char two[3];
    for (auto b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        out += two;
    }
    return out;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

struct Received {
    ipx::Header header;
    ipx::Request request;
};

// The request a datagram carries, if it is an IPX packet of type 4 with a whole request in it. The
// header's length field is not held against the datagram: clients set it per conversation, not per
// packet.
std::optional<Received> receive(std::span<const std::uint8_t> datagram)
{
    auto header = ipx::readHeader(datagram);
    if (!header || header->packetType != ipx::kPacketType) return std::nullopt;
    auto request = ipx::decodeRequest(datagram.subspan(ipx::kHeaderBytes));
    if (!request) return std::nullopt;
    return Received{*header, std::move(*request)};
}

Datagram withHeader(const Address& from, const Address& to, const std::vector<std::uint8_t>& data,
                    std::size_t headerLength)
{
    Datagram out(ipx::kHeaderBytes + data.size());
    ipx::Header h{static_cast<std::uint16_t>(std::min<std::size_t>(headerLength, 0xFFFF)), ipx::kPacketType, to, from};
    ipx::writeHeader(h, std::span<std::uint8_t, ipx::kHeaderBytes>(out.data(), ipx::kHeaderBytes));
    std::copy(data.begin(), data.end(), out.begin() + ipx::kHeaderBytes);
    return out;
}

const char* faultName(Interface::Fault fault)
{
    switch (fault) {
    case Interface::Fault::None: return "none";
    case Interface::Fault::WrongSequence: return "wrong-sequence";
    case Interface::Fault::ShortReply: return "short-reply";
    case Interface::Fault::OversizedReply: return "oversized-reply";
    }
    return "?";
}

}  // namespace

std::string displayName(const Identity& identity)
{
    return "NET:" + identity.server + "/" + identity.name + "/" + std::to_string(identity.number);
}

bool validName(std::string_view name)
{
    return !name.empty() && name.size() <= plat::netware::kMaxNameBytes &&
           std::none_of(name.begin(), name.end(), [](char c) {
               const auto u = static_cast<unsigned char>(c);
               return u <= ' ' || u == 0x7F || c == '/';
           });
}

Interface::Interface(Identity identity, Printer& printer) : m_identity(std::move(identity)), m_printer(printer)
{
    m_identity.server = upper(m_identity.server);
    m_identity.name = upper(m_identity.name);
}

void Interface::log(std::span<const std::uint8_t> datagram)
{
    std::ostringstream line;
    line << m_logged++ << ' ' << datagram.size() << ' ';
    const std::size_t headerBytes = datagram.size() >= ipx::kHeaderBytes ? ipx::kHeaderBytes : 0;
    if (headerBytes == 0) line << "- ";  // not even an IPX header
    else line << hex(datagram.first(headerBytes)) << ' ';
    auto data = datagram.subspan(headerBytes);
    const auto shown = data.first(std::min(data.size(), kLoggedBytesPerDatagram));
    line << hex(shown) << " |";
    for (auto b : shown) line << (b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
    line << '|';
    if (shown.size() < data.size()) line << " (" << data.size() - shown.size() << " more bytes)";
    line << '\n';
    m_log.push_back(line.str());
    std::size_t total = 0;
    for (const auto& l : m_log) total += l.size();
    while (total > kLogBytes && m_log.size() > 1) {
        total -= m_log.front().size();
        m_log.pop_front();
    }
}

Datagram Interface::reply(const Address& to, std::vector<std::uint8_t> data, std::size_t headerLength) const
{
    return withHeader(m_conversation, to, data, headerLength);
}

std::optional<Datagram> Interface::query(std::span<const std::uint8_t> datagram, const Address& from)
{
    log(datagram);
    if (m_printer.unplugged() || m_printer.silent()) return std::nullopt;
    auto received = receive(datagram);
    if (!received) return std::nullopt;
    const ipx::Request& request = received->request;
    ipx::Kind kind{};
    bool extended = false;
    if (request.function == ipx::Function::Query) {
        if (request.code == 2) kind = ipx::Kind::DeviceId;
        else if (request.code == 3) kind = ipx::Kind::Status;
        else if (request.code == 4) kind = ipx::Kind::OptionCard;
        else return std::nullopt;
    } else if (request.function == ipx::Function::ExtendedQuery && m_identity.extended && request.code == 0 &&
               !request.parameters.empty() && request.parameters[0] <= 1) {
        extended = true;
        kind = request.parameters[0] == 0 ? ipx::Kind::DeviceId : ipx::Kind::Status;
    } else {
        return std::nullopt;
    }

    // What the printer answers on a local port to the same question.
    std::string payload;
    if (kind == ipx::Kind::DeviceId) payload = m_printer.deviceId();
    else if (kind == ipx::Kind::Status) payload = m_printer.statusReply();
    else payload = m_printer.optionCardReply();

    std::uint32_t sequence = request.sequence;
    if (m_fault == Fault::WrongSequence) ++sequence;
    auto data = ipx::queryReply(kind, extended, sequence, 0,
                                std::span(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()));
    std::size_t headerLength = ipx::kHeaderBytes + data.size();
    if (m_fault == Fault::ShortReply) {
        // The datagram lost its last byte on the way; the header still counts it.
        data.pop_back();
    } else if (m_fault == Fault::OversizedReply) {
        // More than a reply can hold, and a payload length past even that.
        data.resize(kOversizedReplyBytes, '#');
        const std::size_t at = !extended && kind == ipx::Kind::DeviceId ? 13 : 12;
        data[at] = data[at + 1] = 0xFF;
        if (extended) data[9] = data[10] = 0xFF;
        headerLength = ipx::kHeaderBytes + data.size();
    }
    return reply(from, std::move(data), headerLength);
}

std::optional<std::string> Interface::control(const std::vector<std::string>& words, bool& ok)
{
    ok = false;
    if (words.empty()) return std::nullopt;
    const std::string& name = words[0];
    const bool takesNothing = words.size() == 1;
    auto done = [&](std::string answer = "ok") {
        ok = true;
        return answer;
    };
    if (name == "wrong-sequence" || name == "short-reply" || name == "oversized-reply") {
        if (!takesNothing) return name + ": takes no argument";
        m_fault = name == "wrong-sequence" ? Fault::WrongSequence
                  : name == "short-reply"  ? Fault::ShortReply
                                           : Fault::OversizedReply;
        return done();
    }
    if (name == "heal") {
        if (takesNothing) m_fault = Fault::None;
        return std::nullopt;  // the printer heals too, or says what is wrong with the command
    }
    if (name == "log") {
        if (!takesNothing) return std::string("log: takes no argument");
        std::string out;
        for (const auto& line : m_log) out += line;
        return done(out);
    }
    if (name == "reset-log" || (name == "reset" && words.size() == 2 && words[1] == "log")) {
        m_log.clear();
        m_logged = 0;
        return done();
    }
    return std::nullopt;
}

std::string Interface::describe() const
{
    return "network " + displayName(m_identity) + "\nconversation " + m_conversation.text() + "\nextended " +
           (m_identity.extended ? "yes" : "no") + "\nreply fault " + faultName(m_fault) + "\n";
}

std::optional<Datagram> connect(std::span<Interface* const> interfaces, std::span<const std::uint8_t> datagram,
                                const Address& self, const Address& from, Interface** named)
{
    if (named != nullptr) *named = nullptr;
    auto received = receive(datagram);
    if (!received) return std::nullopt;
    const ipx::Request& request = received->request;
    if (request.function != ipx::Function::Connect || request.code != 3 ||
        request.parameters.size() < ipx::kNameFieldBytes + 1) {
        return std::nullopt;
    }
    const auto field = std::span(request.parameters).first(ipx::kNameFieldBytes);
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    const std::string name = upper(std::string(field.begin(), end));
    const std::uint8_t number = request.parameters[ipx::kNameFieldBytes];

    auto refused = [&] {
        auto data = ipx::connectReply(request.sequence, kConnectRefused, Address{}, false);
        return withHeader(self, from, data, ipx::kHeaderBytes + data.size());
    };
    const auto it = std::find_if(interfaces.begin(), interfaces.end(), [&](Interface* i) {
        return i->identity().name == name && i->identity().number == number;
    });
    if (it == interfaces.end()) return refused();
    Interface& interface = **it;
    if (named != nullptr) *named = &interface;
    interface.log(datagram);
    if (interface.printer().unplugged()) return std::nullopt;
    if (interface.printer().refusesOpen()) return refused();
    auto data = ipx::connectReply(request.sequence, 0, interface.conversation(), interface.identity().extended);
    return withHeader(self, from, data, ipx::kHeaderBytes + data.size());
}

}  // namespace vprinter::net
