#pragma once
// The network link over the NetWare client (plat/netware/client.h): it finds the printer behind a
// print queue and asks the printer's network interface for its device ID, status and option card.
// Also the port classification the common services library asks the engine for, and the address
// lookup through NODEQRY.EXE. Shared by the engine and the network check library.
//
// One link serves one process (the engine keeps one). Requests come from one thread at a time (the
// engine's start-up thread, later its real-time status thread); close() may come from any thread: it
// cancels what is under way (a location, a connect, a request's waits) and returns once that has
// stopped.

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "plat/base/clock.h"
#include "plat/netware/environment.h"
#include "vigil/network_link.h"

namespace plat::registry {
class Store;
}

namespace vigil {

// The shortest wait for a reply, whatever the time scale: a reply that is on its way is not missed.
inline constexpr std::chrono::milliseconds kMinimumReplyWait{250};

struct NetwareLinkOptions {
    // Where NODEQRY.EXE is looked for; empty: addressLookupDirectory().
    std::filesystem::path programDirectory;
    // The clock of the fixed waits (the 2000 ms between requests) and the IPX time-outs; the steady
    // clock when null. A faster clock never makes an IPX time-out shorter than kMinimumReplyWait, so a
    // reply is not missed. It must outlive the link.
    const plat::Clock* clock = nullptr;
};

class NetwareLink final : public NetworkLink {
public:
    explicit NetwareLink(NetwareLinkOptions options = {});
    ~NetwareLink() override;
    NetwareLink(const NetwareLink&) = delete;
    NetwareLink& operator=(const NetwareLink&) = delete;

    // Sets the link up for "\\SERVER\QUEUE" and locates the printer behind the queue (once: a close
    // that is not for good keeps it). False when the link was closed for good, is open already, or
    // any step fails.
    bool open(std::string_view queuePath) override;
    // Connects to the printer's interface again and makes one query. Every request after the first
    // one of an open waits 2000 ms first (scaled). A reply whose sequence number is not the request's
    // is ignored (the wait goes on); a payload longer than `destination` fails the request.
    bool request(Request kind, std::span<char> destination, std::uint32_t& length) override;
    // Closes the link; true if it was open. For good: releases IPX too and refuses every later open;
    // that holds even when the link was not open at the time (the answer is then false).
    bool close(bool forGood) override;
    bool extendedRequest() const override;

    // Where the requests go once located: the print server's name and printer number.
    struct Located {
        std::string printServer;
        std::uint16_t printer = 0;
    };
    std::optional<Located> located() const;

    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

inline constexpr const char* kAddressLookupProgram = "NODEQRY.EXE";

// The address lookup: writes the 12-byte address to a new private file in the root's tmp/ folder,
// runs NODEQRY.EXE on it (found in `programDirectory`; no shell) and reads the 8-byte answer back: the
// result code (0: found) and the local target. nullopt when the program is missing, does not end with
// exit code 0 within a generous bound, or leaves no whole answer; also when `cancelFd` (-1: none)
// turns readable while it runs. The file is deleted in every case.
struct LookupResult {
    std::uint16_t code = 0;
    std::array<std::uint8_t, 6> localTarget{};
};
std::optional<LookupResult> lookUpAddress(const plat::netware::Address& address,
                                          const std::filesystem::path& programDirectory, int cancelFd = -1);
// The folder of the running program.
std::filesystem::path runningProgramDirectory();
// Where NODEQRY.EXE is: the running program's folder, else (a host installed elsewhere) the folder of
// the library the link is part of.
std::filesystem::path addressLookupDirectory();

// "\\server\queue" split into server (from the third character up to the next "\") and queue (after
// the last "\"), both upper-cased; nullopt without a server or with an empty queue.
struct QueuePath {
    std::string server, queue;
};
std::optional<QueuePath> splitQueuePath(std::string_view path);

// How a port is served: 0 not at all, 1 local LPT port, 2 NetWare queue path, 5 LPT port captured to a
// queue, whose queue path "\\SERVER\QUEUE" then goes to `queuePath` (zero-terminated; cut to fit).
// The "LPT" and "\\" prefixes are compared case-sensitively. A queue path is served only while `store`
// names an installed NetWare print provider.
enum PortClass : std::uint32_t { kNotServed = 0, kLocalPort = 1, kQueuePath = 2, kCapturedPort = 5 };
std::uint32_t classifyPort(plat::registry::Store& store, std::string_view port, std::span<char> queuePath);

}  // namespace vigil
