#pragma once
// The NetWare client operations the engine uses: the calls, print-server, locale, directory-services
// and IPX libraries, answered from the root's NetWare environment file (environment.h) and carried
// over UDP on the loopback network. Every operation reports failure by its result; the caller tests
// each one. The file is read again by every operation that needs it, so a change made by the
// simulator or spoolctl is seen at the next call.
//
// Bindery objects: a file server's queues (type 0x0003) and, when the environment gives the server a
// print-server address, one object of type 0x0885 named after the server, whose first property's
// first segment starts with that 12-byte address. A print server can be attached to only when it has
// a print-server record; a name in a queue's print-server list without one is the printer's network
// interface itself. On a server of major version 4 (directory mode) the queue's print-server names
// come typed ("CN=PS1") and removeAllTypes() strips the types.
//
// IPX travels as UDP datagrams on 127.0.0.1: a dynamic socket is a UDP socket bound to 127.0.0.1:0,
// its socket number the UDP port (Address::loopback(port)). A packet goes to the UDP port of its
// header's destination socket at the IPv4 address in the last four bytes of the immediate node (the
// local target the address lookup gave).
//
// Thread safety: the operations keep no shared state but the counts of initialised IPX and Unicode
// tables; a Socket is used by one thread at a time, except that the cancel descriptor given to
// receive() may be raised from any thread.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plat/base/result.h"
#include "plat/netware/environment.h"

namespace plat::netware {

// Completion codes in Error::code, as the libraries report them.
enum Completion : int {
    kNoSuchObject = 0xFC,    // no such server, queue, object or print server
    kNoSuchProperty = 0xFB,  // the object has no (matching) property
    kNoMoreEntries = 0xFF,   // a scan is over
    kBadHandle = 0x0106,     // a handle that was never given out or is already released
    kNotInitialised = 0x0107,
    kSocketError = 0x0108,  // the UDP socket failed (errno in the detail)
    kBadPacket = 0x0109,    // a packet without a whole IPX header
};

// ---- calls library -------------------------------------------------------------------------------

// Checks that the environment file reads; true when the other calls can be made.
Result<bool> initCalls();

// A connection to a file server: its number (1 for the first server of the environment) and name.
struct Connection {
    std::uint16_t number = 0;
    std::string server;  // upper-cased
};
Result<Connection> connectionHandle(std::string_view server);

struct BinderyObject {
    std::uint32_t id = 0;
    std::string name;
    std::uint16_t type = 0;
};
// The first object of `type` whose name is `name` (no wildcards: the engine asks for one name).
Result<BinderyObject> scanObject(const Connection& connection, std::string_view name, std::uint16_t type);
// The first property of the object whose name matches `pattern` ("*" matches every name).
Result<std::string> scanProperty(const Connection& connection, std::string_view objectName, std::uint16_t objectType,
                                 std::string_view pattern);
// One 128-byte segment (1 is the first) of a property's value.
inline constexpr std::size_t kSegmentBytes = 128;
Result<std::array<std::uint8_t, kSegmentBytes>> readPropertyValue(const Connection& connection,
                                                                  std::string_view objectName, std::uint16_t objectType,
                                                                  std::string_view property, int segment);
// The object of a bindery id, as scanObject() and captureFlags() give ids.
Result<BinderyObject> objectName(const Connection& connection, std::uint32_t id);

struct ServerVersion {
    std::string name;
    int major = 3, minor = 12;
};
Result<ServerVersion> fileServerVersion(const Connection& connection);
Result<std::string> fileServerName(const Connection& connection);

// The capture status of LPTn: 255 when it is captured, 0 when not (also for a number that names no
// port).
inline constexpr std::uint8_t kCaptured = 255;
std::uint8_t captureStatus(int lpt);
struct CaptureFlags {
    Connection connection;      // of the server the port is captured to
    std::uint32_t queueId = 0;  // the captured queue's bindery id (objectName() gives its name)
};
Result<CaptureFlags> captureFlags(int lpt);

// ---- locale and directory services -----------------------------------------------------------------

struct LocaleConventions {
    int country = 1;
    int codePage = 437;
};
// Sets the default locale ("" as the name) and gives its conventions.
Result<LocaleConventions> setLocale(std::string_view name);
Result<bool> initUnicodeTables(int country, int codePage);
void freeUnicodeTables();

// A directory-services context: the name context names are resolved in (a server's bindery context
// here). Released with freeContext(); a released context fails every call.
struct DirectoryContext {
    std::uint32_t handle = 0;
    std::string nameContext;
    bool typeless = false;
};
enum class ContextKey { NameContext, Typeless };
Result<DirectoryContext> createContext();
// The bindery context of the connection's server: the name context under which its objects are found.
Result<std::string> binderyContext(const Connection& connection);
Result<bool> setContext(DirectoryContext& context, ContextKey key, std::string_view value);
// "CN=PS1.OU=SALES" → "PS1.SALES".
Result<std::string> removeAllTypes(const DirectoryContext& context, std::string_view name);
void freeContext(DirectoryContext& context);

// ---- print-server library ------------------------------------------------------------------------

// The scan of a queue's print-queue attributes: the print servers that serve the queue. In directory
// mode the scan goes through the context (and gives typed names), in bindery mode through the
// connection. `nextPrintQueueAttribute` fails with kNoMoreEntries after the last one.
struct QueueAttributeScan {
    std::string server, queue;
    bool directoryMode = false;
    std::size_t next = 0;
    bool ended = false;
};
Result<std::string> firstPrintQueueAttribute(const Connection& connection, std::string_view queue,
                                             QueueAttributeScan& scan);
Result<std::string> firstPrintQueueAttribute(const DirectoryContext& context, std::string_view queue,
                                             QueueAttributeScan& scan);
Result<std::string> nextPrintQueueAttribute(QueueAttributeScan& scan);
void endPrintQueueAttributeScan(QueueAttributeScan& scan);

struct PrintServerLink {
    std::string server, printServer;
    bool loggedIn = false;
    bool attached = false;
};
// `timeout` in the print-server library's units (ticks); the lookup here is local and never waits.
Result<PrintServerLink> attachToPrintServer(const Connection& connection, std::string_view printServer,
                                            std::uint32_t timeout);
Result<bool> loginToPrintServer(PrintServerLink& link);
// The numbers of the print server's printers that service `queue`, at most `max` of them.
Result<std::vector<std::uint16_t>> printersServicingQueue(const PrintServerLink& link, std::string_view queue,
                                                          std::size_t max);
void detachFromPrintServer(PrintServerLink& link);

// ---- IPX -----------------------------------------------------------------------------------------

// IPX time-outs count ticks of 1/18 s (20 ticks ≈ 1.1 s).
using Ticks = std::chrono::duration<std::int64_t, std::ratio<1, 18>>;
inline std::chrono::milliseconds toMilliseconds(Ticks ticks)
{
    return std::chrono::milliseconds(ticks.count() * 1000 / 18);
}

struct IpxSession {
    std::uint32_t handle = 0;
    int controlBlocks = 0;
    std::size_t packetBytes = 0;
};
Result<IpxSession> ipxInitialize(int controlBlocks, std::size_t packetBytes);
void ipxDeinitialize(IpxSession& session);

// A dynamic socket. Move-only; the destructor closes a socket still open.
class Socket {
public:
    Socket() = default;
    Socket(int fd, std::uint16_t number) : m_fd(fd), m_number(number) {}
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    std::uint16_t number() const { return m_number; }  // the UDP port
    Address address() const { return Address::loopback(m_number); }
    void close();

private:
    int m_fd = -1;
    std::uint16_t m_number = 0;
};
Result<Socket> openSocket(const IpxSession& session);
void closeSocket(Socket& socket);

// Sends one packet (a 30-byte IPX header, then the data) through the immediate node `localTarget`.
Result<bool> send(const Socket& socket, std::span<const std::uint8_t> packet,
                  const std::array<std::uint8_t, 6>& localTarget);
// Waits up to `timeout` for one packet and copies it (cut to the buffer) into `buffer`; its length.
// Fails with ETIMEDOUT when none came, with ECANCELED when `cancelFd` (a descriptor that turns
// readable to cut the wait short; -1 for none) became readable first.
Result<std::size_t> receive(const Socket& socket, std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout,
                            int cancelFd = -1);

}  // namespace plat::netware
