#pragma once
// The check behind Rover01CheckPrinter: classify the port, reach the printer over the network link
// (NetWare queue paths and captured LPT ports) or through the port (local ports), and read its device
// ID. The exports keep one NetworkCheck for the process; tests make their own, with a fake link, a
// fake classification and short waits.
//
// Threads: one call at a time. The link is made on the first NetWare call and kept: once a call has
// closed it for good, no later call in the process can open it again.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "plat/base/clock.h"
#include "vigil/network_link.h"
#include "vigil/port_channel.h"

namespace rover01 {

inline constexpr std::size_t kDeviceIdBytes = 2048;  // the caller's buffer, terminating zero included
inline constexpr std::size_t kQueuePathBytes = 512;
inline constexpr int kAttempts = 3;

// How a port is reached: the classification's answer.
enum class Connection : std::uint32_t { NotServed = 0, Local = 1, Queue = 2, Captured = 5 };

enum Result : std::int32_t { kNotServed = 0, kRead = 1, kNoDeviceId = 2, kNotOpenable = 3, kReadNoExtended = 4 };

struct CheckTiming {
    std::chrono::milliseconds linkOpenPause{5000};  // between attempts to open the network link
    vigil::ChannelTiming port;                      // open time-outs; deviceIdPause between port attempts

    // Every wait as long as `clock` makes it (a test clock runs them faster).
    static CheckTiming on(const plat::Clock& clock);
};

using Classifier = std::function<std::uint32_t(std::string_view port, std::span<char> queuePath)>;
using LinkFactory = std::function<std::unique_ptr<vigil::NetworkLink>()>;

// The device-ID read through a local port: like the port channel's, but an open that fails is retried
// too, and opens and requests count their attempts apart, each up to `attempts`.
enum class PortRead { Read, NoDeviceId, NotOpenable };
PortRead readDeviceIdThroughPort(const vigil::PortOpener& opener, const vigil::ChannelTiming& timing,
                                 std::string_view port, std::span<char> destination, int attempts);

class NetworkCheck {
public:
    NetworkCheck(Classifier classify, LinkFactory makeLink, vigil::PortOpener opener, CheckTiming timing);

    // One of Result; `deviceId` gets the ID and a zero, or an empty text.
    std::int32_t check(std::string_view port, std::span<char, kDeviceIdBytes> deviceId);

private:
    bool openLink(std::string_view path);
    bool readOverLink(std::span<char> deviceId);

    Classifier m_classify;
    LinkFactory m_makeLink;
    vigil::PortOpener m_opener;
    CheckTiming m_timing;
    // Kept from call to call, as the library's state.
    std::string m_port;
    Connection m_connection = Connection::NotServed;
    std::unique_ptr<vigil::NetworkLink> m_link;
};

}  // namespace rover01
