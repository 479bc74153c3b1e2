#pragma once
// The status the detail program puts into its slot's record besides what it decodes from the printer's
// replies: the engine's failures ("PrinterStFlag"), and the time the status last changed. Shared with
// kestrel-status, so that what it prints never differs from the window.

#include <cstdint>
#include <optional>

#include "facts/models.h"
#include "printer_entry.h"

namespace watchpanel {

// What the status page shows while the engine reports a failure: its picture, message and alert.
struct FailureView {
    std::uint16_t picture, message, alert;
};

// The family the window is laid out for: the entry's, or when that is out of range the model's, else
// the page printers'.
facts::Family displayFamily(const PrinterEntry& entry);

// The view of an engine failure flag (communication failures 1, 2, 7, 8; other failures 4, 9) for the
// family; nothing for any other flag, which leaves the decoded status as it is.
std::optional<FailureView> failureView(std::uint32_t printerStFlag, facts::Family family);

// Puts a failure's view into the entry: the printer cannot print.
void applyFailure(const FailureView& view, PrinterEntry& entry);

// Sets `after.StatusChangedTime` to `now` (seconds since 1970) when its status (level, picture,
// message, ink-name flag, alert) differs from `before`'s, or when no time was set yet.
void stampStatusChange(const PrinterEntry& before, PrinterEntry& after, std::uint32_t now);

// Now, as stampStatusChange takes it.
std::uint32_t secondsNow();

}  // namespace watchpanel
