#include "vigil/port_channel.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "plat/base/trace.h"

namespace vigil {
namespace {

// Purges the receive side and closes: the channel's close, whichever way an operation ends.
struct PortCloser {
    std::unique_ptr<plat::port::Port>& port;
    ~PortCloser() { close(); }
    void close()
    {
        if (port) port->purgeReceive();
        port.reset();
    }
};

// Copies `bytes` and a terminating zero into `destination`, cut to fit; returns the bytes copied.
std::size_t copyTerminated(std::span<char> destination, std::span<const char> bytes)
{
    if (destination.empty()) return 0;
    std::size_t n = std::min(bytes.size(), destination.size() - 1);
    std::memcpy(destination.data(), bytes.data(), n);
    destination[n] = '\0';
    return n;
}

void makeEmpty(std::span<char> destination)
{
    if (!destination.empty()) destination[0] = '\0';
}

}  // namespace

PortChannel::PortChannel(const RunFlags& flags, ChannelTiming timing, PortOpener opener,
                         const plat::port::Interrupt* interrupt)
    : m_flags(flags), m_timing(timing), m_opener(std::move(opener)), m_interrupt(interrupt)
{
}

std::unique_ptr<plat::port::Port> PortChannel::open(std::string_view port) const
{
    if (interrupted()) return nullptr;
    auto opened = m_opener(port, m_interrupt);
    if (!opened) return nullptr;
    // A port without serial settings of its own is used with the channel's time-outs all the same.
    opened.value()->setTimeouts(m_timing.timeouts);
    return std::move(opened).value();
}

bool PortChannel::cancelled(CancelMode mode) const
{
    switch (mode) {
    case CancelMode::RealTime: return !m_flags.realTimeRunning();
    case CancelMode::Command: return !m_flags.commandRunning();
    case CancelMode::None: break;
    }
    return false;
}

bool PortChannel::interrupted() const { return m_interrupt != nullptr && m_interrupt->raised(); }

bool PortChannel::pause(std::chrono::milliseconds duration) const
{
    if (m_interrupt != nullptr) return m_interrupt->sleepFor(duration);
    std::this_thread::sleep_for(duration);
    return true;
}

std::size_t PortChannel::readLast(plat::port::Port& port, std::span<char> buffer) const
{
    using Clock = std::chrono::steady_clock;
    constexpr std::size_t kMaxRead = kReadBuffer - 1;
    // A device that keeps streaming fills every read: the re-reads share the read time-out, so such a
    // device costs one time-out and the bytes of the last full read, not a thread for ever.
    const auto deadline = Clock::now() + m_timing.timeouts.readTotal;
    std::array<char, kReadBuffer> scratch{};
    std::size_t last = 0;
    bool shortened = false;
    for (;;) {
        auto n = port.read(std::as_writable_bytes(std::span(scratch.data(), kMaxRead)));
        // A read that brings nothing after a full one keeps the full one: those were the latest bytes.
        if (n <= 0) break;
        last = copyTerminated(buffer, std::span(scratch.data(), static_cast<std::size_t>(n)));
        if (static_cast<std::size_t>(n) != kMaxRead) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || interrupted()) break;
        // The next read waits no longer than what is left of the time-out.
        auto timeouts = m_timing.timeouts;
        timeouts.readTotal = std::min(timeouts.readTotal, left);
        port.setTimeouts(timeouts);
        shortened = true;
    }
    if (shortened) port.setTimeouts(m_timing.timeouts);
    return last;
}

int PortChannel::write(std::string_view port, std::span<const std::byte> bytes, int attempts, CancelMode cancel) const
{
    for (int attempt = 1;; ++attempt) {
        auto handle = open(port);
        if (!handle) return 0;
        PortCloser closer{handle};
        if (handle->write(bytes) == static_cast<plat::port::IoResult>(bytes.size())) return 1;
        if (attempt >= attempts) return 0;
        if (cancelled(cancel)) return 1;
        if (!pause(m_timing.retryPause)) return 0;
    }
}

int PortChannel::readOnce(std::string_view port, std::span<char> destination, std::uint32_t& count) const
{
    count = 0;
    makeEmpty(destination);
    auto handle = open(port);
    if (!handle) return 0;
    PortCloser closer{handle};
    count = static_cast<std::uint32_t>(readLast(*handle, destination));
    return count > 0 ? 1 : 0;
}

int PortChannel::readWithRetries(std::string_view port, std::span<char> destination, int attempts,
                                 bool cancellable) const
{
    makeEmpty(destination);
    std::unique_ptr<plat::port::Port> handle;
    for (int attempt = 1; !handle; ++attempt) {
        handle = open(port);
        if (handle) break;
        if ((cancellable && !m_flags.realTimeRunning()) || attempt >= attempts) return 0;
        if (!pause(m_timing.openRetryPause)) return 0;
    }
    PortCloser closer{handle};
    std::array<char, kReadBuffer> buffer{};
    for (int attempt = 1;; ++attempt) {
        if (readLast(*handle, buffer) > 0) {
            // The reply as text: up to its first zero.
            copyTerminated(destination, std::span(buffer.data(), std::strlen(buffer.data())));
            return 1;
        }
        if (attempt >= attempts) return 0;
        if (cancellable && !m_flags.realTimeRunning()) return 1;
        if (!pause(m_timing.retryPause)) return 0;
        closer.close();
        handle = open(port);
        if (!handle) return 0;
    }
}

int PortChannel::readDeviceId(std::string_view port, std::span<char> destination, std::uint32_t& count,
                              int attempts) const
{
    count = 0;
    makeEmpty(destination);
    for (int attempt = 1;; ++attempt) {
        std::array<std::byte, kDeviceIdBuffer> id{};
        auto handle = open(port);
        if (!handle) return 0;
        PortCloser closer{handle};
        auto n = handle->deviceId(id);
        if (n > 0) {
            count = static_cast<std::uint32_t>(copyTerminated(
                destination, std::span(reinterpret_cast<const char*>(id.data()), static_cast<std::size_t>(n))));
            return 1;
        }
        if (attempt >= attempts) return 0;
        if (!pause(m_timing.deviceIdPause)) return 0;
    }
}

}  // namespace vigil
