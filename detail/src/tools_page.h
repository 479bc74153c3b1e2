#pragma once
// The tools page's rules, without widgets: which tools the printer allows and what each command does
// with the slot's record. ToolsWidget binds them to the page of templates 1800, 1900 and 2000;
// ToolsHost is what they need of the window, so the tests give fakes. The driver file the
// printer-setup library is given is the model's (facts::setupDriverFile).

#include <cstdint>
#include <optional>
#include <string>

#include "facts/models.h"
#include "printer_entry.h"

namespace watchpanel {

namespace tools_control {
inline constexpr int kJobGroup = 1801, kJobIcon = 1802, kJobList = 1803;
inline constexpr int kSetupGroup = 1804, kSetup = 1805, kSetupIcon = 1806;
inline constexpr int kHeadGroup = 1810, kHeadIcon = 1811, kHeadMove = 1812;
}  // namespace tools_control

class ToolsHost {
public:
    virtual ~ToolsHost() = default;
    virtual facts::Family family() const = 0;
    // The slot's record; false when it cannot be read. GUI thread.
    virtual bool readEntry(PrinterEntry& entry) = 0;
    // The printer's queue window. GUI thread.
    virtual void startJobWindow(const std::string& printer) = 0;
    // The maker's printer-setup dialog, over the detail window. GUI thread.
    virtual void startPrinterSetup(const std::string& driverFile, const std::string& printer,
                                   const std::string& port) = 0;
    // Moves the print head to the ink-replacement position; takes seconds. Called on a worker thread,
    // never more than one at a time.
    virtual std::int32_t moveHead(const std::string& port) = 0;
};

struct ToolsEnabling {
    bool printerSetup = true;
    bool headMove = true;
};
// Which tools the page offers for `entry`, laid out for `family`.
ToolsEnabling toolsEnabling(facts::Family family, const PrinterEntry& entry);

// The port to move the head on, or nothing when the printer's head cannot be moved from here.
std::optional<std::string> headMovePort(const PrinterEntry& entry);

}  // namespace watchpanel
