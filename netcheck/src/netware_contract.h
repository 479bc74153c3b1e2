#pragma once
// What this library needs of the NetWare side: the real network link and the engine's port
// classification, from the same sources the engine uses.
//
// WORKAROUND: declared here until engine/network/ exports them; at that merge this header and
// netware_standin.cpp go, and network_check.cpp includes the engine's headers instead.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "vigil/network_link.h"

namespace vigil {

// A network link of its own for the caller, over the NetWare environment of the system root.
std::unique_ptr<NetworkLink> makeNetwareLink();
// 0 not served, 1 local LPT port, 2 NetWare queue path, 5 LPT port captured to a queue; for 5 the
// queue path ("\\SERVER\QUEUE") and a zero go to `queuePath`.
std::uint32_t classifyPort(std::string_view port, std::span<char> queuePath);

}  // namespace vigil
