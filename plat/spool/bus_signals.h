#pragma once
// The print system's signals on the system bus, for the CUPS spooler's watcher: cupsd's D-Bus notifier
// (org.cups.cupsd.Notifier, sent for the events of a dbus:// subscription) and the signals Debian's
// cupsd sends by itself (com.redhat.PrinterSpooler: QueueChanged, PrinterAdded, PrinterRemoved,
// JobQueuedLocal, JobStartedLocal). Either is only a cue to read the scheduler again: their payloads
// can be stale.
//
// libdbus on a private connection, read without a main loop: the owner polls fd() beside its own
// descriptors and calls take() when it turns readable. One thread at a time.

#include <memory>
#include <string>

namespace plat::spool {

class BusSignals {
public:
    // What arrived since the last take().
    struct Heard {
        bool any = false;       // a signal of the print system
        bool printers = false;  // among them a printer added, modified or removed (its PPD may be new)
    };

    // Connects to the bus at `address` ("" for the system bus libdbus finds: DBUS_SYSTEM_BUS_ADDRESS,
    // else the standard socket) and listens for the print system's signals. Nothing when there is no
    // bus or it refuses; `why` then says why.
    static std::unique_ptr<BusSignals> listen(const std::string& address, std::string& why);
    ~BusSignals();
    BusSignals(const BusSignals&) = delete;
    BusSignals& operator=(const BusSignals&) = delete;

    // Readable when something arrived.
    int fd() const { return m_fd; }
    // Reads what is there without waiting and takes every message.
    Heard take();
    // False once the bus went away.
    bool connected() const;

private:
    struct Connection;
    explicit BusSignals(std::unique_ptr<Connection> connection, int fd);

    std::unique_ptr<Connection> m_connection;
    int m_fd = -1;
};

}  // namespace plat::spool
