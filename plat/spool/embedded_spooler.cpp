#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "facts/store_names.h"
#include "plat/base/utf8.h"
#include "plat/port/port.h"
#include "plat/spool/spooler.h"
#include "plat/text/text.h"

namespace plat::spool {
namespace {

using registry::Key;
using registry::Root;
using registry::Status;
using registry::Store;
using registry::ValueType;

namespace value = facts::value;

// The key paths without their closing backslash.
std::string withoutSeparator(std::string_view path) { return std::string(path.substr(0, path.size() - 1)); }

const std::string kPrintKey{facts::key::kPrint};
const std::string kPrintersKey = withoutSeparator(facts::key::kPrinters);
const std::string kDriversKey = withoutSeparator(facts::key::kDrivers);
const std::string kMonitorsKey = withoutSeparator(facts::key::kMonitors);
const std::string kPortsKey = kPrintKey + "\\Ports";
// A printer's name is the last part of its key and part of the system's store keys beneath it,
// which must stay within 255 bytes.
constexpr std::size_t kMaxPrinterName = 197;
// The port every spooler has, whether or not it was ever added: printing to a file.
constexpr std::string_view kFilePort = "FILE:";

Error failure(Failure code, std::string detail) { return Error{static_cast<int>(code), std::move(detail)}; }

Error storeFailure(Status status)
{
    return failure(status == Status::NotFound ? Failure::NotFound : Failure::StoreError, registry::describe(status));
}

bool validName(std::string_view name, std::size_t limit = 255)
{
    return !name.empty() && name.size() <= limit && name.find('\\') == std::string_view::npos;
}

// Names and texts are kept in the system code page (UTF-8); bytes that are not cannot be listed or
// written out as text later, so they are refused when they come in.
std::optional<Error> notUtf8(std::initializer_list<std::pair<const char*, std::string_view>> texts)
{
    for (const auto& [what, text] : texts) {
        if (!isValidUtf8(text)) return failure(Failure::Invalid, std::string(what) + " is not valid UTF-8");
    }
    return std::nullopt;
}

std::span<const std::byte> textBytes(const std::string& text)
{
    return std::as_bytes(std::span(text.c_str(), text.size() + 1));  // with the terminating zero
}

class EmbeddedSpooler final : public Spooler {
public:
    explicit EmbeddedSpooler(Store& store) : m_store(store) {}

    Result<std::vector<Printer>> printers() override
    {
        // One snapshot: a printer added or deleted meanwhile is listed whole, in its place, or not at all.
        std::optional<Result<std::vector<Printer>>> result;
        m_store.readConsistently([&] {
            result = readPrinters();
            return Status::Ok;
        });
        return std::move(*result);
    }

    Result<Printer> printer(std::string_view name) override
    {
        if (!validName(name)) return failure(Failure::NotFound, "no printer \"" + std::string(name) + "\"");
        return read(std::string(name));
    }

    Result<std::vector<Driver>> drivers() override
    {
        auto names = subKeys(kDriversKey);
        if (!names) return names.error();
        std::vector<Driver> list;
        for (const auto& name : names.value()) {
            const std::string key = kDriversKey + "\\" + name;
            list.push_back(
                {name, text(key, value::kDriverPath).value_or(""), text(key, value::kDriverMonitor).value_or("")});
        }
        return list;
    }

    Result<std::vector<std::string>> ports() override
    {
        Key key;
        Status status = m_store.openKey(Root::LocalMachine, kPortsKey, registry::Query, key);
        if (status == Status::NotFound) return withFilePort({});
        if (status != Status::Ok) return storeFailure(status);
        auto values = key.values();
        if (!values) return failure(Failure::StoreError, values.error().detail);
        std::vector<std::string> list;
        for (const auto& v : values.value()) list.push_back(v.name);
        return withFilePort(std::move(list));
    }

    Done submitJobs(std::string_view printer, std::uint32_t count) override
    {
        return changeJobs(printer, [count](std::uint32_t jobs) { return jobs + count; });
    }

    Done finishJobs(std::string_view printer, std::uint32_t count) override
    {
        return changeJobs(printer, [count](std::uint32_t jobs) { return jobs - std::min(jobs, count); });
    }

    Done setPrinterData(std::string_view printer, std::string_view name, ValueType type,
                        std::span<const std::byte> data) override
    {
        if (!validName(printer)) return failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
        return change([&]() -> Status {
            return m_store.setValue(Root::LocalMachine, printerKey(printer) + std::string(facts::key::kDriverData),
                                    name, type, data, Store::Flush::Yes);
        });
    }

    Result<std::vector<std::byte>> printerData(std::string_view printer, std::string_view name) override
    {
        const std::string key = printerKey(printer) + std::string(facts::key::kDriverData);
        std::uint32_t size = 0;
        Status status = m_store.getValue(Root::LocalMachine, key, name, {}, &size);
        if (status != Status::Ok) return storeFailure(status);
        std::vector<std::byte> data(size);
        status = m_store.getValue(Root::LocalMachine, key, name, data, &size);
        if (status != Status::Ok) return storeFailure(status);
        data.resize(size);
        return data;
    }

    std::uint64_t changeCount() override { return dword(kPrintKey, "ChangeCount").value_or(0); }

    bool waitForChange(std::uint64_t seen, std::chrono::milliseconds bound) override
    {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (changeCount() == seen) {
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    Done addDriver(const Driver& driver) override
    {
        if (!validName(driver.name)) return failure(Failure::Invalid, "a driver needs a name without a backslash");
        if (auto refused = notUtf8({{"the driver name", driver.name},
                                    {"the driver path", driver.path},
                                    {"the monitor name", driver.monitor}})) {
            return *refused;
        }
        return change([&] {
            const std::string key = kDriversKey + "\\" + driver.name;
            return firstFailure({create(key), setText(key, value::kDriverPath, driver.path),
                                 setText(key, value::kDriverMonitor, driver.monitor)});
        });
    }

    Done addMonitor(const Monitor& monitor) override
    {
        if (!validName(monitor.name)) return failure(Failure::Invalid, "a monitor needs a name without a backslash");
        if (auto refused = notUtf8({{"the monitor name", monitor.name}, {"the monitor library", monitor.library}})) {
            return *refused;
        }
        return change([&] {
            const std::string key = kMonitorsKey + "\\" + monitor.name;
            return firstFailure({create(key), setText(key, value::kMonitorDriver, monitor.library)});
        });
    }

    Done addPort(std::string_view name, std::optional<std::string> target) override
    {
        if (name.empty() || name.size() > 255) return failure(Failure::Invalid, "a port needs a name of 1..255 bytes");
        if (auto refused = notUtf8({{"the port name", name}})) return *refused;
        return change([&] {
            Status s = firstFailure({create(kPortsKey), setText(kPortsKey, name, "")});
            // The port map lives in the same store: entered in the same transaction.
            if (s == Status::Ok && target && !port::mapPort(m_store, name, *target)) s = Status::StoreError;
            return s;
        });
    }

    Done addPrinter(const Printer& p) override
    {
        if (!validName(p.name, kMaxPrinterName)) {
            return failure(Failure::Invalid, "a printer needs a name of 1.." + std::to_string(kMaxPrinterName) +
                                                 " bytes without a backslash");
        }
        if (auto refused = notUtf8({{"the printer name", p.name}})) return *refused;
        std::optional<Error> refused;
        auto done = change([&]() -> Status {
            if (exists(printerKey(p.name)))
                refused = failure(Failure::Exists, "printer \"" + p.name + "\" exists already");
            else if (!exists(kDriversKey + "\\" + p.driver))
                refused = failure(Failure::NotFound, "no driver \"" + p.driver + "\"");
            else if (!portKnown(p.port)) refused = failure(Failure::NotFound, "no port \"" + p.port + "\"");
            if (refused) return Status::InvalidArgument;
            // The spooler's order is the order of creation.
            std::uint32_t order = 0;
            if (auto others = subKeys(kPrintersKey)) {
                for (const auto& other : others.value()) {
                    order = std::max(order, dword(kPrintersKey + "\\" + other, "Order").value_or(0) + 1);
                }
            }
            const std::string key = printerKey(p.name);
            return firstFailure({create(key), create(key + std::string(facts::key::kDriverData)),
                                 setText(key, value::kPrinterPort, p.port),
                                 setText(key, value::kPrinterDriver, p.driver), setDword(key, "Jobs", p.jobs),
                                 setDword(key, "Status", p.status), setDword(key, "Attributes", p.attributes),
                                 setDword(key, "Order", order),
                                 setDword(key, "Default Print Quality", static_cast<std::uint32_t>(p.quality))});
        });
        if (refused) return *refused;
        return done;
    }

    Done setPort(std::string_view printer, std::string_view port) override
    {
        std::optional<Error> refused;
        auto done = change([&]() -> Status {
            if (!exists(printerKey(printer)))
                refused = failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
            else if (!portKnown(port)) refused = failure(Failure::NotFound, "no port \"" + std::string(port) + "\"");
            if (refused) return Status::InvalidArgument;
            return setText(printerKey(printer), value::kPrinterPort, port);
        });
        if (refused) return *refused;
        return done;
    }

    Done setDriver(std::string_view printer, std::string_view driver) override
    {
        std::optional<Error> refused;
        auto done = change([&]() -> Status {
            if (!exists(printerKey(printer)))
                refused = failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
            else if (!exists(kDriversKey + "\\" + std::string(driver)))
                refused = failure(Failure::NotFound, "no driver \"" + std::string(driver) + "\"");
            if (refused) return Status::InvalidArgument;
            return setText(printerKey(printer), value::kPrinterDriver, driver);
        });
        if (refused) return *refused;
        return done;
    }

    Done deletePrinter(std::string_view printer) override
    {
        if (!validName(printer)) return failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
        std::optional<Error> refused;
        auto done = change([&]() -> Status {
            Status status = m_store.deleteKey(Root::LocalMachine, printerKey(printer));
            if (status == Status::NotFound)
                refused = failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
            return status;
        });
        if (refused) return *refused;
        return done;
    }

private:
    static std::string printerKey(std::string_view name) { return kPrintersKey + "\\" + std::string(name); }

    static bool isFilePort(std::string_view port) { return text::equalWholeIgnoringCase(port, kFilePort); }

    // The stored ports (in the store's name order, case folded) with "FILE:" in its place among them.
    static std::vector<std::string> withFilePort(std::vector<std::string> ports)
    {
        if (std::any_of(ports.begin(), ports.end(), isFilePort)) return ports;
        auto at = std::find_if(ports.begin(), ports.end(),
                               [](const std::string& port) { return text::compareIgnoringCase(port, kFilePort) > 0; });
        ports.insert(at, std::string(kFilePort));
        return ports;
    }

    static Status firstFailure(std::initializer_list<Status> steps)
    {
        for (Status s : steps) {
            if (s != Status::Ok) return s;
        }
        return Status::Ok;
    }

    // One change: its steps and the moved-on change count in one transaction.
    template <class Body>
    Done change(Body&& body)
    {
        Status status = m_store.atomically([&] {
            Status s = body();
            if (s != Status::Ok) return s;
            return firstFailure(
                {create(kPrintKey), setDword(kPrintKey, "ChangeCount", static_cast<std::uint32_t>(changeCount() + 1))});
        });
        if (status != Status::Ok) return storeFailure(status);
        Key key;  // the whole change reaches the disk
        if (m_store.openKey(Root::LocalMachine, kPrintKey, registry::Set, key) == Status::Ok) key.flush();
        return true;
    }

    template <class Step>
    Done changeJobs(std::string_view printer, Step step)
    {
        if (!validName(printer)) return failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
        std::optional<Error> refused;
        auto done = change([&]() -> Status {
            const std::string key = printerKey(printer);
            auto jobs = dword(key, "Jobs");
            if (!jobs) {
                refused = failure(Failure::NotFound, "no printer \"" + std::string(printer) + "\"");
                return Status::NotFound;
            }
            return setDword(key, "Jobs", step(*jobs));
        });
        if (refused) return *refused;
        return done;
    }

    Result<std::vector<Printer>> readPrinters()
    {
        Key key;
        Status status = m_store.openKey(Root::LocalMachine, kPrintersKey, registry::Query, key);
        if (status == Status::NotFound) return std::vector<Printer>{};
        if (status != Status::Ok) return storeFailure(status);
        auto names = key.subKeys();
        if (!names) return failure(Failure::StoreError, names.error().detail);
        std::vector<std::pair<std::uint32_t, Printer>> ordered;
        for (const auto& name : names.value()) {
            auto p = read(name);
            if (p) ordered.emplace_back(dword(kPrintersKey + "\\" + name, "Order").value_or(0), std::move(p).value());
        }
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        std::vector<Printer> list;
        for (auto& [order, printer] : ordered) list.push_back(std::move(printer));
        return list;
    }

    // One listing of the printer's key, so that its fields are read at one moment.
    Result<Printer> read(const std::string& name)
    {
        const auto missing = [&] { return failure(Failure::NotFound, "no printer \"" + name + "\""); };
        Key key;
        if (m_store.openKey(Root::LocalMachine, kPrintersKey + "\\" + name, registry::Query, key) != Status::Ok)
            return missing();
        const auto values = key.values();
        if (!values) return missing();
        const auto find = [&](std::string_view wanted) -> const Key::Value* {
            for (const Key::Value& v : values.value())
                if (text::equalWholeIgnoringCase(v.name, wanted)) return &v;
            return nullptr;
        };
        const auto textOf = [&](std::string_view wanted) -> std::optional<std::string> {
            const Key::Value* v = find(wanted);
            if (v == nullptr) return std::nullopt;
            const auto* chars = reinterpret_cast<const char*>(v->data.data());
            return std::string(chars, strnlen(chars, v->data.size()));
        };
        const auto dwordOf = [&](std::string_view wanted) -> std::uint32_t {
            const Key::Value* v = find(wanted);
            std::uint32_t value = 0;
            if (v != nullptr && v->data.size() == sizeof value) std::memcpy(&value, v->data.data(), sizeof value);
            return value;
        };
        const std::optional<std::string> driver = textOf(value::kPrinterDriver);
        if (!driver) return missing();
        // A CUPS queue's values, mirrored into the store for the engine, are not a printer of ours.
        if (textOf("Spooler") == "CUPS") return missing();
        Printer p;
        p.name = name;
        p.driver = *driver;
        p.port = textOf(value::kPrinterPort).value_or("");
        p.jobs = dwordOf("Jobs");
        p.status = dwordOf("Status");
        p.attributes = dwordOf("Attributes");
        p.quality = static_cast<std::int32_t>(dwordOf("Default Print Quality"));
        return p;
    }

    Result<std::vector<std::string>> subKeys(const std::string& path)
    {
        Key key;
        Status status = m_store.openKey(Root::LocalMachine, path, registry::Query, key);
        if (status == Status::NotFound) return std::vector<std::string>{};
        if (status != Status::Ok) return storeFailure(status);
        auto names = key.subKeys();
        if (!names) return failure(Failure::StoreError, names.error().detail);
        return names.value();
    }

    bool exists(const std::string& path)
    {
        Key key;
        return m_store.openKey(Root::LocalMachine, path, registry::Query, key) == Status::Ok;
    }

    bool portKnown(std::string_view port)
    {
        if (isFilePort(port)) return true;
        std::uint32_t size = 0;
        return m_store.getValue(Root::LocalMachine, kPortsKey, port, {}, &size) == Status::Ok;
    }

    std::optional<std::string> text(const std::string& key, std::string_view name)
    {
        char buffer[1024];
        std::uint32_t size = 0;
        if (m_store.getValue(Root::LocalMachine, key, name, std::as_writable_bytes(std::span(buffer)), &size) !=
            Status::Ok) {
            return std::nullopt;
        }
        return std::string(buffer, strnlen(buffer, size));
    }

    std::optional<std::uint32_t> dword(const std::string& key, std::string_view name)
    {
        std::uint32_t value = 0, size = 0;
        if (m_store.getValue(Root::LocalMachine, key, name, std::as_writable_bytes(std::span(&value, 1)), &size) !=
            Status::Ok) {
            return std::nullopt;
        }
        return value;
    }

    Status create(const std::string& path)
    {
        Key key;
        return m_store.createKey(Root::LocalMachine, path, "", key);
    }

    Status setText(const std::string& key, std::string_view name, std::string_view value)
    {
        return m_store.setValue(Root::LocalMachine, key, name, ValueType::String, textBytes(std::string(value)),
                                Store::Flush::No);
    }

    Status setDword(const std::string& key, std::string_view name, std::uint32_t value)
    {
        return m_store.setValue(Root::LocalMachine, key, name, ValueType::Dword, std::as_bytes(std::span(&value, 1)),
                                Store::Flush::No);
    }

    Store& m_store;
};

}  // namespace

Result<std::unique_ptr<Spooler>> embedded(Store& store) { return std::unique_ptr<Spooler>(new EmbeddedSpooler(store)); }

}  // namespace plat::spool
