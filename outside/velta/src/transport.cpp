#include "transport.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "plat/port/sim_protocol.h"

namespace velta {
namespace {

namespace sim = plat::port::sim;
using Clock = std::chrono::steady_clock;

// The usblp request for the device ID: the answer starts with the ID's length, two bytes big-endian,
// counting those two bytes.
constexpr unsigned kDeviceIdBuffer = 1024;
constexpr unsigned long kDeviceIdRequest = _IOC(_IOC_READ, 'P', 1, kDeviceIdBuffer);

// Silence after the first byte that ends a reply.
constexpr milliseconds kReplyGap{50};
// What a simulated printer's answer may take beyond the time-out of the request it answers.
constexpr milliseconds kAnswerSlack{5000};

int waitMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

// poll() on `fd` and the stop descriptor: >0 ready, 0 timed out, -1 failed, -2 stopped.
int pollOne(int fd, short events, int timeoutMs, int stopFd, short& revents)
{
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        int ready = ::poll(p, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && (p[1].revents & POLLIN)) return -2;
        revents = p[0].revents;
        return ready;
    }
}

class DeviceTransport final : public Transport {
public:
    DeviceTransport(int fd, int stopFd) : m_fd(fd), m_stop(stopFd) {}
    ~DeviceTransport() override { ::close(m_fd); }

    long write(std::string_view data, milliseconds wait) override
    {
        short revents = 0;
        int ready = pollOne(m_fd, POLLOUT, static_cast<int>(wait.count()), m_stop, revents);
        if (ready == 0) return 0;
        if (ready < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL))) return ready == -2 ? 0 : -1;
        ssize_t n = ::write(m_fd, data.data(), data.size());
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
        return n < 0 ? -1 : static_cast<long>(n);
    }

    std::optional<std::string> readStatus(std::size_t max, milliseconds wait) override
    {
        std::string out;
        const auto deadline = Clock::now() + wait;
        while (out.size() < max) {
            int timeout = out.empty() ? waitMs(deadline) : static_cast<int>(kReplyGap.count());
            short revents = 0;
            int ready = pollOne(m_fd, POLLIN, timeout, m_stop, revents);
            if (ready == 0 || ready == -2) break;
            if (ready < 0 || (revents & (POLLERR | POLLNVAL))) return out.empty() ? std::nullopt : std::optional(out);
            char buffer[512];
            ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, max - out.size()));
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n < 0) return out.empty() ? std::nullopt : std::optional(out);
            if (n == 0) break;
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

    std::string deviceId() override { return usblpDeviceId(m_fd).value_or(""); }

private:
    int m_fd, m_stop;
};

// One connection to vprinter: an open, then one request and its answer at a time.
class SimConnection {
public:
    explicit SimConnection(int fd) : m_fd(fd) {}
    ~SimConnection() { ::close(m_fd); }
    SimConnection(const SimConnection&) = delete;
    SimConnection& operator=(const SimConnection&) = delete;

    std::optional<sim::Frame> exchange(sim::Op op, std::span<const std::byte> payload, milliseconds bound, int stopFd)
    {
        if (m_broken) return std::nullopt;
        const auto deadline = Clock::now() + bound;
        sim::Frame answer;
        sim::Io io = sim::sendFrame(m_fd, static_cast<std::uint8_t>(op), payload, deadline, stopFd);
        if (io == sim::Io::Done) io = sim::receiveFrame(m_fd, answer, deadline, stopFd);
        if (io == sim::Io::Done) return answer;
        m_broken = true;  // an unanswered request leaves the connection out of step
        return std::nullopt;
    }

private:
    int m_fd;
    bool m_broken = false;
};

bool ok(const std::optional<sim::Frame>& frame)
{
    return frame && frame->code == static_cast<std::uint8_t>(sim::Status::Ok);
}

// Connects and opens the port; the outcome says whether trying again may help.
Opened connectSim(const std::string& path, int stopFd, std::unique_ptr<SimConnection>& connection)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return {Opened::Outcome::Fatal, nullptr, "socket path too long"};
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return {Opened::Outcome::Busy, nullptr, std::string("socket: ") + std::strerror(errno)};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        const bool later = error == ENOENT || error == ECONNREFUSED || error == EAGAIN || error == EINTR;
        return {later ? Opened::Outcome::Busy : Opened::Outcome::Fatal, nullptr, std::strerror(error)};
    }
    connection = std::make_unique<SimConnection>(fd);
    auto answer = connection->exchange(sim::Op::Open, {}, kAnswerSlack, stopFd);
    if (!ok(answer)) {
        connection.reset();
        return {Opened::Outcome::Busy, nullptr, answer ? sim::asText(answer->payload) : "no answer"};
    }
    return {Opened::Outcome::Ok, nullptr, {}};
}

// The simulated printer's device ID over an open connection; empty when it gives none.
std::optional<std::string> simDeviceId(SimConnection& connection, int stopFd)
{
    std::vector<std::byte> payload;
    sim::putU32(payload, kDeviceIdBuffer);
    auto answer = connection.exchange(sim::Op::DeviceId, payload, kAnswerSlack, stopFd);
    if (!ok(answer)) return std::nullopt;
    std::string id = sim::asText(answer->payload);
    id.resize(std::min<std::size_t>(id.size(), kDeviceIdBuffer));
    return id;
}

class SimTransport final : public Transport {
public:
    SimTransport(std::string path, std::unique_ptr<SimConnection> main, int stopFd)
        : m_path(std::move(path)), m_main(std::move(main)), m_stop(stopFd)
    {
    }

    long write(std::string_view data, milliseconds wait) override
    {
        data = data.substr(0, sim::kMaxPayload - 4);
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(wait.count()));
        auto bytes = sim::asBytes(data);
        payload.insert(payload.end(), bytes.begin(), bytes.end());
        auto answer = m_main->exchange(sim::Op::Write, payload, wait + kAnswerSlack, m_stop);
        if (!answer) return -1;
        if (answer->code == static_cast<std::uint8_t>(sim::Status::TimedOut)) return 0;
        return ok(answer) ? static_cast<long>(data.size()) : -1;
    }

    // The simulated printer hands its status reply to each open once, as a printer in status mode
    // sends it when asked afresh: each status read is an open of its own, beside the job's.
    std::optional<std::string> readStatus(std::size_t max, milliseconds wait) override
    {
        std::unique_ptr<SimConnection> reader;
        if (connectSim(m_path, m_stop, reader).outcome != Opened::Outcome::Ok) return std::nullopt;
        std::vector<std::byte> payload;
        sim::putU32(payload, static_cast<std::uint32_t>(std::min<std::size_t>(max, sim::kMaxPayload)));
        sim::putU32(payload, static_cast<std::uint32_t>(kReplyGap.count()));
        sim::putU32(payload, static_cast<std::uint32_t>(wait.count()));
        auto answer = reader->exchange(sim::Op::Read, payload, wait + kAnswerSlack, m_stop);
        if (!ok(answer)) return std::nullopt;
        std::string text = sim::asText(answer->payload);
        text.resize(std::min(text.size(), max));
        return text;
    }

    std::string deviceId() override { return simDeviceId(*m_main, m_stop).value_or(""); }

private:
    std::string m_path;
    std::unique_ptr<SimConnection> m_main;
    int m_stop;
};

bool retryable(int error)
{
    return error == EBUSY || error == ENOENT || error == ENODEV || error == ENXIO || error == EAGAIN || error == EIO ||
           error == EINTR;
}

}  // namespace

std::optional<std::string> usblpDeviceId(int fd)
{
    unsigned char answer[kDeviceIdBuffer] = {};
    if (::ioctl(fd, kDeviceIdRequest, answer) < 0) return std::nullopt;
    std::size_t length = (static_cast<std::size_t>(answer[0]) << 8) | answer[1];
    // A length beyond the buffer is the printer's mistake: keep what the buffer holds.
    length = std::clamp<std::size_t>(length, 2, kDeviceIdBuffer) - 2;
    std::string id(reinterpret_cast<const char*>(answer + 2), length);
    id.resize(std::min(id.size(), std::strlen(id.c_str())));  // a stray NUL ends the ID
    return id;
}

std::optional<std::string> readDeviceId(const std::string& path, int stopFd)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        std::unique_ptr<SimConnection> connection;
        if (connectSim(path, stopFd, connection).outcome != Opened::Outcome::Ok) {
            errno = EBUSY;
            return std::nullopt;
        }
        auto id = simDeviceId(*connection, stopFd);
        if (!id) errno = EIO;
        return id;
    }
    // Read-only and non-blocking: asking for the ID must not disturb a printer or wait on a pipe.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    errno = 0;
    auto id = usblpDeviceId(fd);
    const int error = errno;
    ::close(fd);
    errno = error;
    return id;
}

Opened openTransport(const std::string& path, int stopFd)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
        std::unique_ptr<SimConnection> main;
        Opened opened = connectSim(path, stopFd, main);
        if (opened.outcome == Opened::Outcome::Ok)
            opened.transport = std::make_unique<SimTransport>(path, std::move(main), stopFd);
        return opened;
    }
    // Non-blocking, so neither the open nor a stalled printer can hold the backend past its waits.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return {retryable(error) ? Opened::Outcome::Busy : Opened::Outcome::Fatal, nullptr, std::strerror(error)};
    }
    if (::fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        ::close(fd);
        return {Opened::Outcome::Fatal, nullptr, "not a printer device"};
    }
    return {Opened::Outcome::Ok, std::make_unique<DeviceTransport>(fd, stopFd), {}};
}

}  // namespace velta
