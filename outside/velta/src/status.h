#pragma once
// What the velta backend says to a printer and what it makes of the answers: the status-enable and
// ink-query commands of each model, and a status reply turned into printer-state-reasons and marker
// levels. The reasons come from a small table per family; the detail program's full decoding stays
// in the common services library, which the backend does not link.

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "facts/models.h"

namespace velta {

// The longest status reply and ink reply kept; longer ones are cut here (the engine reads at most
// 512 bytes of either from the driver data).
inline constexpr std::size_t kMaxReply = 512;

// The printer-state-reasons the backend sets: the standard keyword of a condition wherever one says
// it (with the suffix of its severity), our own com.velta-* keywords only where none does (each with a
// *cupsIPPReason text in the PPDs). The README's table lists which condition gives which.
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
// Every com.velta-* keyword the backend may set.
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

// Decodes a status reply of `model`; `inkText` is the edited ink reply for the models that report
// ink apart (empty otherwise, or while none came).
Decoded decode(const facts::Model& model, std::string_view reply, std::string_view inkText);

// The command that makes the printer report its status (the page printers' job-language request;
// the others' remote-mode "ST" with the model's mode).
std::string statusEnableCommand(const facts::Model& model);
// The ink query of the models that report ink apart; empty for the others.
std::string inkQueryCommand(const facts::Model& model);
// The ink reply as the store keeps it: replies of exactly 22 or 38 bytes as they are; otherwise the
// two counter bytes behind each "IQ:" are dropped.
std::string editInkReply(std::string_view reply);

// The model a device ID names ("MFG:VELTA;MDL:PG-03;..."), or null when it names none of ours.
const facts::Model* modelOfDeviceId(std::string_view deviceId);

}  // namespace velta
