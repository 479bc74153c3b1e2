// The engine's exports: range checks, then the process's one engine.

#include <cstring>

#include "engine.h"
#include "vigil.h"

namespace {

std::string text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

}  // namespace

int32_t CreateVigilmonInitialize(const char* port, const char* capturedPort, const char* printer, const char* model,
                                 uint32_t family, uint32_t connection, uint32_t ownerProcessId)
{
    vigil::engine().createVigilmonInitialize({text(port), text(capturedPort), text(printer), text(model),
                                              static_cast<facts::EngineFamily>(family), connection, ownerProcessId});
    return 1;
}

int32_t ActHeadFunc(const char* port) { return vigil::engine().actHead(text(port)); }
int32_t ExecGapFunc(const char* port) { return vigil::engine().execGap(text(port)); }
uint32_t GetGapReturnFlag(void) { return vigil::engine().gapReturn(); }

void DeleteStThreads(void) { vigil::engine().deleteStThreads(); }
uint32_t GetExecRtryFlag(void) { return vigil::engine().execRetryState(); }
uint32_t GetInkChangeFlag(void) { return vigil::engine().inkChange(); }
uint32_t SetInkChangeFlag(uint32_t value) { return vigil::engine().setInkChange(value); }

uint32_t StCheckConnectPrinter(const char* port, char* queuePath)
{
    return port != nullptr ? vigil::engine().checkConnectPrinter(port, queuePath) : 0;
}

int32_t NetwareLinkEnd(void) { return static_cast<int32_t>(vigil::engine().networkLinkEnd()); }

int32_t WEP(int32_t) { return 1; }
