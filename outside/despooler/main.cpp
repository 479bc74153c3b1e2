// kestrel-despooler: plays the maker's despooler for one printer. It reads the printer's status
// through the port channel and keeps the values the engine reads in the printer's driver-data key;
// commands on stdin make it stop, go stale or report an error, so despooler mode can be tried for real.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>

#include "facts/store_names.h"
#include "plat/base/local_time.h"
#include "plat/base/system_root.h"
#include "plat/registry/registry.h"
#include "vigil/port_channel.h"

namespace {

using plat::registry::Root;
using plat::registry::Status;
using plat::registry::Store;
using plat::registry::ValueType;
namespace value = facts::value;
using namespace std::chrono_literals;

constexpr const char* kHelp = R"(kestrel-despooler - a stand-in for the maker's despooler of one printer

Usage:
  kestrel-despooler PRINTER PORT [--interval-ms N]

Every N ms (default 500) it reads the printer's status on PORT and writes, in the driver-data key of
PRINTER (HKLM\System\CurrentControlSet\Control\Print\Printers\PRINTER\PrinterDriverData):
DespoolerRunFlag 1, DespoolerExistFlag 1, DespoolerLastAccessTime (local time, seconds since 1970),
DespoolerIntervalTime 60, PrinterStFlag, DeviceIDStrings, DeviceIDLength, RealTimeStatusStrings and
InkLevel. It prints "despooler: ready" after its first round.

Commands, one per line on stdin (each answered with "ok" on stdout):
  stale          stop refreshing the access time, which lies in the past from now on
  fresh          refresh it again
  error N        report PrinterStFlag N (0 is fine)
  status TEXT    report TEXT as the status instead of reading the printer; "status" alone: read again
  leave          DespoolerRunFlag and DespoolerExistFlag 0; no more rounds
  return         both flags 1 again; rounds go on
  quit           leave, then end
)";

class Despooler {
public:
    Despooler(std::string printer, std::string port, Store& store)
        : m_key(std::string(facts::key::kPrinters) + printer + std::string(facts::key::kDriverData)),
          m_port(std::move(port)),
          m_store(store),
          m_channel(m_flags, timing(), [&store](std::string_view name, const plat::port::Interrupt* interrupt) {
              return plat::port::openPort(store, name, interrupt);
          })
    {
    }

    bool begin()
    {
        plat::registry::Key key;
        if (m_store.createKey(Root::LocalMachine, m_key, "", key) != Status::Ok) return false;
        char id[1024];
        std::uint32_t count = 0;
        if (m_channel.readDeviceId(m_port, id, count, 3) == 1) {
            set(value::kDeviceIDStrings, ValueType::Binary, std::string(id, count));
            setDword(value::kDeviceIDLength, count);
        }
        // The despooler switches the printer's status reports on, as the print path does.
        const std::string enable = std::string("\x1b@\x1b@\x1b(R\x08\x00\x00REMOTE1", 17) +
                                   std::string("ST\x02\x00\x00\x01\x1b\x00\x00\x00", 10);
        m_channel.write(m_port, std::as_bytes(std::span(enable.data(), enable.size())), 3, vigil::CancelMode::None);
        setDword(value::kDespoolerRunFlag, 1);
        setDword(value::kDespoolerExistFlag, 1);
        setDword(value::kDespoolerIntervalTime, 60);
        setDword(value::kPrinterStFlag, m_error);
        round();
        return true;
    }

    void round()
    {
        if (!m_present) return;
        if (m_fresh) setDword(value::kDespoolerLastAccessTime, static_cast<std::uint32_t>(plat::localEpochSeconds()));
        std::string status = m_fixedStatus.value_or("");
        if (!m_fixedStatus) {
            char reply[vigil::PortChannel::kReadBuffer];
            std::uint32_t count = 0;
            if (m_channel.readOnce(m_port, reply, count) == 1) status.assign(reply, count);
        }
        if (!status.empty()) {
            set(value::kRealTimeStatusStrings, ValueType::String, status);
            set(value::kInkLevel, ValueType::String, "IQ:50464646;");
        }
    }

    // Handles one command line; false for "quit".
    bool command(const std::string& line)
    {
        std::istringstream words(line);
        std::string verb;
        words >> verb;
        if (verb == "stale") {
            m_fresh = false;
            setDword(value::kDespoolerLastAccessTime, static_cast<std::uint32_t>(plat::localEpochSeconds() - 3600));
        } else if (verb == "fresh") {
            m_fresh = true;
            round();
        } else if (verb == "error") {
            words >> m_error;
            setDword(value::kPrinterStFlag, m_error);
        } else if (verb == "status") {
            std::string rest;
            std::getline(words, rest);
            if (!rest.empty() && rest.front() == ' ') rest.erase(0, 1);
            m_fixedStatus = rest.empty() ? std::nullopt : std::optional(rest);
            round();
        } else if (verb == "leave" || verb == "quit") {
            m_present = false;
            setDword(value::kDespoolerRunFlag, 0);
            setDword(value::kDespoolerExistFlag, 0);
            if (verb == "quit") return false;
        } else if (verb == "return") {
            m_present = true;
            setDword(value::kDespoolerExistFlag, 1);
            setDword(value::kDespoolerRunFlag, 1);
            round();
        } else {
            std::cout << "unknown command \"" << verb << "\"" << std::endl;
            return true;
        }
        std::cout << "ok" << std::endl;
        return true;
    }

private:
    static vigil::ChannelTiming timing()
    {
        vigil::ChannelTiming t;
        t.timeouts = {20ms, 300ms, 300ms};
        t.retryPause = t.openRetryPause = 20ms;
        t.deviceIdPause = 10ms;
        return t;
    }
    void set(const char* name, ValueType type, const std::string& data)
    {
        m_store.setValue(Root::LocalMachine, m_key, name, type, std::as_bytes(std::span(data.data(), data.size())),
                         Store::Flush::No);
    }
    void setDword(const char* name, std::uint32_t value)
    {
        m_store.setValue(Root::LocalMachine, m_key, name, ValueType::Dword, std::as_bytes(std::span(&value, 1)),
                         Store::Flush::No);
    }

    std::string m_key, m_port;
    Store& m_store;
    vigil::NeverCancelled m_flags;
    vigil::PortChannel m_channel;
    bool m_fresh = true, m_present = true;
    std::uint32_t m_error = 0;
    std::optional<std::string> m_fixedStatus;
};

}  // namespace

int main(int argc, char** argv)
{
    std::string printer, port;
    int intervalMs = 500;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if (arg.rfind("--interval-ms=", 0) == 0) intervalMs = std::atoi(arg.c_str() + 14);
        else if (arg == "--interval-ms" && i + 1 < argc) intervalMs = std::atoi(argv[++i]);
        else if (printer.empty()) printer = arg;
        else if (port.empty()) port = arg;
        else {
            std::cerr << "kestrel-despooler: unexpected argument \"" << arg << "\" (see --help)\n";
            return 2;
        }
    }
    if (printer.empty() || port.empty() || intervalMs <= 0) {
        std::cerr << "kestrel-despooler: give a printer and a port (see --help)\n";
        return 2;
    }
    auto store = Store::open(plat::registryFile());
    if (!store) {
        std::cerr << "kestrel-despooler: " << store.error().detail << '\n';
        return 1;
    }
    Despooler despooler(printer, port, *store.value());
    if (!despooler.begin()) {
        std::cerr << "kestrel-despooler: cannot write the driver-data key of " << printer << '\n';
        return 1;
    }
    std::cout << "despooler: ready" << std::endl;
    std::string line;
    for (;;) {
        pollfd in{STDIN_FILENO, POLLIN, 0};
        int ready = ::poll(&in, 1, intervalMs);
        if (ready > 0) {
            if (!std::getline(std::cin, line)) {
                despooler.command("quit");
                return 0;
            }
            if (!despooler.command(line)) return 0;
        } else {
            despooler.round();
        }
    }
}
