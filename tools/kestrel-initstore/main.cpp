// kestrel-initstore: prepares a printer's \Vigilmon store with its initial values, as the list program
// does when it takes a printer into monitoring. For setting up a system root by hand or in a script.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "facts/models.h"
#include "facts/store_names.h"
#include "plat/base/system_root.h"
#include "plat/base/utf8.h"
#include "plat/registry/registry.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

// A printer's longest store key is "...\Printers\" + name + "\StEnviron", and every key path of the
// system must fit its 256-byte buffer with the terminating zero: that leaves 197 bytes for the name.
// A longer name would get a \Vigilmon whose detail settings can never be stored.
constexpr std::size_t kMaxKeyPath = 255;
constexpr std::size_t kMaxPrinterName = kMaxKeyPath - facts::key::kPrinters.size() -
                                        std::max(facts::key::kDetailSettings.size(), facts::key::kEngineStore.size());
static_assert(kMaxPrinterName == 197);

constexpr const char* kHelp = R"(kestrel-initstore - prepare a printer's registry store as the list program does

Usage:
  kestrel-initstore PRINTER MODEL
  kestrel-initstore --help

PRINTER  the spooler's printer name: 1 to 197 bytes of UTF-8, without a backslash
MODEL    a model of the model table, by the short name it reports after "MDL:" (PG-03, IJ-09,
         DM-02, ...); case does not matter

Writes every initial value of the printer's \Vigilmon key in the registry store of the system root
($KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel). The user's status and retry intervals are kept
when they are set. Show the result with:
  watchreg query "HKLM\System\CurrentControlSet\Control\Print\Printers\PRINTER\Vigilmon"

Exit status: 0 done, 1 the store could not be written, 2 usage error.
)";

int usage(const std::string& why)
{
    std::fprintf(stderr, "ERROR: %s Type \"kestrel-initstore --help\" for usage.\n", why.c_str());
    return 2;
}

// Opens the store and the printer's \Vigilmon as the first steps of the initialisation will; says why
// not when it cannot (a damaged or read-only store), since the export only reports failure.
bool storeCanBeWritten(const std::string& printer, std::string& why)
{
    auto store = plat::registry::Store::open(plat::registryFile());
    if (!store) {
        why = store.error().detail;
        return false;
    }
    plat::registry::Key key;
    auto status = store.value()->createKey(
        plat::registry::Root::LocalMachine,
        std::string(facts::key::kPrinters) + printer + std::string(facts::key::kEngineStore), "WATCHLIST", key);
    // The first value the initialisation writes, written as it will write it: a store that cannot be
    // written shows here even when the key exists.
    if (status == plat::registry::Status::Ok) status = key.setDword(facts::value::kLanMonExistFlag, 0);
    if (status != plat::registry::Status::Ok) {
        why = plat::registry::describe(status);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    if (argc != 3) return usage("Give a printer name and a model.");
    const std::string printer = argv[1];
    if (printer.empty() || printer.size() > kMaxPrinterName) {
        return usage("The printer name must have 1 to " + std::to_string(kMaxPrinterName) + " bytes; it has " +
                     std::to_string(printer.size()) + ".");
    }
    if (printer.find('\\') != std::string::npos) {
        return usage("The printer name must not hold a backslash: it would name a key below the printer's.");
    }
    if (!plat::isValidUtf8(printer)) return usage("The printer name is not valid UTF-8.");
    const facts::Model* model = facts::byShortName(argv[2]);
    if (model == nullptr) return usage("\"" + std::string(argv[2]) + "\" is not a model of the model table.");

    std::string why;
    if (!storeCanBeWritten(printer, why)) {
        std::fprintf(stderr, "ERROR: Could not write the store of \"%s\": %s\n", printer.c_str(), why.c_str());
        return 1;
    }
    PrinterEntry entry{};
    plat::text::copyBounded(entry.PrinterName, sizeof entry.PrinterName, printer);
    plat::text::copyBounded(entry.ModelName, sizeof entry.ModelName, model->shortName);
    if (fInitRegistory(&entry) != 1) {
        std::fprintf(stderr,
                     "ERROR: Could not write every initial value of \"%s\" in %s (run with KESTREL_TRACE=1 for "
                     "details).\n",
                     printer.c_str(), plat::registryFile().c_str());
        return 1;
    }
    std::printf("Prepared the store of \"%s\" (%s) in %s\n", printer.c_str(), model->shortName,
                plat::registryFile().c_str());
    return 0;
}
