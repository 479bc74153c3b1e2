// The engine's exports: the library's edge. Range checks, then the process's one engine, made on the
// first call on the services the program handed in, or the library's own.

#include <cstring>
#include <mutex>

#include "engine.h"
#include "vigil.h"

namespace {

std::string text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

// Null while the root's store does not open; the next call tries again. Never destroyed: engine
// threads may outlive the static objects of the process at exit.
vigil::Engine* engine()
{
    static std::mutex mutex;
    static vigil::Engine* instance = nullptr;
    std::lock_guard lock(mutex);
    if (instance == nullptr) {
        if (plat::Services* services = plat::edgeServices()) instance = new vigil::Engine(*services);
    }
    return instance;
}

}  // namespace

void VigilUseServices(plat::Services* services) { plat::handOverEdgeServices(services); }

int32_t CreateVigilmonInitialize(const char* port, const char* capturedPort, const char* printer, const char* model,
                                 uint32_t family, uint32_t connection, uint32_t ownerProcessId)
{
    vigil::Engine* e = engine();
    if (e == nullptr) return 1;  // nothing starts; the store that would say so does not open either
    e->createVigilmonInitialize({text(port), text(capturedPort), text(printer), text(model),
                                 static_cast<facts::EngineFamily>(family), connection, ownerProcessId});
    return 1;
}

int32_t ActHeadFunc(const char* port)
{
    vigil::Engine* e = engine();
    return e != nullptr ? e->actHead(text(port)) : 0;
}
int32_t ExecGapFunc(const char* port)
{
    vigil::Engine* e = engine();
    return e != nullptr ? e->execGap(text(port)) : 0;
}
uint32_t GetGapReturnFlag(void)
{
    vigil::Engine* e = engine();
    return e != nullptr ? e->gapReturn() : 0;
}

void DeleteStThreads(void)
{
    if (vigil::Engine* e = engine()) e->deleteStThreads();
}
uint32_t GetExecRtryFlag(void)
{
    vigil::Engine* e = engine();
    return e != nullptr ? e->execRetryState() : 0;
}
uint32_t GetInkChangeFlag(void)
{
    vigil::Engine* e = engine();
    return e != nullptr ? e->inkChange() : 0;
}
uint32_t SetInkChangeFlag(uint32_t value)
{
    vigil::Engine* e = engine();
    return e != nullptr ? e->setInkChange(value) : 0;
}

uint32_t StCheckConnectPrinter(const char* port, char* queuePath)
{
    vigil::Engine* e = port != nullptr ? engine() : nullptr;
    return e != nullptr ? e->checkConnectPrinter(port, queuePath) : 0;
}

int32_t NetwareLinkEnd(void)
{
    vigil::Engine* e = engine();
    return e != nullptr ? static_cast<int32_t>(e->networkLinkEnd()) : 0;
}

int32_t WEP(int32_t) { return 1; }
