#include "plat/port/sim_protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plat::port::sim {
namespace {

bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, std::size_t size)
{
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Moves `size` bytes over a non-blocking socket, waiting with poll() until the deadline.
Io transfer(int fd, bool sending, char* data, std::size_t size, std::chrono::steady_clock::time_point deadline,
            int interruptFd)
{
    while (size > 0) {
        ssize_t n =
            sending ? ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT) : ::recv(fd, data, size, MSG_DONTWAIT);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return Io::Gone;
        if (errno == EINTR) continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Io::TimedOut;
        pollfd p[2] = {{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0}, {interruptFd, POLLIN, 0}};
        int ready = ::poll(p, 2, static_cast<int>(std::min<long long>(left.count(), 1 << 30)));
        if (ready < 0 && errno != EINTR) return Io::Gone;
        if (ready > 0 && (p[1].revents & POLLIN)) return Io::Interrupted;
    }
    return Io::Done;
}

}  // namespace

Io sendFrame(int fd, std::uint8_t code, std::span<const std::byte> payload,
             std::chrono::steady_clock::time_point deadline, int interruptFd)
{
    if (payload.size() > kMaxPayload) return Io::Gone;
    std::vector<std::byte> frame{static_cast<std::byte>(code)};
    putU32(frame, static_cast<std::uint32_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return transfer(fd, true, reinterpret_cast<char*>(frame.data()), frame.size(), deadline, interruptFd);
}

Io receiveFrame(int fd, Frame& frame, std::chrono::steady_clock::time_point deadline, int interruptFd)
{
    unsigned char header[5];
    if (Io io = transfer(fd, false, reinterpret_cast<char*>(header), sizeof header, deadline, interruptFd);
        io != Io::Done) {
        return io;
    }
    std::uint32_t length = 0;
    std::memcpy(&length, header + 1, 4);
    if (length > kMaxPayload) return Io::Gone;
    frame.code = header[0];
    frame.payload.resize(length);
    return transfer(fd, false, reinterpret_cast<char*>(frame.payload.data()), length, deadline, interruptFd);
}

void putU32(std::vector<std::byte>& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xff));
}

std::uint32_t getU32(std::span<const std::byte> in, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && at + i < in.size(); ++i) {
        value |= static_cast<std::uint32_t>(in[at + i]) << (8 * i);
    }
    return value;
}

std::span<const std::byte> asBytes(std::string_view text) { return std::as_bytes(std::span(text.data(), text.size())); }

std::string asText(std::span<const std::byte> bytes)
{
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool sendFrame(int fd, std::uint8_t code, std::span<const std::byte> payload)
{
    if (payload.size() > kMaxPayload) return false;
    std::vector<std::byte> header{static_cast<std::byte>(code)};
    putU32(header, static_cast<std::uint32_t>(payload.size()));
    return writeAll(fd, header.data(), header.size()) && writeAll(fd, payload.data(), payload.size());
}

std::optional<Frame> receiveFrame(int fd)
{
    unsigned char header[5];
    if (!readAll(fd, header, sizeof header)) return std::nullopt;
    std::uint32_t length = 0;
    std::memcpy(&length, header + 1, 4);
    if (length > kMaxPayload) return std::nullopt;
    Frame frame;
    frame.code = header[0];
    frame.payload.resize(length);
    if (!readAll(fd, frame.payload.data(), length)) return std::nullopt;
    return frame;
}

}  // namespace plat::port::sim
