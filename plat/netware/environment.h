#pragma once
// The NetWare environment of a system root: the file servers, print queues, print servers and
// captured local ports the client libraries answer from, and the IPX addresses of the printers'
// network interfaces. It is one text file, run/netware.conf, a record per line, "#" starting a
// comment, fields separated by blanks:
//
//     server FS1 [version N]                  a file server (N: its major version, 3 unless given;
//                                             4 means names go through directory services)
//     print-server-address FS1 ADDRESS        the first property value of FS1's bindery object of
//                                             type 0x0885: the address connect requests go to
//     queue FS1 QUEUE [PRINTSERVER ...]       a print queue (bindery type 0x0003) and the print
//                                             servers of its print-queue attribute list, in order
//     print-server FS1 PS QUEUE [NUMBER ...]  a print server one can attach to, and the printer
//                                             numbers that service QUEUE (several lines for several
//                                             queues)
//     capture LPTn FS1 QUEUE[.CONTEXT]        local port LPTn captured to that queue
//
// ADDRESS is network:node:socket in hexadecimal (8:12:4 digits). Names are bindery names (up to 47
// bytes, no blanks, control characters or "#") and are kept upper-cased. The simulator enters the addresses of the
// interfaces it serves; spoolctl and the tests enter the rest.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "plat/base/result.h"

namespace plat::netware {

// An IPX address: network (4 bytes), node (6), socket (2), all big-endian. On this system IPX travels
// as UDP datagrams: the node's last four bytes are the IPv4 address and the socket is the UDP port.
struct Address {
    std::array<std::uint8_t, 12> bytes{};

    static Address udp(std::uint32_t ipv4HostOrder, std::uint16_t port);
    static Address loopback(std::uint16_t port) { return udp(0x7F000001u, port); }
    std::uint32_t ipv4() const;  // host order
    std::uint16_t port() const;  // the socket, host order
    std::string text() const;    // "00000001:00007F000001:9C40"
    static std::optional<Address> parse(std::string_view text);
    friend bool operator==(const Address&, const Address&) = default;
};

inline constexpr std::size_t kMaxNameBytes = 47;
// Bindery names are kept upper-cased and compared without regard to (ASCII) case.
std::string upperName(std::string_view name);
bool sameName(std::string_view a, std::string_view b);
inline constexpr std::uint16_t kObjectPrintQueue = 0x0003;
inline constexpr std::uint16_t kObjectPrinterInterface = 0x0885;

struct FileServer {
    explicit FileServer(std::string name = {}, int majorVersion = 3) : name(std::move(name)), majorVersion(majorVersion)
    {
    }
    std::string name;
    int majorVersion = 3;
    std::optional<Address> printServerAddress;
};
struct Queue {
    std::string server, name;
    std::vector<std::string> printServers;
};
struct PrintServer {
    std::string server, name, queue;
    std::vector<std::uint16_t> printers;
};
struct Capture {
    int lpt = 0;  // 1 for LPT1
    std::string server, queue;
};

struct Environment {
    std::vector<FileServer> servers;
    std::vector<Queue> queues;
    std::vector<PrintServer> printServers;
    std::vector<Capture> captures;

    // Lookups compare names without regard to case; null when there is none.
    const FileServer* server(std::string_view name) const;
    const Queue* queue(std::string_view server, std::string_view name) const;
    const PrintServer* printServer(std::string_view server, std::string_view name, std::string_view queue) const;
    bool printServerExists(std::string_view server, std::string_view name) const;
    const Capture* capture(int lpt) const;

    // Adds or replaces (by name) a record; names are upper-cased. false when a name is empty, too long
    // or holds a blank, a control character or "#".
    bool put(FileServer server);
    bool put(Queue queue);
    bool put(PrintServer printServer);
    bool put(Capture capture);
    bool removeCapture(int lpt);
};

// Text to environment and back. A malformed line fails the parse with its line number.
Result<Environment> parse(std::string_view text);
std::string format(const Environment& environment);

// The root's file (made on first use of run/).
std::string environmentFile();
// Reads the file; a missing file is an empty environment. Files over 1 MiB are refused.
Result<Environment> load();
// Changes the file under a lock, so a simulator and spoolctl can both write it; the new text replaces
// the old whole (never a half-written file).
Result<bool> update(const std::function<void(Environment&)>& change);

}  // namespace plat::netware
