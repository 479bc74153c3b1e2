// Fuzz target: arbitrary bytes as the data of a reply from a printer's network interface, through the
// connect reply parser and the query reply parser of every kind, plain and extended. Whatever a parser
// accepts must lie inside the bytes it was given: the engine copies the payload from there.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "vigil/ipx_packets.h"

namespace ipx = vigil::ipx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> reply(data, size);
    if (const auto connect = ipx::parseConnectReply(reply)) {
        // The conversation address and the extended flag are bytes 11 to 23.
        if (size < 24) std::abort();
    }
    for (const auto kind : {ipx::Kind::DeviceId, ipx::Kind::Status, ipx::Kind::OptionCard}) {
        for (const bool extended : {false, true}) {
            const auto payload = ipx::parseReply(kind, extended, reply);
            if (!payload) continue;
            if (payload->offset > size || payload->length > size - payload->offset) std::abort();
            // Touch every byte, so a sanitizer sees a payload that reaches past the input.
            volatile std::uint8_t sum = 0;
            for (std::size_t i = 0; i < payload->length; ++i) sum = sum + data[payload->offset + i];
            (void)sum;
        }
    }
    return 0;
}
