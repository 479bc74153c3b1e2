#pragma once
// The list program's own texts (column titles, column texts, menus, prompts), and the monitoring states
// its second column names. Shared with kestrel-status, so that what it prints reads as the list does.

#include <string>

namespace watchlist {

enum class MonitorState : int { Monitoring = 0, NotMonitoring = 1, CannotMonitor = 2 };

// The monitoring column's text of a state is kMonitoringTexts + state; the printer state column's of a
// record's PrinterState is kPrinterStateTexts + PrinterState.
inline constexpr int kMonitoringTexts = 10100;
inline constexpr int kPrinterStateTexts = 10103;

// The text of `number`; empty for a number the list does not have.
std::string listText(int number);

}  // namespace watchlist
