#pragma once
// What a client of a simulated port asks, read from the bytes of its connection: when a request frame
// has come whole, what it is, and the words of a control command. The framing is plat/port's
// (sim_protocol.h); this is the server's reading of it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vprinter {

inline constexpr std::size_t kFrameHeaderBytes = 5;

// How many bytes the frame that begins with `received` still lacks (0: it is whole). Nothing when its
// header gives a length beyond what a frame may carry: the connection cannot be read on.
std::optional<std::size_t> frameBytesMissing(std::span<const std::byte> received);

// A whole request frame, taken apart. Only the fields of its kind are set.
struct Request {
    enum class Kind { Open, Write, Read, DeviceId, Purge, Control, Malformed };
    Kind kind = Kind::Malformed;
    std::uint32_t maxBytes = 0;        // Read, DeviceId: the most the answer may carry
    std::uint32_t timeoutMs = 0;       // Write: the write time-out; Read: the total time-out
    std::span<const std::byte> bytes;  // Open: the port name; Write: the bytes; Control: the line
};
// `frame` is whole (header and payload); the request points into it. An unknown code, or a payload
// too short for its kind, is Malformed.
Request decodeRequest(std::span<const std::byte> frame);

// The words of a control command line, split at blanks.
std::vector<std::string> commandWords(std::string_view line);

}  // namespace vprinter
