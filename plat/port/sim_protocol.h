#pragma once
// The framed protocol between a simulated port (the client, one connection per open) and vprinter
// (the server, one socket per port). Every frame is a one-byte code, a 32-bit little-endian payload
// length and the payload. The client sends requests; the server answers each with one response whose
// code is a SimStatus.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace plat::port::sim {

inline constexpr std::uint32_t kMaxPayload = 65536;

enum class Op : std::uint8_t {
    Open = 'O',      // payload: the port name. Must come first on a connection.
    Write = 'W',     // payload: u32 write time-out ms, then the bytes. Response payload: none.
    Read = 'R',      // payload: u32 max bytes, u32 interval ms, u32 total ms. Response payload: the bytes.
    DeviceId = 'I',  // payload: u32 max bytes. Response payload: the device ID (no length prefix).
    Purge = 'P',     // no payload.
    Control = 'C',   // payload: a vprinter control command line. Response payload: its text answer.
};

enum class Status : std::uint8_t {
    Ok = 0,
    NoOpen = 1,      // the port refuses to open (fault "no-open" or "unplug")
    TimedOut = 2,    // the printer did not take the write in time (fault "busy")
    BadRequest = 3,  // malformed or unknown request; the text says why
    Failed = 4,      // the control command was refused; the text says why
};

struct Frame {
    std::uint8_t code = 0;
    std::vector<std::byte> payload;
};

// False when the peer is gone.
bool sendFrame(int fd, std::uint8_t code, std::span<const std::byte> payload);
// Nothing when the peer is gone or sent a frame beyond kMaxPayload (then the connection is unusable).
std::optional<Frame> receiveFrame(int fd);

// Bounded forms, for a client on a non-blocking socket: each gives up at `deadline`, or as soon as
// `interruptFd` (ignored when -1) turns readable. After anything but Done the connection is unusable.
enum class Io { Done, Gone, TimedOut, Interrupted };
Io sendFrame(int fd, std::uint8_t code, std::span<const std::byte> payload,
             std::chrono::steady_clock::time_point deadline, int interruptFd);
Io receiveFrame(int fd, Frame& frame, std::chrono::steady_clock::time_point deadline, int interruptFd);

void putU32(std::vector<std::byte>& out, std::uint32_t value);
std::uint32_t getU32(std::span<const std::byte> in, std::size_t at);

std::span<const std::byte> asBytes(std::string_view text);
std::string asText(std::span<const std::byte> bytes);

}  // namespace plat::port::sim
