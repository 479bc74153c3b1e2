#include "side_channel.h"

#include <algorithm>
#include <string>

#include "status.h"

namespace velta {
namespace {

// The most of the device ID sent back, as the filters' side-channel buffers go.
constexpr std::size_t kMaxData = 2048;

}  // namespace

SideChannelAnswer sideChannelAnswer(cups_sc_command_t command, std::string_view deviceId, int state)
{
    switch (command) {
    case CUPS_SC_CMD_GET_DEVICE_ID:
        if (deviceId.empty()) return {};
        return {CUPS_SC_STATUS_OK, std::string(deviceId.substr(0, kMaxData))};
    case CUPS_SC_CMD_GET_STATE: return {CUPS_SC_STATUS_OK, std::string(1, static_cast<char>(state))};
    case CUPS_SC_CMD_GET_BIDI: return {CUPS_SC_STATUS_OK, std::string(1, static_cast<char>(CUPS_SC_BIDI_SUPPORTED))};
    case CUPS_SC_CMD_GET_CONNECTED: return {CUPS_SC_STATUS_OK, std::string(1, static_cast<char>(CUPS_SC_CONNECTED))};
    default: return {};
    }
}

int sideChannelState(const facts::Model* model, std::string_view reply, std::string_view ink, bool stalled)
{
    if (model == nullptr || reply.empty()) return CUPS_SC_STATE_ONLINE;
    const auto reasons = decode(*model, reply, ink).reasons;
    auto has = [&](const char* r) { return reasons.count(r) > 0; };
    int bits = stalled || has(reason::kOffline) ? CUPS_SC_STATE_OFFLINE : CUPS_SC_STATE_ONLINE;
    if (has(reason::kMediaEmpty)) bits |= CUPS_SC_STATE_MEDIA_EMPTY;
    if (has(reason::kMediaLow) || has(reason::kMediaEmptyWarning)) bits |= CUPS_SC_STATE_MEDIA_LOW;
    if (has(reason::kTonerLow) || has(reason::kMarkerLow)) bits |= CUPS_SC_STATE_MARKER_LOW;
    if (has(reason::kTonerEmpty) || has(reason::kMarkerEmpty) || has(reason::kMarkerMissing))
        bits |= CUPS_SC_STATE_MARKER_EMPTY;
    // Every error stops the printer.
    if (std::any_of(reasons.begin(), reasons.end(), [](const std::string& r) { return r.ends_with("-error"); }))
        bits |= CUPS_SC_STATE_ERROR;
    return bits;
}

}  // namespace velta
