#pragma once
// The outside components the detail window starts: the printer's queue window and the printer-setup
// library; and the gap-adjustment tool, which the engine starts from the system root. None is ever
// reached through a shell; a component that is missing does nothing visible and says why in the trace.

#include <filesystem>
#include <string>

class QWidget;

namespace watchpanel {

// Makes the printer's shortcut in the program directory (fCreateShortCutFile) and opens it with the
// queue program, started with an argument vector and not waited for. False when nothing was started.
bool openJobWindow(const std::string& printer);

// Loads the printer-setup library by name at run time and calls its VLSetPrin32(owner, driver file,
// printer, port). False when the library or the entry point is missing (nothing is shown then).
bool openPrinterSetup(QWidget* owner, const std::string& driverFile, const std::string& printer,
                      const std::string& port);

// What linkGapTool() found or did.
enum class GapToolLink {
    Made,          // the root's RCTOOL folder now has a link to the installed tool
    AlreadyThere,  // something of that name was there: the user's tool or link, left as it was
    NotInstalled,  // no tool beside the programs: nothing to link to
    Failed,        // the link could not be made (see the trace)
};

// The engine runs the gap tool from the root's Windows folder, RCTOOL/TUNEUP.EXE, unless the user's
// "Path" value names another folder. A fresh root gets a symbolic link there to the tool installed
// with the programs: beside them (the installed bin/ folder, or the build's), else in a build's RCTOOL
// folder next to their folder. Whatever already has that name is never replaced.
GapToolLink linkGapTool();
GapToolLink linkGapTool(const std::filesystem::path& programDirectory);

}  // namespace watchpanel
