#pragma once
// vprinter run inside a test: starts it on a config in the current system root, waits until it says
// it serves every port, and stops it when the test ends.
//
// Network printers: give them in the config's "netware" list (netwareConfig() writes one); once the
// simulator is ready, their file servers' print-server addresses are in the root's NetWare environment
// (printServerAddress()), and `vprinter ctl` reaches each as "NET:SERVER/NAME/NUMBER". The queue and
// print-server records that lead the engine to them are the test's to enter (plat::netware::update).

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "plat/netware/environment.h"
#include "testsupport/run_program.h"

namespace testsupport {

// A printer behind a network interface, for netwareConfig().
struct NetworkPrinter {
    std::string server, name;
    int number = 0;
    std::string model;
    bool extended = false;
    std::string state;  // a control command applied at start, or empty
};
// {"netware": [...]} for `printers`; `localPrinters` (a JSON array's elements, e.g.
// R"({"port": "LPT1:", "model": "PG-03"})") are served beside them.
std::string netwareConfig(const std::vector<NetworkPrinter>& printers, const std::string& localPrinters = {});

// The print-server address of `server` in the current root's NetWare environment, if one is entered.
std::optional<plat::netware::Address> printServerAddress(const std::string& server);
// "NET:SERVER/NAME/NUMBER", how `vprinter ctl` names a network printer.
std::string networkPort(const NetworkPrinter& printer);

class Simulator {
public:
    // `program` is vprinter's path; `config` the JSON text of its printers.
    Simulator(std::string program, const std::string& config);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // True once vprinter printed its ready line; `output()` then holds what it printed so far.
    bool ready() const { return m_ready; }
    const std::string& output() const { return m_output; }

    // vprinter ctl PORT COMMAND (COMMAND split at blanks).
    ProgramRun control(const std::string& port, const std::string& command) const;
    // control() that must succeed; returns its answer.
    std::string must(const std::string& port, const std::string& command) const;

private:
    std::string m_program;
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;  // vprinter's stdin: closing it ends vprinter
    bool m_ready = false;
    std::string m_output;
};

}  // namespace testsupport
