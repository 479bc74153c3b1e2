#pragma once
// How the detail program tells the user about a change without being asked: the alert rule (which
// sound a status change plays), the open rules (when the hidden window shows itself and hides again)
// and the settings both follow, as the settings page edits them and the store keeps them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "facts/models.h"
#include "printer_entry.h"

namespace watchpanel {

inline constexpr int kAlertSlots = 11;
// A sound file's path, in bytes; a longer one is refused, never cut into the name of another file.
inline constexpr std::size_t kMaxSoundPath = 259;

struct AlertSetting {
    bool enabled = true;
    bool hasSound = true;
    std::string path;  // empty: no sound
};

// A printer's detail environment as the program holds it.
struct DetailSettings {
    bool hide = true;
    std::uint32_t intervalMs = 5000;
    bool topMost = false, openWhenPrinting = false, openOnError = true, sizeCheck = false, monitor = true;
    bool desktopNotify = true;  // an alert at warning or error level also goes to the desktop's notifications
    int iconSet = 0;
    int alertCount = kAlertSlots;
    std::array<AlertSetting, kAlertSlots> alerts{};
    bool applyPending = false;  // in memory only: the settings page had unapplied changes when left
};

// The family's alert types, in list order: their names and default sound file names.
int alertTypeCount(facts::Family family);
std::string alertTypeName(facts::Family family, int row);
std::string defaultSoundFile(facts::Family family, int row);  // empty: the type has no sound
// Every alert type of the family on with its default sound from the root's media folder, except the
// page printers' "paper low", which is off.
void applyAlertDefaults(facts::Family family, DetailSettings& settings);
// Whether `path` may be kept as a sound: not empty, at most kMaxSoundPath bytes, UTF-8 as the store keeps
// its texts.
bool acceptableSoundPath(const std::string& path);

// The stored environment of `printer`; what the store cannot give comes from its fallbacks with the
// family's alert defaults, and is stored at once.
DetailSettings loadDetailSettings(const std::string& printer, facts::Family family);
bool storeDetailSettings(const std::string& printer, const DetailSettings& settings);

// An alert the rule let through: the sound it plays, if any.
struct Alert {
    std::optional<std::string> sound;
};

// The alert rule's memory, for the life of the process.
class AlertRule {
public:
    // The alert of the entry's status, if its alert type is on and is new since the last alert that
    // was on; nothing otherwise.
    std::optional<Alert> fire(const PrinterEntry& entry, const DetailSettings& settings);
    // The sound of that alert.
    std::optional<std::string> soundFor(const PrinterEntry& entry, const DetailSettings& settings)
    {
        const std::optional<Alert> alert = fire(entry, settings);
        return alert ? alert->sound : std::nullopt;
    }

private:
    std::uint16_t m_previous = 0;
};

// The open rules' memory: what the window last opened for, and whether it opened only because
// printing started.
class OpenRules {
public:
    // Applies the rules to `entry` (its hide request); true when it changed. Forced (a double click
    // on the tray icon) always opens.
    bool apply(PrinterEntry& entry, bool forced);

private:
    int m_errorOpenedFor = -1;  // the warning or error message the window opened for
    bool m_printing = false;
    bool m_openedForPrinting = false;
};

}  // namespace watchpanel
