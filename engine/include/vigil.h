#pragma once
// Vigil, the status probe engine: the export list, bound by name. The engine keeps exactly one
// printer per process; every export returns at once (the work is done by the engine's threads) and
// everything the engine learns goes into the printer's registry store. Text is char* in the system
// code page (UTF-8); integers are fixed-width.

#include <stdint.h>

#define VIGIL_API extern "C" __attribute__((visibility("default")))

namespace plat {
class Services;
}

// Starts monitoring: copies the arguments and starts the start-up thread. Always 1.
// family: 1 page, 2 inkjet, 3 impact. connection: 1 local port, 2 NetWare queue, 5 local port
// captured to a queue (3 and 4 are not monitored). capturedPort is used for connection 5 only.
VIGIL_API int32_t CreateVigilmonInitialize(const char* port, const char* capturedPort, const char* printer,
                                           const char* model, uint32_t family, uint32_t connection,
                                           uint32_t ownerProcessId);
// Maintenance: the head move for ink replacement (0, 1, 4 or 8) and the gap-adjustment tool.
VIGIL_API int32_t ActHeadFunc(const char* port);
VIGIL_API int32_t ExecGapFunc(const char* port);
VIGIL_API uint32_t GetGapReturnFlag(void);
// Stops every engine thread; waits until they have ended (bounded), then marks the engine stopped.
VIGIL_API void DeleteStThreads(void);
// 0 idle, 1 retry wait in progress, 2 retry wait over: start monitoring again.
VIGIL_API uint32_t GetExecRtryFlag(void);
VIGIL_API uint32_t GetInkChangeFlag(void);
VIGIL_API uint32_t SetInkChangeFlag(uint32_t value);
// Classifies a port: 0 not served, 1 local LPT port, 2 NetWare queue path, 5 LPT port captured to a
// queue (its queue path then goes to queuePath, at least 512 bytes).
VIGIL_API uint32_t StCheckConnectPrinter(const char* port, char* queuePath);
// 1 if a network link was open and is now closed for good, else 0.
VIGIL_API int32_t NetwareLinkEnd(void);
VIGIL_API int32_t WEP(int32_t reserved);

// Not one of the system's exports: a program hands the engine the services its main() built (before
// its first other call; it keeps them for the life of the process), so the engine shares its store and
// runs on its clock. Without it the engine makes its own for the current system root.
VIGIL_API void VigilUseServices(plat::Services* services);
