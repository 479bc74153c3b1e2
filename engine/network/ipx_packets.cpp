// Packets of the printer's network interface: building and checking, with every length bounded.

#include "vigil/ipx_packets.h"

#include <algorithm>

namespace vigil::ipx {

namespace {

constexpr std::size_t kDataHeaderBytes = 9;

std::uint16_t be16(std::span<const std::uint8_t> d, std::size_t at)
{
    return static_cast<std::uint16_t>(d[at] << 8 | d[at + 1]);
}

void putBe16(std::uint8_t* p, std::size_t value)
{
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
}

std::uint32_t sequenceOf(std::span<const std::uint8_t> d)
{
    return std::uint32_t{d[3]} << 24 | std::uint32_t{d[4]} << 16 | std::uint32_t{d[5]} << 8 | d[6];
}

void putSequence(std::uint8_t* p, std::uint32_t sequence)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(sequence >> (24 - 8 * i));
}

std::uint8_t queryCode(Kind kind)
{
    switch (kind) {
    case Kind::DeviceId: return 2;
    case Kind::Status: return 3;
    case Kind::OptionCard: return 4;
    }
    return 0;
}

std::optional<Payload> payloadAt(std::span<const std::uint8_t> data, std::size_t offset, std::size_t length)
{
    if (offset > data.size() || length > data.size() - offset) return std::nullopt;
    return Payload{sequenceOf(data), offset, length};
}

}  // namespace

void writeHeader(const Header& header, std::span<std::uint8_t, kHeaderBytes> out)
{
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    out[0] = out[1] = 0xFF;
    putBe16(&out[2], header.length);
    out[5] = header.packetType;
    std::copy(header.destination.bytes.begin(), header.destination.bytes.end(), out.begin() + 6);
    std::copy(header.source.bytes.begin(), header.source.bytes.end(), out.begin() + 18);
}

std::optional<Header> readHeader(std::span<const std::uint8_t> datagram)
{
    if (datagram.size() < kHeaderBytes) return std::nullopt;
    Header h;
    h.length = be16(datagram, 2);
    h.packetType = datagram[5];
    std::copy_n(datagram.begin() + 6, 12, h.destination.bytes.begin());
    std::copy_n(datagram.begin() + 18, 12, h.source.bytes.begin());
    return h;
}

Request connectRequest(std::string_view printServer, std::uint16_t printer, std::uint32_t sequence)
{
    Request r{Function::Connect, 3, sequence, std::vector<std::uint8_t>(kNameFieldBytes + 1, 0)};
    const std::size_t n = std::min(printServer.size(), kNameFieldBytes - 1);
    for (std::size_t i = 0; i < n; ++i) {
        char c = printServer[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        r.parameters[i] = static_cast<std::uint8_t>(c);
    }
    r.parameters[kNameFieldBytes] = static_cast<std::uint8_t>(printer);
    return r;
}

std::optional<Request> queryRequest(Kind kind, bool extended, std::uint32_t sequence)
{
    if (extended) {
        if (kind == Kind::OptionCard) return std::nullopt;
        return Request{Function::ExtendedQuery, 0, sequence, {static_cast<std::uint8_t>(kind), 0, 0}};
    }
    Request r{Function::Query, queryCode(kind), sequence, {}};
    if (kind == Kind::OptionCard) r.parameters.push_back(0);
    return r;
}

std::vector<std::uint8_t> encode(const Request& request)
{
    const std::size_t n = std::min<std::size_t>(request.parameters.size(), 255);
    std::vector<std::uint8_t> data(kDataHeaderBytes + n, 0);
    data[0] = static_cast<std::uint8_t>(request.function);
    data[1] = request.code;
    putSequence(&data[3], request.sequence);
    data[8] = static_cast<std::uint8_t>(n);
    std::copy_n(request.parameters.begin(), n, data.begin() + kDataHeaderBytes);
    return data;
}

std::optional<Request> decodeRequest(std::span<const std::uint8_t> data)
{
    if (data.size() < kDataHeaderBytes) return std::nullopt;
    const std::size_t n = data[8];
    if (data.size() - kDataHeaderBytes < n) return std::nullopt;
    Request r{static_cast<Function>(data[0]), data[1], sequenceOf(data), {}};
    r.parameters.assign(data.begin() + kDataHeaderBytes, data.begin() + kDataHeaderBytes + n);
    return r;
}

std::optional<ConnectReply> parseConnectReply(std::span<const std::uint8_t> data)
{
    if (data.size() < 24 || data[8] != 0) return std::nullopt;
    ConnectReply r;
    r.sequence = sequenceOf(data);
    std::copy_n(data.begin() + 11, 12, r.conversation.bytes.begin());
    r.extendedRequest = data[23] == 1;
    return r;
}

std::optional<Payload> parseReply(Kind kind, bool extended, std::span<const std::uint8_t> data)
{
    if (data.size() < 14 || data[8] != 0) return std::nullopt;
    if (extended) {
        if ((data[11] & 0xF0) != 0x40) return std::nullopt;
        std::size_t length = be16(data, 12);
        if (length == 0) {
            const std::size_t whole = be16(data, 9);
            if (whole < 3) return std::nullopt;
            length = whole - 3;
        }
        if (kind == Kind::DeviceId) {
            // The ID keeps its own two length bytes in front, which the caller does not get.
            if (length < 2) return std::nullopt;
            return payloadAt(data, 16, length - 2);
        }
        return payloadAt(data, 14, length);
    }
    if (kind == Kind::DeviceId) {
        if (data.size() < 15 || data[12] != 0) return std::nullopt;
        return payloadAt(data, 15, be16(data, 13));
    }
    return payloadAt(data, 14, be16(data, 12));
}

std::vector<std::uint8_t> connectReply(std::uint32_t sequence, std::uint8_t result,
                                       const plat::netware::Address& conversation, bool extendedRequest)
{
    std::vector<std::uint8_t> data(24, 0);
    data[0] = static_cast<std::uint8_t>(Function::Connect);
    data[1] = 3;
    putSequence(&data[3], sequence);
    data[8] = result;
    std::copy(conversation.bytes.begin(), conversation.bytes.end(), data.begin() + 11);
    data[23] = extendedRequest ? 1 : 0;
    return data;
}

std::vector<std::uint8_t> queryReply(Kind kind, bool extended, std::uint32_t sequence, std::uint8_t result,
                                     std::span<const std::uint8_t> payload)
{
    // Whatever does not fit one reply is cut, as the interface's buffer would.
    const std::size_t start = extended ? (kind == Kind::DeviceId ? 16 : 14) : (kind == Kind::DeviceId ? 15 : 14);
    const std::size_t n = std::min(payload.size(), kReceiveBufferBytes - start);
    std::vector<std::uint8_t> data(start + n, 0);
    data[0] = static_cast<std::uint8_t>(extended ? Function::ExtendedQuery : Function::Query);
    data[1] = extended ? 0 : queryCode(kind);
    putSequence(&data[3], sequence);
    data[8] = result;
    if (extended) {
        const std::size_t length = kind == Kind::DeviceId ? n + 2 : n;
        putBe16(&data[9], length + 3);
        data[11] = static_cast<std::uint8_t>(0x40 | static_cast<std::uint8_t>(kind));
        putBe16(&data[12], length);
        if (kind == Kind::DeviceId) putBe16(&data[14], n + 2);
    } else if (kind == Kind::DeviceId) {
        putBe16(&data[13], n);
    } else {
        putBe16(&data[12], n);
    }
    std::copy_n(payload.begin(), n, data.begin() + start);
    return data;
}

}  // namespace vigil::ipx
