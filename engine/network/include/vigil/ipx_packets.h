#pragma once
// The packets of a printer's network interface, as they travel over IPX: a 30-byte IPX header, then
// the request or reply data. Shared by the engine's network link, the network check library and the
// simulator that plays the interface; pure functions, so that every length from the network is
// checked in one place (and fuzzed there).
//
// Request data: function (1), code (1), 0, sequence number (4, big-endian), 0, parameter length n (1),
// n parameter bytes. Replies start the same way; offsets below count from the start of the data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "plat/netware/environment.h"

namespace vigil::ipx {

inline constexpr std::size_t kHeaderBytes = 30;
inline constexpr std::uint8_t kPacketType = 4;
inline constexpr std::size_t kSendBufferBytes = 78;      // the largest request's data (connect: 58)
inline constexpr std::size_t kReceiveBufferBytes = 556;  // the largest reply's data
inline constexpr std::size_t kNameFieldBytes = 48;

struct Header {
    std::uint16_t length = 0;  // header and data
    std::uint8_t packetType = kPacketType;
    plat::netware::Address destination, source;
};
// Checksum 0xFFFF, transport control 0, all numbers big-endian.
void writeHeader(const Header& header, std::span<std::uint8_t, kHeaderBytes> out);
std::optional<Header> readHeader(std::span<const std::uint8_t> datagram);

enum class Function : std::uint8_t { Connect = 1, Query = 2, ExtendedQuery = 16 };
// The request kinds the engine makes (device ID, status, option card); the extended query carries
// the first two as its sub-kind.
enum class Kind : std::uint8_t { DeviceId = 0, Status = 1, OptionCard = 2 };

struct Request {
    Function function = Function::Query;
    std::uint8_t code = 0;
    std::uint32_t sequence = 0;
    std::vector<std::uint8_t> parameters;  // at most 255 bytes
};

// Connect (1, 3): the print server name, upper-cased and zero-terminated in a 48-byte field (longer
// names are cut), then the printer number's low byte.
Request connectRequest(std::string_view printServer, std::uint16_t printer, std::uint32_t sequence);
// A query of `kind`: device ID (2, 2), status (2, 3), option card (2, 4, one parameter byte 0), or, when
// `extended`, the extended query (16, 0) with the sub-kind and two zero bytes; nullopt for an option card
// as an extended query, which the interface does not offer.
std::optional<Request> queryRequest(Kind kind, bool extended, std::uint32_t sequence);

std::vector<std::uint8_t> encode(const Request& request);  // the data, 9 + n bytes
std::optional<Request> decodeRequest(std::span<const std::uint8_t> data);

// What the interface answers to a connect.
struct ConnectReply {
    std::uint32_t sequence = 0;
    plat::netware::Address conversation;  // bytes 11..22
    bool extendedRequest = false;         // byte 23 is 1
};
// nullopt when the reply is shorter than 24 bytes or its result (byte 8) is not 0.
std::optional<ConnectReply> parseConnectReply(std::span<const std::uint8_t> data);

struct Payload {
    std::uint32_t sequence = 0;
    std::size_t offset = 0, length = 0;  // where the payload lies in the reply data
};
// The payload of a reply to a query of `kind`, checked as the interface's replies are: device ID
// (bytes 8 and 12 zero, length at 13, payload at 15); status and option card (byte 8 zero, length at
// 12, payload at 14); extended (byte 8 zero, high nibble of byte 11 is 4, length at 12 or, when that
// is 0, the 16-bit value at 9 minus 3; payload at 16 and 2 bytes shorter for the device ID, at 14 for
// the status). nullopt when a check fails or the payload would reach past the reply.
std::optional<Payload> parseReply(Kind kind, bool extended, std::span<const std::uint8_t> data);

// The simulator's side: replies that parse as above.
std::vector<std::uint8_t> connectReply(std::uint32_t sequence, std::uint8_t result,
                                       const plat::netware::Address& conversation, bool extendedRequest);
std::vector<std::uint8_t> queryReply(Kind kind, bool extended, std::uint32_t sequence, std::uint8_t result,
                                     std::span<const std::uint8_t> payload);

}  // namespace vigil::ipx
