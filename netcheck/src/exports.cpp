// The library's exports: its edge. Thin calls into the process's one NetworkCheck, made on the first
// call on the services the program handed in, or the library's own.

#include <cstring>
#include <mutex>

#include "network_check.h"
#include "plat/services/services.h"
#include "rover01.h"
#include "vigil/netware_link.h"

namespace {

// Null while the root's store does not open; the next call tries again. Never destroyed: a link's
// threads or sockets must not meet static destruction at exit.
rover01::NetworkCheck* networkCheck()
{
    static std::mutex mutex;
    static rover01::NetworkCheck* instance = nullptr;
    std::lock_guard lock(mutex);
    if (instance != nullptr) return instance;
    plat::Services* services = plat::edgeServices();
    if (services == nullptr) return nullptr;
    auto classify = [services](std::string_view port, std::span<char> queuePath) {
        return vigil::classifyPort(services->store(), port, queuePath);
    };
    auto makeLink = [services]() -> std::unique_ptr<vigil::NetworkLink> {
        return std::make_unique<vigil::NetwareLink>(vigil::NetwareLinkOptions{{}, &services->clock()});
    };
    auto open = [services](std::string_view port, const plat::port::Interrupt* interrupt) {
        return services->openPort(port, interrupt);
    };
    instance = new rover01::NetworkCheck(classify, makeLink, open, rover01::CheckTiming::on(services->clock()));
    return instance;
}

}  // namespace

void Rover01UseServices(plat::Services* services) { plat::handOverEdgeServices(services); }

int32_t Rover01CheckPrinter(const char* port, char* deviceId)
{
    if (port == nullptr || deviceId == nullptr) return rover01::kNotServed;
    rover01::NetworkCheck* check = networkCheck();
    if (check == nullptr) {
        deviceId[0] = '\0';
        return rover01::kNotServed;
    }
    return check->check(port, std::span<char, rover01::kDeviceIdBytes>(deviceId, rover01::kDeviceIdBytes));
}

int32_t WEP(int32_t) { return 1; }
