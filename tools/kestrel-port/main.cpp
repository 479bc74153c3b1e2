// kestrel-port: talks to a printer through the engine's port channel, for a person with a printer at
// hand (or vprinter): its device ID, what it sends, bytes to send it.

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "plat/base/command_line.h"
#include "plat/base/system_root.h"
#include "plat/services/program.h"
#include "vigil/port_channel.h"

namespace {

constexpr const char* kHelp = R"(kestrel-port - talk to a printer on a local port

Usage:
  kestrel-port id PORT          print the printer's IEEE 1284 device ID
  kestrel-port read PORT        write what the printer sent to stdout, raw
  kestrel-port write PORT HEX   send bytes, given as hex pairs (spaces allowed)
  kestrel-port --help

PORT is a port name of the port map in the system root ("LPT1:"), or a device path (/dev/usb/lp0).
Every call opens the port, does one exchange with the channel's retries and time-outs, and closes it.
Every wait is bounded: a printer that does not answer (or a device that never stops sending) is given
up after the time-outs, never waited for without end.

Examples:
  kestrel-port id /dev/usb/lp0
  kestrel-port write LPT1: "1B 01 40 4B 4A 4C 20 52 45 51 55 45 53 54 20 53 54 41 54 55 53 3D 31 0D 0A"
  kestrel-port read LPT1: | od -c

Exit status: 0 done, 1 the port did not open or the printer did not answer, 2 usage error.
)";

int fail(const std::string& message)
{
    std::cerr << "kestrel-port: " << message << '\n';
    return 1;
}

int usage(const std::string& why)
{
    std::cerr << "kestrel-port: " << why << " (see kestrel-port --help)\n";
    return 2;
}

bool parseHex(const std::string& text, std::vector<std::byte>& out)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (digits.empty() || digits.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<std::byte>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = plat::argumentsOf(argc, argv);
    if (plat::printHelpIfAsked(args, kHelp)) return 0;
    if (args.size() < 2) return usage("give a command and a port");
    const std::string& command = args[0];
    const std::string& port = args[1];
    if ((command == "write") != (args.size() == 3) || args.size() > 3) return usage("wrong number of arguments");

    auto services = plat::openProgramServices();
    if (!services) return fail(services.error().detail);
    vigil::NeverCancelled flags;
    vigil::PortChannel channel(flags, {}, [&](std::string_view name, const plat::port::Interrupt* interrupt) {
        return name.starts_with("/") ? plat::port::openTarget("device:" + std::string(name), interrupt)
                                     : services.value()->openPort(name, interrupt);
    });
    char buffer[vigil::PortChannel::kReadBuffer] = {};
    std::uint32_t count = 0;
    const std::string where = port + " (system root " + plat::systemRoot().string() + ")";

    if (command == "id") {
        if (channel.readDeviceId(port, buffer, count, 10) != 1) return fail("no device ID from " + where);
        std::cout << std::string(buffer, count) << '\n';
        return 0;
    }
    if (command == "read") {
        if (channel.readOnce(port, buffer, count) != 1) return fail("nothing read from " + where);
        std::fwrite(buffer, 1, count, stdout);
        return 0;
    }
    if (command == "write") {
        std::vector<std::byte> data;
        if (!parseHex(args[2], data)) return usage("HEX must be pairs of hex digits");
        if (channel.write(port, data, 10, vigil::CancelMode::None) != 1) return fail("could not write to " + where);
        return 0;
    }
    return usage("unknown command \"" + command + "\"");
}
