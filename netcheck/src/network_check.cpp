#include "network_check.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "plat/base/trace.h"

namespace rover01 {
namespace {

using std::chrono::milliseconds;

// `bytes` and a zero into `destination`, cut to fit.
void copyTerminated(std::span<char> destination, std::span<const char> bytes)
{
    if (destination.empty()) return;
    const std::size_t n = std::min(bytes.size(), destination.size() - 1);
    std::memcpy(destination.data(), bytes.data(), n);
    destination[n] = '\0';
}

}  // namespace

CheckTiming CheckTiming::on(const plat::Clock& clock)
{
    CheckTiming t;
    t.linkOpenPause = clock.real(t.linkOpenPause);
    t.port.timeouts = {clock.real(t.port.timeouts.readInterval), clock.real(t.port.timeouts.readTotal),
                       clock.real(t.port.timeouts.writeTotal)};
    t.port.deviceIdPause = clock.real(t.port.deviceIdPause);
    return t;
}

PortRead readDeviceIdThroughPort(const vigil::PortOpener& opener, const vigil::ChannelTiming& timing,
                                 std::string_view port, std::span<char> destination, int attempts)
{
    if (!destination.empty()) destination[0] = '\0';
    int opens = 0, requests = 0;
    for (;;) {
        auto opened = opener(port, nullptr);
        if (!opened) {
            if (++opens >= attempts) return PortRead::NotOpenable;
            std::this_thread::sleep_for(timing.deviceIdPause);
            continue;
        }
        std::unique_ptr<plat::port::Port> handle = std::move(opened).value();
        // A port without serial settings of its own keeps these time-outs all the same.
        handle->setTimeouts(timing.timeouts);
        std::array<std::byte, vigil::PortChannel::kDeviceIdBuffer> id{};
        const plat::port::IoResult n = handle->deviceId(id);
        handle->purgeReceive();
        handle.reset();
        if (n > 0) {
            copyTerminated(destination, std::span(reinterpret_cast<const char*>(id.data()),
                                                  std::min(static_cast<std::size_t>(n), id.size())));
            return PortRead::Read;
        }
        if (++requests >= attempts) return PortRead::NoDeviceId;
        std::this_thread::sleep_for(timing.deviceIdPause);
    }
}

NetworkCheck::NetworkCheck(Classifier classify, LinkFactory makeLink, vigil::PortOpener opener, CheckTiming timing)
    : m_classify(std::move(classify)), m_makeLink(std::move(makeLink)), m_opener(std::move(opener)), m_timing(timing)
{
}

bool NetworkCheck::openLink(std::string_view path)
{
    if (!m_link) m_link = m_makeLink();
    if (!m_link) return false;
    for (int attempt = 1;; ++attempt) {
        if (m_link->open(path)) return true;
        if (attempt >= kAttempts) return false;
        std::this_thread::sleep_for(m_timing.linkOpenPause);
    }
}

bool NetworkCheck::readOverLink(std::span<char> deviceId)
{
    // The link's replies are at most 556 bytes; the buffer is the caller's size all the same, so a
    // link that gives more is cut here rather than trusted.
    std::array<char, kDeviceIdBytes> payload{};
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        std::uint32_t length = 0;
        if (!m_link->request(vigil::NetworkLink::Request::DeviceId, payload, length)) continue;
        copyTerminated(deviceId, std::span<const char>(payload.data(), std::min<std::size_t>(length, payload.size())));
        return true;
    }
    return false;
}

std::int32_t NetworkCheck::check(std::string_view port, std::span<char, kDeviceIdBytes> deviceId)
{
    deviceId[0] = '\0';
    m_port.assign(port);
    std::array<char, kQueuePathBytes> queuePath{};
    const std::uint32_t kind = m_classify(m_port, queuePath);
    queuePath.back() = '\0';
    switch (kind) {
    case 1: m_connection = Connection::Local; break;
    case 2: m_connection = Connection::Queue; break;
    case 5:
        m_connection = Connection::Captured;
        m_port = queuePath.data();  // the captured port is checked as its queue
        break;
    default: m_connection = Connection::NotServed; return kNotServed;
    }

    if (m_connection == Connection::Local) {
        switch (readDeviceIdThroughPort(m_opener, m_timing.port, m_port, deviceId, kAttempts)) {
        case PortRead::Read: return kRead;
        case PortRead::NoDeviceId: return kNoDeviceId;
        case PortRead::NotOpenable: return kNotOpenable;
        }
        return kNoDeviceId;
    }

    if (!openLink(m_port)) {
        plat::trace("rover01: the network link to " + m_port + " did not open");
        return kNotServed;
    }
    // Without a device ID the link stays open, as it is; a later call cannot open it again either way.
    if (!readOverLink(deviceId)) return kNoDeviceId;
    // The close forgets what the interface offered: ask first.
    const bool extended = m_link->extendedRequest();
    m_link->close(true);
    return extended ? kRead : kReadNoExtended;
}

}  // namespace rover01
