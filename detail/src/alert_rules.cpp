#include "alerts.h"

namespace watchpanel {

std::optional<Alert> AlertRule::fire(const PrinterEntry& entry, const DetailSettings& settings)
{
    const std::uint16_t index = entry.AlertCategory;
    // An index equal to the count names no alert type either; the settings hold only kAlertSlots.
    if (index >= entry.AlertCategoryCount || index >= kAlertSlots) return std::nullopt;
    const AlertSetting& alert = settings.alerts[index];
    // A type that is off leaves the memory alone: coming back from it to the last one plays nothing.
    if (!alert.enabled || index == m_previous) return std::nullopt;
    m_previous = index;
    if (!alert.hasSound || alert.path.empty()) return Alert{};
    return Alert{alert.path};
}

namespace {

bool printing(const PrinterEntry& entry)
{
    if (entry.PrinterFamily == static_cast<std::uint32_t>(facts::Family::Page)) return entry.MessageIndex == 11;
    return entry.MessageIndex == 3 || entry.MessageIndex == 5;
}

}  // namespace

bool OpenRules::apply(PrinterEntry& entry, bool forced)
{
    const std::uint32_t before = entry.HideRequest;
    bool open = forced, hideAgain = false;
    // The window opens when an error or warning comes up and when printing starts, not on every tick
    // while they last: a window the user closed stays closed until the next one.
    const bool error = entry.ErrorOpenFlag != 0 && (entry.PrinterState == 1 || entry.PrinterState == 2);
    const bool nowPrinting = entry.PrintOpenFlag != 0 && printing(entry);
    if (!forced) {
        if (error && entry.MessageIndex != m_errorOpenedFor) open = true;
        if (nowPrinting && !m_printing) {
            open = true;
            if (entry.HideRequest != 0) m_openedForPrinting = true;
        } else if (!nowPrinting && m_openedForPrinting) {
            hideAgain = true;
            m_openedForPrinting = false;
        }
    }
    m_errorOpenedFor = error ? entry.MessageIndex : -1;
    m_printing = nowPrinting;
    if (open) entry.HideRequest = 0;
    if (hideAgain) entry.HideRequest = 1;
    return entry.HideRequest != before;
}

}  // namespace watchpanel
