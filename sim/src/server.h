#pragma once
// Serves simulated printers: one Unix socket per port in the root's run/ folder, one thread per
// connection, the printer's lock around every call into it. Each port is entered in the port map
// while it is served.

#include <memory>
#include <string>
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
    // Starts serving every printer of the config; fails (serving none) on the first that cannot be served.
    plat::Error start(const std::vector<PrinterConfig>& printers);
    // Stops serving: ends the listeners, takes the ports out of the map, removes the sockets.
    void stop();

    // The socket a port is served on in the current root.
    static std::string socketPath(const std::string& port);

private:
    struct Served;
    std::vector<std::unique_ptr<Served>> m_served;
};

}  // namespace vprinter
