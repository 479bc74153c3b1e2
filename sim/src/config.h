#pragma once
// vprinter's config file: the printers to play on local ports and behind network interfaces, read
// from its JSON text. Everything in it is checked here, so serving starts only on a sound config.

#include <optional>
#include <string>
#include <vector>

#include "network.h"
#include "plat/base/result.h"

namespace vprinter {

struct PrinterConfig {
    std::string port;
    std::string model;
    std::optional<std::string> deviceId;
    std::vector<std::string> state;  // a control command applied at start ("paper-low 20")
};

// A printer behind a network interface: a print server name and printer number on a file server.
struct NetworkConfig {
    net::Identity identity;
    std::string model;
    std::optional<std::string> deviceId;
    std::vector<std::string> state;
};

struct Config {
    std::vector<PrinterConfig> printers;
    std::vector<NetworkConfig> netware;
};

// Parses {"printers": [{"port": "LPT1:", "model": "PG-03", "device_id": "...", "state": "..."}],
//         "netware": [{"server": "FS1", "name": "PS1", "number": 0, "model": "PG-03", "extended": true,
//                      "device_id": "...", "state": "..."}]}
// Either list may be left out, not both.
plat::Result<Config> parseConfig(const std::string& json);

}  // namespace vprinter
