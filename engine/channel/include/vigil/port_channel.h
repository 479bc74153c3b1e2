#pragma once
// The port channel: how the engine reaches a printer on a local port. Every operation opens the port
// by its spooler name, does one exchange and closes it again (purging what the printer sent and
// nobody read), so the port is free for the spooler in between. Retries close and reopen it.
//
// The channel keeps no state between calls; engine threads may use one channel on one port at once.
// Waits and time-outs come from ChannelTiming, so tests can run it fast. Every operation is bounded by
// its attempts and time-outs, and an Interrupt given to the channel ends any of them at once (as
// failed): that is how a stop reaches a thread that is in the middle of an exchange.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string_view>

#include "plat/base/result.h"
#include "plat/port/port.h"

namespace vigil {

// Which run flag stops a write from retrying.
enum class CancelMode : std::uint32_t { None = 0, RealTime = 1, Command = 2 };

// The engine's run flags, as the channel polls them. The engine implements it.
class RunFlags {
public:
    virtual ~RunFlags() = default;
    virtual bool realTimeRunning() const = 0;
    virtual bool commandRunning() const = 0;
};

// Run flags that are always set, for a caller outside the engine (a tool, a stand-in).
class NeverCancelled final : public RunFlags {
public:
    bool realTimeRunning() const override { return true; }
    bool commandRunning() const override { return true; }
};

struct ChannelTiming {
    plat::port::Timeouts timeouts;                   // 200 ms interval, 5000 ms read, 3000 ms write
    std::chrono::milliseconds retryPause{500};       // between write and read attempts
    std::chrono::milliseconds openRetryPause{3000};  // between opens of a read with retries
    std::chrono::milliseconds deviceIdPause{200};    // between device-ID attempts
};

// Opens a port by name; the interrupt (possibly none) is to cut the port's waits short.
using PortOpener =
    std::function<plat::Result<std::unique_ptr<plat::port::Port>>(std::string_view, const plat::port::Interrupt*)>;

class PortChannel {
public:
    static constexpr std::size_t kReadBuffer = 2048;  // a read asks for at most 2047 bytes
    static constexpr std::size_t kDeviceIdBuffer = 1024;

    // `opener` opens a port by name (the port map of the caller's store); `interrupt`, when given, must
    // outlive the channel.
    PortChannel(const RunFlags& flags, ChannelTiming timing, PortOpener opener,
                const plat::port::Interrupt* interrupt = nullptr);

    // 1 when written (or given up because the cancel mode's run flag was cleared), 0 when failed.
    int write(std::string_view port, std::span<const std::byte> bytes, int attempts, CancelMode cancel) const;
    // 1 when data came: `destination` holds the bytes of the last read and a zero, `count` their number.
    // 0 and an empty destination when nothing came or the port did not open.
    int readOnce(std::string_view port, std::span<char> destination, std::uint32_t& count) const;
    // 1 when data came (destination: the text up to its first zero), or when cancelled (destination
    // empty); 0 when every attempt failed (destination empty).
    int readWithRetries(std::string_view port, std::span<char> destination, int attempts, bool cancellable) const;
    // 1 when the printer gave its device ID: `destination` holds it and a zero, `count` its length.
    int readDeviceId(std::string_view port, std::span<char> destination, std::uint32_t& count, int attempts) const;

private:
    std::unique_ptr<plat::port::Port> open(std::string_view port) const;
    // Reads up to 2047 bytes at a time while a read fills them, for at most the read time-out in all;
    // returns the last non-empty read.
    std::size_t readLast(plat::port::Port& port, std::span<char> buffer) const;
    bool cancelled(CancelMode mode) const;
    bool interrupted() const;
    // Waits `duration`; false when the interrupt cut the wait short.
    bool pause(std::chrono::milliseconds duration) const;

    const RunFlags& m_flags;
    ChannelTiming m_timing;
    PortOpener m_opener;
    const plat::port::Interrupt* m_interrupt;
};

}  // namespace vigil
