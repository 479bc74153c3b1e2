#pragma once
// The IJ-09's print-head gap setting: the command that sets it, sending it through a port and reading
// the printer's answer, and the printers of the spooler that take it.

#include <chrono>
#include <string>
#include <vector>

#include "plat/port/port.h"
#include "plat/services/services.h"

namespace tuneup {

// The settings the printer accepts; the middle one is its factory setting.
inline constexpr int kMinSetting = 1, kMaxSetting = 9, kDefaultSetting = 5;

// Remote mode "GA" with the parameters 00 and the setting.
std::string gapCommand(int setting);

enum class Outcome { Set, Refused, NoAnswer, NotWritten, PortDidNotOpen };
const char* describe(Outcome outcome);

// Writes the command to `port` (opened through `services`) and waits up to `wait` for the printer's
// answer. `stop`, when given, cuts the wait short (the answer then counts as missing).
Outcome sendGapSetting(plat::Services& services, const std::string& port, int setting, std::chrono::milliseconds wait,
                       const plat::port::Interrupt* stop = nullptr);

struct GapPrinter {
    std::string name, port;
};
// The spooler's printers whose driver is an IJ-09's, in the spooler's order.
std::vector<GapPrinter> gapPrinters(plat::Services& services);

}  // namespace tuneup
