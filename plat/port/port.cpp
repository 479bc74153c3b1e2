#include "plat/port/port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

#include "facts/store_names.h"
#include "plat/base/trace.h"
#include "plat/port/device_id.h"
#include "plat/port/sim_protocol.h"
#include "plat/registry/registry.h"

namespace plat::port {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kPortMapKey{facts::key::kPortMap};
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

int interruptFd(const Interrupt* interrupt) { return interrupt != nullptr ? interrupt->fd() : -1; }
bool interrupted(const Interrupt* interrupt) { return interrupt != nullptr && interrupt->raised(); }

constexpr int kInterrupted = -2;

// poll() on the port and the interrupt: >0 ready (`revents` says how), 0 timed out, -1 failed (errno),
// kInterrupted when the interrupt was raised.
int pollPort(int fd, short events, int timeoutMs, const Interrupt* interrupt, short& revents)
{
    pollfd p[2] = {{fd, events, 0}, {interruptFd(interrupt), POLLIN, 0}};
    int ready = ::poll(p, 2, timeoutMs);
    if (ready > 0 && (p[1].revents & POLLIN)) return kInterrupted;
    revents = p[0].revents;
    return ready;
}

// A Linux character device: /dev/usb/lp*, a tty, anything read and written as a stream. Time-outs
// are kept here with poll(), because a device's own may block for ever.
class DevicePort final : public Port {
public:
    DevicePort(int fd, std::string path, const Interrupt* interrupt)
        : m_fd(fd), m_path(std::move(path)), m_interrupt(interrupt)
    {
    }
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
            short revents = 0;
            int ready = pollPort(m_fd, POLLOUT, remainingMs(deadline), m_interrupt, revents);
            if (ready < 0 && ready != kInterrupted && errno == EINTR) continue;
            if (ready <= 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) {
                trace("port: write to " + m_path +
                      (ready == 0              ? " timed out"
                       : ready == kInterrupted ? " interrupted"
                                               : " failed"));
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
            short revents = 0;
            int ready = pollPort(m_fd, POLLIN, wait, m_interrupt, revents);
            if (ready == kInterrupted) {
                trace("port: read from " + m_path + " interrupted");
                return -1;
            }
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) break;
            if (ready < 0 || (revents & (POLLERR | POLLNVAL))) {
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
        // The request itself cannot be cut short; the driver bounds it with its own time-out.
        if (interrupted(m_interrupt)) return -1;
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
    const Interrupt* m_interrupt;
    Timeouts m_timeouts;
};

// A printer played by vprinter: one connection per open, one request and one response per call. The
// socket is non-blocking and every exchange has a deadline: the call's time-out plus kAnswerSlack.
class SimPort final : public Port {
public:
    SimPort(int fd, std::string path, const Interrupt* interrupt)
        : m_fd(fd), m_path(std::move(path)), m_interrupt(interrupt)
    {
    }
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
        auto answer = exchange(sim::Op::Write, payload, m_timeouts.writeTotal + kAnswerSlack);
        return answer && answer->code == static_cast<std::uint8_t>(sim::Status::Ok) ? static_cast<IoResult>(data.size())
                                                                                    : -1;
    }

    IoResult read(std::span<std::byte> buffer) override
    {
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(buffer.size()));
        sim::putU32(payload, static_cast<std::uint32_t>(m_timeouts.readInterval.count()));
        sim::putU32(payload, static_cast<std::uint32_t>(m_timeouts.readTotal.count()));
        return copyAnswer(exchange(sim::Op::Read, payload, m_timeouts.readTotal + kAnswerSlack), buffer);
    }

    IoResult deviceId(std::span<std::byte> buffer) override
    {
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(buffer.size()));
        return copyAnswer(exchange(sim::Op::DeviceId, payload, m_timeouts.readTotal + kAnswerSlack), buffer);
    }

    void purgeReceive() override { exchange(sim::Op::Purge, {}, kAnswerSlack); }

    // Sends the open request; false (with the printer's reason traced) when the port refuses.
    bool open(std::string_view portName, Clock::time_point deadline)
    {
        auto answer = exchange(sim::Op::Open, sim::asBytes(portName),
                               std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
        if (answer && answer->code == static_cast<std::uint8_t>(sim::Status::Ok)) return true;
        trace("port: " + m_path + " refused to open" + (answer ? ": " + sim::asText(answer->payload) : ""));
        return false;
    }

private:
    std::optional<sim::Frame> exchange(sim::Op op, std::span<const std::byte> payload, milliseconds bound)
    {
        // A request whose answer did not come leaves the connection out of step: nothing more on it.
        if (m_broken) return std::nullopt;
        const auto deadline = Clock::now() + bound;
        const int stop = interruptFd(m_interrupt);
        sim::Frame answer;
        sim::Io io = sim::sendFrame(m_fd, static_cast<std::uint8_t>(op), payload, deadline, stop);
        if (io == sim::Io::Done) io = sim::receiveFrame(m_fd, answer, deadline, stop);
        if (io == sim::Io::Done) return answer;
        m_broken = true;
        switch (io) {
        case sim::Io::Gone: trace("port: " + m_path + ": the printer went away"); break;
        case sim::Io::TimedOut:
            trace("port: " + m_path + ": no answer from the printer within " + std::to_string(bound.count()) + " ms");
            break;
        case sim::Io::Interrupted: trace("port: " + m_path + ": interrupted"); break;
        case sim::Io::Done: break;
        }
        return std::nullopt;
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
    const Interrupt* m_interrupt;
    Timeouts m_timeouts;
    bool m_broken = false;
};

Result<std::unique_ptr<Port>> openDevice(const std::string& path, const Interrupt* interrupt)
{
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failure("cannot open " + path + ": " + std::strerror(errno));
    return std::unique_ptr<Port>(new DevicePort(fd, path, interrupt));
}

// A Unix socket's connect does not wait when the server's backlog is full: it fails with EAGAIN, and
// is tried again until the deadline.
bool connectBounded(int fd, const sockaddr_un& address, Clock::time_point deadline, const Interrupt* interrupt)
{
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EAGAIN || Clock::now() >= deadline) return false;
        bool stopped = false;
        if (interrupt != nullptr) stopped = !interrupt->sleepFor(milliseconds(10));
        else std::this_thread::sleep_for(milliseconds(10));
        if (stopped) {
            errno = EINTR;
            return false;
        }
    }
}

Result<std::unique_ptr<Port>> openSim(const std::string& path, std::string_view portName, const Interrupt* interrupt)
{
    const auto deadline = Clock::now() + kOpenBound;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return failure("socket path too long: " + path);
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return failure("socket: " + std::string(std::strerror(errno)));
    if (!connectBounded(fd, address, deadline, interrupt)) {
        Error error = failure("cannot reach the simulated printer at " + path + ": " + std::strerror(errno));
        ::close(fd);
        return error;
    }
    auto port = std::make_unique<SimPort>(fd, path, interrupt);
    if (!port->open(portName, deadline)) {
        errno = EBUSY;
        return failure("the simulated printer at " + path + " did not open");
    }
    return std::unique_ptr<Port>(std::move(port));
}

bool isSocket(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// A printer node of a folder: a character device, or a simulated printer's socket in its place.
Result<std::unique_ptr<Port>> openNode(const std::string& node, std::string_view portName, const Interrupt* interrupt)
{
    return isSocket(node) ? openSim(node, portName, interrupt) : openDevice(node, interrupt);
}

// The printer a target names by its identity, on whichever node it has now.
Result<std::unique_ptr<Port>> openIdentified(const IdentifiedTarget& target, std::string_view portName,
                                             const Interrupt* interrupt)
{
    auto search =
        findPrinter(target.folder, target.identity, [&](const std::string& node) -> std::optional<std::string> {
            if (interrupted(interrupt)) return std::nullopt;
            auto port = openNode(node, "", interrupt);
            if (!port) return std::nullopt;
            char id[kDeviceIdBuffer];
            IoResult n = port.value()->deviceId(std::as_writable_bytes(std::span(id)));
            if (n < 0) return std::nullopt;
            return std::string(id, strnlen(id, static_cast<std::size_t>(n)));
        });
    const std::string name = uriOfIdentity(target.identity);
    if (search.matches.size() > 1) {
        errno = EEXIST;
        return failure(std::to_string(search.matches.size()) + " printers in " + target.folder + " are " + name +
                       ": nothing tells them apart");
    }
    if (search.matches.empty()) {
        // Perhaps it is the one another program holds open just now.
        errno = search.unreadable.empty() ? ENOENT : EBUSY;
        return failure("no printer in " + target.folder + " is " + name +
                       (search.unreadable.empty() ? "" : " (some could not be asked)"));
    }
    return openNode(search.matches.front(), portName, interrupt);
}

Result<std::unique_ptr<Port>> openMapped(std::string_view target, std::string_view portName, const Interrupt* interrupt)
{
    if (interrupted(interrupt)) {
        errno = EINTR;
        return failure("opening \"" + std::string(portName) + "\" interrupted");
    }
    if (target.starts_with(kDevicePrefix)) {
        return openDevice(std::string(target.substr(kDevicePrefix.size())), interrupt);
    }
    if (target.starts_with(kSimPrefix)) {
        return openSim(std::string(target.substr(kSimPrefix.size())), portName, interrupt);
    }
    if (auto identified = parseIdentityTarget(target)) return openIdentified(*identified, portName, interrupt);
    errno = EINVAL;
    return failure("unknown port target \"" + std::string(target) + "\"");
}

}  // namespace

Interrupt::Interrupt() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    if (m_fd < 0) trace("port: no eventfd for an interrupt: " + std::string(std::strerror(errno)));
}

Interrupt::~Interrupt()
{
    if (m_fd >= 0) ::close(m_fd);
}

void Interrupt::raise()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_fd, &one, sizeof one);
}

void Interrupt::clear()
{
    std::uint64_t count = 0;
    [[maybe_unused]] ssize_t n = ::read(m_fd, &count, sizeof count);  // an eventfd read takes the whole count
}

bool Interrupt::raised() const
{
    pollfd p{m_fd, POLLIN, 0};
    return m_fd >= 0 && ::poll(&p, 1, 0) == 1;
}

bool Interrupt::sleepFor(milliseconds duration) const
{
    if (m_fd < 0) {
        std::this_thread::sleep_for(duration);
        return true;
    }
    const auto deadline = Clock::now() + duration;
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready > 0) return false;
        if (ready == 0 || errno != EINTR) return true;
    }
}

Result<std::unique_ptr<Port>> openTarget(std::string_view target, const Interrupt* interrupt)
{
    return openMapped(target, "", interrupt);
}

Result<std::unique_ptr<Port>> openPort(registry::Store& store, std::string_view portName, const Interrupt* interrupt)
{
    auto target = portTarget(store, portName);
    if (!target) {
        errno = ENOENT;
        return failure("port \"" + std::string(portName) + "\" is not in the port map");
    }
    return openMapped(*target, portName, interrupt);
}

std::optional<std::string> portTarget(registry::Store& store, std::string_view portName)
{
    if (portName.empty()) return std::nullopt;
    char buffer[1024];
    std::uint32_t size = 0;
    if (store.getValue(registry::Root::LocalMachine, kPortMapKey, portName, std::as_writable_bytes(std::span(buffer)),
                       &size) != registry::Status::Ok) {
        return std::nullopt;
    }
    std::string target(buffer, size);
    while (!target.empty() && target.back() == '\0') target.pop_back();
    return target;
}

bool mapPort(registry::Store& store, std::string_view portName, std::string_view target)
{
    if (portName.empty()) return false;
    registry::Key key;
    if (store.createKey(registry::Root::LocalMachine, kPortMapKey, "", key) != registry::Status::Ok) return false;
    std::string data(target);
    return key.set(portName, registry::ValueType::String, std::as_bytes(std::span(data.c_str(), data.size() + 1))) ==
               registry::Status::Ok &&
           key.flush() == registry::Status::Ok;
}

bool unmapPort(registry::Store& store, std::string_view portName)
{
    registry::Key key;
    if (store.openKey(registry::Root::LocalMachine, kPortMapKey, registry::Set, key) != registry::Status::Ok) {
        return false;
    }
    return key.deleteValue(portName) == registry::Status::Ok;
}

}  // namespace plat::port
