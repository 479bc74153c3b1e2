#pragma once
// The print spooler as the system uses it: printers (level 2: name, port, driver, jobs and the rest,
// in the spooler's order), drivers (name, driver path, language monitor), language monitors, ports,
// each printer's job queue and printer data, its default print quality, and a change count that a
// program polls cheaply or waits on.
//
// embedded() is the spooler kept in a registry store, under the keys the system reads directly:
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
// (the system code page); one that is not is refused with Invalid.
//
// cups() serves the same interface from a CUPS scheduler (see cups_spooler.cpp for the mapping);
// chooseKind() says which one a process uses: the choice of KESTREL_SPOOLER, else CUPS when a scheduler
// answers, else the embedded spooler. A process keeps one spooler in its services (plat/services).

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
    Unavailable,   // the spooler does not answer (no scheduler, a refused or timed-out connection)
    Unsupported,   // the spooler has no such operation (CUPS takes drivers from PPD files)
    Refused,       // the spooler does not allow the caller to do it (not authorised)
};

// Bits of Printer::status, in the values the system expects of its spooler.
namespace status {
inline constexpr std::uint32_t kPaused = 0x1;
inline constexpr std::uint32_t kError = 0x2;
inline constexpr std::uint32_t kPaperJam = 0x8;
inline constexpr std::uint32_t kPaperOut = 0x10;
inline constexpr std::uint32_t kOffline = 0x80;
inline constexpr std::uint32_t kPrinting = 0x400;
inline constexpr std::uint32_t kDoorOpen = 0x400000;
}  // namespace status

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

// The embedded spooler on `store`, which must outlive it.
Result<std::unique_ptr<Spooler>> embedded(registry::Store& store);

// What CUPS says of a queue beyond the printer's fields: for the bridge that turns a backend's status
// into the values the engine reads.
struct QueueState {
    std::string name;
    std::string deviceUri;
    std::string info;                  // printer-info: the queue's description
    bool processing = false;           // printer-state is processing (a job is printing)
    bool stopped = false;              // printer-state is stopped
    std::vector<std::string> reasons;  // printer-state-reasons, without "none"
    std::string alert;                 // printer-alert, the octets as they came
    std::string alertDescription;      // printer-alert-description
    // The supplies its backend reports (marker-names, -types, -colors, -levels), in the scheduler's order.
    struct Marker {
        std::string name, type, color;
        int level = -1;  // 0..100; -1 unknown, as the scheduler gives it (-1, -2, -3)
        bool operator==(const Marker&) const = default;
    };
    std::vector<Marker> markers;
};

// How a CUPS spooler learns of changes.
enum class ChangeSource {
    None,       // it has not been asked for changes, or the scheduler does not answer yet
    Asking,     // it asks for events (Get-Notifications) every CupsOptions::poll
    SystemBus,  // the scheduler's D-Bus notices wake it
};

// A job in a CUPS queue, as Get-Jobs reports it.
struct Job {
    enum class State { Pending, Held, Processing, Stopped, Cancelled, Aborted, Completed };
    int id = 0;
    std::string name;   // job-name; empty when the scheduler keeps it private from us
    std::string owner;  // job-originating-user-name; likewise
    std::uint32_t kilobytes = 0;
    State state = State::Pending;
    std::int64_t submitted = 0;  // time-at-creation, seconds since 1970 (UTC)
};

class CupsSpooler : public Spooler {
public:
    // The queues' states from the snapshot (read again as printers() does while there is no watcher).
    virtual Result<std::vector<QueueState>> queueStates() = 0;
    virtual ChangeSource changeSource() = 0;

    // The queue's jobs that have not completed, oldest first (one Get-Jobs). NotFound for no queue.
    virtual Result<std::vector<Job>> jobs(std::string_view printer) = 0;
    // Cancel-Job. A job that ended meanwhile counts as cancelled; Refused when the scheduler does not
    // let the user cancel it (another user's job, say).
    virtual Done cancelJob(std::string_view printer, int id) = 0;
    // Every job of the queue: Cancel-Jobs (Purge-Jobs where the scheduler lacks it); where the user may
    // not cancel them all at once, each job the user may cancel (Cancel-Job), and Refused, saying how
    // many stay, when some may not be.
    virtual Done cancelAllJobs(std::string_view printer) = 0;
};

struct CupsOptions {
    std::string server;  // empty: $CUPS_SERVER, else the client's default
    // Without the system bus, how often the watcher asks for events, and how often while a job of one
    // of our queues (our backend or our PPD) prints.
    std::chrono::milliseconds poll{5000};
    std::chrono::milliseconds printingPoll{1000};
    // Where the scheduler is on this machine and a system bus exists, the watcher holds a dbus://
    // subscription and is woken by the scheduler's D-Bus notices instead of asking (Listen); Ask never
    // listens.
    enum class Events { Listen, Ask } events = Events::Listen;
    std::string systemBus;  // the bus's address; empty: DBUS_SYSTEM_BUS_ADDRESS, else the standard socket
    std::chrono::milliseconds connectTimeout{3000};   // bound of a connection attempt
    std::chrono::milliseconds requestTimeout{10000};  // bound of one request's silence
    // While a queue prints, the snapshot is read again this often even without events: a backend's
    // heartbeat alert changes no state the scheduler reports as an event.
    std::chrono::milliseconds processingRefresh{3000};
    // Without a watcher, how old the snapshot may be before printers(), printer(), drivers(), ports()
    // and queueStates() read it again (one CUPS-Get-Printers).
    std::chrono::milliseconds snapshotLife{2000};
    // Where the printer nodes are that a queue naming its printer by identity (velta://MAKE/MODEL...)
    // is looked for in, for the port map.
    std::string deviceFolder = "/dev/usb";
};

// A spooler on the CUPS scheduler named by `options`: fails with Unavailable (at once, or within the
// time-outs) when the scheduler does not answer. Printer data and the port map stay in `store`, which
// must outlive the spooler.
//
// Change notices cost the scheduler a subscription (it allows 100 in all), so only a spooler that is
// asked for them holds one: the first changeCount() or waitForChange() subscribes and starts a watcher
// thread that keeps the snapshot current from then on. Where a system bus carries the scheduler's
// D-Bus notices, the watcher holds a dbus:// subscription and sends nothing while nothing changes (but
// the renewal of its lease every half hour); otherwise it asks for events every CupsOptions::poll
// (printingPoll while a job of one of our queues prints). Until then printers(), printer(), drivers(), ports() and
// queueStates() read a snapshot that is read again, with one CUPS-Get-Printers, when it is older than
// CupsOptions::snapshotLife: a change of another client shows there within that life. A change made through this
// spooler shows at once.
Result<std::unique_ptr<CupsSpooler>> cups(registry::Store& store, const CupsOptions& options = {});

enum class Kind { Embedded, Cups };

// Which spooler a process should use: KESTREL_SPOOLER=cups|embedded, else CUPS when a scheduler answers
// a quick check (up to 2.5 s when it accepts and stays silent), else embedded. Asked once per process,
// by its services.
Kind chooseKind();
// "CUPS" or "embedded": what the About box and kestrel-status say.
const char* spoolerName(Kind kind);

}  // namespace plat::spool
