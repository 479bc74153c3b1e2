#include "gap_setting.h"

#include "plat/spool/spooler.h"

namespace tuneup {
namespace {

const std::string kRemoteEntry("\x1b(R\x08\x00\x00REMOTE1", 13);
const std::string kRemoteExit("\x1b\x00\x00\x00", 4);
constexpr std::string_view kModelPrefix = "VELTA IJ-09";

}  // namespace

std::string gapCommand(int setting)
{
    return kRemoteEntry + std::string("GA\x02\x00\x00", 5) + static_cast<char>(setting & 0xff) + kRemoteExit;
}

const char* describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Set: return "the printer took the gap setting";
    case Outcome::Refused: return "the printer refused the gap setting";
    case Outcome::NoAnswer: return "the printer did not answer";
    case Outcome::NotWritten: return "the command could not be sent to the printer";
    case Outcome::PortDidNotOpen: return "the printer's port did not open";
    }
    return "";
}

Outcome sendGapSetting(plat::Services& services, const std::string& portName, int setting,
                       std::chrono::milliseconds wait, const plat::port::Interrupt* stop)
{
    using namespace std::chrono_literals;
    auto opened = services.openPort(portName, stop);
    if (!opened) return Outcome::PortDidNotOpen;
    plat::port::Port& port = *opened.value();
    const auto slice = std::min<std::chrono::milliseconds>(wait, 500ms);
    port.setTimeouts({200ms, slice, 3000ms});
    port.purgeReceive();
    const std::string command = gapCommand(setting);
    if (port.write(std::as_bytes(std::span(command.data(), command.size()))) !=
        static_cast<plat::port::IoResult>(command.size())) {
        return Outcome::NotWritten;
    }
    // The answer may come behind a status reply; it is the "GA:" field that counts.
    std::string received;
    char buffer[1024];
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline && (stop == nullptr || !stop->raised())) {
        const auto n = port.read(std::as_writable_bytes(std::span(buffer)));
        if (n < 0) break;
        received.append(buffer, static_cast<std::size_t>(n));
        const auto at = received.find("GA:");
        if (at != std::string::npos && received.size() >= at + 5) {
            return received.compare(at + 3, 2, "00") == 0 ? Outcome::Set : Outcome::Refused;
        }
        if (received.size() > 64 * 1024) received.erase(0, received.size() - 16);
    }
    return Outcome::NoAnswer;
}

std::vector<GapPrinter> gapPrinters(plat::Services& services)
{
    std::vector<GapPrinter> found;
    auto spooler = services.spooler();
    if (!spooler) return found;
    auto printers = spooler.value()->printers();
    if (!printers) return found;
    for (const auto& printer : printers.value()) {
        if (printer.driver.starts_with(kModelPrefix)) found.push_back({printer.name, printer.port});
    }
    return found;
}

}  // namespace tuneup
