#pragma once
// The velta backend's way to a printer: a character device (/dev/usb/lpN, read and written with poll()
// time-outs and asked for its device ID with the usblp ioctl) or a printer played by vprinter over its
// Unix socket (the framed protocol of plat/port, without the port map, which the backend cannot
// read). Every wait is bounded and ends early when the stop descriptor turns readable (a cancel).

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velta {

using std::chrono::milliseconds;

class Transport {
public:
    virtual ~Transport() = default;
    // Writes a prefix of `data`: the bytes taken (0 when the printer took none within `wait`), or -1
    // when the port failed and must be opened again.
    virtual long write(std::string_view data, milliseconds wait) = 0;
    // What the printer has sent (at most `max` bytes), waiting up to `wait` for the first byte;
    // nothing when the port failed.
    virtual std::optional<std::string> readStatus(std::size_t max, milliseconds wait) = 0;
    // The IEEE 1284 device ID, without its length; empty when the printer gave none.
    virtual std::string deviceId() = 0;
};

struct Opened {
    enum class Outcome {
        Ok,
        Busy,   // held by another program, refused, or not there yet: worth trying again
        Fatal,  // will not open however long we wait
    };
    Outcome outcome = Outcome::Fatal;
    std::unique_ptr<Transport> transport;
    std::string why;
};

// Opens the port at `path`: a Unix socket is a simulated printer, anything else must be a character
// device. `stopFd` (-1: none) cuts every wait short once readable.
Opened openTransport(const std::string& path, int stopFd);

// The device ID of the printer at `path` (a character device, or a simulated printer's socket), read
// without disturbing it; nothing when it cannot be read (errno says why). `stopFd` as above.
std::optional<std::string> readDeviceId(const std::string& path, int stopFd);

// The usblp driver's answer to its device-ID request on an open descriptor: the ID without its
// two-byte length, or nothing when the ioctl fails (not a printer, no ID).
std::optional<std::string> usblpDeviceId(int fd);

}  // namespace velta
