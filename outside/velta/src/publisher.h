#pragma once
// What the velta backend tells the print system on stderr, one line each, only when something
// changed, plus a heartbeat:
//
//   STATE: -reason,...   STATE: +reason,...       the printer-state-reasons it set or no longer holds
//   ATTR: marker-colors=... marker-names=... marker-types=... marker-low-levels=... marker-high-levels=...
//                                                   when the set of supplies changes
//   ATTR: marker-levels=N,...                       when a level changes (-2: not reported)
//   INFO: words                                     the printer's condition (printer-state-message),
//                                                   when it changes
//   ATTR: printer-alert='velta;seq=N;t=EPOCH;st=HEX;ink=HEX' printer-alert-description='DEVICE ID'
//                                                   when the status or ink reply changes, and at
//                                                   least every heartbeat interval while it runs
//
// seq counts the alerts of this run from 1; t is the time of the alert in seconds since 1970 (UTC);
// st and ink are the last status and ink replies in upper-case hexadecimal (ink empty for models that
// report no ink apart). clear() takes back every reason it set and empties both alert attributes.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "status.h"

namespace velta {

// The most of each reply and of the device ID that goes into the alert, so the line stays well
// within what the print system reads as one line.
inline constexpr std::size_t kAlertReplyMax = 400;
inline constexpr std::size_t kAlertInkMax = 128;
inline constexpr std::size_t kAlertDescriptionMax = 400;
inline constexpr std::size_t kMessageMax = 200;

class Publisher {
public:
    using Clock = std::chrono::steady_clock;
    using Line = std::function<void(const std::string&)>;

    Publisher(Line line, std::string deviceId, std::chrono::milliseconds heartbeat);

    // The printer's device ID, for the alert's description.
    void describe(std::string deviceId) { m_deviceId = std::move(deviceId); }
    // A reason the backend holds on its own (connecting-to-device, offline-report).
    void hold(const std::string& reason, bool on);
    // The printer's latest replies and what they mean.
    void status(const Decoded& decoded, std::string_view reply, std::string_view ink);
    // Writes what changed since the last flush, and the alert again when the heartbeat is due.
    void flush(Clock::time_point now, std::time_t epoch);
    // Takes back every reason set and empties the alert.
    void clear();

    std::uint64_t alerts() const { return m_seq; }

private:
    void publishReasons();

    Line m_line;
    std::string m_deviceId;
    std::chrono::milliseconds m_heartbeat;
    std::set<std::string> m_held, m_decoded, m_published;
    std::vector<Marker> m_markers, m_publishedMarkers;
    std::string m_reply, m_ink;
    std::string m_message, m_publishedMessage;
    bool m_haveStatus = false, m_alertDue = false, m_alertShown = false;
    std::uint64_t m_seq = 0;
    Clock::time_point m_lastAlert{};
};

// Upper-case hexadecimal of `bytes`.
std::string hex(std::string_view bytes);
// `text` made safe inside a quoted option value: quotes, backslashes and control characters become
// '?', and it is cut to `max` bytes.
std::string quotedSafe(std::string_view text, std::size_t max);

}  // namespace velta
