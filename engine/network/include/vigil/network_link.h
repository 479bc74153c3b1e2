#pragma once
// The network link: how the engine reaches a printer's network interface behind a NetWare queue
// (connection kinds 2 and 5). The engine uses it through this interface only; NetwareLink
// (netware_link.h) is the real one, and tests may put a link of their own in its place.

#include <cstdint>
#include <span>
#include <string_view>

namespace vigil {

class NetworkLink {
public:
    enum class Request { DeviceId = 0, Status = 1, OptionCard = 2 };

    virtual ~NetworkLink() = default;
    // Sets the link up for the queue path; true when it is ready for requests.
    virtual bool open(std::string_view queuePath) = 0;
    // One request; true with the payload in `destination` and its length in `length`; false with
    // length 0.
    virtual bool request(Request kind, std::span<char> destination, std::uint32_t& length) = 0;
    // Closes the link; `forGood` also ends every later open in this process. True if one was open.
    virtual bool close(bool forGood) = 0;
    // Whether the printer's interface offers the extended request.
    virtual bool extendedRequest() const = 0;
};

}  // namespace vigil
