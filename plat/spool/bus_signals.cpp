#include "bus_signals.h"

#include <dbus/dbus.h>

#include <cstring>
#include <mutex>

namespace plat::spool {
namespace {

constexpr const char* kNotifier = "org.cups.cupsd.Notifier";
constexpr const char* kSpooler = "com.redhat.PrinterSpooler";

// Members that may come with a new or changed PPD.
bool isPrinterChange(const char* member)
{
    for (const char* m : {"PrinterAdded", "PrinterDeleted", "PrinterModified", "PrinterRemoved"})
        if (std::strcmp(member, m) == 0) return true;
    return false;
}

// libdbus takes its global lock and a connection's in one order when it opens a connection and in the
// other when it closes one: a watcher closing its connection while another spooler opens one could
// deadlock inside it. Opening and closing are rare, so they take turns.
std::mutex& openAndCloseTurns()
{
    static std::mutex turns;
    return turns;
}

}  // namespace

struct BusSignals::Connection {
    DBusConnection* bus = nullptr;
    ~Connection()
    {
        if (bus == nullptr) return;
        std::lock_guard turn(openAndCloseTurns());
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};

BusSignals::BusSignals(std::unique_ptr<Connection> connection, int fd) : m_connection(std::move(connection)), m_fd(fd)
{
}

BusSignals::~BusSignals() = default;

std::unique_ptr<BusSignals> BusSignals::listen(const std::string& address, std::string& why)
{
    // Other libraries of the process (a toolkit's accessibility bridge) may use libdbus on their own
    // threads.
    dbus_threads_init_default();
    DBusError error;
    dbus_error_init(&error);
    auto connection = std::make_unique<Connection>();
    std::unique_lock turn(openAndCloseTurns());
    if (address.empty()) {
        connection->bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
    } else {
        connection->bus = dbus_connection_open_private(address.c_str(), &error);
        if (connection->bus != nullptr && !dbus_bus_register(connection->bus, &error)) {
            dbus_connection_close(connection->bus);
            dbus_connection_unref(connection->bus);
            connection->bus = nullptr;
        }
    }
    if (connection->bus == nullptr) {
        why = error.message != nullptr ? error.message : "no system bus";
        dbus_error_free(&error);
        return nullptr;
    }
    // A bus that goes away must not end the process, as libdbus would by default for the system bus.
    dbus_connection_set_exit_on_disconnect(connection->bus, FALSE);
    for (const char* interface : {kNotifier, kSpooler}) {
        const std::string rule = std::string("type='signal',interface='") + interface + "'";
        dbus_bus_add_match(connection->bus, rule.c_str(), &error);
        if (dbus_error_is_set(&error)) {
            why = error.message != nullptr ? error.message : "the bus refused to pass the print system's signals";
            dbus_error_free(&error);
            return nullptr;
        }
    }
    int fd = -1;
    if (!dbus_connection_get_unix_fd(connection->bus, &fd) || fd < 0) {
        why = "the bus connection has no descriptor to wait on";
        return nullptr;
    }
    return std::unique_ptr<BusSignals>(new BusSignals(std::move(connection), fd));
}

BusSignals::Heard BusSignals::take()
{
    Heard heard;
    DBusConnection* bus = m_connection->bus;
    dbus_connection_read_write(bus, 0);
    while (DBusMessage* message = dbus_connection_pop_message(bus)) {
        if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_SIGNAL) {
            const char* interface = dbus_message_get_interface(message);
            const char* member = dbus_message_get_member(message);
            if (interface != nullptr && member != nullptr &&
                (std::strcmp(interface, kNotifier) == 0 || std::strcmp(interface, kSpooler) == 0)) {
                heard.any = true;
                heard.printers = heard.printers || isPrinterChange(member);
            }
        }
        dbus_message_unref(message);
    }
    return heard;
}

bool BusSignals::connected() const { return dbus_connection_get_is_connected(m_connection->bus); }

}  // namespace plat::spool
