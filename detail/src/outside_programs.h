#pragma once
// The outside components the detail window starts: the printer's queue window and the printer-setup
// library. Neither is ever reached through a shell; a component that is missing does nothing visible and
// says why in the trace.

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

}  // namespace watchpanel
