#pragma once
// Serves simulated printers: one Unix socket per port in the root's run/ folder (mode 0600), and one
// thread that serves every connection with poll(). A request that has to wait (a read with a total
// time-out, a write to a busy printer, a slow printer) waits on a deadline of its connection, never in
// a thread of its own, so no client can hold resources the others need: a client that hangs up is
// forgotten at once, one that never finishes a request is dropped after a while, and the number of
// connections is bounded. Each port is entered in the port map while it is served.

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "plat/base/result.h"
#include "printer.h"

namespace vprinter {

struct PrinterConfig {
    std::string port;
    std::string model;
    std::optional<std::string> deviceId;
    std::vector<std::string> state;  // a control command applied at start ("paper-low 20")
};

// Parses {"printers": [{"port": "LPT1:", "model": "PG-03", "device_id": "...", "state": "..."}]}.
plat::Result<std::vector<PrinterConfig>> parseConfig(const std::string& json);

class Server {
public:
    Server();
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Starts serving every printer of the config; fails (serving none) on the first that cannot be
    // served, or when this server already serves.
    plat::Error start(const std::vector<PrinterConfig>& printers);
    // Stops serving: ends the loop and every connection, takes the ports out of the map, removes the
    // sockets.
    void stop();

    // The socket a port is served on in the current root.
    static std::string socketPath(const std::string& port);

private:
    struct Served;
    class Loop;
    std::vector<std::unique_ptr<Served>> m_served;
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
    int m_wake = -1;  // written by stop() to end the loop
};

}  // namespace vprinter
