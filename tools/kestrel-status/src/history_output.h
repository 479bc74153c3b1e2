#pragma once
// kestrel-status --history: the printers' recorded status changes, as a table or JSON. Reads the
// history database of the system root and writes nothing.

namespace kestrel_status {

// Whether the command line asks for the history (--history anywhere in it).
bool asksForHistory(int argc, char** argv);
// Prints what it asks for; the program's exit status.
int printHistory(int argc, char** argv);

}  // namespace kestrel_status
