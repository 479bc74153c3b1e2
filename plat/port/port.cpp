#include "plat/port/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "plat/base/trace.h"
#include "plat/port/sim_protocol.h"
#include "plat/registry/registry.h"

namespace plat::port {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kPortMapKey = "System\\CurrentControlSet\\Control\\Print\\PortMap";
constexpr std::string_view kDevicePrefix = "device:";
constexpr std::string_view kSimPrefix = "sim:";

// The usblp driver's request for the IEEE 1284 device ID: its answer starts with the ID's length,
// two bytes big-endian, counting those two bytes.
constexpr unsigned long deviceIdRequest(unsigned length) { return _IOC(_IOC_READ, 'P', 1, length); }
constexpr unsigned kDeviceIdBuffer = 1024;

Error failure(std::string detail)
{
    trace("port: " + detail);
    return Error{errno, std::move(detail)};
}

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// A Linux character device: /dev/usb/lp*, a tty, anything read and written as a stream. Time-outs
// are kept here with poll(), because a device's own may block for ever.
class DevicePort final : public Port {
public:
    DevicePort(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    ~DevicePort() override { ::close(m_fd); }

    bool setTimeouts(const Timeouts& timeouts) override
    {
        m_timeouts = timeouts;
        termios settings{};
        return ::tcgetattr(m_fd, &settings) == 0;  // only a tty has serial settings of its own
    }

    IoResult write(std::span<const std::byte> data) override
    {
        const auto deadline = Clock::now() + m_timeouts.writeTotal;
        std::size_t done = 0;
        while (done < data.size()) {
            pollfd p{m_fd, POLLOUT, 0};
            int ready = ::poll(&p, 1, remainingMs(deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                trace("port: write to " + m_path + (ready == 0 ? " timed out" : " failed"));
                return -1;
            }
            ssize_t n = ::write(m_fd, data.data() + done, data.size() - done);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n < 0) {
                trace("port: write to " + m_path + ": " + std::strerror(errno));
                return -1;
            }
            done += static_cast<std::size_t>(n);
        }
        return static_cast<IoResult>(done);
    }

    IoResult read(std::span<std::byte> buffer) override
    {
        const auto deadline = Clock::now() + m_timeouts.readTotal;
        std::size_t done = 0;
        while (done < buffer.size()) {
            // Up to the total for the first byte, then the interval between bytes, never past the total.
            int wait = remainingMs(deadline);
            if (done > 0) wait = std::min(wait, static_cast<int>(m_timeouts.readInterval.count()));
            pollfd p{m_fd, POLLIN, 0};
            int ready = ::poll(&p, 1, wait);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) break;
            if (ready < 0 || (p.revents & (POLLERR | POLLNVAL))) {
                trace("port: read from " + m_path + " failed");
                return done > 0 ? static_cast<IoResult>(done) : -1;
            }
            ssize_t n = ::read(m_fd, buffer.data() + done, buffer.size() - done);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) break;  // end of data (a hung-up tty) or an error: what came so far is the reply
            done += static_cast<std::size_t>(n);
        }
        return static_cast<IoResult>(done);
    }

    IoResult deviceId(std::span<std::byte> buffer) override
    {
        unsigned char answer[kDeviceIdBuffer] = {};
        if (::ioctl(m_fd, deviceIdRequest(kDeviceIdBuffer), answer) < 0) {
            trace("port: device ID request on " + m_path + ": " + std::strerror(errno));
            return -1;
        }
        std::size_t length = (static_cast<std::size_t>(answer[0]) << 8) | answer[1];
        length = std::clamp<std::size_t>(length, 2, kDeviceIdBuffer) - 2;
        length = std::min(length, buffer.size());
        std::memcpy(buffer.data(), answer + 2, length);
        return static_cast<IoResult>(length);
    }

    void purgeReceive() override
    {
        if (::tcflush(m_fd, TCIFLUSH) == 0) return;
        // Not a tty: drop what is waiting, without waiting for more.
        char scratch[4096];
        for (int i = 0; i < 16; ++i) {
            ssize_t n = ::read(m_fd, scratch, sizeof scratch);
            if (n <= 0) break;
        }
    }

private:
    int m_fd;
    std::string m_path;
    Timeouts m_timeouts;
};

// A printer played by vprinter: one connection per open, one request and one response per call.
class SimPort final : public Port {
public:
    SimPort(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    ~SimPort() override { ::close(m_fd); }

    bool setTimeouts(const Timeouts& timeouts) override
    {
        m_timeouts = timeouts;
        return true;
    }

    IoResult write(std::span<const std::byte> data) override
    {
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(m_timeouts.writeTotal.count()));
        payload.insert(payload.end(), data.begin(), data.end());
        auto answer = exchange(sim::Op::Write, payload);
        return answer && answer->code == static_cast<std::uint8_t>(sim::Status::Ok) ? static_cast<IoResult>(data.size()) : -1;
    }

    IoResult read(std::span<std::byte> buffer) override
    {
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(buffer.size()));
        sim::putU32(payload, static_cast<std::uint32_t>(m_timeouts.readInterval.count()));
        sim::putU32(payload, static_cast<std::uint32_t>(m_timeouts.readTotal.count()));
        return copyAnswer(exchange(sim::Op::Read, payload), buffer);
    }

    IoResult deviceId(std::span<std::byte> buffer) override
    {
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(buffer.size()));
        return copyAnswer(exchange(sim::Op::DeviceId, payload), buffer);
    }

    void purgeReceive() override { exchange(sim::Op::Purge, {}); }

    // Sends the open request; false (with the printer's reason traced) when the port refuses.
    bool open(std::string_view portName)
    {
        auto answer = exchange(sim::Op::Open, sim::asBytes(portName));
        if (answer && answer->code == static_cast<std::uint8_t>(sim::Status::Ok)) return true;
        trace("port: " + m_path + " refused to open" + (answer ? ": " + sim::asText(answer->payload) : ""));
        return false;
    }

private:
    std::optional<sim::Frame> exchange(sim::Op op, std::span<const std::byte> payload)
    {
        if (!sim::sendFrame(m_fd, static_cast<std::uint8_t>(op), payload)) {
            trace("port: " + m_path + ": the printer went away");
            return std::nullopt;
        }
        auto answer = sim::receiveFrame(m_fd);
        if (!answer) trace("port: " + m_path + ": no answer from the printer");
        return answer;
    }

    static IoResult copyAnswer(const std::optional<sim::Frame>& answer, std::span<std::byte> buffer)
    {
        if (!answer || answer->code != static_cast<std::uint8_t>(sim::Status::Ok)) return -1;
        std::size_t n = std::min(answer->payload.size(), buffer.size());
        if (n > 0) std::memcpy(buffer.data(), answer->payload.data(), n);
        return static_cast<IoResult>(n);
    }

    int m_fd;
    std::string m_path;
    Timeouts m_timeouts;
};

Result<std::unique_ptr<Port>> openDevice(const std::string& path)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failure("cannot open " + path + ": " + std::strerror(errno));
    return std::unique_ptr<Port>(new DevicePort(fd, path));
}

Result<std::unique_ptr<Port>> openSim(const std::string& path, std::string_view portName)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return failure("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return failure("socket: " + std::string(std::strerror(errno)));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Error error = failure("cannot reach the simulated printer at " + path + ": " + std::strerror(errno));
        ::close(fd);
        return error;
    }
    auto port = std::make_unique<SimPort>(fd, path);
    if (!port->open(portName)) {
        errno = EBUSY;
        return failure("the simulated printer at " + path + " did not open");
    }
    return std::unique_ptr<Port>(std::move(port));
}

Result<std::unique_ptr<Port>> openMapped(std::string_view target, std::string_view portName)
{
    if (target.starts_with(kDevicePrefix)) return openDevice(std::string(target.substr(kDevicePrefix.size())));
    if (target.starts_with(kSimPrefix)) return openSim(std::string(target.substr(kSimPrefix.size())), portName);
    errno = EINVAL;
    return failure("unknown port target \"" + std::string(target) + "\"");
}

}  // namespace

Result<std::unique_ptr<Port>> openTarget(std::string_view target) { return openMapped(target, ""); }

Result<std::unique_ptr<Port>> openPort(std::string_view portName)
{
    auto target = portTarget(portName);
    if (!target) {
        errno = ENOENT;
        return failure("port \"" + std::string(portName) + "\" is not in the port map");
    }
    return openMapped(*target, portName);
}

std::optional<std::string> portTarget(std::string_view portName)
{
    auto store = registry::Store::forCurrentRoot();
    if (!store || portName.empty()) return std::nullopt;
    char buffer[1024];
    std::uint32_t size = 0;
    if (store.value()->getValue(registry::Root::LocalMachine, kPortMapKey, portName,
                                std::as_writable_bytes(std::span(buffer)), &size) != registry::Status::Ok) {
        return std::nullopt;
    }
    std::string target(buffer, size);
    while (!target.empty() && target.back() == '\0') target.pop_back();
    return target;
}

bool mapPort(std::string_view portName, std::string_view target)
{
    auto store = registry::Store::forCurrentRoot();
    if (!store || portName.empty()) return false;
    registry::Key key;
    if (store.value()->createKey(registry::Root::LocalMachine, kPortMapKey, "", key) != registry::Status::Ok) return false;
    std::string data(target);
    return key.set(portName, registry::ValueType::String, std::as_bytes(std::span(data.c_str(), data.size() + 1))) ==
               registry::Status::Ok &&
           key.flush() == registry::Status::Ok;
}

bool unmapPort(std::string_view portName)
{
    auto store = registry::Store::forCurrentRoot();
    if (!store) return false;
    registry::Key key;
    if (store.value()->openKey(registry::Root::LocalMachine, kPortMapKey, registry::Set, key) != registry::Status::Ok) {
        return false;
    }
    return key.deleteValue(portName) == registry::Status::Ok;
}

}  // namespace plat::port
