#pragma once
// Rover01, the network check library: one blocking call that answers whether a printer port can be
// reached and what the printer's device ID is. It keeps process-global state (the port, its connection
// kind, the network link), so calls must not overlap. It writes nothing to the registry.

#include <stdint.h>

#define ROVER01_API extern "C" __attribute__((visibility("default")))

namespace plat {
class Services;
}

// Results of Rover01CheckPrinter:
//   0  a port of no kind served here ("FILE:", a path that is no NetWare queue), or the network link
//      did not open in 3 attempts (and for every NetWare path after the first in a process)
//   1  the device ID was read; for a NetWare path the interface also offers the extended request
//   2  no device ID was obtained
//   3  local port only: the port did not open
//   4  NetWare path: the device ID was read, but the interface does not offer the extended request
//
// `port`: the spooler's port name ("LPT1:", "\\SERVER\QUEUE"). `deviceId`: at least 2048 bytes; it gets
// the device ID and a terminating zero (never more than 2048 bytes in all: a longer ID is cut), or an
// empty text when none was read. A null argument answers 0 and touches nothing.
ROVER01_API int32_t Rover01CheckPrinter(const char* port, char* deviceId);
// Does nothing; always 1.
ROVER01_API int32_t WEP(int32_t reserved);

// Not one of the system's exports: a program hands the library the services its main() built (before
// its first check; it keeps them for the life of the process), so the checks share its store and run
// on its clock. Without it the library makes its own for the current system root.
ROVER01_API void Rover01UseServices(plat::Services* services);
