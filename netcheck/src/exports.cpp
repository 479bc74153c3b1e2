// The library's exports: thin calls into the process's one NetworkCheck.

#include <cstdlib>
#include <cstring>

#include "network_check.h"
#include "plat/port/port.h"
#include "rover01.h"
#include "vigil/netware_link.h"

namespace {

rover01::NetworkCheck& networkCheck()
{
    // Tests of programs that load the library may speed its waits up, as they do the engine's.
    static rover01::NetworkCheck* instance = [] {
        double scale = 1.0;
        if (const char* text = std::getenv("KESTREL_NETCHECK_TIME_SCALE")) scale = std::atof(text);
        // Never destroyed: a link's threads or sockets must not meet static destruction at exit.
        auto makeLink = [scale]() -> std::unique_ptr<vigil::NetworkLink> {
            vigil::NetwareLinkOptions options;
            options.timeScale = scale;
            return std::make_unique<vigil::NetwareLink>(options);
        };
        return new rover01::NetworkCheck(&vigil::classifyPort, makeLink, &plat::port::openPort,
                                         rover01::CheckTiming::scaled(scale));
    }();
    return *instance;
}

}  // namespace

int32_t Rover01CheckPrinter(const char* port, char* deviceId)
{
    if (port == nullptr || deviceId == nullptr) return rover01::kNotServed;
    return networkCheck().check(port, std::span<char, rover01::kDeviceIdBytes>(deviceId, rover01::kDeviceIdBytes));
}

int32_t WEP(int32_t) { return 1; }
