// kestrel-netcheck: asks the network check library whether a printer port can be reached, and what
// the printer's device ID is, in one blocking call.

#include <array>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "plat/base/command_line.h"
#include "plat/services/program.h"
#include "rover01.h"

namespace {

constexpr const char* kHelp = R"(kestrel-netcheck - can a printer port be reached, and what is its device ID?

Usage:
  kestrel-netcheck PORT
  kestrel-netcheck --help

PORT is the spooler's port name: a local port ("LPT1:"), an LPT port captured to a NetWare queue, or a
NetWare queue path ("\\FS1\QUEUE1"). A local port is asked for the device ID through the port; a
queue path (or the queue a port is captured to) through the printer's network interface behind it.
The check takes up to about 15 s when the network link does not open. Within one run only one check
is made, as a caller of the library gets.

Output: the port, the result in words, and the device ID when one was read.

Exit status: the library's result:
  0  not a port this check serves (FILE:, a path that is no NetWare queue), or the network link to
     the queue's printer did not open
  1  reached: the device ID was read (over the network: the interface offers the extended request)
  2  reached, but no device ID was obtained
  3  the local port did not open
  4  reached over the network: the device ID was read; the interface lacks the extended request
  64 usage error

Examples:
  kestrel-netcheck LPT1:
  kestrel-netcheck '\\FS1\QUEUE1'
)";

constexpr int kUsageError = 64;

const char* resultText(int result)
{
    switch (result) {
    case 0: return "not checked: not a port this check serves, or the network link did not open";
    case 1: return "reached: device ID read";
    case 2: return "reached, but no device ID was obtained";
    case 3: return "the port did not open";
    case 4: return "reached over the network: device ID read; the interface lacks the extended request";
    default: return "unknown result";
    }
}

// The device ID as a terminal may show it: control characters become "?".
std::string printable(const char* text)
{
    std::string out;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args = plat::argumentsOf(argc, argv);
    if (plat::printHelpIfAsked(args, kHelp)) return 0;
    if (args.size() != 1 || args[0].empty()) {
        std::cerr << "kestrel-netcheck: give one port name (see kestrel-netcheck --help)\n";
        return kUsageError;
    }
    auto services = plat::openProgramServices();
    if (!services) {
        std::cerr << "kestrel-netcheck: " << services.error().detail << '\n';
        return kUsageError;
    }
    Rover01UseServices(services.value().get());
    // The library writes at most 2048 bytes, the terminating zero included.
    std::array<char, 2048> deviceId{};
    const int result = Rover01CheckPrinter(args[0].c_str(), deviceId.data());
    std::cout << "port: " << args[0] << '\n' << "result: " << result << " (" << resultText(result) << ")\n";
    if (deviceId[0] != '\0') std::cout << "device ID: " << printable(deviceId.data()) << '\n';
    return result;
}
