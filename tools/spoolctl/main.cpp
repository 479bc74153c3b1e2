// spoolctl: the spooler's administration tool: drivers, language monitors, ports, printers and their
// job queues, on the spooler the system uses (the embedded one in the system root's registry store, or
// CUPS).

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "facts/models.h"
#include "plat/base/command_line.h"
#include "plat/base/system_root.h"
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

add-port --device enters the port in the port map as that character device; --sim leaves it to
vprinter, which maps its ports itself while it runs. FILE: is a port of every spooler: it needs no
add-port. Names are UTF-8; a name that is not is refused. --quality is the default print quality: a
resolution in dpi, or -1 (draft) to -4 (high). install-models registers the 21 drivers of the model
table and their language monitors, as the maker's installer does.

The spooler is the one the programs use: --spooler, else $KESTREL_SPOOLER (cups or embedded), else
CUPS when a CUPS scheduler answers, else the embedded spooler. The embedded spooler lives in the
registry store of the system root: $KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel; every change is
made whole or not at all. On CUPS, printers are CUPS queues: add-printer takes the driver's PPD file
(from $KESTREL_PPD_DIR or the installed ones) and a port name from the port map or a device URI
("velta:/dev/usb/lp0"); drivers and monitors come from PPD files, so add-driver, add-monitor and
install-models are refused; submitted jobs are held, and finish cancels them. Changing queues needs
the rights of a CUPS administrator. list --json names the spooler in "spooler".

Examples:
  spoolctl install-models
  spoolctl add-port LPT1: --sim
  spoolctl add-printer "Office PG-03" --driver "VELTA PG-03" --port LPT1:
  spoolctl submit "Office PG-03" --count 2
  spoolctl list --json

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
    if (!kind) kind = plat::spool::currentKind();
    g_spoolerName = plat::spool::spoolerName(*kind);
    plat::Result<std::unique_ptr<Spooler>> spooler = plat::Error{};
    if (*kind == plat::spool::Kind::Cups) {
        auto opened = plat::spool::cups();
        spooler = opened ? plat::Result<std::unique_ptr<Spooler>>(std::move(opened).value())
                         : plat::Result<std::unique_ptr<Spooler>>(opened.error());
    } else {
        spooler = plat::spool::embedded();
    }
    if (!spooler) {
        std::cerr << "spoolctl: " << spooler.error().detail << '\n';
        return 1;
    }
    return run(args, *spooler.value());
}
