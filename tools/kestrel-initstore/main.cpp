// kestrel-initstore: prepares a printer's \Vigilmon store with its initial values, as the list program
// does when it takes a printer into monitoring. For setting up a system root by hand or in a script.

#include <cstdio>
#include <cstring>
#include <string>

#include "plat/base/system_root.h"
#include "plat/text/text.h"
#include "watchcore.h"

namespace {

constexpr const char* kHelp = R"(kestrel-initstore - prepare a printer's registry store as the list program does

Usage:
  kestrel-initstore PRINTER MODEL
  kestrel-initstore --help

PRINTER  the spooler's printer name (at most 197 bytes)
MODEL    the short model name the printer reports after "MDL:" (PG-03, IJ-09, DM-02, ...)

Writes every initial value of the printer's \Vigilmon key in the registry store of the system root
($KESTREL_ROOT, else $XDG_DATA_HOME/velta-kestrel). The user's status and retry intervals are kept
when they are set. Show the result with:
  watchreg query "HKLM\System\CurrentControlSet\Control\Print\Printers\PRINTER\Vigilmon"

Exit status: 0 done, 1 the store could not be written, 2 usage error.
)";

}  // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
    }
    if (argc != 3) {
        std::fputs("ERROR: Give a printer name and a model. Type \"kestrel-initstore --help\" for usage.\n", stderr);
        return 2;
    }
    PrinterEntry entry{};
    const std::string printer = argv[1], model = argv[2];
    if (printer.empty() || printer.size() >= sizeof entry.PrinterName || model.empty() ||
        model.size() >= sizeof entry.ModelName) {
        std::fputs("ERROR: The printer name or the model is empty or too long.\n", stderr);
        return 2;
    }
    plat::text::copyBounded(entry.PrinterName, sizeof entry.PrinterName, printer);
    plat::text::copyBounded(entry.ModelName, sizeof entry.ModelName, model);
    if (fInitRegistory(&entry) != 1) {
        std::fprintf(stderr, "ERROR: Could not write the store of \"%s\" in %s (is the name at most 197 bytes? "
                             "run with KESTREL_TRACE=1 for details).\n",
                     printer.c_str(), plat::registryFile().c_str());
        return 1;
    }
    std::printf("Prepared the store of \"%s\" (%s) in %s\n", printer.c_str(), model.c_str(), plat::registryFile().c_str());
    return 0;
}
