#pragma once
// Ports: a byte channel to one printer, opened by the name the spooler gives the port ("LPT1:").
//
// The port map says what a port name is. It lives in the registry store of the system root:
//
//     HKLM\System\CurrentControlSet\Control\Print\PortMap
//         value name: the port name ("LPT1:"; compared without regard to case)
//         value (REG_SZ): the target, one of
//             "device:/dev/usb/lp0"            a Linux character device (a USB printer, a tty)
//             "sim:/root/run/vprinter-LPT1.sock"  a printer played by vprinter, over a Unix socket
//             "id:/dev/usb?mfg=VELTA&mdl=PG-03&sn=A1"  the printer of that identity among the folder's
//                                              "lp*" nodes, found by its device ID at each open
//                                              (device_id.h); a node that is a socket is a simulated
//                                              printer
//
// A port name that is not in the map does not open (the trace hook says so). Callers cannot tell the
// two kinds apart: both read with the time-outs given (wait up to `readTotal` for the first byte,
// then end at `readInterval` of silence or a full buffer), write within `writeTotal`, purge the
// receive side and answer the IEEE 1284 device-ID request.
//
// Every wait is bounded, on both kinds: a simulated printer that accepts the connection but never
// answers costs at most the call's own time-out plus kAnswerSlack (generous, for a loaded machine),
// then the call fails and the port is unusable until it is opened again. An Interrupt given at the
// open cuts any wait short.
//
// Threads: a Port belongs to one thread at a time; opening is safe from any thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "plat/base/result.h"

namespace plat::registry {
class Store;
}

namespace plat::port {

struct Timeouts {
    std::chrono::milliseconds readInterval{200};
    std::chrono::milliseconds readTotal{5000};
    std::chrono::milliseconds writeTotal{3000};
};

// Bytes moved, or -1 on an error (the trace hook says which).
using IoResult = std::int64_t;

// How long an open of a simulated printer (the connection and the printer's answer) may take.
inline constexpr std::chrono::milliseconds kOpenBound{5000};
// What a simulated printer's answer may take beyond the time-out of the call it answers.
inline constexpr std::chrono::milliseconds kAnswerSlack{5000};

// A stop signal for the waits of ports. Once raised, an open, read, write or device-ID request that
// waits returns at once as failed, and later ones fail without waiting, until it is cleared. One
// signal may serve many ports and threads at once; it must outlive the ports opened with it.
class Interrupt {
public:
    Interrupt();
    ~Interrupt();
    Interrupt(const Interrupt&) = delete;
    Interrupt& operator=(const Interrupt&) = delete;

    void raise();
    void clear();
    bool raised() const;
    // Waits `duration`, or less when raised; false when it was raised.
    bool sleepFor(std::chrono::milliseconds duration) const;
    // Readable while raised: for a poll() beside the caller's own descriptors.
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

class Port {
public:
    virtual ~Port() = default;

    // Sets the time-outs of later reads and writes. False when the device has no serial settings of
    // its own to change; the time-outs given still bound every call.
    virtual bool setTimeouts(const Timeouts& timeouts) = 0;
    // Writes all of `data` or fails; a write that the printer does not take within writeTotal fails.
    virtual IoResult write(std::span<const std::byte> data) = 0;
    // Reads what the printer sent, up to `buffer.size()` bytes; 0 when nothing came within readTotal.
    virtual IoResult read(std::span<std::byte> buffer) = 0;
    // The printer's IEEE 1284 device ID (without the 2-byte length that precedes it on the wire);
    // 0 bytes when the printer gave none.
    virtual IoResult deviceId(std::span<std::byte> buffer) = 0;
    // Throws away what the printer sent and nobody read.
    virtual void purgeReceive() = 0;
};

// Opens the port the map in `store` names `portName`; fails for an unknown name or a target that does
// not open. `interrupt`, when given, cuts the waits of the open and of the port's calls short.
Result<std::unique_ptr<Port>> openPort(registry::Store& store, std::string_view portName,
                                       const Interrupt* interrupt = nullptr);

// Opens a target directly ("device:...", "sim:..." or "id:..."), without the map.
Result<std::unique_ptr<Port>> openTarget(std::string_view target, const Interrupt* interrupt = nullptr);

// The port map in `store`.
std::optional<std::string> portTarget(registry::Store& store, std::string_view portName);
bool mapPort(registry::Store& store, std::string_view portName, std::string_view target);
bool unmapPort(registry::Store& store, std::string_view portName);

}  // namespace plat::port
