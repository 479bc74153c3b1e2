#pragma once
// A printer's status in words that never change with the language: the state keyword a machine can
// match, and the IPP printer-state-reasons keywords of a status reply. The print system's backend
// publishes the reasons, the detail program records them and the command-line tools print them, so
// all of them read one mapping, kept here.

#include <array>
#include <cstddef>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "facts/models.h"

namespace facts {

// The longest status reply and ink reply read; longer ones are cut here (the engine reads at most
// 512 bytes of either from the driver data).
inline constexpr std::size_t kMaxReply = 512;

// The printer-state-reasons of a status reply: the standard keyword of a condition wherever one says
// it (with the suffix of its severity), the system's own com.velta-* keywords only where none does
// (each with a *cupsIPPReason text in the PPDs). The README's table lists which condition gives which.
namespace reason {
inline constexpr const char* kMediaEmpty = "media-empty-error";
inline constexpr const char* kMediaEmptyWarning = "media-empty-warning";  // one paper source of several
inline constexpr const char* kMediaLow = "media-low-warning";
inline constexpr const char* kMediaNeeded = "media-needed-error";  // the paper loaded does not suit the job
inline constexpr const char* kMediaJam = "media-jam-error";
inline constexpr const char* kInputTrayMissing = "input-tray-missing-error";
inline constexpr const char* kCoverOpen = "cover-open-error";
inline constexpr const char* kDoorOpen = "door-open-error";
inline constexpr const char* kTonerLow = "toner-low-warning";
inline constexpr const char* kTonerEmpty = "toner-empty-error";
inline constexpr const char* kMarkerLow = "marker-supply-low-warning";
inline constexpr const char* kMarkerEmpty = "marker-supply-empty-error";
inline constexpr const char* kMarkerMissing = "marker-supply-missing-error";
inline constexpr const char* kOffline = "offline-report";
inline constexpr const char* kPrinterError = "com.velta-printer-error";
inline constexpr const char* kPrinterWarning = "com.velta-printer-warning";
inline constexpr const char* kServiceCall = "com.velta-service-call-error";
inline constexpr const char* kReleaseLever = "com.velta-release-lever-error";
inline constexpr const char* kOtherInterface = "com.velta-other-interface-warning";
inline constexpr const char* kPanelSetting = "com.velta-panel-setting-warning";
inline constexpr const char* kTestPrinting = "com.velta-test-printing-report";
inline constexpr const char* kStatusUnknown = "com.velta-status-unknown-warning";
}  // namespace reason

struct VendorReason {
    const char* keyword;
    const char* text;  // what a desktop shows for it
};
// Every com.velta-* keyword a reply may give.
const std::vector<VendorReason>& vendorReasons();

struct Marker {
    std::string name, colour, type;
    int level = -2;  // 0..100; -2 when the printer does not say
    int low = 0;     // at or below this level the supply is low (marker-low-levels)
    int high = 100;  // marker-high-levels
    bool operator==(const Marker&) const = default;
};

struct Decoded {
    std::set<std::string> reasons;
    std::vector<Marker> markers;  // empty when the reply carries no levels
    std::string message;          // the printer's own condition in a few words, for printer-state-message
};

// Decodes a status reply of `model` into reasons, marker levels and a state message; `inkText` is the
// edited ink reply for the models that report ink apart (empty otherwise, or while none came). Each
// text is read up to kMaxReply bytes.
Decoded decodeStatusReply(const Model& model, std::string_view reply, std::string_view inkText);
// The reasons alone.
std::set<std::string> reasons(const Model& model, std::string_view reply, std::string_view inkText);

enum class State { Idle, Printing, Warning, Stopped, Unreachable, NotMonitored };
inline constexpr std::array<State, 6> kStates = {State::Idle,    State::Printing,    State::Warning,
                                                 State::Stopped, State::Unreachable, State::NotMonitored};

// What the slot's record says of a printer, as far as the state keyword needs it.
struct StatusSummary {
    bool monitored = false;  // a detail program decodes its status
    Family family = Family::Page;
    int level = 0;    // the status level: 0 normal, 1 warning, 2 error
    int message = 2;  // the row of the family's status message table
};

// A printer that is not monitored is "not-monitored"; an error is "unreachable" when the printer does
// not answer and "stopped" otherwise; a warning is "warning"; at rest "printing" while its message
// says it works, else "idle".
State stateOf(const StatusSummary& status);
// "idle", "printing", "warning", "stopped", "unreachable", "not-monitored".
const char* keyword(State state);
std::optional<State> stateFromKeyword(std::string_view text);
const char* stateKeyword(const StatusSummary& status);

}  // namespace facts
