// spoolctl: the spooler's administration tool: drivers, language monitors, ports, printers and their
// job queues, on the spooler the system uses (the embedded one in the system root's registry store, or
// CUPS); and the NetWare queues and captured LPT ports of the root's NetWare environment.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "facts/models.h"
#include "facts/store_names.h"
#include "plat/base/command_line.h"
#include "plat/base/system_root.h"
#include "plat/netware/environment.h"
#include "plat/registry/registry.h"
#include "plat/services/services.h"
#include "plat/spool/spooler.h"

namespace {

using plat::spool::Spooler;

constexpr const char* kHelp = R"(spoolctl - administer the print spooler of VELTA Kestrel

Usage:
  spoolctl [--spooler cups|embedded] COMMAND ...

Commands:
  spoolctl add-driver NAME --path PATH --monitor MONITOR
  spoolctl add-monitor NAME --driver LIBRARY
  spoolctl add-port NAME [--device PATH | --sim]
  spoolctl add-printer NAME --driver DRIVER --port PORT [--quality N]
  spoolctl set-port PRINTER PORT
  spoolctl set-driver PRINTER DRIVER
  spoolctl delete-printer NAME
  spoolctl submit PRINTER [--count N]
  spoolctl finish PRINTER [--count N]
  spoolctl list [--json]
  spoolctl install-models
  spoolctl add-netware-queue SERVER QUEUE [--print-server PS [--printers N,...]] [--version 4]
  spoolctl capture LPTn SERVER QUEUE
  spoolctl end-capture LPTn

add-port --device enters the port in the port map as that character device; --sim leaves it to
vprinter, which maps its ports itself while it runs. FILE: is a port of every spooler: it needs no
add-port. Names are UTF-8; a name that is not is refused. --quality is the default print quality: a
resolution in dpi, or -1 (draft) to -4 (high). install-models registers the 21 drivers of the model
table and their language monitors, as the maker's installer does.

add-netware-queue enters the file server SERVER (--version 4: names go through directory services;
an existing server keeps its version and address otherwise) and its print queue QUEUE in the NetWare
environment, adds the port "\\SERVER\QUEUE" to the spooler, and installs the NetWare print provider,
without which no queue path is monitored. --print-server names the print server of the queue's
attribute list; with --printers it is a print server one attaches to, whose printers N,... (0..65535)
service the queue; without, the name is the printer's network interface itself. capture makes the
local port LPTn (1..9) print to the queue; end-capture ends that. list shows the captures too. Server,
queue and print-server names are bindery names: 1..47 bytes, no blanks; they are kept upper-cased.

The spooler is the one the programs use: --spooler, else $KESTREL_SPOOLER (cups or embedded), else
CUPS when a CUPS scheduler answers, else the embedded spooler. The embedded spooler lives in the
registry store of the system root: $KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel; every change is
made whole or not at all. On CUPS, printers are CUPS queues: add-printer takes the driver's PPD file
(from $KESTREL_PPD_DIR or the installed ones) and a port name from the port map or a device URI
("velta:/dev/usb/lp0"); drivers and monitors come from PPD files, so add-driver and add-monitor are
refused and install-models installs the models' PPD files ($KESTREL_PPD_DIR, else
/usr/share/ppd/velta-kestrel, which needs an administrator); submitted jobs are held, and finish
cancels them. Changing queues needs the rights of a CUPS administrator. list --json names the spooler in "spooler".

Examples:
  spoolctl install-models
  spoolctl add-port LPT1: --sim
  spoolctl add-printer "Office PG-03" --driver "VELTA PG-03" --port LPT1:
  spoolctl submit "Office PG-03" --count 2
  spoolctl list --json
  spoolctl add-netware-queue FS1 QUEUE1 --print-server PS1 --printers 0
  spoolctl add-printer "Shared PG-04" --driver "VELTA PG-04" --port '\\FS1\QUEUE1'
  spoolctl capture LPT2 FS1 QUEUE1

Exit status: 0 done, 1 refused (unknown printer, driver or port, a name taken, a store error),
2 usage error.
)";

int usage(const std::string& why)
{
    std::cerr << "spoolctl: " << why << " (see spoolctl --help)\n";
    return 2;
}

int report(const plat::spool::Done& done)
{
    if (done.ok()) return 0;
    std::cerr << "spoolctl: " << done.error().detail << '\n';
    return 1;
}

// The command's operands and its --options, each option taking one value (flags take none).
struct Arguments {
    std::vector<std::string> operands;
    std::map<std::string, std::string> options;
};

std::optional<Arguments> parse(const std::vector<std::string>& args, const std::vector<std::string>& withValue,
                               const std::vector<std::string>& flags, std::string& error)
{
    Arguments out;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            out.operands.push_back(a);
            continue;
        }
        const std::string name = a.substr(2);
        if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
            out.options[name] = "";
        } else if (std::find(withValue.begin(), withValue.end(), name) != withValue.end()) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            out.options[name] = args[++i];
        } else {
            error = "unknown option " + a;
            return std::nullopt;
        }
    }
    return out;
}

std::optional<long> number(const std::string& text, long low, long high)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < low || value > high) return std::nullopt;
    return value;
}

const char* g_spoolerName = "embedded";

// ---- NetWare ---------------------------------------------------------------------------------------

// The NetWare print provider's library file: the store names it, and a queue path is monitored only
// while it is there in the Windows directory's system folder.
constexpr const char* kNetwareProviderFile = "NWPRINT.DLL";

int refuse(const std::string& why)
{
    std::cerr << "spoolctl: " << why << '\n';
    return 1;
}

// Enters the provider's value and makes its file (kept as it is when it exists).
std::optional<std::string> installNetwareProvider()
{
    const std::filesystem::path folder = plat::windowsDir() / "system";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::filesystem::path file = folder / kNetwareProviderFile;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) return "cannot make " + file.string() + ": " + std::strerror(errno);
    ::close(fd);

    auto store = plat::registry::Store::open(plat::registryFile());
    if (!store) return store.error().detail;
    using plat::registry::Status;
    plat::registry::Key key;
    const std::string name = kNetwareProviderFile;
    if (store.value()->createKey(plat::registry::Root::LocalMachine, facts::key::kNetwareProvider, "", key) !=
            Status::Ok ||
        key.set(facts::value::kProviderName, plat::registry::ValueType::String,
                std::as_bytes(std::span(name.c_str(), name.size() + 1))) != Status::Ok ||
        key.flush() != Status::Ok) {
        return std::string("cannot enter the NetWare print provider in the store");
    }
    return std::nullopt;
}

std::string upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// "LPT1", "lpt1" or "LPT1:" → 1; nothing for any other name.
std::optional<int> lptNumber(const std::string& port)
{
    const std::string name = upper(port);
    if (name.size() < 4 || name.size() > 5 || name.compare(0, 3, "LPT") != 0) return std::nullopt;
    if (name.size() == 5 && name[4] != ':') return std::nullopt;
    if (name[3] < '1' || name[3] > '9') return std::nullopt;
    return name[3] - '0';
}

// "0,2,5" → {0, 2, 5}; nothing when a part is not a printer number.
std::optional<std::vector<std::uint16_t>> printerNumbers(const std::string& text)
{
    std::vector<std::uint16_t> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        auto n = number(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), 0, 65535);
        if (!n) return std::nullopt;
        out.push_back(static_cast<std::uint16_t>(*n));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (out.size() > 255) return std::nullopt;
    return out;
}

// Applies `change` to the environment file, or leaves the file as it was when `change` refuses (returns
// a reason).
int changeEnvironment(const std::function<std::optional<std::string>(plat::netware::Environment&)>& change)
{
    std::optional<std::string> refused;
    auto done = plat::netware::update([&](plat::netware::Environment& env) {
        plat::netware::Environment copy = env;
        refused = change(copy);
        if (!refused) env = std::move(copy);
    });
    if (!done) return refuse(done.error().detail);
    if (refused) return refuse(*refused);
    return 0;
}

int addNetwareQueue(Spooler& spooler, const std::string& server, const std::string& queue,
                    const std::optional<std::string>& printServer, const std::vector<std::uint16_t>& printers,
                    std::optional<int> version)
{
    const std::string port = "\\\\" + upper(server) + "\\" + upper(queue);
    int rc = changeEnvironment([&](plat::netware::Environment& env) -> std::optional<std::string> {
        // The simulator may have entered the server with its address already: both stay.
        plat::netware::FileServer entry(server, version.value_or(3));
        if (const auto* known = env.server(server)) {
            entry = *known;
            if (version) entry.majorVersion = *version;
        }
        plat::netware::Queue q{server, queue, {}};
        if (const auto* known = env.queue(server, queue)) q.printServers = known->printServers;
        if (printServer &&
            std::find(q.printServers.begin(), q.printServers.end(), upper(*printServer)) == q.printServers.end()) {
            q.printServers.push_back(*printServer);
        }
        if (!env.put(entry) || !env.put(q)) return "a server or queue name is 1..47 bytes without blanks";
        if (printServer && !printers.empty() &&
            !env.put(plat::netware::PrintServer{server, *printServer, queue, printers}))
            return "a print server name is 1..47 bytes without blanks";
        return std::nullopt;
    });
    if (rc != 0) return rc;
    rc = report(spooler.addPort(port, std::nullopt));
    if (rc != 0) return rc;
    if (auto failed = installNetwareProvider()) return refuse(*failed);
    std::cout << "Added the NetWare queue " << port << ".\n";
    return 0;
}

void listCaptures(nlohmann::json* json)
{
    auto env = plat::netware::load();
    if (!env) {
        // The spooler's part is listed all the same.
        std::cerr << "spoolctl: " << env.error().detail << '\n';
        return;
    }
    if (json != nullptr) {
        (*json)["captures"] = nlohmann::json::array();
        for (const auto& c : env.value().captures) {
            (*json)["captures"].push_back(
                {{"port", "LPT" + std::to_string(c.lpt) + ":"}, {"server", c.server}, {"queue", c.queue}});
        }
        return;
    }
    std::cout << "Captures:\n";
    for (const auto& c : env.value().captures)
        std::cout << "  LPT" << c.lpt << ":  \\\\" << c.server << '\\' << c.queue << '\n';
}

int list(Spooler& spooler, bool json)
{
    auto printers = spooler.printers();
    auto drivers = spooler.drivers();
    auto ports = spooler.ports();
    if (!printers || !drivers || !ports) return report(plat::spool::Done(plat::Error{1, "cannot read the spooler"}));
    if (json) {
        nlohmann::json out;
        out["spooler"] = g_spoolerName;
        out["printers"] = nlohmann::json::array();
        for (const auto& p : printers.value()) {
            out["printers"].push_back(
                {{"name", p.name}, {"port", p.port}, {"driver", p.driver}, {"jobs", p.jobs}, {"quality", p.quality}});
        }
        out["drivers"] = nlohmann::json::array();
        for (const auto& d : drivers.value())
            out["drivers"].push_back({{"name", d.name}, {"path", d.path}, {"monitor", d.monitor}});
        out["ports"] = ports.value();
        listCaptures(&out);
        // What the spooler takes is UTF-8, but a store written by other means may hold other bytes:
        // they come out as U+FFFD rather than ending the listing.
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return 0;
    }
    std::cout << "Printers:\n";
    for (const auto& p : printers.value()) {
        std::cout << "  " << p.name << "  port " << p.port << "  driver " << p.driver << "  jobs " << p.jobs << '\n';
    }
    std::cout << "Drivers:\n";
    for (const auto& d : drivers.value())
        std::cout << "  " << d.name << "  " << d.path << "  monitor " << d.monitor << '\n';
    std::cout << "Ports:\n";
    for (const auto& p : ports.value()) std::cout << "  " << p << '\n';
    listCaptures(nullptr);
    return 0;
}

// The maker's installer: every model's driver, and its language monitor under a name of its own.
int installModels(Spooler& spooler)
{
    int rc = 0;
    for (const facts::Model& model : facts::all()) {
        const std::string library = model.monitor;
        // IJ-01 has no monitor library of its own: its monitor is registered with an empty one.
        const std::string monitor =
            "VELTA " + (library.empty() ? std::string(model.shortName) : library.substr(0, library.find('.'))) +
            " Language Monitor";
        rc = report(spooler.addMonitor({monitor, library}));
        if (rc == 0)
            rc = report(
                spooler.addDriver({model.name, std::string("C:\\WINDOWS\\SYSTEM\\") + model.driverFile, monitor}));
        if (rc != 0) return rc;
    }
    std::cout << "Installed the drivers of " << facts::kModelCount << " models.\n";
    return 0;
}

// Where the build or the package put the models' PPD files: share/ppd/velta-kestrel beside the build's
// bin/ folder, or under the prefix of the installed program directory PREFIX/lib/velta-kestrel.
std::filesystem::path madePpdFolder(const std::filesystem::path& programs)
{
    const std::filesystem::path built = programs.parent_path() / "share" / "ppd" / "velta-kestrel";
    std::error_code error;
    if (std::filesystem::is_directory(built, error)) return built;
    return programs.parent_path().parent_path() / "share" / "ppd" / "velta-kestrel";
}

// On CUPS the drivers are PPD files: copies every model's PPD from where the build or the package put
// them to $KESTREL_PPD_DIR, else to the folder the print system's driver list reads. Each file is
// replaced whole.
int installPpds()
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    const fs::path from = madePpdFolder(self.parent_path());
    const char* configured = std::getenv("KESTREL_PPD_DIR");
    const fs::path to =
        configured != nullptr && *configured != '\0' ? fs::path(configured) : fs::path("/usr/share/ppd/velta-kestrel");
    std::vector<fs::path> ppds;
    for (const auto& entry : fs::directory_iterator(from, error)) {
        if (entry.path().extension() == ".ppd" && entry.is_regular_file(error)) ppds.push_back(entry.path());
    }
    if (ppds.size() != facts::kModelCount) {
        return refuse("the PPD files of the " + std::to_string(facts::kModelCount) + " models are not in " +
                      from.string() + " (build the velta-ppds target, or install the package)");
    }
    if (fs::equivalent(from, to, error)) {
        std::cout << "The PPD files of " << facts::kModelCount << " models are installed in " << to.string() << ".\n";
        return 0;
    }
    fs::create_directories(to, error);
    for (const fs::path& ppd : ppds) {
        const fs::path temporary = to / ("." + ppd.filename().string() + ".new");
        if (!fs::copy_file(ppd, temporary, fs::copy_options::overwrite_existing, error)) {
            return refuse("cannot write " + temporary.string() + ": " + error.message() +
                          " (the print system's folder needs an administrator; or set KESTREL_PPD_DIR)");
        }
        fs::permissions(temporary,
                        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read,
                        error);
        fs::rename(temporary, to / ppd.filename(), error);
        if (error) return refuse("cannot install " + (to / ppd.filename()).string() + ": " + error.message());
    }
    std::cout << "Installed the PPD files of " << facts::kModelCount << " models in " << to.string() << ".\n";
    return 0;
}

int run(const std::vector<std::string>& args, Spooler& spooler)
{
    const std::string& command = args[0];
    std::string error;
    auto need = [&](std::size_t operands, const std::vector<std::string>& withValue,
                    const std::vector<std::string>& flags = {}) -> std::optional<Arguments> {
        auto parsed = parse(args, withValue, flags, error);
        if (parsed && parsed->operands.size() != operands) {
            error = command + " takes " + std::to_string(operands) + " name(s)";
            return std::nullopt;
        }
        return parsed;
    };

    if (command == "add-driver") {
        auto a = need(1, {"path", "monitor"});
        if (!a || !a->options.count("path")) return usage(a ? "add-driver needs --path" : error);
        return report(spooler.addDriver({a->operands[0], a->options["path"], a->options["monitor"]}));
    }
    if (command == "add-monitor") {
        auto a = need(1, {"driver"});
        if (!a || !a->options.count("driver")) return usage(a ? "add-monitor needs --driver" : error);
        return report(spooler.addMonitor({a->operands[0], a->options["driver"]}));
    }
    if (command == "add-port") {
        auto a = need(1, {"device"}, {"sim"});
        if (!a) return usage(error);
        if (a->options.count("device") && a->options.count("sim")) return usage("give --device or --sim, not both");
        std::optional<std::string> target;
        if (a->options.count("device")) target = "device:" + a->options["device"];
        return report(spooler.addPort(a->operands[0], target));
    }
    if (command == "add-printer") {
        auto a = need(1, {"driver", "port", "quality"});
        if (!a || !a->options.count("driver") || !a->options.count("port")) {
            return usage(a ? "add-printer needs --driver and --port" : error);
        }
        plat::spool::Printer p{a->operands[0], a->options["port"], a->options["driver"]};
        if (a->options.count("quality")) {
            auto quality = number(a->options["quality"], -4, 100000);
            if (!quality) return usage("--quality is a resolution in dpi or -1..-4");
            p.quality = static_cast<std::int32_t>(*quality);
        }
        return report(spooler.addPrinter(p));
    }
    if (command == "set-port" || command == "set-driver") {
        auto a = need(2, {});
        if (!a) return usage(error);
        return report(command == "set-port" ? spooler.setPort(a->operands[0], a->operands[1])
                                            : spooler.setDriver(a->operands[0], a->operands[1]));
    }
    if (command == "delete-printer") {
        auto a = need(1, {});
        if (!a) return usage(error);
        return report(spooler.deletePrinter(a->operands[0]));
    }
    if (command == "submit" || command == "finish") {
        auto a = need(1, {"count"});
        if (!a) return usage(error);
        auto count = number(a->options.count("count") ? a->options["count"] : "1", 1, 1000000);
        if (!count) return usage("--count is a number of jobs, 1 or more");
        const auto n = static_cast<std::uint32_t>(*count);
        return report(command == "submit" ? spooler.submitJobs(a->operands[0], n)
                                          : spooler.finishJobs(a->operands[0], n));
    }
    if (command == "list") {
        auto a = need(0, {}, {"json"});
        if (!a) return usage(error);
        return list(spooler, a->options.count("json") > 0);
    }
    if (command == "add-netware-queue") {
        auto a = need(2, {"print-server", "printers", "version"});
        if (!a) return usage(error);
        std::optional<std::string> printServer;
        if (a->options.count("print-server")) printServer = a->options["print-server"];
        std::vector<std::uint16_t> printers;
        if (a->options.count("printers")) {
            if (!printServer) return usage("--printers goes with --print-server");
            auto numbers = printerNumbers(a->options["printers"]);
            if (!numbers) return usage("--printers is a list of printer numbers 0..65535, such as 0,1");
            printers = *numbers;
        }
        std::optional<int> version;
        if (a->options.count("version")) {
            auto v = number(a->options["version"], 1, 99);
            if (!v) return usage("--version is the file server's major version, such as 3 or 4");
            version = static_cast<int>(*v);
        }
        return addNetwareQueue(spooler, a->operands[0], a->operands[1], printServer, printers, version);
    }
    if (command == "capture") {
        auto a = need(3, {});
        if (!a) return usage(error);
        auto lpt = lptNumber(a->operands[0]);
        if (!lpt) return usage("capture takes a port LPT1 .. LPT9");
        return changeEnvironment([&](plat::netware::Environment& env) -> std::optional<std::string> {
            if (!env.put(plat::netware::Capture{*lpt, a->operands[1], a->operands[2]}))
                return "a server or queue name is 1..47 bytes without blanks";
            return std::nullopt;
        });
    }
    if (command == "end-capture") {
        auto a = need(1, {});
        if (!a) return usage(error);
        auto lpt = lptNumber(a->operands[0]);
        if (!lpt) return usage("end-capture takes a port LPT1 .. LPT9");
        return changeEnvironment([&](plat::netware::Environment& env) -> std::optional<std::string> {
            if (!env.removeCapture(*lpt)) return "LPT" + std::to_string(*lpt) + ": is not captured";
            return std::nullopt;
        });
    }
    if (command == "install-models") {
        if (args.size() != 1) return usage("install-models takes no arguments");
        return installModels(spooler);
    }
    return usage("unknown command \"" + command + "\"");
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args = plat::argumentsOf(argc, argv);
    if (plat::printHelpIfAsked(args, kHelp)) return 0;
    std::optional<plat::spool::Kind> kind;
    if (!args.empty() && args[0] == "--spooler") {
        if (args.size() < 2 || (args[1] != "cups" && args[1] != "embedded"))
            return usage("--spooler is cups or embedded");
        kind = args[1] == "cups" ? plat::spool::Kind::Cups : plat::spool::Kind::Embedded;
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) return usage("give a command");
    plat::Services::Options options;
    options.spooler = kind;
    auto services = plat::Services::open(options);
    if (!services) {
        std::cerr << "spoolctl: " << services.error().detail << '\n';
        return 1;
    }
    g_spoolerName = plat::spool::spoolerName(services.value()->spoolerKind());
    if (services.value()->spoolerKind() == plat::spool::Kind::Cups && args[0] == "install-models") {
        if (args.size() != 1) return usage("install-models takes no arguments");
        return installPpds();
    }
    auto spooler = services.value()->spooler();
    if (!spooler) {
        std::cerr << "spoolctl: " << spooler.error().detail << '\n';
        return 1;
    }
    return run(args, *spooler.value());
}
