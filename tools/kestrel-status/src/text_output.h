#pragma once
// The snapshot as a table for a terminal, and the text lines of --watch, in the locale's language.

#include <cstdint>
#include <string>

#include "snapshot.h"

namespace kestrel_status {

// The list program's run flag, the spooler and a row per printer, columns padded for a terminal.
std::string table(const Snapshot& snapshot);
// "Office: Monitoring | Cannot print | jobs 0 | The printer cover is open."
std::string textPrinter(const Printer& printer);
std::string textGone(const std::string& name);
std::string textRunFlag(std::uint32_t flag);

}  // namespace kestrel_status
