#pragma once
// Serves simulated printers: one Unix socket per port in the root's run/ folder (mode 0600), and one
// thread that serves every connection and every datagram with poll(). A request that has to wait (a read with a total
// time-out, a write to a busy printer, a slow printer) waits on a deadline of its connection, never in
// a thread of its own, so no client can hold resources the others need: a client that hangs up is
// forgotten at once, one that never finishes a request is dropped after a while, and the number of
// connections is bounded. Each port is entered in the port map while it is served.
//
// Printers' network interfaces: each file server of the config gets one UDP socket on 127.0.0.1 (its
// print-server address, where connect requests go), each network printer a UDP socket of its own (its
// conversation address) and a Unix socket for `vprinter ctl` only (controlSocketPath). While served,
// the file server and its print-server address are entered in the root's NetWare environment file.

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config.h"
#include "network.h"
#include "plat/base/result.h"
#include "plat/registry/registry.h"
#include "printer.h"

namespace vprinter {

class Server {
public:
    // Enters the ports it serves in the port map of `store`, which must outlive the server.
    explicit Server(plat::registry::Store& store);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Starts serving every printer of the config; fails (serving none) on the first that cannot be
    // served, or when this server already serves.
    plat::Error start(const Config& config);
    // Stops serving: ends the loop and every connection, takes the ports out of the map and the
    // print-server addresses out of the environment file, removes the sockets.
    void stop();

    // The socket a port is served on in the current root.
    static std::string socketPath(const std::string& port);
    // The control socket of a network printer in the current root.
    static std::string controlSocketPath(const net::Identity& identity);

    // The print-server address of a file server this server serves.
    std::optional<plat::netware::Address> printServerAddress(const std::string& server) const;

private:
    struct Served;
    struct FileServer;
    class Loop;
    plat::Error startNetwork(const std::vector<NetworkConfig>& netware);
    void enterAddresses(plat::netware::Environment& env, bool enter);
    std::vector<std::unique_ptr<Served>> m_served;
    std::vector<std::unique_ptr<FileServer>> m_fileServers;
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
    int m_wake = -1;  // written by stop() to end the loop
    plat::registry::Store& m_store;
};

}  // namespace vprinter
