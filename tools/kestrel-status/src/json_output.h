#pragma once
// The snapshot as JSON: one document for a run, one object per printer line of --watch.

#include <cstdint>
#include <string>

#include "snapshot.h"

namespace kestrel_status {

// The whole snapshot on one line: {"list_running", "spooler", "printers": [...]}.
std::string jsonDocument(const Snapshot& snapshot);
// One printer on one line, its keys in the order the help gives them.
std::string jsonPrinter(const Printer& printer);
std::string jsonGone(const std::string& name);
std::string jsonRunFlag(std::uint32_t flag);
// RFC 3339 in UTC, to the second: "2026-12-09T11:18:14Z".
std::string rfc3339(std::int64_t secondsSince1970);

}  // namespace kestrel_status
