#pragma once
// The print spooler as the system uses it: printers (level 2: name, port, driver, jobs and the rest,
// in the spooler's order), drivers (name, driver path, language monitor), language monitors, ports,
// each printer's job queue and printer data, its default print quality, and a change count that a
// program polls cheaply or waits on.
//
// embedded() is the spooler kept in the registry store of the system root, under the keys the
// system reads directly:
//
//     HKLM\System\CurrentControlSet\Control\Print
//         ChangeCount                        DWORD, moved on by every change
//         Printers\<name>                    "Port", "Printer Driver", "Jobs", "Order", "Status",
//                                            "Attributes", "Default Print Quality"; sub-key
//                                            PrinterDriverData holds the printer data
//         Environments\Windows 4.0\Drivers\<name>   "Driver" (the driver path), "Monitor"
//         Monitors\<name>                    "Driver" (the monitor's library file)
//         Ports                              one value per port name; "FILE:" is a port of every
//                                            spooler and is listed whether it is stored or not
//
// Every change is one store transaction: it happens whole or not at all. Names and texts are UTF-8
// (the system code page); one that is not is refused with Invalid. A CUPS backend can stand behind the
// same interface later.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "plat/base/result.h"
#include "plat/registry/registry.h"

namespace plat::spool {

enum class Failure : int {
    NotFound = 1,  // no such printer, driver or port
    Exists,        // the name is taken
    Invalid,       // an empty or malformed name or argument
    StoreError,    // the store cannot be read or written
};

struct Printer {
    std::string name, port, driver;
    std::uint32_t jobs = 0;
    std::uint32_t status = 0;
    std::uint32_t attributes = 0;
    std::int32_t quality = 0;  // default print quality: a resolution in dpi, or -1..-4 (draft .. high)
};

struct Driver {
    std::string name, path, monitor;
};

struct Monitor {
    std::string name, library;
};

using Done = Result<bool>;

class Spooler {
public:
    virtual ~Spooler() = default;

    virtual Result<std::vector<Printer>> printers() = 0;
    // Opens a printer: its level-2 information, or NotFound.
    virtual Result<Printer> printer(std::string_view name) = 0;
    virtual Result<std::vector<Driver>> drivers() = 0;
    virtual Result<std::vector<std::string>> ports() = 0;

    // The job queue: jobs come in and are printed (or cancelled) one by one.
    virtual Done submitJobs(std::string_view printer, std::uint32_t count) = 0;
    virtual Done finishJobs(std::string_view printer, std::uint32_t count) = 0;

    virtual Done setPrinterData(std::string_view printer, std::string_view name, registry::ValueType type,
                                std::span<const std::byte> data) = 0;
    virtual Result<std::vector<std::byte>> printerData(std::string_view printer, std::string_view name) = 0;

    // Moves on with every change of printers, drivers, ports or jobs.
    virtual std::uint64_t changeCount() = 0;
    // Waits (bounded) until the change count differs from `seen`; true if it does.
    virtual bool waitForChange(std::uint64_t seen, std::chrono::milliseconds bound) = 0;

    // Administration.
    virtual Done addDriver(const Driver& driver) = 0;
    virtual Done addMonitor(const Monitor& monitor) = 0;
    // A port; with a target ("device:/dev/usb/lp0") it is also entered in the port map.
    virtual Done addPort(std::string_view name, std::optional<std::string> target) = 0;
    virtual Done addPrinter(const Printer& printer) = 0;
    virtual Done setPort(std::string_view printer, std::string_view port) = 0;
    virtual Done setDriver(std::string_view printer, std::string_view driver) = 0;
    // Removes the printer with everything under its key (the system's store of it too).
    virtual Done deletePrinter(std::string_view printer) = 0;
};

// The embedded spooler on the store of the current system root.
Result<std::unique_ptr<Spooler>> embedded();

}  // namespace plat::spool
