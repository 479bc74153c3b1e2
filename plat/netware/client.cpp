// The NetWare client operations over the environment file and UDP on the loopback network.

#include "plat/netware/client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>

namespace plat::netware {

namespace {

// Bindery ids: the kind of object in the high byte, its position in the environment below.
constexpr std::uint32_t kQueueIds = 0x03000000, kInterfaceIds = 0x08000000, kCapturedQueueIds = 0x0C000000;
constexpr std::string_view kAddressProperty = "NET_ADDRESS";

Error failure(int code, std::string detail) { return Error{code, "netware: " + std::move(detail)}; }

Result<Environment> environment()
{
    auto env = load();
    if (!env) return failure(kNotInitialised, env.error().detail);
    return env;
}

// The server of a connection, checked against the environment as it is now.
Result<Environment> withServer(const Connection& connection, const FileServer*& server)
{
    auto env = environment();
    if (!env) return env;
    server = env->server(connection.server);
    if (server == nullptr || connection.number == 0) {
        return failure(kBadHandle, "no connection " + std::to_string(connection.number) + " to " + connection.server);
    }
    return env;
}

std::mutex g_handlesMutex;
std::set<std::uint32_t> g_contexts;  // guarded by g_handlesMutex: contexts created and not freed
std::uint32_t g_nextHandle = 1;      // guarded by g_handlesMutex
int g_unicodeTables = 0;             // guarded by g_handlesMutex

bool contextLive(const DirectoryContext& context)
{
    std::lock_guard lock(g_handlesMutex);
    return g_contexts.count(context.handle) != 0;
}

std::string withoutTypes(std::string_view name)
{
    std::string out;
    std::size_t i = 0;
    while (i <= name.size()) {
        std::size_t end = name.find('.', i);
        if (end == std::string_view::npos) end = name.size();
        std::string_view part = name.substr(i, end - i);
        if (auto eq = part.find('='); eq != std::string_view::npos) part = part.substr(eq + 1);
        if (!out.empty() || i > 0) out += '.';
        out += part;
        i = end + 1;
    }
    return out;
}

Result<std::string> scanEntry(QueueAttributeScan& scan)
{
    if (scan.ended) return failure(kBadHandle, "the attribute scan has ended");
    auto env = environment();
    if (!env) return env.error();
    const Queue* queue = env->queue(scan.server, scan.queue);
    if (queue == nullptr) return failure(kNoSuchObject, "no queue " + scan.queue + " on " + scan.server);
    if (scan.next >= queue->printServers.size()) return failure(kNoMoreEntries, "no more print servers");
    std::string name = queue->printServers[scan.next++];
    return scan.directoryMode ? "CN=" + name : name;
}

}  // namespace

// ---- calls library -------------------------------------------------------------------------------

Result<bool> initCalls()
{
    auto env = environment();
    if (!env) return env.error();
    return true;
}

Result<Connection> connectionHandle(std::string_view server)
{
    auto env = environment();
    if (!env) return env.error();
    for (std::size_t i = 0; i < env->servers.size(); ++i) {
        if (sameName(env->servers[i].name, server)) {
            return Connection{static_cast<std::uint16_t>(i + 1), env->servers[i].name};
        }
    }
    return failure(kNoSuchObject, "no file server " + std::string(server));
}

Result<BinderyObject> scanObject(const Connection& connection, std::string_view name, std::uint16_t type)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    if (type == kObjectPrintQueue) {
        for (std::size_t i = 0; i < env->queues.size(); ++i) {
            const Queue& q = env->queues[i];
            if (sameName(q.server, server->name) && sameName(q.name, name)) {
                return BinderyObject{kQueueIds | static_cast<std::uint32_t>(i + 1), q.name, type};
            }
        }
    } else if (type == kObjectPrinterInterface && server->printServerAddress && sameName(name, server->name)) {
        return BinderyObject{kInterfaceIds | connection.number, server->name, type};
    }
    return failure(kNoSuchObject, "no object " + std::string(name) + " of type " + std::to_string(type));
}

Result<std::string> scanProperty(const Connection& connection, std::string_view objectName, std::uint16_t objectType,
                                 std::string_view pattern)
{
    auto object = scanObject(connection, objectName, objectType);
    if (!object) return object.error();
    if (objectType == kObjectPrinterInterface && (pattern == "*" || sameName(pattern, kAddressProperty))) {
        return std::string(kAddressProperty);
    }
    return failure(kNoSuchProperty, "no property " + std::string(pattern) + " of " + std::string(objectName));
}

Result<std::array<std::uint8_t, kSegmentBytes>> readPropertyValue(const Connection& connection,
                                                                  std::string_view objectName, std::uint16_t objectType,
                                                                  std::string_view property, int segment)
{
    if (objectType != kObjectPrinterInterface || !sameName(property, kAddressProperty) || segment != 1) {
        return failure(kNoSuchProperty, "no segment " + std::to_string(segment) + " of " + std::string(property));
    }
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    if (!sameName(objectName, server->name) || !server->printServerAddress) {
        return failure(kNoSuchObject, "no object " + std::string(objectName));
    }
    std::array<std::uint8_t, kSegmentBytes> value{};
    std::copy(server->printServerAddress->bytes.begin(), server->printServerAddress->bytes.end(), value.begin());
    return value;
}

Result<BinderyObject> objectName(const Connection& connection, std::uint32_t id)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    const std::uint32_t index = id & 0xFFFF;
    switch (id & 0xFF000000) {
    case kQueueIds:
        if (index >= 1 && index <= env->queues.size() && sameName(env->queues[index - 1].server, server->name)) {
            return BinderyObject{id, env->queues[index - 1].name, kObjectPrintQueue};
        }
        break;
    case kCapturedQueueIds:
        if (const Capture* c = env->capture(static_cast<int>(index)); c && sameName(c->server, server->name)) {
            return BinderyObject{id, c->queue, kObjectPrintQueue};
        }
        break;
    case kInterfaceIds:
        if (index == connection.number && server->printServerAddress) {
            return BinderyObject{id, server->name, kObjectPrinterInterface};
        }
        break;
    default: break;
    }
    return failure(kNoSuchObject, "no object with id " + std::to_string(id));
}

Result<ServerVersion> fileServerVersion(const Connection& connection)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    return ServerVersion{server->name, server->majorVersion, server->majorVersion == 4 ? 11 : 12};
}

Result<std::string> fileServerName(const Connection& connection)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    return server->name;
}

std::uint8_t captureStatus(int lpt)
{
    auto env = load();
    if (!env) return 0;
    const Capture* c = env->capture(lpt);
    return c != nullptr && env->server(c->server) != nullptr ? kCaptured : 0;
}

Result<CaptureFlags> captureFlags(int lpt)
{
    auto env = environment();
    if (!env) return env.error();
    const Capture* c = env->capture(lpt);
    if (c == nullptr) return failure(kNoSuchObject, "LPT" + std::to_string(lpt) + " is not captured");
    auto connection = connectionHandle(c->server);
    if (!connection) return connection.error();
    return CaptureFlags{connection.value(), kCapturedQueueIds | static_cast<std::uint32_t>(lpt)};
}

// ---- locale and directory services -----------------------------------------------------------------

Result<LocaleConventions> setLocale(std::string_view name)
{
    // The system's code page is UTF-8 whatever the locale's name.
    if (!name.empty() && name != "C" && name != "POSIX") {
        return failure(kNoSuchObject, "no locale " + std::string(name));
    }
    return LocaleConventions{1, 65001};
}

Result<bool> initUnicodeTables(int country, int codePage)
{
    if (country <= 0 || codePage <= 0) return failure(kNoSuchObject, "no Unicode tables for that code page");
    std::lock_guard lock(g_handlesMutex);
    ++g_unicodeTables;
    return true;
}

void freeUnicodeTables()
{
    std::lock_guard lock(g_handlesMutex);
    if (g_unicodeTables > 0) --g_unicodeTables;
}

Result<DirectoryContext> createContext()
{
    std::lock_guard lock(g_handlesMutex);
    if (g_unicodeTables == 0) return failure(kNotInitialised, "a context needs the Unicode tables");
    const std::uint32_t handle = g_nextHandle++;
    g_contexts.insert(handle);
    return DirectoryContext{handle, {}, false};
}

Result<std::string> binderyContext(const Connection& connection)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    return "O=" + server->name;
}

Result<bool> setContext(DirectoryContext& context, ContextKey key, std::string_view value)
{
    if (!contextLive(context)) return failure(kBadHandle, "the context is not live");
    if (key == ContextKey::Typeless) {
        context.typeless = value == "1";
    } else {
        auto env = environment();
        if (!env) return env.error();
        if (env->server(withoutTypes(value)) == nullptr) {
            return failure(kNoSuchObject, "no name context " + std::string(value));
        }
        context.nameContext = std::string(value);
    }
    return true;
}

Result<std::string> removeAllTypes(const DirectoryContext& context, std::string_view name)
{
    if (!contextLive(context)) return failure(kBadHandle, "the context is not live");
    return withoutTypes(name);
}

void freeContext(DirectoryContext& context)
{
    std::lock_guard lock(g_handlesMutex);
    g_contexts.erase(context.handle);
    context.handle = 0;
}

// ---- print-server library ------------------------------------------------------------------------

Result<std::string> firstPrintQueueAttribute(const Connection& connection, std::string_view queue,
                                             QueueAttributeScan& scan)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    scan = QueueAttributeScan{server->name, upperName(queue), false, 0, false};
    return scanEntry(scan);
}

Result<std::string> firstPrintQueueAttribute(const DirectoryContext& context, std::string_view queue,
                                             QueueAttributeScan& scan)
{
    if (!contextLive(context) || context.nameContext.empty()) {
        return failure(kBadHandle, "the context is not live or has no name context");
    }
    scan = QueueAttributeScan{withoutTypes(context.nameContext), upperName(queue), true, 0, false};
    return scanEntry(scan);
}

Result<std::string> nextPrintQueueAttribute(QueueAttributeScan& scan) { return scanEntry(scan); }

void endPrintQueueAttributeScan(QueueAttributeScan& scan) { scan.ended = true; }

Result<PrintServerLink> attachToPrintServer(const Connection& connection, std::string_view printServer, std::uint32_t)
{
    const FileServer* server = nullptr;
    auto env = withServer(connection, server);
    if (!env) return env.error();
    if (!env->printServerExists(server->name, printServer)) {
        return failure(kNoSuchObject, "no print server " + std::string(printServer) + " to attach to");
    }
    return PrintServerLink{server->name, upperName(printServer), false, true};
}

Result<bool> loginToPrintServer(PrintServerLink& link)
{
    if (!link.attached) return failure(kBadHandle, "not attached to " + link.printServer);
    link.loggedIn = true;
    return true;
}

Result<std::vector<std::uint16_t>> printersServicingQueue(const PrintServerLink& link, std::string_view queue,
                                                          std::size_t max)
{
    if (!link.attached || !link.loggedIn) return failure(kBadHandle, "not logged in to " + link.printServer);
    auto env = environment();
    if (!env) return env.error();
    const PrintServer* ps = env->printServer(link.server, link.printServer, queue);
    if (ps == nullptr) return std::vector<std::uint16_t>{};
    std::vector<std::uint16_t> printers = ps->printers;
    if (printers.size() > max) printers.resize(max);
    return printers;
}

void detachFromPrintServer(PrintServerLink& link)
{
    link.attached = false;
    link.loggedIn = false;
}

// ---- IPX -----------------------------------------------------------------------------------------

namespace {
std::atomic<std::uint32_t> g_nextIpxHandle{1};
}

Result<IpxSession> ipxInitialize(int controlBlocks, std::size_t packetBytes)
{
    if (controlBlocks <= 0 || packetBytes < 30 || packetBytes > 65507) {
        return failure(kNotInitialised, "IPX cannot work with those control blocks or that packet size");
    }
    return IpxSession{g_nextIpxHandle++, controlBlocks, packetBytes};
}

void ipxDeinitialize(IpxSession& session) { session = IpxSession{}; }

Socket::~Socket() { close(); }

Socket::Socket(Socket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)), m_number(other.m_number) {}

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
        m_number = other.m_number;
    }
    return *this;
}

void Socket::close()
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

Result<Socket> openSocket(const IpxSession& session)
{
    if (session.handle == 0) return failure(kNotInitialised, "IPX is not initialised");
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return failure(kSocketError, std::string("no UDP socket: ") + std::strerror(errno));
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    local.sin_port = 0;
    socklen_t size = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
        const int e = errno;
        ::close(fd);
        return failure(kSocketError, std::string("cannot bind a UDP socket on 127.0.0.1: ") + std::strerror(e));
    }
    return Socket(fd, ntohs(local.sin_port));
}

void closeSocket(Socket& socket) { socket.close(); }

Result<bool> send(const Socket& socket, std::span<const std::uint8_t> packet,
                  const std::array<std::uint8_t, 6>& localTarget)
{
    if (!socket.isOpen()) return failure(kBadHandle, "the socket is closed");
    if (packet.size() < 30) return failure(kBadPacket, "a packet shorter than its IPX header");
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(std::uint32_t{localTarget[2]} << 24 | std::uint32_t{localTarget[3]} << 16 |
                               std::uint32_t{localTarget[4]} << 8 | localTarget[5]);
    to.sin_port = htons(static_cast<std::uint16_t>(packet[16] << 8 | packet[17]));
    for (;;) {
        const ssize_t n = ::sendto(socket.fd(), packet.data(), packet.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n == static_cast<ssize_t>(packet.size())) return true;
        if (n < 0 && errno == EINTR) continue;
        return failure(kSocketError, std::string("send failed: ") + std::strerror(n < 0 ? errno : EMSGSIZE));
    }
}

Result<std::size_t> receive(const Socket& socket, std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout,
                            int cancelFd)
{
    using Clock = std::chrono::steady_clock;
    if (!socket.isOpen()) return failure(kBadHandle, "the socket is closed");
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd fds[2] = {{socket.fd(), POLLIN, 0}, {cancelFd, POLLIN, 0}};
        const int ready = ::poll(fds, cancelFd >= 0 ? 2 : 1, static_cast<int>(std::max<long long>(0, left.count())));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return failure(kSocketError, std::string("poll failed: ") + std::strerror(errno));
        }
        if (cancelFd >= 0 && (fds[1].revents & POLLIN) != 0) return Error{ECANCELED, "netware: the wait was cancelled"};
        if (ready == 0) return Error{ETIMEDOUT, "netware: no packet came in time"};
        if ((fds[0].revents & POLLIN) == 0) continue;
        const ssize_t n = ::recv(socket.fd(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR && errno != EAGAIN) {
            return failure(kSocketError, std::string("receive failed: ") + std::strerror(errno));
        }
    }
}

}  // namespace plat::netware
