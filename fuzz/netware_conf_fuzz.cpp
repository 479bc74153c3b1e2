// Fuzz target: arbitrary text as the NetWare environment file (run/netware.conf), which several
// programs write and every client reads. What the reader accepts, written out again, must read back
// to the same environment.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "plat/netware/environment.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace nw = plat::netware;
    const auto environment = nw::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!environment) return 0;
    const std::string written = nw::format(environment.value());
    const auto again = nw::parse(written);
    if (!again || nw::format(again.value()) != written) std::abort();
    return 0;
}
