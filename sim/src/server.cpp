#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "plat/base/system_root.h"
#include "plat/netware/environment.h"
#include "plat/port/port.h"
#include "plat/port/sim_protocol.h"
#include "plat/text/text.h"
#include "requests.h"

namespace vprinter {
namespace sim = plat::port::sim;
using std::chrono::milliseconds;

namespace {

// A request has to arrive whole this long after the connection was made or its first byte came;
// otherwise the client is taken for gone and its connection is dropped.
constexpr milliseconds kRequestTimeout{30000};
// How long the listeners rest when no descriptor is left for a new connection.
constexpr milliseconds kAcceptPause{100};
// Connections served at once, at most; the descriptor limit may make it fewer.
constexpr std::size_t kMaxConnections = 512;
// Datagrams taken from one socket in one round, so one busy socket does not starve the others.
constexpr int kDatagramsPerRound = 32;
// Replies of slow printers waiting to be sent, at most; beyond it they are lost, as datagrams may be.
constexpr std::size_t kMaxDelayedReplies = 1024;

// Room for connections under the descriptor limit, leaving some for the listeners, the registry
// and the standard streams.
std::size_t connectionLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxConnections;
    const rlim_t reserve = 32;
    const rlim_t room = limit.rlim_cur > reserve + 8 ? limit.rlim_cur - reserve : 8;
    return static_cast<std::size_t>(std::min<rlim_t>(room, kMaxConnections));
}

}  // namespace

struct Server::Served {
    Printer printer;
    std::string socketPath;
    int listener = -1;
    bool bound = false;  // the socket file is ours to remove
    bool mapped = false;
    // A network printer: its interface and conversation socket; its listener takes control commands only.
    std::unique_ptr<net::Interface> network;
    int conversation = -1;

    Served(std::string port, const Model& model, std::optional<std::string> id)
        : printer(std::move(port), model, std::move(id))
    {
    }
};

// A file server's print-server address: the socket connect requests come to, for the interfaces
// behind it.
struct Server::FileServer {
    std::string name;
    int socket = -1;
    plat::netware::Address address;
    std::vector<net::Interface*> interfaces;
    bool entered = false;  // its address is in the environment file
};

// Every connection of every printer, served by one thread. Nothing here blocks: sockets are
// non-blocking and a request that must wait keeps a deadline that sets the next poll() time-out.
class Server::Loop {
public:
    Loop(const std::vector<std::unique_ptr<Served>>& served, const std::vector<std::unique_ptr<FileServer>>& servers,
         int wake)
        : m_served(served), m_fileServers(servers), m_wake(wake), m_limit(connectionLimit()), m_datagram(65536)
    {
    }
    ~Loop()
    {
        for (auto& c : m_connections) closeConnection(*c);
    }

    // Serves until stop() signals the wake descriptor.
    void run();

private:
    struct Waiting {
        Request::Kind kind;
        std::vector<std::byte> bytes;  // a write's
        std::uint32_t maxBytes;        // a read's or device ID's
        Clock::time_point startAt;     // a slow printer starts answering then
        Clock::time_point deadline;    // the request's own time-out
    };
    struct Connection {
        int fd = -1;
        Served* served = nullptr;
        std::vector<std::byte> in;   // the request being received
        std::vector<std::byte> out;  // the response being sent
        std::size_t sent = 0;
        bool opened = false;
        bool statusTaken = false;  // the status reply is there once per open
        bool closeWhenSent = false;
        bool requested = false;  // a whole request has come on it
        std::optional<Clock::time_point> requestDeadline;
        Clock::time_point lastActive;
        std::optional<Waiting> waiting;
    };

    // A reply datagram of a slow printer, sent at `at`.
    struct Delayed {
        int socket;
        sockaddr_in to;
        net::Datagram bytes;
        Clock::time_point at;
    };
    // A UDP socket the loop reads: a file server's print-server address or a printer's conversation.
    struct UdpSocket {
        int fd;
        FileServer* server;
        Served* printer;
    };

    bool step();
    void takeDatagrams(const UdpSocket& socket, Clock::time_point now);
    std::optional<Clock::time_point> sendDelayed(Clock::time_point now);
    std::string control(Served& served, const std::vector<std::string>& words, bool& ok);
    void acceptOn(Served& served, Clock::time_point now);
    bool evictOne();
    bool receive(Connection& c, Clock::time_point now);
    void handle(Connection& c, const Request& request, Clock::time_point now);
    std::optional<Clock::time_point> advance(Connection& c, Clock::time_point now);
    void respond(Connection& c, sim::Status status, std::string_view text = {});
    bool flush(Connection& c);
    void closeConnection(Connection& c);

    const std::vector<std::unique_ptr<Served>>& m_served;
    const std::vector<std::unique_ptr<FileServer>>& m_fileServers;
    int m_wake;
    std::size_t m_limit;
    std::vector<std::uint8_t> m_datagram;  // the largest datagram there is
    std::vector<UdpSocket> m_udp;
    std::vector<Delayed> m_delayed;
    std::vector<std::unique_ptr<Connection>> m_connections;
    std::vector<pollfd> m_fds;
    std::vector<Connection*> m_polled;
    Clock::time_point m_acceptPausedUntil{};
    bool m_pauseReported = false;
    bool m_printerChanged = false;  // a waiting write was taken in this round
};

void Server::Loop::run()
{
    for (;;) {
        try {
            if (!step()) return;
        } catch (const std::exception& e) {
            // Out of memory, most likely: give up a connection rather than the service.
            std::fprintf(stderr, "vprinter: %s; dropping a connection\n", e.what());
            if (!evictOne()) std::this_thread::sleep_for(kAcceptPause);
        }
    }
}

// One round: answers what has come due, waits for the sockets or the next deadline, and takes what
// they bring. False once stop() asks the loop to end.
bool Server::Loop::step()
{
    const auto now = Clock::now();
    std::optional<Clock::time_point> next;
    auto wakeAt = [&](Clock::time_point at) { next = next ? std::min(*next, at) : at; };

    // Requests that wait, deadlines and responses still to send.
    m_printerChanged = false;
    for (auto& c : m_connections) {
        try {
            if (c->waiting) {
                if (auto at = advance(*c, now)) wakeAt(*at);
            }
            if (c->requestDeadline) {
                if (now >= *c->requestDeadline) closeConnection(*c);
                else wakeAt(*c->requestDeadline);
            }
            if (c->fd >= 0 && !c->out.empty() && !flush(*c)) closeConnection(*c);
            if (c->fd >= 0 && c->closeWhenSent && c->out.empty()) closeConnection(*c);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vprinter: %s: dropped a connection: %s\n", c->served->printer.port().c_str(),
                         e.what());
            closeConnection(*c);
        }
    }
    std::erase_if(m_connections, [](const auto& c) { return c->fd < 0; });
    if (auto at = sendDelayed(now)) wakeAt(*at);

    m_fds.clear();
    m_polled.clear();
    m_fds.push_back({m_wake, POLLIN, 0});
    const bool accepting = now >= m_acceptPausedUntil;
    if (!accepting) wakeAt(m_acceptPausedUntil);
    for (auto& served : m_served) m_fds.push_back({served->listener, static_cast<short>(accepting ? POLLIN : 0), 0});
    const std::size_t udpAt = m_fds.size();
    m_udp.clear();
    for (auto& server : m_fileServers) m_udp.push_back({server->socket, server.get(), nullptr});
    for (auto& served : m_served) {
        if (served->network) m_udp.push_back({served->conversation, nullptr, served.get()});
    }
    for (const auto& u : m_udp) m_fds.push_back({u.fd, POLLIN, 0});
    const std::size_t first = m_fds.size();
    for (auto& c : m_connections) {
        // One request at a time: the next is read once the last one is answered. Hang-ups and errors
        // are reported whatever is asked for, so a client that leaves while it waits is noticed.
        const short events = !c->out.empty() ? POLLOUT : c->waiting ? 0 : POLLIN;
        m_fds.push_back({c->fd, events, 0});
        m_polled.push_back(c.get());
    }
    int timeout = -1;
    // A write taken in this round may have readied replies for requests looked at before it.
    if (m_printerChanged) next = now;
    if (next) {
        const auto left = std::chrono::ceil<milliseconds>(*next - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, 60 * 60 * 1000));
    }
    if (::poll(m_fds.data(), m_fds.size(), timeout) < 0) {
        if (errno == EINTR) return true;
        // Short of memory or descriptors: shed a connection and try again.
        std::fprintf(stderr, "vprinter: poll: %s; dropping a connection\n", std::strerror(errno));
        if (!evictOne()) std::this_thread::sleep_for(kAcceptPause);
        return true;
    }
    if (m_fds[0].revents != 0) return false;

    const auto then = Clock::now();
    for (std::size_t i = 0; i < m_polled.size(); ++i) {
        Connection& c = *m_polled[i];
        const pollfd& p = m_fds[first + i];
        if (p.revents == 0 || c.fd < 0) continue;
        try {
            if ((p.revents & POLLOUT) && !flush(c)) {
                closeConnection(c);
            } else if ((p.events & POLLIN) && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
                if (!receive(c, then)) closeConnection(c);
            }
            // A client that hung up is gone, whatever it was waiting for.
            if (c.fd >= 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) closeConnection(c);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "vprinter: %s: dropped a connection: %s\n", c.served->printer.port().c_str(),
                         e.what());
            closeConnection(c);
        }
    }
    m_polled.clear();
    std::erase_if(m_connections, [](const auto& c) { return c->fd < 0; });
    for (std::size_t i = 0; i < m_udp.size(); ++i) {
        const short revents = m_fds[udpAt + i].revents;
        if (revents & POLLERR) {
            // A pending socket error (an ICMP report) would wake every poll: take it and go on.
            int error = 0;
            socklen_t size = sizeof error;
            ::getsockopt(m_udp[i].fd, SOL_SOCKET, SO_ERROR, &error, &size);
        }
        if (revents & POLLIN) takeDatagrams(m_udp[i], then);
    }
    for (std::size_t i = 0; i < m_served.size(); ++i) {
        const short revents = m_fds[1 + i].revents;
        if (revents & POLLIN) acceptOn(*m_served[i], then);
        // A listener in error would wake every poll at once: rest instead of spinning.
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) m_acceptPausedUntil = then + kAcceptPause;
    }
    return true;
}

std::string Server::Loop::control(Served& served, const std::vector<std::string>& words, bool& ok)
{
    if (!served.network) return served.printer.control(words, ok);
    if (auto answer = served.network->control(words, ok)) return *answer;
    std::string answer = served.printer.control(words, ok);
    if (ok && !words.empty() && words[0] == "show") answer += served.network->describe();
    return answer;
}

void Server::Loop::takeDatagrams(const UdpSocket& socket, Clock::time_point now)
{
    for (int i = 0; i < kDatagramsPerRound; ++i) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t n = ::recvfrom(socket.fd, m_datagram.data(), m_datagram.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return;  // nothing more now (or an error the next poll reports)
        if (from.sin_family != AF_INET) continue;
        const auto sender = plat::netware::Address::udp(ntohl(from.sin_addr.s_addr), ntohs(from.sin_port));
        const auto datagram = std::span(m_datagram).first(static_cast<std::size_t>(n));
        std::optional<net::Datagram> answer;
        milliseconds delay{0};
        if (socket.server != nullptr) {
            net::Interface* named = nullptr;
            answer = net::connect(socket.server->interfaces, datagram, socket.server->address, sender, &named);
            if (named != nullptr) delay = named->printer().slowBy();
        } else {
            answer = socket.printer->network->query(datagram, sender);
            delay = socket.printer->printer.slowBy();
        }
        if (!answer) continue;
        if (delay.count() > 0) {
            if (m_delayed.size() < kMaxDelayedReplies)
                m_delayed.push_back({socket.fd, from, std::move(*answer), now + delay});
            continue;
        }
        // A datagram the socket cannot take now is lost, as on any network.
        ::sendto(socket.fd, answer->data(), answer->size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from),
                 sizeof from);
    }
}

// Sends the slow printers' replies whose time has come; the time of the next, if any waits.
std::optional<Clock::time_point> Server::Loop::sendDelayed(Clock::time_point now)
{
    std::optional<Clock::time_point> next;
    std::erase_if(m_delayed, [&](const Delayed& d) {
        if (d.at > now) {
            next = next ? std::min(*next, d.at) : d.at;
            return false;
        }
        ::sendto(d.socket, d.bytes.data(), d.bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&d.to),
                 sizeof d.to);
        return true;
    });
    return next;
}

void Server::Loop::acceptOn(Served& served, Clock::time_point now)
{
    // A few at a time, so one busy port does not starve the others.
    for (int i = 0; i < 16; ++i) {
        if (m_connections.size() >= m_limit && !evictOne()) return;
        int fd = ::accept4(served.listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors or memory: make room at the expense of the least useful
                // connection, or rest the listeners a moment. Serving goes on either way.
                if (!m_pauseReported) {
                    std::fprintf(stderr, "vprinter: accept: %s; making room\n", std::strerror(errno));
                    m_pauseReported = true;
                }
                if (evictOne()) continue;
                m_acceptPausedUntil = now + kAcceptPause;
                return;
            }
            std::fprintf(stderr, "vprinter: accept on %s: %s\n", served.socketPath.c_str(), std::strerror(errno));
            m_acceptPausedUntil = now + kAcceptPause;
            return;
        }
        m_pauseReported = false;
        try {
            auto c = std::make_unique<Connection>();
            c->fd = fd;
            c->served = &served;
            c->lastActive = now;
            c->requestDeadline = now + kRequestTimeout;
            m_connections.push_back(std::move(c));
        } catch (...) {
            ::close(fd);
            throw;
        }
    }
}

// Closes the connection least likely to be missed: one that never asked anything, else the one
// quiet the longest.
bool Server::Loop::evictOne()
{
    Connection* victim = nullptr;
    for (auto& c : m_connections) {
        if (c->fd < 0) continue;
        if (victim == nullptr ||
            std::pair(c->requested, c->lastActive) < std::pair(victim->requested, victim->lastActive)) {
            victim = c.get();
        }
    }
    if (victim == nullptr) return false;
    closeConnection(*victim);
    std::erase_if(m_connections, [](const auto& c) { return c->fd < 0; });
    return true;
}

// Reads what has come of the current request and handles it once whole; false when the client is
// gone or sent a frame that cannot be taken.
bool Server::Loop::receive(Connection& c, Clock::time_point now)
{
    for (;;) {
        const std::optional<std::size_t> missing = frameBytesMissing(c.in);
        if (!missing) return false;
        const std::size_t need = *missing;
        if (need == 0) {
            std::vector<std::byte> frame = std::move(c.in);
            c.in.clear();
            handle(c, decodeRequest(frame), now);
            return true;
        }
        const std::size_t had = c.in.size();
        c.in.resize(had + need);
        const ssize_t n = ::recv(c.fd, c.in.data() + had, need, 0);
        if (n <= 0) {
            c.in.resize(had);
            if (n < 0 && errno == EINTR) continue;
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
        c.in.resize(had + static_cast<std::size_t>(n));
        c.lastActive = now;
        if (had == 0 && !c.requestDeadline) c.requestDeadline = now + kRequestTimeout;
    }
}

void Server::Loop::handle(Connection& c, const Request& request, Clock::time_point now)
{
    using Kind = Request::Kind;
    c.requested = true;
    c.requestDeadline.reset();
    Printer& printer = c.served->printer;
    if (request.kind != Kind::Control && c.served->network) {
        respond(c, sim::Status::BadRequest, "a network printer takes control commands here; it answers over IPX");
        c.closeWhenSent = true;
    } else if (request.kind == Kind::Control) {
        bool ok = false;
        std::string answer = control(*c.served, commandWords(sim::asText(request.bytes)), ok);
        if (answer.size() > sim::kMaxPayload) {
            respond(c, sim::Status::Failed,
                    "the answer has " + std::to_string(answer.size()) + " bytes, more than one response can carry");
        } else {
            respond(c, ok ? sim::Status::Ok : sim::Status::Failed, answer);
        }
    } else if (request.kind == Kind::Open) {
        if (printer.refusesOpen()) {
            respond(c, sim::Status::NoOpen, "the port does not open");
            c.closeWhenSent = true;
        } else {
            c.opened = true;
            respond(c, sim::Status::Ok);
        }
    } else if (!c.opened) {
        respond(c, sim::Status::BadRequest, "open the port first");
        c.closeWhenSent = true;
    } else if (request.kind == Kind::Write) {
        const auto deadline = now + milliseconds(request.timeoutMs);
        c.waiting = Waiting{Kind::Write, {request.bytes.begin(), request.bytes.end()}, 0, now, deadline};
    } else if (request.kind == Kind::Read) {
        const auto deadline = now + milliseconds(request.timeoutMs);
        c.waiting = Waiting{Kind::Read, {}, request.maxBytes, now + printer.slowBy(), deadline};
    } else if (request.kind == Kind::DeviceId) {
        const auto start = now + printer.slowBy();
        c.waiting = Waiting{Kind::DeviceId, {}, request.maxBytes, start, start};
    } else if (request.kind == Kind::Purge) {
        printer.purge();
        respond(c, sim::Status::Ok);
    } else {
        respond(c, sim::Status::BadRequest, "unknown or short request");
    }
    // Answer at once what can be answered at once.
    if (c.waiting) advance(c, now);
}

// Answers the waiting request if its time has come; otherwise the time to look again.
std::optional<Clock::time_point> Server::Loop::advance(Connection& c, Clock::time_point now)
{
    Printer& printer = c.served->printer;
    const Waiting& w = *c.waiting;
    auto finish = [&](sim::Status status, std::string_view text = {}) {
        c.waiting.reset();
        respond(c, status, text);
        return std::nullopt;
    };
    switch (w.kind) {
    case Request::Kind::Write: {
        // A busy printer takes the bytes once it is no longer busy, if that is before the time-out.
        if (now >= printer.busyUntil()) {
            if (printer.refusesOpen()) return finish(sim::Status::TimedOut, "the printer is busy");
            printer.receive(sim::asText(w.bytes));
            return finish(sim::Status::Ok);
        }
        if (now >= w.deadline) return finish(sim::Status::TimedOut, "the printer is busy");
        return std::min(w.deadline, printer.busyUntil());
    }
    case Request::Kind::Read: {
        if (now < w.startAt) return w.startAt;
        // Whatever is readable now; then the read ends, as it would after an interval of silence.
        const std::size_t max = std::min<std::size_t>(w.maxBytes, sim::kMaxPayload);
        std::string out;
        for (std::string more; out.size() < max && !(more = printer.take(max - out.size(), c.statusTaken)).empty();) {
            out += more;
        }
        if (!out.empty() || now >= w.deadline) return finish(sim::Status::Ok, out);
        // Nothing yet: look again when a reply becomes readable, at the deadline, or when another
        // connection changes the printer (the loop looks at every waiting request each round).
        auto at = w.deadline;
        if (auto ready = printer.nextReadyAt(); ready && *ready > now) at = std::min(at, *ready);
        return at;
    }
    case Request::Kind::DeviceId: {
        if (now < w.startAt) return w.startAt;
        return finish(sim::Status::Ok, printer.deviceId().substr(0, w.maxBytes));
    }
    default: return finish(sim::Status::BadRequest, "unknown or short request");
    }
}

void Server::Loop::respond(Connection& c, sim::Status status, std::string_view text)
{
    std::vector<std::byte> frame;
    frame.reserve(kFrameHeaderBytes + text.size());
    frame.push_back(static_cast<std::byte>(status));
    sim::putU32(frame, static_cast<std::uint32_t>(text.size()));
    auto bytes = sim::asBytes(text);
    frame.insert(frame.end(), bytes.begin(), bytes.end());
    c.out.insert(c.out.end(), frame.begin(), frame.end());
}

// Sends what the socket takes now; false when the client is gone.
bool Server::Loop::flush(Connection& c)
{
    while (c.sent < c.out.size()) {
        const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        if (n <= 0) return false;
        c.sent += static_cast<std::size_t>(n);
    }
    c.out.clear();
    c.sent = 0;
    return true;
}

void Server::Loop::closeConnection(Connection& c)
{
    if (c.fd < 0) return;
    ::close(c.fd);
    c.fd = -1;
    c.waiting.reset();
}

Server::Server(plat::registry::Store& store) : m_store(store) {}
Server::~Server() { stop(); }

std::string Server::socketPath(const std::string& port)
{
    std::string name;
    for (char c : port) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return (plat::runDir() / ("vprinter-" + name + ".sock")).string();
}

std::string Server::controlSocketPath(const net::Identity& identity)
{
    // Letters and digits stand for themselves, every other byte as _XX, so two names never share a
    // path; names too long for a socket path go by a hash of the whole name instead.
    auto encode = [](std::string_view name) {
        std::string out;
        char hex[4];
        for (char c : name) {
            const auto u = static_cast<unsigned char>(c);
            if (std::isalnum(u)) {
                out += static_cast<char>(std::toupper(u));
            } else {
                std::snprintf(hex, sizeof hex, "_%02X", u);
                out += hex;
            }
        }
        return out;
    };
    const std::string readable = "vprinter-net-" + encode(identity.server) + "-" + encode(identity.name) + "-" +
                                 std::to_string(identity.number) + ".sock";
    const auto path = plat::runDir() / readable;
    if (path.string().size() < sizeof(sockaddr_un{}.sun_path)) return path.string();
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c :
         encode(identity.server) + "/" + encode(identity.name) + "/" + std::to_string(identity.number)) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    char name[40];
    std::snprintf(name, sizeof name, "vprinter-net-%016llx.sock", static_cast<unsigned long long>(hash));
    return (plat::runDir() / name).string();
}

std::optional<plat::netware::Address> Server::printServerAddress(const std::string& server) const
{
    for (const auto& fs : m_fileServers) {
        if (plat::text::equalWholeIgnoringCase(fs->name, server)) return fs->address;
    }
    return std::nullopt;
}

namespace {

// A Unix socket at `path` that only the user can reach, listening; -1 (errno set) on failure.
// `bound` tells whether the socket file was made, and so is ours to remove.
int listenAt(const std::string& path, bool& bound)
{
    bound = false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::strcpy(address.sun_path, path.c_str());
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    // The socket is the user's alone whatever the umask: Linux gives a bound socket the mode of its
    // descriptor (less the umask), and the chmod after bind settles it for good.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    bound = true;
    if (::chmod(path.c_str(), S_IRUSR | S_IWUSR) != 0 || ::listen(fd, 64) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// A UDP socket on 127.0.0.1 with a port of the system's choosing; -1 (errno set) on failure.
int datagramSocket(plat::netware::Address& address)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    address = plat::netware::Address::loopback(ntohs(local.sin_port));
    return fd;
}

}  // namespace

plat::Error Server::start(const Config& config)
{
    if (m_thread.joinable()) return {1, "already serving"};
    auto fail = [&](int code, std::string why) {
        stop();
        return plat::Error{code, std::move(why)};
    };
    for (const auto& printer : config.printers) {
        const Model* model = findModel(printer.model);
        if (model == nullptr)
            return fail(2, "config: port " + printer.port + ": unknown model \"" + printer.model + "\"");
        m_served.push_back(std::make_unique<Served>(printer.port, *model, printer.deviceId));
        Served& served = *m_served.back();
        if (!printer.state.empty()) {
            bool ok = false;
            std::string answer = served.printer.control(printer.state, ok);
            if (!ok) return fail(2, "config: port " + printer.port + ": state: " + answer);
        }
        served.socketPath = socketPath(printer.port);
        if (served.socketPath.size() >= sizeof(sockaddr_un{}.sun_path)) {
            return fail(1, "the socket path " + served.socketPath + " is too long; use a shorter KESTREL_ROOT");
        }
        served.listener = listenAt(served.socketPath, served.bound);
        if (served.listener < 0) {
            return fail(1, "cannot serve " + printer.port + " at " + served.socketPath + ": " + std::strerror(errno));
        }
        if (!plat::port::mapPort(m_store, printer.port, "sim:" + served.socketPath)) {
            return fail(1, "cannot enter " + printer.port + " in the port map of " + plat::registryFile().string());
        }
        served.mapped = true;
    }
    if (auto error = startNetwork(config.netware); error.code != 0) return fail(error.code, error.detail);
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return fail(1, std::string("cannot start serving: eventfd: ") + std::strerror(errno));
    m_wake = wake;
    m_loop = std::make_unique<Loop>(m_served, m_fileServers, wake);
    try {
        m_thread = std::thread([this] {
            try {
                m_loop->run();
            } catch (const std::exception& e) {
                std::fprintf(stderr, "vprinter: serving ended: %s\n", e.what());
            }
        });
    } catch (const std::system_error& e) {
        return fail(1, std::string("cannot start serving: ") + e.what());
    }
    return {0, ""};
}

plat::Error Server::startNetwork(const std::vector<NetworkConfig>& netware)
{
    for (const auto& config : netware) {
        const std::string name = net::displayName(config.identity);
        const Model* model = findModel(config.model);
        if (model == nullptr) return {2, "config: " + name + ": unknown model \"" + config.model + "\""};
        auto fs = std::find_if(m_fileServers.begin(), m_fileServers.end(),
                               [&](const auto& f) { return f->name == config.identity.server; });
        if (fs == m_fileServers.end()) {
            m_fileServers.push_back(std::make_unique<FileServer>());
            fs = m_fileServers.end() - 1;
            (*fs)->name = config.identity.server;
            (*fs)->socket = datagramSocket((*fs)->address);
            if ((*fs)->socket < 0) {
                return {1, "cannot serve file server " + config.identity.server + ": " + std::strerror(errno)};
            }
        }
        m_served.push_back(std::make_unique<Served>(name, *model, config.deviceId));
        Served& served = *m_served.back();
        if (!config.state.empty()) {
            bool ok = false;
            std::string answer = served.printer.control(config.state, ok);
            if (!ok) return {2, "config: " + name + ": state: " + answer};
        }
        served.network = std::make_unique<net::Interface>(config.identity, served.printer);
        plat::netware::Address conversation;
        served.conversation = datagramSocket(conversation);
        if (served.conversation < 0) return {1, "cannot serve " + name + ": " + std::strerror(errno)};
        served.network->setConversation(conversation);
        served.socketPath = controlSocketPath(config.identity);
        served.listener = listenAt(served.socketPath, served.bound);
        if (served.listener < 0) {
            return {1, "cannot take control commands for " + name + " at " + served.socketPath + ": " +
                           std::strerror(errno)};
        }
        (*fs)->interfaces.push_back(served.network.get());
    }
    if (!m_fileServers.empty()) {
        auto entered = plat::netware::update([&](plat::netware::Environment& env) { enterAddresses(env, true); });
        if (!entered) return {1, "cannot enter the print-server addresses: " + entered.error().detail};
        for (auto& fs : m_fileServers) fs->entered = true;
    }
    return {0, ""};
}

void Server::enterAddresses(plat::netware::Environment& env, bool enter)
{
    for (const auto& fs : m_fileServers) {
        const plat::netware::FileServer* old = env.server(fs->name);
        if (enter) {
            // The file server keeps its other records (its version); only the address is ours.
            plat::netware::FileServer record = old ? *old : plat::netware::FileServer{fs->name};
            record.printServerAddress = fs->address;
            env.put(std::move(record));
        } else if (fs->entered && old != nullptr && old->printServerAddress == fs->address) {
            // Another simulator may have taken the file server over since: its address stays.
            plat::netware::FileServer record = *old;
            record.printServerAddress.reset();
            env.put(std::move(record));
        }
    }
}

void Server::stop()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        while (::write(m_wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    m_loop.reset();  // closes every connection
    if (m_wake >= 0) ::close(m_wake);
    m_wake = -1;
    if (std::any_of(m_fileServers.begin(), m_fileServers.end(), [](const auto& fs) { return fs->entered; })) {
        auto removed = plat::netware::update([&](plat::netware::Environment& env) { enterAddresses(env, false); });
        if (!removed) {
            std::fprintf(stderr, "vprinter: cannot take the print-server addresses out of %s: %s\n",
                         plat::netware::environmentFile().c_str(), removed.error().detail.c_str());
        }
    }
    for (auto& fs : m_fileServers) {
        if (fs->socket >= 0) ::close(fs->socket);
    }
    m_fileServers.clear();
    for (auto& served : m_served) {
        if (served->listener >= 0) ::close(served->listener);
        if (served->conversation >= 0) ::close(served->conversation);
        if (served->mapped) plat::port::unmapPort(m_store, served->printer.port());
        if (served->bound) ::unlink(served->socketPath.c_str());
    }
    m_served.clear();
}

}  // namespace vprinter
