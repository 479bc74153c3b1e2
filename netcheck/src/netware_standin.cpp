// WORKAROUND: a stand-in for the engine's network link and port classification, until those land in
// engine/network/; delete this file at that merge (see netware_contract.h).
//
// Without a NetWare client no port is captured and no queue path can be checked: LPT ports are local,
// everything else is not served, and the link never opens.

#include "netware_contract.h"

namespace vigil {

std::unique_ptr<NetworkLink> makeNetwareLink() { return std::make_unique<UnavailableNetworkLink>(); }

std::uint32_t classifyPort(std::string_view port, std::span<char> queuePath)
{
    if (!queuePath.empty()) queuePath[0] = '\0';
    if (port.size() < 4 || port.substr(0, 3) != "LPT" || port[3] > '9') return 0;
    return 1;
}

}  // namespace vigil
